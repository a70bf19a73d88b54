# Frame benchmark, show side: what the effect scripts share. Each script
# makes its objects and gives run_frames a sub that draws one frame at a time
# t; run_frames times the frames after a warm-up and prints the rate line
# that run-frames.sh reads.
package FrameBench;
use strict;
use warnings;
use Exporter 'import';
our @EXPORT_OK = qw(write_quadrant_bmp run_frames);

use constant WARM_UP_FRAMES => 20;
use constant FRAME_STEP_MS => 20;

# A side x side 24-bit BMP in four coloured quadrants, the same picture the
# plain side writes.
sub write_quadrant_bmp {
    my ($path, $side) = @_;
    my @quadrants = ([255, 0, 0], [0, 255, 0], [0, 0, 255], [255, 255, 0]);  # TL TR BL BR
    my $pixels = '';
    for my $row (reverse 0 .. $side - 1) {  # BMP rows run bottom-up
        for my $column (0 .. $side - 1) {
            my ($r, $g, $b) = @{ $quadrants[($row >= $side / 2 ? 2 : 0) + ($column >= $side / 2 ? 1 : 0)] };
            $pixels .= pack('C3', $b, $g, $r);
        }
    }
    open(my $file, '>:raw', $path) or die "$path: $!";
    print $file pack('A2 V v v V', 'BM', 54 + length($pixels), 0, 0, 54),
        pack('V l l v v V V l l V V', 40, $side, $side, 1, 24, 0, length($pixels), 2835, 2835, 0, 0), $pixels;
    close($file);
}

# CPU seconds of the whole process (every thread, GL driver included).
sub cpu_seconds {
    my ($user, $system) = times;
    return $user + $system;
}

# Draws WARM_UP_FRAMES + frames frames with draw->(t), t advancing by step
# ms (FRAME_STEP_MS unless given), times the last `frames`, and prints
# "player <name>: F fps, C frames per CPU second (...)".
sub run_frames {
    my ($name, $count, $frames, $draw, $step) = @_;
    $step ||= FRAME_STEP_MS;
    my ($start, $cpuStart) = (0, 0);
    for my $frame (0 .. WARM_UP_FRAMES + $frames - 1) {
        if ($frame == WARM_UP_FRAMES) {
            $start = OpenGL::glGetTime();
            $cpuStart = cpu_seconds();
        }
        OpenGL::glPumpEvents();
        OpenGL::glClear();
        $draw->($frame * $step);
        OpenGL::SwapBuffers();
    }
    my $seconds = (OpenGL::glGetTime() - $start) / 1000;
    my $cpuSeconds = cpu_seconds() - $cpuStart;
    printf "player %s: %.1f fps, %.1f frames per CPU second (%d frames, %d objects)\n",
        $name, $frames / $seconds, $frames / $cpuSeconds, $frames, $count;
}

1;

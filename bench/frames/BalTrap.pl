# Frame benchmark, show side: the frames of the BalTrap scene in
# bench/frames/BalTrapScene.cpp, drawn by a show script. Prints its frame rate.
use strict;
use warnings;

use constant SIDE => 64;
use constant COLUMNS => 20;
use constant WARM_UP_FRAMES => 20;
use constant FRAME_STEP_MS => 20;

# A SIDE x SIDE 24-bit BMP in four coloured quadrants, the same picture the
# plain side writes.
sub write_picture {
    my ($path) = @_;
    my @quadrants = ([255, 0, 0], [0, 255, 0], [0, 0, 255], [255, 255, 0]);  # TL TR BL BR
    my $pixels = '';
    for my $row (reverse 0 .. SIDE - 1) {  # BMP rows run bottom-up
        for my $column (0 .. SIDE - 1) {
            my ($r, $g, $b) = @{ $quadrants[($row >= SIDE / 2 ? 2 : 0) + ($column >= SIDE / 2 ? 1 : 0)] };
            $pixels .= pack('C3', $b, $g, $r);
        }
    }
    open(my $file, '>:raw', $path) or die "$path: $!";
    print $file pack('A2 V v v V', 'BM', 54 + length($pixels), 0, 0, 54),
        pack('V l l v v V V l l V V', 40, SIDE, SIDE, 1, 24, 0, length($pixels), 2835, 2835, 0, 0), $pixels;
    close($file);
}

# CPU seconds of the whole process (every thread, GL driver included).
sub cpu_seconds {
    my ($user, $system) = times;
    return $user + $system;
}

sub main {
    OpenGL::boot_OpenGL();
    BalTrap::boot_BalTrap();
    my $count = $ENV{BENCH_OBJECTS} || 200;
    my $frames = $ENV{BENCH_FRAMES} || 300;
    my $rows = int(($count + COLUMNS - 1) / COLUMNS);
    write_picture('bal.bmp');
    my @traps = map { BalTrap->new } 1 .. $count;

    my ($start, $cpuStart) = (0, 0);
    for my $frame (0 .. WARM_UP_FRAMES + $frames - 1) {
        if ($frame == WARM_UP_FRAMES) {
            $start = OpenGL::glGetTime();
            $cpuStart = cpu_seconds();
        }
        OpenGL::glPumpEvents();
        OpenGL::glClear();
        my $t = $frame * FRAME_STEP_MS;
        for my $n (0 .. $count - 1) {
            $traps[$n]->SetParams({
                bal => 'bal.bmp',
                x => -0.9 + 1.8 * ($n % COLUMNS) / (COLUMNS - 1) + 0.05 * sin($t / 300 + $n),
                y => 0.9 - 1.8 * int($n / COLUMNS) / ($rows > 1 ? $rows - 1 : 1) + 0.05 * cos($t / 300 + $n),
                zoom => 1.0 + 0.2 * sin($t / 500 + $n),
                turn => ($t / 10 + $n * 7) - 360 * int(($t / 10 + $n * 7) / 360),
                trap_alpha => 0.5 + 0.5 * sin($t / 400 + $n),
            });
            $traps[$n]->Render($t);
        }
        OpenGL::SwapBuffers();
    }
    my $seconds = (OpenGL::glGetTime() - $start) / 1000;
    my $cpuSeconds = cpu_seconds() - $cpuStart;
    printf "player BalTrap: %.1f fps, %.1f frames per CPU second (%d frames, %d objects)\n",
        $frames / $seconds, $frames / $cpuSeconds, $frames, $count;
    return 0;
}

1;

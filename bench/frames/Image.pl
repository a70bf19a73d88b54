# Frame benchmark, show side: the frames of the Image scene in
# bench/frames/ImageScene.cpp, drawn by a show script. Prints its frame rate.
use strict;
use warnings;
use lib '.';
use FrameBench qw(run_frames);

use constant SIDE => 256;
use constant COLUMNS => 20;

# Top half one colour, bottom half another, slightly translucent.
sub picture {
    my ($n) = @_;
    my $half = SIDE * SIDE / 2;
    return pack('C4', $n * 37 % 256, $n * 11 % 256, 255 - $n % 256, 255) x $half
         . pack('C4', 255 - $n % 256, $n * 53 % 256, $n * 7 % 256, 200) x $half;
}

sub main {
    OpenGL::boot_OpenGL();
    Image::boot_Image();
    my $count = $ENV{BENCH_OBJECTS} || 200;
    my $frames = $ENV{BENCH_FRAMES} || 300;
    my $rows = int(($count + COLUMNS - 1) / COLUMNS);
    my @images = map { Image->new } 1 .. $count;
    my @pictures = map { picture($_) } 0 .. $count - 1;
    my @names = map { "pic$_" } 0 .. $count - 1;

    run_frames('Image', $count, $frames, sub {
        my ($t) = @_;
        for my $n (0 .. $count - 1) {
            $images[$n]->SetParams({
                image => $names[$n],
                imagedata => $pictures[$n],
                width => SIDE,
                height => SIDE,
                x => -1.2 + 2.4 * ($n % COLUMNS) / (COLUMNS - 1) + 0.05 * sin($t / 300 + $n),
                y => 0.9 - 1.8 * int($n / COLUMNS) / ($rows > 1 ? $rows - 1 : 1) + 0.05 * cos($t / 300 + $n),
                size => 0.3 + 0.05 * sin($t / 500 + $n),
                rot => ($t / 10 + $n * 7) - 360 * int(($t / 10 + $n * 7) / 360),
                alpha => 0.75 + 0.25 * sin($t / 400 + $n),
                alignh => 1,
                alignv => 1,
                r => 1.0,
                g => 0.5 + 0.5 * sin($t / 700 + $n),
                b => 1.0,
            });
            $images[$n]->Render($t);
        }
    });
    return 0;
}

1;

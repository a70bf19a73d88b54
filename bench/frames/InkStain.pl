# Frame benchmark, show side: the frames of the InkStain scene in
# bench/frames/BalTrapInkStainScenes.cpp, drawn by a show script. Prints its frame rate.
use strict;
use warnings;
use lib '.';
use FrameBench qw(write_quadrant_bmp run_frames);

use constant SIDE => 64;

sub main {
    OpenGL::boot_OpenGL();
    InkStain::boot_InkStain();
    my $count = $ENV{BENCH_OBJECTS} || 200;
    my $frames = $ENV{BENCH_FRAMES} || 300;
    write_quadrant_bmp('card.bmp', SIDE);
    my @cards = map { InkStain->new } 1 .. $count;

    run_frames('InkStain', $count, $frames, sub {
        my ($t) = @_;
        for my $n (0 .. $count - 1) {
            # The page swings through every angle; the blot changes size every
            # frame, so its list is recompiled every time.
            $cards[$n]->SetParams({
                frontimage => 'card.bmp',
                openangle => ($t / 10 + $n * 7) - 360 * int(($t / 10 + $n * 7) / 360) - 180,
                stainsize => 0.5 + 0.3 * sin($t / 500 + $n),
            });
            $cards[$n]->Render($t);
        }
    });
    return 0;
}

1;

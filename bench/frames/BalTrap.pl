# Frame benchmark, show side: the frames of the BalTrap scene in
# bench/frames/BalTrapInkStainScenes.cpp, drawn by a show script. Prints its frame rate.
use strict;
use warnings;
use lib '.';
use FrameBench qw(write_quadrant_bmp run_frames);

use constant SIDE => 64;
use constant COLUMNS => 20;

sub main {
    OpenGL::boot_OpenGL();
    BalTrap::boot_BalTrap();
    my $count = $ENV{BENCH_OBJECTS} || 200;
    my $frames = $ENV{BENCH_FRAMES} || 300;
    my $rows = int(($count + COLUMNS - 1) / COLUMNS);
    write_quadrant_bmp('bal.bmp', SIDE);
    my @traps = map { BalTrap->new } 1 .. $count;

    run_frames('BalTrap', $count, $frames, sub {
        my ($t) = @_;
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
    });
    return 0;
}

1;

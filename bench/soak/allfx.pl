# Soak show: all four effects on a looping 20-second timeline, objects made
# once, at about 60 frames a second. At the end of every pass it prints the player's resident memory, read
# from /proc/self/status (this script runs inside the player). Runs for
# SOAK_SECONDS (default 600) of wall clock.
use strict;
use warnings;

sub Rss {
    open my $status, '<', '/proc/self/status' or return -1;
    while (<$status>) { return $1 if /^VmRSS:\s+(\d+)/ }
    return -1;
}

sub main {
    OpenGL::boot_OpenGL(); Image::boot_Image(); Model::boot_Model();
    BalTrap::boot_BalTrap(); InkStain::boot_InkStain();
    my $seconds = $ENV{SOAK_SECONDS} || 600;
    my $pass_ms = 20000;
    my $pixels = join '', map { pack 'C4', $_ * 4, 255 - $_ * 4, 128, 255 } 0 .. 63;
    my $picture = Image->new;
    my $file = Image->new;
    my $scene = Model->new;
    my $trap = BalTrap->new;
    my $stain = InkStain->new;
    $scene->SetParams({fname => 'models/soak.3ds', fps => 25}) == $scene or die "no scene\n";
    OpenGL::glStartSound();
    my $start = OpenGL::glGetTime();
    my ($pass, $frames) = (0, 0);
    $| = 1;
    while (1) {
        OpenGL::glPumpEvents();
        last if OpenGL::glEscPressed();
        my $t = OpenGL::glGetTime() - $start;
        if (int($t / $pass_ms) > $pass) {
            $pass = int($t / $pass_ms);
            printf "pass %d at %d ms, %d frames, rss %d kB\n", $pass, $t, $frames, Rss();
            last if $t >= $seconds * 1000;
        }
        my $p = $t % $pass_ms;
        OpenGL::glClear();
        $scene->SetParams({fps => 25, xoff => sin($p / 1000), yoff => 0, zoff => 0});
        $scene->Render($p);
        $trap->SetParams({bal => 'images/ball.png', x => cos($p / 700) * 0.5, y => 0.2, zoom => 0.5,
                          turn => $p / 50, trap_alpha => 0.7});
        $trap->Render($p);
        $stain->SetParams({frontimage => 'images/card.png', openangle => ($p / 100) % 180, stainsize => 0.6});
        $stain->Render($p);
        # The same file name every frame (kept), fresh pixels under one name
        # (kept), and pixels without a name (rebuilt every frame).
        $file->SetParams({image => 'images/ball.png', x => -1.2, y => 0.9, size => 0.3, alpha => 1,
                          r => 1, g => 1, b => 1});
        $file->Render($p);
        $picture->SetParams({imagedata => $pixels, width => 8, height => 8, x => 0.9, y => -0.5,
                             size => 0.3, rot => $p / 20, alpha => 0.8, r => 1, g => 1, b => 1});
        $picture->Render($p);
        OpenGL::SwapBuffers();
        ++$frames;
        # About 60 frames a second, as on a display with vertical sync; the
        # soak is about time and memory, not speed.
        my $spare = 16 - (OpenGL::glGetTime() - $start - $t);
        select(undef, undef, undef, $spare / 1000) if $spare > 0;
    }
    return 0;
}
1;

# A script that creates a new Image every frame (a 64 x 64 picture) for
# SOAK_SECONDS (default 60), and reports resident memory per object.
use strict;
use warnings;

sub Rss {
    open my $status, '<', '/proc/self/status' or return -1;
    while (<$status>) { return $1 if /^VmRSS:\s+(\d+)/ }
    return -1;
}

sub main {
    OpenGL::boot_OpenGL(); Image::boot_Image();
    my $seconds = $ENV{SOAK_SECONDS} || 60;
    my $pixels = "\x80\x40\x20\xff" x (64 * 64);
    my $start = OpenGL::glGetTime();
    my ($objects, $base, $base_objects) = (0, 0, 0);
    $| = 1;
    while (OpenGL::glGetTime() - $start < $seconds * 1000) {
        OpenGL::glPumpEvents();
        OpenGL::glClear();
        my $image = Image->new;
        $image->SetParams({imagedata => $pixels, width => 64, height => 64, size => 0.5, alpha => 1,
                           r => 1, g => 1, b => 1});
        $image->Render(0);
        OpenGL::SwapBuffers();
        ++$objects;
        select(undef, undef, undef, 0.016);  # about 60 frames a second
        ($base, $base_objects) = (Rss(), $objects) if $objects == 100;
    }
    my $end = Rss();
    printf "objects %d, rss after 100 %d kB, at end %d kB, %.2f kB per object\n",
        $objects, $base, $end, ($end - $base) / (($objects - $base_objects) || 1);
    return 0;
}
1;

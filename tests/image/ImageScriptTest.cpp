// The Image package through the player binary: a script that boots it, draws
// pictures from a file and from pixels, and sees the results (the usage
// messages are checked once, in the package tests).
#include "tests/support/Player.h"

#include <gtest/gtest.h>

TEST(ImageScript, PlayerDrawsImagesFromAScript)
{
    testing_support::ShowDir dir;
    dir.Copy(SHOWPLAYER_FIXTURE_DIR "/translucent.png", "pics/half.png");
    dir.Copy(testing_support::Fixture("tone.mp3"), "derure.mp3");
    dir.Write("main.pl", R"(
sub main {
    OpenGL::boot_OpenGL();
    Image::boot_Image();
    my $file = Image->new;
    my $pixels = Image::new('Picture');
    my @results;
    for my $frame (0 .. 2) {
        OpenGL::glPumpEvents();
        OpenGL::glClear();
        push @results, ($file->SetParams({image => 'pics/half.png', x => -1, y => 1, size => 1, alpha => 1,
                                          r => 1, g => 1, b => 1}) == $file) ? 1 : 0;
        push @results, (Image::SetParams($pixels, {imagedata => "\x00\xff\x00\xff" x 4, width => 2, height => 2,
                                            rot => $frame * 10, size => 0.5, alpha => 1, g => 1}) == $pixels) ? 1 : 0;
        push @results, $file->Render($frame * 40), Image::Render($pixels, $frame * 40);
        OpenGL::SwapBuffers();
    }
    print ref($pixels), " @results\n";
    return 7;
}
1;
)");
    testing_support::RunOptions options;
    options.args = {"-w"};
    const testing_support::RunResult run = testing_support::RunPlayer(dir, options);
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_EQ(run.out,
              "using resolution 800x600 32bpp\n"
              "Picture 1 1 0 0 1 1 0 0 1 1 0 0\n");
    EXPECT_EQ(run.err, "");
}

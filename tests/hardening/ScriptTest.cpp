// Scripts that misbehave, run by the real player: one that dies in the
// middle of a frame and one that never pumps events. Each ends cleanly with
// the runtime's message or the script's own result, in bounded time, with no
// signal and (in a sanitizer build) no sanitizer report.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

namespace {

void ExpectNoSanitizerReport(const testing_support::RunResult& run)
{
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
}

}  // namespace

TEST(HardeningScript, DyingHalfwayThroughAFrameEndsWithTheMessage)
{
    testing_support::RunOptions options;
    options.args = {"-w", "-x", "320"};
    options.timeoutSeconds = 20;
    const testing_support::RunResult run = testing_support::RunScript(R"(
sub main {
    OpenGL::boot_OpenGL(); Image::boot_Image(); Model::boot_Model();
    BalTrap::boot_BalTrap(); InkStain::boot_InkStain();
    my @effects = (Image->new, Model->new, BalTrap->new, InkStain->new);
    $effects[0]->SetParams({imagedata => "\xff" x 64, width => 4, height => 4, size => 1, alpha => 1});
    for my $frame (0 .. 3) {
        OpenGL::glPumpEvents();
        OpenGL::glClear();
        $_->Render($frame * 40) for @effects;
        die "broken timeline in frame $frame\n" if $frame == 2;
        print "frame $frame\n";
        OpenGL::SwapBuffers();
    }
    return 0;
}
1;
)",
                                                                      options);
    EXPECT_FALSE(run.timedOut);
    // Perl's exit status for die: $! when set (often a leftover EAGAIN from
    // the X connection), else 255. Never a signal.
    EXPECT_NE(run.status, 0) << run.err;
    EXPECT_FALSE(run.status > 128 && run.status < 128 + 32) << run.status;
    EXPECT_EQ(run.out, "using resolution 320x240 32bpp\nframe 0\nframe 1\n");
    EXPECT_NE(run.err.find("broken timeline in frame 2\n"), std::string::npos) << run.err;
    ExpectNoSanitizerReport(run);
}

TEST(HardeningScript, NeverPumpingEventsStillRunsToItsEnd)
{
    testing_support::RunOptions options;
    options.args = {"-w", "-x", "320"};
    options.timeoutSeconds = 20;
    const testing_support::RunResult run = testing_support::RunScript(R"(
sub main {
    OpenGL::boot_OpenGL(); Image::boot_Image();
    my $i = Image->new;
    $i->SetParams({imagedata => "\xff" x 64, width => 4, height => 4, size => 1, alpha => 1});
    # X events pile up unread meanwhile (the window is mapped, exposed and
    # resized once); the frames must go on regardless.
    for my $frame (1 .. 40) {
        OpenGL::glClear();
        $i->Render($frame * 40);
        OpenGL::SwapBuffers();
    }
    print "ran\n";
    return 4;
}
1;
)",
                                                                      options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_EQ(run.out, "using resolution 320x240 32bpp\nran\n");
    ExpectNoSanitizerReport(run);
}

// Scripts that misbehave, run by the real player: one that dies in the
// middle of a frame with every effect alive, and one that never pumps events
// while X events pile up unread. Each ends with the runtime's message or the
// script's own result, in bounded time, with no signal and (in a sanitizer
// build) no sanitizer report.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

TEST(HardeningScript, DyingMidFrameAndNeverPumpingEndCleanly)
{
    const struct {
        const char* body;    // main's body after the boot subs
        int status;          // -1: Perl's status for die ($! when set, else 255), never a signal
        const char* out;     // after the resolution line
        const char* err;     // must be part of standard error
    } cases[] = {
        {R"(my @effects = (Image->new, Model->new, BalTrap->new, InkStain->new);
    $effects[0]->SetParams({imagedata => "\xff" x 64, width => 4, height => 4, size => 1, alpha => 1});
    for my $frame (0 .. 3) {
        OpenGL::glPumpEvents(); OpenGL::glClear();
        $_->Render($frame * 40) for @effects;
        die "broken timeline in frame $frame\n" if $frame == 2;
        print "frame $frame\n";
        OpenGL::SwapBuffers();
    }
    return 0;)",
         -1, "frame 0\nframe 1\n", "broken timeline in frame 2\n"},
        {R"(my $i = Image->new;
    $i->SetParams({imagedata => "\xff" x 64, width => 4, height => 4, size => 1, alpha => 1});
    for my $frame (1 .. 40) { OpenGL::glClear(); $i->Render($frame * 40); OpenGL::SwapBuffers(); }
    print "ran\n";
    return 4;)",
         4, "ran\n", ""},
    };
    for (const auto& c : cases) {
        testing_support::RunOptions options;
        options.args = {"-w", "-x", "320"};
        options.timeoutSeconds = 20;
        const testing_support::RunResult run = testing_support::RunScript(
            std::string("sub main {\n    OpenGL::boot_OpenGL(); Image::boot_Image(); Model::boot_Model();\n"
                        "    BalTrap::boot_BalTrap(); InkStain::boot_InkStain();\n    ") +
                c.body + "\n}\n1;\n",
            options);
        EXPECT_FALSE(run.timedOut) << c.out;
        if (c.status < 0) {
            EXPECT_NE(run.status, 0) << run.err;
            EXPECT_EQ(run.signal, 0) << run.err;
        } else {
            EXPECT_EQ(run.status, c.status) << run.err;
        }
        EXPECT_EQ(run.out, std::string("using resolution 320x240 32bpp\n") + c.out);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
    }
}

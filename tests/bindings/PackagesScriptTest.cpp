// The four effect packages as a show sees them, through the real player: boot,
// new (also into another class), SetParams and Render results, the "mesh"
// lines a Model prints, usage messages with the script's line (and those of
// the OpenGL package), the exit status.
#include "tests/support/Pictures.h"
#include "tests/support/Player.h"
#include "tools/Scene3ds.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Line numbers matter: the messages carry them (the evals are lines 17-23).
const char kShow[] = R"(use strict; use warnings;
my %hash = (Image => {image => 'pic.bmp', size => 1, alpha => 1, r => 1}, BalTrap => {bal => 'pic.bmp', zoom => 1},
            InkStain => {frontimage => 'pic.bmp', stainsize => 0.5}, Model => {fname => 'scene.3ds', fps => 25});
sub main {
    OpenGL::boot_OpenGL();
    no strict 'refs';
    for my $p (sort keys %hash) {
        print "$p boot ", (&{"${p}::boot_$p"}() ? 1 : 0), "\n";
        my $o = $p->new;
        my $same = $o->SetParams($hash{$p}) == $o ? 'same' : 'other';
        my $sub = &{"${p}::new"}('Sub');
        print "$p ", ref($o), " $same ", ref($sub), " ", ref(&{"${p}::SetParams"}($sub, {})), "\n";
        for my $t (0, 40, -5) {
            OpenGL::glClear(); print "$p render ", $o->Render($t), " ", &{"${p}::Render"}($sub, $t), "\n";
            OpenGL::SwapBuffers();
        }
        eval { &{"${p}::new"}() }; print $@;
        eval { &{"${p}::new"}($p, 1) }; print $@;
        eval { $o->SetParams() }; print $@;
        eval { $o->SetParams({}, 1) }; print $@;
        eval { $o->Render() }; print $@;
        eval { $o->Render(1, 2) }; print $@;
        eval { &{"${p}::Render"}(\5, 0) }; print $@;
    }
    # Every OpenGL sub checks its argument count too; method syntax counts
    # the package name as an argument.
    for my $call ('SwapBuffers(1)', 'glClear(0)', 'glStartSound(1)', 'glGetSoundPos(1)', 'glSetSoundPos()',
                  'glSetSoundPos(1, 2)', 'glGetTime(undef)', 'glPumpEvents(1)', 'glSpacePressed(1)',
                  'glEscPressed(1)', 'glRightPressed(1)', 'glLeftPressed(1)', '->glGetTime') {
        eval "OpenGL::$call" =~ s/::->/->/r; print $@ =~ s/ at .*//sr, "\n";
    }
    return 7;
}
)";

const char kOpenGLUsages[] = R"(Usage: OpenGL::SwapBuffers()
Usage: OpenGL::glClear()
Usage: OpenGL::glStartSound()
Usage: OpenGL::glGetSoundPos()
Usage: OpenGL::glSetSoundPos(pos_in_ms)
Usage: OpenGL::glSetSoundPos(pos_in_ms)
Usage: OpenGL::glGetTime()
Usage: OpenGL::glPumpEvents()
Usage: OpenGL::glSpacePressed()
Usage: OpenGL::glEscPressed()
Usage: OpenGL::glRightPressed()
Usage: OpenGL::glLeftPressed()
Usage: OpenGL::glGetTime()
)";

// What the loop prints for package p (article "a" or "an" before its name).
std::string Expected(const std::string& p, const char* article, const std::string& firstRender)
{
    std::string text = p + " boot 1\n" + p + " " + p + " same Sub Sub\n" + firstRender + p + " render 0 0\n" + p +
                       " render 0 0\n" + p + " render 0 0\n";
    const char* usages[] = {"new(CLASS)", "new(CLASS)", "SetParams(THIS, sv)", "SetParams(THIS, sv)",
                            "Render(THIS, msec)", "Render(THIS, msec)"};
    int line = 17;
    for (const char* usage : usages)
        text += "Usage: " + p + "::" + usage + " at main.pl line " + std::to_string(line++) + ".\n";
    return text + p + "::Render: THIS is not " + article + " " + p + " object at main.pl line 23.\n";
}

TEST(PackagesScript, EveryEffectPackageThroughThePlayer)
{
    ShowDir dir;
    ASSERT_TRUE(WriteBmp(dir / "pic.bmp", 8, 8, SolidPixels(8, 8, kRed)));
    std::string scene, error;
    // Two meshes drawn (with and without texture coordinates), one under a
    // dummy node that is not.
    ASSERT_TRUE(scene3ds::BuildScene("camera Cam pos 0 -20 0 target 0 0 0\nlight Sun pos 0 -20 0\n"
                                     "quad Q 2 uv\nobject Q\nbox B 1 at 3 0 0\nobject B\n"
                                     "quad Hidden 1\nobject $$$DUMMY\nobject Hidden parent $$$DUMMY\n",
                                     &scene, &error))
        << error;
    dir.Write("scene.3ds", scene);
    dir.Write("main.pl", kShow);
    dir.Copy(Fixture("tone.mp3"), "derure.mp3");
    RunOptions options;
    options.args = {"-w"};
    const RunResult run = RunPlayer(dir, options);
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "using resolution 800x600 32bpp\n" + Expected("BalTrap", "a", "") +
                           Expected("Image", "an", "") + Expected("InkStain", "an", "") +
                           Expected("Model", "a", "mesh 24 0\nmesh 4 4\n") + kOpenGLUsages);
}

}  // namespace

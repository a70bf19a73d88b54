// The sound stage through the real player: an output that cannot start, and
// the music clock with and without a music file.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

using namespace testing_support;

// (The host's start-up tests rely on this one for the sound stage's failure.)
TEST(SoundStage, OutputThatCannotStartEndsTheRunBeforeTheScript)
{
    // A driver SDL does not know (the audio subsystem fails), and a known one
    // whose device cannot open (the disk driver with an unwritable file).
    const std::map<std::string, std::string> cases[] = {
        {{"SDL_AUDIODRIVER", "no-such-driver"}},
        {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", "/nonexistent/folder/out.raw"}},
    };
    for (const auto& env : cases) {
        RunOptions options;
        options.env = env;
        const RunResult run = RunScript("print \"script ran\\n\"; sub main { return 0; } 1;", options);
        EXPECT_EQ(run.status, 1) << env.begin()->second << "\n" << run.err;
        EXPECT_EQ(run.out, "using resolution 800x600 32bpp\nSound error!\nGeluid is GORT!\n") << env.begin()->second;
    }
}

// The music clock starts with the show's glStartSound: a device buffer behind
// the wall clock with music, and on the silent clock (with one line saying
// why) when the music file is missing.
TEST(SoundStage, MusicClockStartsWithTheShow)
{
    const struct { const char* music; int least; const char* err; } cases[] = {
        // A little under 300 ms (less when a loaded machine starves the audio thread).
        {"tone.mp3", 150, ""},
        {"", 299, "music: cannot play \"derure.mp3\": No such file or directory; the show runs on a silent clock\n"},
    };
    for (const auto& c : cases) {
        const RunResult run = RunScript(R"(sub main {
    OpenGL::boot_OpenGL();
    my $before = OpenGL::glGetSoundPos();
    OpenGL::glStartSound();
    select(undef, undef, undef, 0.3);
    print "positions $before ", OpenGL::glGetSoundPos(), "\n";
    return 0;
} 1;)", {}, c.music);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        int before = -1, after = -1;
        std::sscanf(run.out.c_str(), "using resolution 800x600 32bpp\npositions %d %d", &before, &after);
        EXPECT_EQ(before, 0) << run.out;
        EXPECT_GE(after, c.least) << run.out;
        EXPECT_LT(after, 1500) << run.out;
        EXPECT_EQ(run.err, c.err);
    }
}

// The sound stage through the real player: an output that cannot start, and a
// show whose music file is missing.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace testing_support;

namespace {

// Prints the position before glStartSound, then after 300 ms of playing.
const char* kClockScript = R"(
sub main {
    OpenGL::boot_OpenGL();
    my $before = OpenGL::glGetSoundPos();
    OpenGL::glStartSound();
    select(undef, undef, undef, 0.3);
    my $after = OpenGL::glGetSoundPos();
    print "positions $before $after\n";
    return 0;
}
1;
)";

// The two positions the clock script printed.
std::pair<int, int> Positions(const RunResult& run)
{
    std::istringstream line(run.out.substr(run.out.find("positions ") + 10));
    std::pair<int, int> positions{-1, -1};
    line >> positions.first >> positions.second;
    return positions;
}

}  // namespace

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

TEST(SoundStage, MissingMusicRunsTheShowOnASilentClock)
{
    const RunResult run = RunScript(kClockScript, {}, "");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto [before, after] = Positions(run);
    EXPECT_EQ(before, 0) << run.out;
    EXPECT_GE(after, 299) << run.out;
    EXPECT_LT(after, 1500) << run.out;
    EXPECT_NE(run.err.find("derure.mp3"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
}

TEST(SoundStage, MusicClockStartsWithTheShow)
{
    const RunResult run = RunScript(kClockScript);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto [before, after] = Positions(run);
    EXPECT_EQ(before, 0) << run.out;
    // Heard a device buffer after it was handed over: a little under 300 ms
    // (less when a loaded machine starves the audio thread).
    EXPECT_GE(after, 150) << run.out;
    EXPECT_LT(after, 1500) << run.out;
    EXPECT_EQ(run.err, "");
}

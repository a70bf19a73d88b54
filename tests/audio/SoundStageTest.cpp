// The sound stage through the real player: an output that cannot start, the clock with and without music.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testing_support;

// (The host's start-up tests rely on this one for the sound stage's failure.)
TEST(SoundStage, OutputThatCannotStartEndsTheRunBeforeTheScript)
{
    // A PulseAudio server that takes connections and never answers: the player gives up on it after 2 s, and
    // does not go through it again with SDL's drivers (its pulse driver, ALSA's pulse plugin), which would wait
    // half a minute each.
    TempDir folder;
    const std::string silent = folder / "silent";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", silent.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    // A driver SDL does not know, and one whose device cannot open (the disk driver with an unwritable file).
    const struct {
        std::map<std::string, std::string> env;
        double seconds;  // at most (generous: a busy machine)
    } cases[] = {
        {{{"SDL_AUDIODRIVER", "no-such-driver"}}, 20.0},
        {{{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", "/nonexistent/folder/out.raw"}}, 20.0},
        {{{"PULSE_SERVER", "unix:" + silent}}, 10.0},
    };
    for (const auto& c : cases) {
        RunOptions options;
        options.env = c.env;
        if (!c.env.count("SDL_AUDIODRIVER"))
            options.unsetEnv = {"SDL_AUDIODRIVER"};
        const auto start = std::chrono::steady_clock::now();
        const RunResult run = RunScript("print \"script ran\\n\"; sub main { return 0; } 1;", options);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.status, 1) << c.env.begin()->second << "\n" << run.err;
        EXPECT_EQ(run.out, "using resolution 800x600 32bpp\nSound error!\nGeluid is GORT!\n") << c.env.begin()->second;
        EXPECT_LE(seconds, c.seconds) << c.env.begin()->second;
    }
    close(listener);
}

// The clock holds a paused seek, starts with glStartSound and seeks while playing, with music and on the
// silent clock (one line says why) when the music is missing or no music (here: the script).
TEST(SoundStage, MusicClockStartsWithTheShow)
{
    const char* script = R"(sub main {
    OpenGL::boot_OpenGL();
    my @at = (OpenGL::glGetSoundPos());
    OpenGL::glSetSoundPos(2000);
    push @at, OpenGL::glGetSoundPos();
    OpenGL::glStartSound();
    select(undef, undef, undef, 0.3);
    push @at, OpenGL::glGetSoundPos();
    OpenGL::glSetSoundPos(500);
    print "positions @at ", OpenGL::glGetSoundPos(), "\n";
    return 0;
} 1;)";
    const struct {
        const char* music;  // copied to derure.mp3
        int least;          // ms heard after 300 ms
        const char* why;    // the music cannot play
    } cases[] = {
        {"tone.mp3", 150, nullptr},  // a device buffer under 300 ms (less on a loaded machine)
        {nullptr, 299, "No such file or directory"},
        {"main.pl", 299, "no MPEG audio found"},
    };
    for (const auto& c : cases) {
        ShowDir dir;
        dir.Write("main.pl", script);
        if (c.music)
            dir.Copy(c.music == std::string("main.pl") ? dir / c.music : Fixture(c.music), "derure.mp3");
        RunOptions options;
        options.args = {"-w"};
        const RunResult run = RunPlayer(dir, options);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        int at[4] = {-1, -1, -1, -1};
        std::sscanf(run.out.c_str(), "using resolution 800x600 32bpp\npositions %d %d %d %d", &at[0], &at[1], &at[2],
                    &at[3]);
        EXPECT_TRUE(at[0] == 0 && at[1] == 2000 && at[2] >= 2000 + c.least && at[2] < 3500) << run.out;
        EXPECT_TRUE(at[3] >= 500 && at[3] < 550) << run.out;
        EXPECT_EQ(run.err, c.why ? "music: cannot play \"derure.mp3\": " + std::string(c.why) +
                                       "; the show runs on a silent clock\n" : "");
    }
}

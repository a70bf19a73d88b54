// A show goes on when its sound server goes away: the clock keeps wall-clock
// pace, the player connects again when the server is back, and the music is
// heard in sync once more. The private server is killed and restarted three
// times while one player plays.
#include "audio/Player.h"
#include "tests/audio/AudioSupport.h"
#include "tests/audio/PulseServer.h"
#include "tests/audio/SyncProbe.h"
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>

using namespace audio_test;
using testing_support::Fixture;

namespace {

constexpr int kRate = 44100;

double NowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Playback streams on the server, as its own command-line client lists them.
int ServerStreams(const std::string& address)
{
    FILE* list = popen(("pactl -s '" + address + "' list short sink-inputs 2>/dev/null").c_str(), "r");
    if (!list)
        return -1;
    int lines = 0;
    for (int c; (c = std::fgetc(list)) != EOF;)
        lines += c == '\n';
    pclose(list);
    return lines;
}

// The largest distance, over ms, between the clock and the wall clock running
// from where the clock stood at the start; while `until` is false afterwards
// it goes on reading (up to a limit) and says whether `until` came true.
template <typename Until>
double WorstPace(music::Player& player, double ms, Until until, bool* came = nullptr)
{
    const double start = NowMs();
    const double from = player.PositionExact();
    double worst = 0.0;
    for (double now = start; now - start < ms || (came && !*came && now - start < ms + 5000); now = NowMs()) {
        worst = std::max(worst, std::abs(player.PositionExact() - (from + now - start)));
        if (came && !*came && now - start >= ms)
            *came = until();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return worst;
}

}  // namespace

TEST(PulseRestart, ShowGoesOnThroughThreeServerRestarts)
{
    PulseServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    setenv("PULSE_SERVER", server.Address().c_str(), 1);
    unsetenv("SDL_AUDIODRIVER");
    std::string error;
    auto player = music::Player::Create(kRate, &error);
    ASSERT_TRUE(player) << error;
    ASSERT_EQ(player->OutputName(), "pulse");
    player->Open(Fixture("clicks.mp3"));

    testing::internal::CaptureStderr();
    player->Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::unique_ptr<Recorder> recorder;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        server.Kill();
        // The first time over 5 s, then 1 s: the clock goes on at wall pace.
        EXPECT_LE(WorstPace(*player, round == 0 ? 5000 : 1000, [] { return true; }), 50.0);
        ASSERT_TRUE(server.Start()) << server.Log();
        // The last time the recorder comes first: a restarted null sink plays
        // its first 2 s block whole, and the recorder can only time what it
        // hears once that is over (it waits for it).
        if (round == 2) {
            recorder = std::make_unique<Recorder>(server.Address());
            ASSERT_TRUE(recorder->Ready());
        }
        // The player's stream is back on the server within 3 s, and the clock
        // keeps its pace through the handover (no step back, no stall).
        bool back = false;
        const double restarted = NowMs();
        EXPECT_LE(WorstPace(*player, 0, [&] { return ServerStreams(server.Address()) > 0; }, &back), 50.0);
        EXPECT_TRUE(back);
        EXPECT_LE(NowMs() - restarted, 3000.0);
        // The player connects before its next look at the clock.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        player->Position();
    }

    // Back on the server's timing: the clicks are heard at their music time.
    const SyncFigures figures = MeasureSync(*player, *recorder, Fixture("clicks.mp3"), {}, 1500, false);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_GE(figures.steady.size(), 3u) << said;
    EXPECT_LE(std::abs(figures.Median()), 5.0) << said;

    auto count = [&](const char* what) {
        int n = 0;
        for (std::size_t at = said.find(what); at != std::string::npos; at = said.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("sound lost"), 3) << said;
    EXPECT_EQ(count("sound is back"), 3) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 6) << said;
}

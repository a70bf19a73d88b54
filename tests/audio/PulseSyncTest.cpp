// The music clock against what a real sound server plays: a private
// PulseAudio daemon with a null sink, a click-track MP3, and a passive
// recorder on the sink's monitor.
#include "audio/Player.h"
#include "tests/audio/PulseServer.h"
#include "tests/audio/SyncProbe.h"
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace audio_test;
using testing_support::Fixture;

namespace {

constexpr int kRate = 44100;

class PulseSync : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.Running()) << "pulseaudio did not start:\n" << server_.Log();
        setenv("PULSE_SERVER", server_.Address().c_str(), 1);
        unsetenv("SDL_AUDIODRIVER");
    }

    PulseServer server_;
};

}  // namespace

// In steady play, at the start and after each seek, the clock reads the
// music's own time of each click at the moment the server plays it. (A clock
// that allows for a fixed device buffer instead is off by 10 to 50 ms here;
// the margins leave room for a busy machine.)
TEST_F(PulseSync, ClockReadsWhatTheServerPlays)
{
    Recorder recorder(server_.Address());
    ASSERT_TRUE(recorder.Ready());
    std::string error;
    auto player = music::Player::Create(kRate, &error);
    ASSERT_TRUE(player) << error;
    EXPECT_EQ(player->OutputName(), "pulse");

    const SyncFigures figures = MeasureSync(*player, recorder, Fixture("clicks.mp3"), {7000, 13000, 2500}, 1500);
    std::string offsets;
    for (double o : figures.steady)
        offsets += std::to_string(o) + " ";
    SCOPED_TRACE("steady offsets: " + offsets);
    ASSERT_GE(figures.steady.size(), 15u);
    EXPECT_LE(std::abs(figures.Median()), 3.0);
    EXPECT_LE(figures.P90Magnitude(), 5.0);
    EXPECT_LE(std::abs(figures.atStart), 5.0) << "at the start";
    ASSERT_EQ(figures.afterSeeks.size(), 3u);
    for (double offset : figures.afterSeeks)
        EXPECT_LE(std::abs(offset), 5.0) << "after a seek";
}

// The music clock against what a real sound server plays: a private
// PulseAudio daemon with a null sink, a click-track MP3, and a passive
// recorder on the sink's monitor. For every click heard, the clock's reading
// at that moment less the click's place in the music is the offset (positive:
// the clock runs ahead of the ear).
#include "audio/Player.h"
#include "tests/audio/AudioSupport.h"
#include "tests/audio/PulseServer.h"
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

using namespace audio_test;
using testing_support::Fixture;

namespace {

constexpr int kRate = 44100;

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// The player's clock read every millisecond, with the moment of each reading.
class ClockLog {
public:
    explicit ClockLog(music::Player& player) : player_(player) {}

    // Reads the clock until ms have passed.
    void Follow(int ms)
    {
        const long long end = NowNs() + ms * 1000000LL;
        while (NowNs() < end) {
            const long long before = NowNs();
            const double position = player_.PositionExact();
            const long long after = NowNs();
            // A reading the scheduler interrupted has no known moment.
            if (after - before < 200000)
                readings_.push_back({(before + after) / 2, position});
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Marks a jump (seek or start): readings never interpolate across it.
    void Mark() { readings_.push_back({NowNs(), -1.0}); }

    // The clock at moment ns, between the readings around it; NAN when there
    // is no reading within 5 ms on both sides or a jump lies between.
    double At(double ns) const
    {
        auto it = std::lower_bound(readings_.begin(), readings_.end(), ns,
                                   [](const Reading& r, double t) { return r.ns < t; });
        if (it == readings_.begin() || it == readings_.end())
            return NAN;
        const Reading& a = *(it - 1);
        const Reading& b = *it;
        if (a.ms < 0 || b.ms < 0 || b.ns - a.ns > 10000000)
            return NAN;
        return a.ms + (b.ms - a.ms) * (ns - a.ns) / double(b.ns - a.ns);
    }

private:
    struct Reading {
        long long ns;
        double ms;
    };
    music::Player& player_;
    std::vector<Reading> readings_;
};

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

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

}  // namespace

TEST_F(PulseSync, ClockReadsWhatTheServerPlays)
{
    Recorder recorder(server_.Address());
    ASSERT_TRUE(recorder.Ready());
    std::string error;
    auto player = music::Player::Create(kRate, &error);
    ASSERT_TRUE(player) << error;
    EXPECT_EQ(player->OutputName(), "pulse");
    player->Open(Fixture("clicks.mp3"));

    // Clicks every 250 ms: seek targets on clicks, so that the first thing
    // heard after each jump is a click.
    const std::vector<int> seeks = {7000, 13000, 2500};
    std::vector<long long> jumps;
    ClockLog log(*player);
    log.Follow(300);
    jumps.push_back(NowNs());
    log.Mark();
    player->Start();
    log.Follow(2500);
    for (int target : seeks) {
        jumps.push_back(NowNs());
        log.Mark();
        player->Seek(target);
        log.Follow(1500);
    }
    player.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const auto reference = FindClicks(DecodeWhole(Fixture("clicks.mp3")).samples, kRate / 10);
    const auto heard = FindClicks(recorder.Samples(), kRate / 10);
    ASSERT_GT(reference.size(), 70u);
    std::vector<double> steady;
    std::vector<double> first(jumps.size(), NAN);
    for (std::int64_t frame : heard) {
        const double at = recorder.HeardNs(frame);
        const double clock = log.At(at);
        if (std::isnan(clock))
            continue;
        // The click the clock says is playing.
        const auto nearest = std::min_element(reference.begin(), reference.end(), [&](auto a, auto b) {
            return std::abs(a * 1000.0 / kRate - clock) < std::abs(b * 1000.0 / kRate - clock);
        });
        const double offset = clock - *nearest * 1000.0 / kRate;
        const auto jump = std::upper_bound(jumps.begin(), jumps.end(), static_cast<long long>(at)) - jumps.begin() - 1;
        if (jump < 0)
            continue;
        if (std::isnan(first[jump]))
            first[jump] = offset;
        else
            steady.push_back(offset);
    }
    std::vector<double> magnitudes;
    for (double o : steady)
        magnitudes.push_back(std::abs(o));
    std::sort(magnitudes.begin(), magnitudes.end());
    ASSERT_GT(steady.size(), 15u);
    const double p90 = magnitudes[magnitudes.size() * 9 / 10];
    std::printf("steady median %+.2f ms, p90 |offset| %.2f ms; start %+.2f; seeks %+.2f %+.2f %+.2f\n", Median(steady),
                p90, first[0], first[1], first[2], first[3]);
    EXPECT_LE(std::abs(Median(steady)), 2.0);
    EXPECT_LE(p90, 5.0);
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_LE(std::abs(first[i]), 5.0) << (i == 0 ? "at the start" : "after a seek");
}

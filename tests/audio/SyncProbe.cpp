// Sync of the music clock with what the server plays.
#include "tests/audio/SyncProbe.h"

#include "tests/audio/AudioSupport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace audio_test {

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
    // Marks a jump (start or seek) now: nothing interpolates across it.
    long long Mark()
    {
        const long long now = NowNs();
        readings_.push_back({now, -1.0});
        return now;
    }

    // The clock at moment ns, between the readings around it; NAN without a
    // reading within 10 ms or across a jump.
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

}  // namespace

double SyncFigures::Median() const
{
    std::vector<double> v = steady;
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

double SyncFigures::P90Magnitude() const
{
    std::vector<double> v;
    for (double o : steady)
        v.push_back(std::abs(o));
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() * 9 / 10];
}

SyncFigures MeasureSync(music::Player& player, Recorder& recorder, const std::string& clicks,
                        const std::vector<int>& seeks, int playMs, bool fromStart)
{
    ClockLog log(player);
    std::vector<long long> jumps;
    if (fromStart) {
        player.Open(clicks);
        log.Follow(300);
        jumps.push_back(log.Mark());
        player.Start();
    } else {
        jumps.push_back(log.Mark());
    }
    log.Follow(playMs);
    for (int target : seeks) {
        jumps.push_back(log.Mark());
        player.Seek(target);
        log.Follow(playMs);
    }
    player.Pause();
    // The recorder gets the monitor's data in 100 ms pieces.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const auto reference = FindClicks(DecodeWhole(clicks).samples, kRate / 10);
    std::vector<double> first(jumps.size(), NAN);
    SyncFigures figures;
    for (std::int64_t frame : FindClicks(recorder.Samples(), kRate / 10)) {
        const double at = recorder.HeardNs(frame);
        const double clock = log.At(at);
        const auto jump = std::upper_bound(jumps.begin(), jumps.end(), static_cast<long long>(at)) - jumps.begin() - 1;
        if (std::isnan(clock) || jump < 0 || reference.empty())
            continue;
        // The click the clock says is playing.
        const auto nearest = std::min_element(reference.begin(), reference.end(), [&](auto a, auto b) {
            return std::abs(a * 1000.0 / kRate - clock) < std::abs(b * 1000.0 / kRate - clock);
        });
        const double offset = clock - *nearest * 1000.0 / kRate;
        if (std::isnan(first[jump]))
            first[jump] = offset;
        else
            figures.steady.push_back(offset);
    }
    figures.atStart = first[0];
    figures.afterSeeks.assign(first.begin() + 1, first.end());
    return figures;
}

}  // namespace audio_test

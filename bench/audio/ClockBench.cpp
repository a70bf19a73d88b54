// Music clock smoothness: reads the position every few ms while the music
// plays on SDL's dummy driver, and compares it with the wall clock (step
// jitter) and with the device's consumed-sample count (drift).
// Usage: clock_bench <music.mp3> [seconds=20] [interval_us=2000]
#include "audio/Player.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kStartMs = 1000;

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// A reading whose call took longer than this was preempted inside: when the
// clock sampled its time is unknown, so it is left out of the figures.
constexpr long long kMaxCallNs = 250000;
// How late a callback may come and still count as on time.
constexpr long long kLateNs = 1000000;

struct Reading {
    long long ns;  // midpoint of the call
    double exactMs;
    int ms;
    bool onTime = false;  // no callback around it came over 1 ms late
};

// Standard deviation of (position step - wall step), in ms.
template <typename Position>
double StepJitter(const std::vector<Reading>& readings, Position position, bool onTimeOnly = false)
{
    double sum = 0.0, sumSquares = 0.0;
    std::size_t n = 0;
    for (std::size_t i = 1; i < readings.size(); ++i) {
        if (onTimeOnly && !(readings[i].onTime && readings[i - 1].onTime))
            continue;
        ++n;
        const double d = (position(readings[i]) - position(readings[i - 1])) -
                         (readings[i].ns - readings[i - 1].ns) / 1e6;
        sum += d;
        sumSquares += d * d;
    }
    if (n == 0)
        return 0.0;
    const double mean = sum / n;
    return std::sqrt(std::max(0.0, sumSquares / n - mean * mean));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <music.mp3> [seconds] [interval_us]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    const int intervalUs = argc > 3 ? std::atoi(argv[3]) : 2000;
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::string error;
    auto player = music::Player::Create(kRate, &error);
    if (!player) {
        std::fprintf(stderr, "no audio output: %s\n", error.c_str());
        return 1;
    }
    player->Open(argv[1]);
    player->Seek(kStartMs);

    std::vector<music::DeviceBuffer> buffers;
    buffers.reserve(static_cast<std::size_t>(seconds * kRate / 256) + 1000);
    std::vector<Reading> readings;
    readings.reserve(static_cast<std::size_t>(seconds * 1e6 / intervalUs) + 1000);
    player->TraceDevice(&buffers);
    player->Start();
    const long long end = NowNs() + static_cast<long long>(seconds * 1e9);
    long preempted = 0;
    bool backwards = false;
    double lastExact = 0.0;
    while (NowNs() < end) {
        const long long before = NowNs();
        const double exact = player->PositionExact();
        const int ms = player->Position();
        const long long after = NowNs();
        backwards = backwards || exact < lastExact;
        lastExact = exact;
        if (after - before <= kMaxCallNs)
            readings.push_back({(before + after) / 2, exact, ms});
        else
            ++preempted;
        usleep(static_cast<useconds_t>(intervalUs));
    }
    player->TraceDevice(nullptr);
    const double latency = player->DeviceLatencyFrames();
    player.reset();

    // Drift: the consumed-sample count, less the device buffer, on the line
    // through the callbacks on either side of the reading.
    double worst = 0.0, worstOnTime = 0.0, sumOff = 0.0;
    long onTimeReadings = 0;
    std::vector<double> offs;
    long compared = 0;
    std::size_t b = 0;
    for (Reading& r : readings) {
        while (b + 1 < buffers.size() && buffers[b + 1].timeNs <= r.ns)
            ++b;
        if (b + 1 >= buffers.size() || buffers[b].timeNs > r.ns || b == 0)
            continue;  // before the second buffer or after the last: no line
        const auto& from = buffers[b];
        const auto& to = buffers[b + 1];
        const double share = double(r.ns - from.timeNs) / double(to.timeNs - from.timeNs);
        const double heard = from.startFrame - latency + share * double(to.startFrame - from.startFrame);
        const double off = r.exactMs - heard * 1000.0 / kRate;
        // Were the callbacks around this reading on time (none more than 1 ms
        // late)? A callback the scheduler delays stalls the device, and no
        // clock can foresee that.
        const auto onTimeGap = [&](std::size_t k) {
            return buffers[k + 1].timeNs - buffers[k].timeNs <=
                   1000000000LL * buffers[k].frames / kRate + kLateNs;
        };
        const bool onTime = onTimeGap(b - 1) && onTimeGap(b) && (b + 2 >= buffers.size() || onTimeGap(b + 1));
        r.onTime = onTime;
        if (onTime) {
            worstOnTime = std::max(worstOnTime, std::abs(off));
            ++onTimeReadings;
        }
        worst = std::max(worst, std::abs(off));
        offs.push_back(std::abs(off));
        sumOff += off;
        ++compared;
    }

    long long periods = 0;
    double longest = 0.0;
    for (std::size_t i = 1; i < buffers.size(); ++i) {
        longest = std::max(longest, (buffers[i].timeNs - buffers[i - 1].timeNs) / 1e6);
        ++periods;
    }
    const double deviceRate = buffers.size() > 1
                                  ? double(buffers.back().startFrame - buffers.front().startFrame) /
                                        ((buffers.back().timeNs - buffers.front().timeNs) / 1e9)
                                  : 0.0;
    const double exactJitter = StepJitter(readings, [](const Reading& r) { return r.exactMs; });
    const double msJitter = StepJitter(readings, [](const Reading& r) { return double(r.ms); });
    const double onTimeJitter = StepJitter(readings, [](const Reading& r) { return r.exactMs; }, true);

    std::printf("readings %zu over %.1f s, every %d us (%ld more left out: preempted inside the call); "
                "device buffers %lld (latency %.0f frames), device rate %.1f Hz, longest callback gap %.2f ms\n",
                readings.size(), seconds, intervalUs, preempted, periods, latency, deviceRate, longest);
    std::printf("step jitter: %.3f ms (fractional position), %.3f ms (integer ms as the script sees it), "
                "%.3f ms where no callback came over 1 ms late\n",
                exactJitter, msJitter, onTimeJitter);
    std::sort(offs.begin(), offs.end());
    const auto percentile = [&](double p) { return offs.empty() ? 0.0 : offs[std::size_t(p * (offs.size() - 1))]; };
    long late = 0;
    for (std::size_t i = 1; i < buffers.size(); ++i)
        late += (buffers[i].timeNs - buffers[i - 1].timeNs) / 1e6 > 1.5 * 1000.0 * buffers[i - 1].frames / kRate;
    std::printf("off consumed samples: max %.3f ms, p99 %.3f ms, p50 %.3f ms, mean %+.3f ms over %ld readings; "
                "callbacks over 1.5 periods late: %ld; went backwards: %s\n",
                worst, percentile(0.99), percentile(0.5), compared ? sumOff / compared : 0.0, compared, late,
                backwards ? "yes" : "no");
    std::printf("off consumed samples where no callback came over 1 ms late: max %.3f ms over %ld readings\n",
                worstOnTime, onTimeReadings);
    std::printf("music clock: step jitter %.3f ms (goal <= 0.5; %.3f ms where callbacks came on time), "
                "max %.3f ms off consumed samples (goal <= 1; %.3f ms where callbacks came on time)\n",
                exactJitter, onTimeJitter, worst, worstOnTime);
    return 0;
}

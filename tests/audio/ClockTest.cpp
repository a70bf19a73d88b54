// The music clock on made-up device callbacks: snapping, latency, the cap for late callbacks, monotonic
// readings, the end of the music. (Free running is the player's silent clock, tested through the player.)
#include "audio/Clock.h"

#include <gtest/gtest.h>

using music::Clock;

namespace {

constexpr int kRate = 44100;
constexpr int kBuffer = 1024;
constexpr std::int64_t kMs = 1000000;  // ns
// One device buffer in ns (23.22 ms).
constexpr std::int64_t kPeriod = static_cast<std::int64_t>(kBuffer) * 1000000000LL / kRate;

double Frames(double ms) { return ms * kRate / 1000.0; }

}  // namespace

TEST(Clock, PausedHoldsSeekAndResumeWaitsForTheDevice)
{
    Clock clock(kRate, kBuffer);
    EXPECT_EQ(clock.Read(0), 0.0);
    clock.Seek(2646000, 0);
    EXPECT_EQ(clock.Read(500 * kMs), 2646000.0);
    clock.Resume(600 * kMs);
    // Nothing handed to the device yet: nothing new heard.
    EXPECT_EQ(clock.Read(650 * kMs), 2646000.0);
    // The first buffer is heard after the one already queued: still held.
    clock.Buffer(2646000, kBuffer, 660 * kMs);
    EXPECT_EQ(clock.Read(660 * kMs), 2646000.0);
    EXPECT_EQ(clock.Read(660 * kMs + kPeriod / 2), 2646000.0);
    // The next callback: the music is heard from its first frame on.
    const std::int64_t next = 660 * kMs + kPeriod;
    clock.Buffer(2646000 + kBuffer, kBuffer, next);
    EXPECT_NEAR(clock.Read(next + 10 * kMs), 2646000 + Frames(10), 0.01);
}

TEST(Clock, InterpolatesBetweenCallbacksNeverRunsAheadNeverBack)
{
    Clock clock(kRate, kBuffer);
    clock.Resume(0);
    std::int64_t start = 0;
    std::int64_t t = 0;
    double last = 0.0;
    for (int i = 0; i < 50; ++i, start += kBuffer) {
        // Callbacks come irregularly: some early, some 5 ms late.
        t += kPeriod + (i % 3 == 0 ? 5 * kMs : -2 * kMs);
        clock.Buffer(start, kBuffer, t);
        for (std::int64_t dt = 0; dt < kPeriod + 5 * kMs; dt += kMs) {
            const double now = clock.Read(t + dt);
            EXPECT_GE(now, last);
            // Never past what the device was given, less what it still holds.
            EXPECT_LE(now, static_cast<double>(start));
            last = now;
        }
    }
    // A device 1 % fast: the clock learns its pace instead of stalling at each cap.
    const std::int64_t fast = kPeriod * 99 / 100;
    for (int i = 0; i < 200; ++i, start += kBuffer) {
        t += fast;
        clock.Buffer(start, kBuffer, t);
    }
    const double from = clock.Read(t + 2 * kMs);
    EXPECT_NEAR(clock.Read(t + 20 * kMs) - from, Frames(18) / 0.99, 0.5);
    EXPECT_NEAR(from, start - 2 * kBuffer + Frames(2) / 0.99, 0.5);
}

TEST(Clock, StopsAtTheEndAndSnapsOnPause)
{
    Clock clock(kRate, kBuffer);
    clock.SetEnd(10000);
    clock.Seek(20000, 0);
    EXPECT_EQ(clock.Read(0), 10000.0);
    clock.Seek(8000, 0);
    clock.Resume(0);
    for (int i = 0; i < 10; ++i)
        clock.Buffer(8000 + i * kBuffer, kBuffer, i * kPeriod);
    EXPECT_EQ(clock.Read(20 * kPeriod), 10000.0);
    EXPECT_EQ(clock.Read(30 * kPeriod), 10000.0);

    clock.Seek(0, 0);
    clock.Resume(0);
    clock.Buffer(0, kBuffer, 0);
    clock.Buffer(kBuffer, kBuffer, kPeriod);
    const std::int64_t held = clock.Pause(kPeriod + 10 * kMs);
    EXPECT_NEAR(static_cast<double>(held), Frames(10), 1.0);
    EXPECT_EQ(clock.Read(kPeriod * 40), static_cast<double>(held));
}

// The music component with the generated fixtures: the decoder, then the player on SDL's dummy and disk
// drivers (samples after a seek, the clock paused, playing and at the end, the hand-over to the wall clock).
#include "audio/Decoder.h"
#include "audio/Feed.h"
#include "audio/Player.h"
#include "audio/Realtime.h"
#include "tests/audio/AudioSupport.h"
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/syscall.h>
#include <thread>
#include <utility>

using namespace audio_test;
using testing_support::Fixture;

namespace {

constexpr int kRate = 44100;

// A player on the driver the test chose, with `music` open and paused at 0.
std::unique_ptr<music::Player> Make(const std::string& music)
{
    std::string error;
    auto player = music::Player::Create(kRate, &error);
    EXPECT_TRUE(player) << error;
    if (player)
        player->Open(music);
    return player;
}

// Selects SDL's disk driver for the next player (at 2 ms per 23 ms buffer: ten times real time).
void UseDiskDriver(const std::string& file, const char* delayMs = "2")
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", delayMs, 1);
}

// Raw 16-bit samples from a file.
std::vector<std::int16_t> ReadSamples(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(in.tellg()) / 2);
    in.seekg(0).read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
    return samples;
}

// Index of the first stereo frame that is not silent, or -1.
long FirstSound(const std::vector<std::int16_t>& stereo, long fromFrame = 0)
{
    for (long frame = fromFrame; frame * 2 + 1 < static_cast<long>(stereo.size()); ++frame)
        if (stereo[frame * 2] != 0 || stereo[frame * 2 + 1] != 0)
            return frame;
    return -1;
}

}  // namespace

// Seeks give a straight decode's samples, through the resampler too: the sweep sox made (left channel) at
// its level (-6 dB), mono on both channels; a straight decode gives exactly the file's length.
TEST(MusicDecoder, SeekGivesTheSamplesOfAStraightDecode)
{
    const struct {
        const char* name;
        std::int64_t length;
        double hz;  // the sweep at 5.11 s: from f0 to 10 f0 exponentially over the file
        bool mono;
    } files[] = {
        {"tone.mp3", 3087000, 200 * std::pow(10.0, 5.1105 / 70), false},  // 70 s made at 44.1 kHz
        {"mono22.mp3", 441000, 300 * std::pow(10.0, 5.1105 / 10), true},  // 220500 frames at 22.05 kHz
    };
    for (const auto& file : files) {
        std::string reason;
        auto straight = music::Decoder::Open(Fixture(file.name), kRate, &reason);
        auto seeking = music::Decoder::Open(Fixture(file.name), kRate, &reason);
        ASSERT_TRUE(straight && seeking) << file.name << ": " << reason;
        EXPECT_EQ(straight->Length(), file.length) << file.name;
        const std::int64_t target = 5 * kRate + 777;
        std::vector<std::int16_t> skipped(static_cast<std::size_t>(target) * 2), a(8192 * 2), b(8192 * 2);
        ASSERT_EQ(straight->Read(skipped.data(), static_cast<int>(target)), target) << file.name;
        ASSERT_EQ(straight->Read(a.data(), 8192), 8192) << file.name;
        ASSERT_TRUE(seeking->Seek(target));
        ASSERT_EQ(seeking->Read(b.data(), 8192), 8192) << file.name;
        // libmpg123 may round a low-rate sample one step differently after a seek; more is a fault.
        int worst = 0;
        for (std::size_t i = 0; i < a.size(); ++i)
            worst = std::max(worst, std::abs(a[i] - b[i]));
        EXPECT_LE(worst, 1) << file.name;
        long crossings = 0, peak = 0, differ = 0;
        for (std::size_t i = 2; i < b.size(); i += 2) {
            crossings += (b[i - 2] < 0) != (b[i] < 0);
            peak = std::max<long>(peak, std::abs(b[i]));
            differ += b[i] != b[i + 1];
        }
        EXPECT_NEAR(crossings / 2.0 / (8192.0 / kRate), file.hz, 20.0) << file.name;
        EXPECT_NEAR(peak, 16384, 1600) << file.name;
        EXPECT_EQ(differ == 0, file.mono) << file.name;
        // Read to the end: exactly Length frames in all, then nothing.
        std::int64_t total = target + 8192;
        for (int got; (got = straight->Read(skipped.data(), 65536)) > 0;)
            total += got;
        EXPECT_EQ(total, file.length) << file.name;
    }
}

// A move made while the decoder thread still fills the ring for the one before: the first music pulled is
// from the new position, never a block of the old one the thread finished after the ring was emptied.
TEST(MusicFeed, MoveDropsWhatTheDecoderFinishesForTheOldPosition)
{
    std::string reason;
    music::Feed feed(music::Decoder::Open(Fixture("tone.mp3"), kRate, &reason));
    std::vector<std::int16_t> buffer(256 * 2);
    for (std::int64_t round = 0; round < 40; ++round) {
        const std::int64_t old = round * 50000, target = old + 20000;
        feed.MoveTo(old);
        for (const long long end = NowNs() + 2000000000LL; feed.Pull(buffer.data(), 256).count == 0;)
            ASSERT_LT(NowNs(), end);  // no sleep: the move must come while the next block for `old` is decoded
        feed.MoveTo(target);
        music::Pulled pulled;
        ASSERT_TRUE(WaitFor([&] { return (pulled = feed.Pull(buffer.data(), 256)).count > 0; }, 2000));
        EXPECT_EQ(pulled.start, target) << "round " << round;
    }
}

// A paused seek holds; playing gives the decoded samples from there; the end holds the position and is
// followed by silence (no loop, no leftover samples); a seek back plays again.
TEST(MusicDisk, PlaysFromTheSeekPositionAndStopsAtTheEnd)
{
    testing_support::TempDir dir;
    UseDiskDriver(dir / "out.raw");
    auto player = Make(Fixture("tone.mp3"));
    ASSERT_TRUE(player);
    EXPECT_EQ(player->OutputName(), "sdl:disk");
    EXPECT_EQ(player->Length(), 70000);
    const std::pair<int, int> seeks[] = {{1000000, 70000}, {-20, 0}, {1, 1}, {60000, 60000}};
    for (const auto& [seek, position] : seeks)
        EXPECT_TRUE(player->Seek(seek) && player->Position() == position) << seek;
    usleep(30000);  // the device plays silence meanwhile
    EXPECT_EQ(player->Position(), 60000);
    player->Start();
    ASSERT_TRUE(WaitFor([&] { return player->Position() >= 60500; }, 5000));
    player->Seek(69700);
    ASSERT_TRUE(WaitFor([&] { return player->Position() == 70000; }, 5000));
    usleep(100000);  // about a second of device time past the end
    EXPECT_EQ(player->Position(), 70000);
    EXPECT_TRUE(player->Seek(1000));
    EXPECT_LE(player->Position(), 1100);
    EXPECT_TRUE(WaitFor([&] { return player->Position() > 1300; }, 5000));
    player.reset();

    const std::vector<std::int16_t> played = ReadSamples(dir / "out.raw");
    const long start = FirstSound(played);
    ASSERT_GE(start, 0) << "no music was played";
    const std::vector<std::int16_t> decoded = DecodeWhole(Fixture("tone.mp3"));
    const long frames = kRate / 2;
    ASSERT_GE(static_cast<long>(played.size()) / 2 - start, frames);
    EXPECT_TRUE(std::equal(played.begin() + start * 2, played.begin() + (start + frames) * 2,
                           decoded.begin() + 60L * kRate * 2));
    long silent = 0, longest = 0;
    for (long i = start; i < static_cast<long>(played.size()) / 2; ++i)
        longest = std::max(longest, silent = played[i * 2] == 0 && played[i * 2 + 1] == 0 ? silent + 1 : 0);
    EXPECT_GT(longest, kRate / 4) << "the end of the music is followed by silence";
}

// The clock never goes back and lies between what the device has taken and what it still holds; pausing holds.
TEST(MusicClock, PausedSeeksHoldAndPlayingTracksConsumedFrames)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    auto player = Make(Fixture("tone.mp3"));
    ASSERT_TRUE(player);
    player->Seek(60000);
    std::vector<music::DeviceBuffer> buffers;
    buffers.reserve(1000);
    player->TraceDevice(&buffers);
    struct Reading { long long before, after; double ms; };
    std::vector<Reading> readings;
    player->Start();
    for (const long long end = NowNs() + 800000000LL; NowNs() < end; usleep(1000)) {
        const long long before = NowNs();
        const double ms = player->PositionExact();
        readings.push_back({before, NowNs(), ms});
    }
    player->TraceDevice(nullptr);
    ASSERT_GT(buffers.size(), 10u);

    const double latency = player->DeviceLatencyFrames();
    double last = 60000.0;
    long checked = 0;
    for (const Reading& r : readings) {
        EXPECT_GE(r.ms, last) << "never backwards while playing";
        last = r.ms;
        // The buffers the device had taken when the reading began and ended.
        const music::DeviceBuffer *lower = nullptr, *previous = nullptr, *upper = nullptr;
        for (const auto& b : buffers) {
            if (b.timeNs <= r.before)
                previous = std::exchange(lower, &b);
            if (b.timeNs <= r.after)
                upper = &b;
        }
        const double frame = r.ms * kRate / 1000.0;
        if (!lower) {
            EXPECT_EQ(r.ms, 60000.0) << "nothing heard before the device took the music";
            continue;
        }
        // Heard: at least the start of the buffer before the newest (or the line through the one before, at the
        // slowest pace the clock accepts: 5 % under the rate), at most everything but the newest.
        double least = lower->startFrame - latency;
        if (previous)
            least = std::min(least, previous->startFrame - latency +
                                        (r.before - previous->timeNs) * 1e-9 * kRate * 0.95);
        EXPECT_GE(frame + 1e-6, std::max<double>(60L * kRate, least));
        EXPECT_LE(frame, upper->startFrame + upper->frames - latency + 1e-6);
        ++checked;
    }
    EXPECT_GT(checked, 100);
    EXPECT_GT(last, 60500.0);
    EXPECT_LT(last, 61000.0);

    // Pausing holds the position heard; resuming continues from there.
    player->Pause();
    const int held = player->Position();
    usleep(50000);
    EXPECT_EQ(player->Position(), held);
    const long long resumed = NowNs();
    player->Start();
    EXPECT_EQ(player->Position(), held);
    usleep(200000);
    const int now = player->Position();
    const double elapsed = (NowNs() - resumed) / 1e6;
    // Behind the wall clock by the buffer and up to a period (more when a loaded machine starves the thread).
    EXPECT_LE(now, held + elapsed);
    EXPECT_GE(now, held + elapsed - 150);
}

// A device whose callbacks stop (the disk driver at 400 ms per buffer) hands over to the wall clock, with one line.
TEST(MusicClock, DeviceThatStopsCallingHandsOverToTheWallClock)
{
    testing_support::TempDir dir;
    UseDiskDriver(dir / "out.raw", "400");
    auto player = Make(Fixture("tone.mp3"));
    ASSERT_TRUE(player);
    testing::internal::CaptureStderr();
    const long long started = NowNs();
    player->Start();
    double worst = 0.0, last = 0.0;
    for (double elapsed = 0.0; elapsed < 1500.0; usleep(5000)) {
        const double position = player->PositionExact();
        elapsed = (NowNs() - started) / 1e6;
        EXPECT_GE(position, last);
        last = position;
        // Lost 250 ms after the last callback: from then on the wall clock.
        if (elapsed > 400)
            worst = std::max(worst, std::abs(position - elapsed));
    }
    player.reset();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_LE(worst, 50.0);
    EXPECT_NE(said.find("sound lost"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

// The lock the SDL device thread shares with the script's thread: while the
// real-time device thread waits for it, a normal thread that holds it runs at
// the device thread's priority (the kernel's own figure for it goes below 0),
// so that other normal threads cannot keep it from letting go.
TEST(MusicOutput, DeviceLockLendsItsPriorityToItsHolder)
{
    const auto KernelPriority = [](pid_t tid) {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 18; ++i)  // field 18: the priority
            fields >> field;
        return std::atoi(field.c_str());
    };
    music::PriorityMutex lock;
    std::atomic<pid_t> holder{0};
    std::atomic<bool> release{false};
    std::thread normal([&] {
        std::lock_guard<music::PriorityMutex> guard(lock);
        holder = static_cast<pid_t>(syscall(SYS_gettid));
        while (!release)
            usleep(1000);
    });
    ASSERT_TRUE(WaitFor([&] { return holder != 0; }, 5000));
    const int normalPriority = KernelPriority(holder);
    std::atomic<bool> realtime{false};
    std::thread device([&] {
        sched_param param{};
        param.sched_priority = music::kDevicePriority;
        realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
        std::lock_guard<music::PriorityMutex> guard(lock);
    });
    usleep(100000);
    const int lent = KernelPriority(holder);
    release = true;
    normal.join();
    device.join();
    if (!realtime)
        GTEST_SKIP() << "no right to real-time scheduling here";
    EXPECT_GE(normalPriority, 0);
    EXPECT_LT(lent, 0) << "the holder kept its own priority " << normalPriority;
}

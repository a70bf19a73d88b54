// The music component on SDL's dummy and disk drivers with the generated
// fixtures: the samples played after a seek, the clock while paused, playing
// and at the end, mono and 22.05 kHz music, and the silent clock.
#include "audio/Decoder.h"
#include "audio/Player.h"
#include "tests/audio/AudioSupport.h"
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <unistd.h>

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

// Makes the player for one test and removes the disk driver's file afterwards.
class MusicOutput : public ::testing::Test {
protected:
    void TearDown() override
    {
        player.reset();
        if (!diskFile_.empty())
            std::remove(diskFile_.c_str());
    }
    // A player on the driver the test chose, with `music` open and paused at 0.
    void Make(const std::string& music)
    {
        std::string error;
        player = music::Player::Create(kRate, &error);
        ASSERT_TRUE(player) << error;
        player->Open(music);
    }
    std::string DiskFile()
    {
        diskFile_ = "/tmp/showplayer-audio-" + std::to_string(getpid()) + ".raw";
        return diskFile_;
    }

    std::unique_ptr<music::Player> player;
    std::string diskFile_;
};

using MusicDisk = MusicOutput;
using MusicClock = MusicOutput;

}  // namespace

// Seeks are exact, through the resampler too: what a seek gives is what
// decoding from the start gives at that frame, for both kinds of file.
TEST(MusicDecoder, SeekGivesTheSamplesOfAStraightDecode)
{
    for (const char* name : {"tone.mp3", "mono22.mp3"}) {
        std::string reason;
        auto straight = music::Decoder::Open(Fixture(name), kRate, &reason);
        auto seeking = music::Decoder::Open(Fixture(name), kRate, &reason);
        ASSERT_TRUE(straight && seeking) << name << ": " << reason;
        const std::int64_t target = 5 * kRate + 777;
        std::vector<std::int16_t> skipped(static_cast<std::size_t>(target) * 2), a(8192 * 2), b(8192 * 2);
        ASSERT_EQ(straight->Read(skipped.data(), static_cast<int>(target)), target) << name;
        ASSERT_EQ(straight->Read(a.data(), 8192), 8192) << name;
        ASSERT_TRUE(seeking->Seek(target));
        ASSERT_EQ(seeking->Read(b.data(), 8192), 8192) << name;
        // libmpg123 after a seek may round a sample of a low-rate file one
        // step differently from a straight decode; anything beyond one
        // least significant bit is a real fault.
        int worst = 0;
        for (std::size_t i = 0; i < a.size(); ++i)
            worst = std::max(worst, std::abs(a[i] - b[i]));
        EXPECT_LE(worst, 1) << name;
        EXPECT_EQ(a.front(), b.front()) << name;
    }
    // The independent decode agrees on the length of the 44.1 kHz file.
    std::string reason;
    auto tone = music::Decoder::Open(Fixture("tone.mp3"), kRate, &reason);
    EXPECT_EQ(tone->Length() * 2, static_cast<std::int64_t>(DecodeWhole(Fixture("tone.mp3")).samples.size()));
}

TEST_F(MusicDisk, PlaysTheDecodersSamplesFromTheSeekPosition)
{
    UseDiskDriver(DiskFile());
    ASSERT_NO_FATAL_FAILURE(Make(Fixture("tone.mp3")));
    EXPECT_EQ(player->OutputName(), "sdl:disk");
    ASSERT_TRUE(player->Seek(60000));
    EXPECT_EQ(player->Position(), 60000);
    usleep(30000);  // the device plays silence meanwhile
    EXPECT_EQ(player->Position(), 60000);
    player->Start();
    ASSERT_TRUE(WaitFor([&] { return player->Position() >= 60500; }, 5000));
    player.reset();

    const std::vector<std::int16_t> played = ReadSamples(diskFile_);
    const long start = FirstSound(played);
    ASSERT_GE(start, 0) << "no music was played";

    const Pcm pcm = DecodeWhole(Fixture("tone.mp3"));
    ASSERT_EQ(pcm.channels, 2);
    const long target = 60L * kRate;
    const long firstSound = FirstSound(pcm.samples, target);
    const long frames = 0.5 * kRate;
    ASSERT_GE(static_cast<long>(played.size()) / 2 - start, frames);
    long mismatches = 0;
    for (long i = 0; i < frames * 2; ++i)
        mismatches += played[start * 2 + i] != pcm.samples[firstSound * 2 + i];
    EXPECT_EQ(firstSound, target) << "the music at 60 s is not silent";
    EXPECT_EQ(mismatches, 0);
}

TEST_F(MusicDisk, StopsAtTheEndThenPlaysAgainAfterASeek)
{
    UseDiskDriver(DiskFile());
    ASSERT_NO_FATAL_FAILURE(Make(Fixture("tone.mp3")));
    EXPECT_EQ(player->Length(), 70000);
    EXPECT_TRUE(player->Seek(1000000));
    EXPECT_EQ(player->Position(), 70000);
    EXPECT_TRUE(player->Seek(-20));
    EXPECT_EQ(player->Position(), 0);
    EXPECT_TRUE(player->Seek(1));
    EXPECT_EQ(player->Position(), 1);

    player->Seek(69700);
    player->Start();
    ASSERT_TRUE(WaitFor([&] { return player->Position() == 70000; }, 5000));
    usleep(100000);  // about a second of device time past the end
    EXPECT_EQ(player->Position(), 70000);

    EXPECT_TRUE(player->Seek(1000));
    EXPECT_LE(player->Position(), 1100);
    EXPECT_TRUE(WaitFor([&] { return player->Position() > 1300; }, 5000));
    player.reset();

    // After the music: silence, not a loop or leftover samples.
    const std::vector<std::int16_t> played = ReadSamples(diskFile_);
    const long first = FirstSound(played);
    const long musicFrames = 300 * kRate / 1000;
    ASSERT_GE(first, 0);
    long after = first + musicFrames + 64;
    long silent = 0;
    for (; after < static_cast<long>(played.size()) / 2 && played[after * 2] == 0 && played[after * 2 + 1] == 0; ++after)
        ++silent;
    EXPECT_GT(silent, kRate / 4) << "the end of the music is followed by silence";
}

TEST_F(MusicDisk, MonoAt22kHzIsPlayedOnBothChannelsAt44kHz)
{
    UseDiskDriver(DiskFile());
    // The decoder thread resamples ahead of the device; a disk device ten
    // times faster than real time can outrun it (on a sanitizer build) and
    // leave gaps. Play at about real pace, as a sound card does.
    setenv("SDL_DISKAUDIODELAY", "20", 1);
    ASSERT_NO_FATAL_FAILURE(Make(Fixture("mono22.mp3")));
    EXPECT_EQ(player->Length(), 10000);
    player->Seek(5000);
    player->Start();
    ASSERT_TRUE(WaitFor([&] { return player->Position() >= 5300; }, 5000));
    player.reset();

    const std::vector<std::int16_t> played = ReadSamples(diskFile_);
    const long start = FirstSound(played);
    ASSERT_GE(start, 0);
    const long window = kRate / 10;  // 5.0 s to 5.1 s of the sweep
    ASSERT_GE(static_cast<long>(played.size()) / 2, start + window);
    long differ = 0, crossings = 0, peak = 0;
    for (long i = start; i < start + window; ++i) {
        differ += played[i * 2] != played[i * 2 + 1];
        peak = std::max<long>(peak, std::abs(played[i * 2]));
        if (i > start && (played[i * 2 - 2] < 0) != (played[i * 2] < 0))
            ++crossings;
    }
    EXPECT_EQ(differ, 0) << "mono plays the same on both channels";
    // sox sweeps 300 Hz to 3000 Hz exponentially over 10 s: 300 * 10^(t / 10)
    // Hz, about 960 Hz at 5.05 s. A wrong rate would move it by the rates' factor.
    EXPECT_NEAR(crossings / 2.0 / 0.1, 300.0 * std::pow(10.0, 0.505), 20.0);
    // Made at -6 dB: the resampler keeps the level.
    EXPECT_NEAR(peak, 16384, 1600);
}

TEST_F(MusicClock, PausedSeeksHoldAndPlayingTracksConsumedFrames)
{
    UseDummyDriver();
    ASSERT_NO_FATAL_FAILURE(Make(Fixture("tone.mp3")));
    EXPECT_EQ(player->Position(), 0);
    player->Seek(60000);
    usleep(60000);
    EXPECT_EQ(player->Position(), 60000);

    std::vector<music::DeviceBuffer> buffers;
    buffers.reserve(1000);
    player->TraceDevice(&buffers);
    struct Reading { long long before, after; double ms; };
    std::vector<Reading> readings;
    player->Start();
    const long long end = NowNs() + 800000000LL;
    while (NowNs() < end) {
        const long long before = NowNs();
        const double ms = player->PositionExact();
        readings.push_back({before, NowNs(), ms});
        usleep(1000);
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
        const music::DeviceBuffer* lower = nullptr;
        const music::DeviceBuffer* previous = nullptr;
        const music::DeviceBuffer* upper = nullptr;
        for (const auto& b : buffers) {
            if (b.timeNs <= r.before) {
                previous = lower;
                lower = &b;
            }
            if (b.timeNs <= r.after)
                upper = &b;
        }
        const double frame = r.ms * kRate / 1000.0;
        if (!lower) {
            EXPECT_EQ(r.ms, 60000.0) << "nothing heard before the device took the music";
            continue;
        }
        // Heard: at least the start of the buffer the device holds before the
        // newest (or, while the newest is still being decoded, the line through
        // the one before, at the slowest pace the clock accepts: 5 % under the
        // nominal rate), at most everything but the newest.
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
    // Behind the wall clock by the device buffer and up to one callback period
    // (more when a loaded machine starves the audio thread).
    EXPECT_LE(now, held + elapsed);
    EXPECT_GE(now, held + elapsed - 150);
}

TEST_F(MusicClock, MissingOrUndecodableMusicRunsOnASilentClock)
{
    UseDummyDriver();
    testing::internal::CaptureStderr();
    ASSERT_NO_FATAL_FAILURE(Make("/nonexistent/derure.mp3"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("/nonexistent/derure.mp3"), std::string::npos) << said;
    EXPECT_NE(said.find("No such file or directory"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(player->Length(), -1);

    usleep(50000);
    EXPECT_EQ(player->Position(), 0);
    EXPECT_TRUE(player->Seek(2000));
    EXPECT_EQ(player->Position(), 2000);
    const long long started = NowNs();
    player->Start();
    usleep(200000);
    const int later = player->Position();
    const double elapsed = (NowNs() - started) / 1e6;
    EXPECT_GE(later, 2000 + elapsed - 5);
    EXPECT_LE(later, 2000 + elapsed);
    EXPECT_TRUE(player->Seek(500));
    EXPECT_LT(player->Position(), 550);

    const std::string junk = "/tmp/showplayer-notmusic-" + std::to_string(getpid()) + ".mp3";
    FILE* file = std::fopen(junk.c_str(), "w");
    for (int i = 0; i < 2000; ++i)
        std::fputs("this is a text file, not music\n", file);
    std::fclose(file);
    testing::internal::CaptureStderr();
    player->Open(junk);
    const std::string reason = testing::internal::GetCapturedStderr();
    std::remove(junk.c_str());
    EXPECT_NE(reason.find(junk), std::string::npos) << reason;
    EXPECT_EQ(player->Length(), -1) << reason;
}

// A device whose callbacks stop coming (here: the disk driver waiting 400 ms
// per 23 ms buffer) hands the clock over to the wall clock, with one line.
TEST_F(MusicClock, DeviceThatStopsCallingHandsOverToTheWallClock)
{
    UseDiskDriver(DiskFile());
    setenv("SDL_DISKAUDIODELAY", "400", 1);
    ASSERT_NO_FATAL_FAILURE(Make(Fixture("tone.mp3")));
    testing::internal::CaptureStderr();
    const long long started = NowNs();
    player->Start();
    double worst = 0.0, last = 0.0;
    while (NowNs() - started < 1500000000LL) {
        const double position = player->PositionExact();
        const double elapsed = (NowNs() - started) / 1e6;
        EXPECT_GE(position, last);
        last = position;
        // Lost 250 ms after the last callback: from then on the wall clock.
        if (elapsed > 400)
            worst = std::max(worst, std::abs(position - elapsed));
        usleep(5000);
    }
    player.reset();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_LE(worst, 50.0);
    EXPECT_NE(said.find("sound lost"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

// The recording clock: positions at whole frames, sample counts, the music it yields against a straight
// decode, and the end.
#include "record/VirtualClock.h"
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kRate = 44100;

std::unique_ptr<music::Decoder> OpenMusic()
{
    std::string reason;
    auto decoder = music::Decoder::Open(testing_support::Fixture("mono22.mp3"), kRate, &reason);
    EXPECT_TRUE(decoder) << reason;
    return decoder;
}

// `frames` samples of the music from sample `from`, as a straight decode gives them.
std::vector<std::int16_t> Straight(std::int64_t from, int frames)
{
    auto decoder = OpenMusic();
    decoder->Seek(from);
    std::vector<std::int16_t> pcm(frames * 2);
    decoder->Read(pcm.data(), frames);
    return pcm;
}

bool Silent(const std::vector<std::int16_t>& pcm)
{
    return std::all_of(pcm.begin(), pcm.end(), [](std::int16_t s) { return s == 0; });
}

}  // namespace

// Frame n reads floor(n * 1000 / fps) ms, also after frames without music; N frames have floor(N * rate / fps) samples.
TEST(VirtualClock, FramesAndSamplesAtEveryRate)
{
    for (int fps : {1, 7, 24, 25, 30, 60, 240}) {
        for (int rate : {44100, 48000}) {
            record::VirtualClock clock(nullptr, rate, fps);
            std::vector<std::int16_t> pcm;
            std::int64_t samples = 0;
            const int late = 3;  // frames drawn before the music starts
            for (int n = 0; n < 2 * fps + late; ++n) {
                if (n == late)
                    clock.Start();
                ASSERT_EQ(clock.Position(), std::max(0, n - late) * 1000 / fps) << fps << " fps, frame " << n;
                ASSERT_EQ(clock.ElapsedMs(), n * 1000LL / fps) << fps << " fps, frame " << n;
                clock.Advance(&pcm);
                samples += static_cast<std::int64_t>(pcm.size() / 2);
                ASSERT_EQ(samples, (n + 1LL) * rate / fps) << fps << " fps at " << rate;
            }
        }
    }
}

// Silence before the start and while paused, the music without a gap or repeat, from a seek on too.
TEST(VirtualClock, SamplesAreTheMusicFromThePosition)
{
    const std::pair<int, int> cases[] = {{24, -1}, {60, -1}, {24, 3333}, {60, 1001}};  // fps, seek (ms) or -1
    for (const auto& [fps, seekMs] : cases) {
        SCOPED_TRACE(std::to_string(fps) + " fps, seek to " + std::to_string(seekMs));
        record::VirtualClock clock(OpenMusic(), kRate, fps);
        std::vector<std::int16_t> pcm, heard;
        clock.Advance(&pcm);
        EXPECT_TRUE(Silent(pcm));
        EXPECT_EQ(clock.Position(), 0);
        if (seekMs >= 0) {
            EXPECT_TRUE(clock.Seek(seekMs));
            EXPECT_EQ(clock.Position(), seekMs);
        }
        clock.Start();
        for (int n = 0; n < fps; ++n) {
            clock.Advance(&pcm);
            heard.insert(heard.end(), pcm.begin(), pcm.end());
        }
        const std::int64_t from = std::max(seekMs, 0) * static_cast<std::int64_t>(kRate) / 1000;
        const int frames = static_cast<int>(heard.size() / 2);
        // After a seek the decoder may lead the tick position by one sample.
        EXPECT_TRUE(heard == Straight(from, frames) || (seekMs >= 0 && heard == Straight(from + 1, frames)));
        EXPECT_EQ(clock.Position(), std::max(seekMs, 0) + 1000);
        clock.Pause();
        clock.Advance(&pcm);
        EXPECT_TRUE(Silent(pcm));
        EXPECT_EQ(clock.Position(), std::max(seekMs, 0) + 1000);
    }
}

// The music ends at its length, silent after; a seek back starts it again. A silent clock never ends.
TEST(VirtualClock, EndOfTheMusic)
{
    record::VirtualClock clock(OpenMusic(), kRate, 25);
    const int length = clock.Length();
    ASSERT_GT(length, 9000);
    EXPECT_TRUE(clock.Seek(length - 100));
    clock.Start();
    std::vector<std::int16_t> pcm;
    for (int n = 0; n < 3; ++n) {
        EXPECT_FALSE(clock.Ended()) << n;  // 80 of the last 100 ms after two frames
        clock.Advance(&pcm);
    }
    EXPECT_TRUE(clock.Ended());
    EXPECT_EQ(clock.Position(), length);
    clock.Advance(&pcm);
    EXPECT_TRUE(Silent(pcm));
    EXPECT_TRUE(clock.Seek(0));
    EXPECT_FALSE(clock.Ended());

    record::VirtualClock silent(nullptr, kRate, 25);
    silent.Start();
    EXPECT_EQ(silent.Length(), -1);
    EXPECT_TRUE(silent.Seek(1 << 30));
    silent.Advance(&pcm);
    EXPECT_FALSE(silent.Ended());
    EXPECT_EQ(silent.Position(), (1 << 30) + 40);
}

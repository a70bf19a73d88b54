// The show's clock while recording: time advances one video frame at a time,
// and each frame yields the music samples an audience would have heard during
// it (the music from the clock's position, silence while paused).
//
// Positions are kept in ticks of 1 / (1000 * fps) s, so that whole frames and
// whole milliseconds are both exact: frame n of an unseeked run reads
// floor(n * 1000 / fps) ms, and its samples start at floor(n * rate / fps).
#pragma once

#include "audio/Decoder.h"
#include "audio/Player.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace record {

class VirtualClock : public music::ShowClock {
public:
    // rate: samples per second of the audio track (the decoder's output rate).
    // A null decoder gives a silent clock: it still runs and seeks, and never
    // reaches an end.
    VirtualClock(std::unique_ptr<music::Decoder> decoder, int rate, int fps);

    void Start() override { playing_ = true; }
    void Pause() override { playing_ = false; }
    bool Playing() const override { return playing_; }
    int Position() override;
    bool Seek(int ms) override;
    int Length() const override;

    // Ends the current frame: replaces pcm with its samples (stereo 16-bit,
    // interleaved) and moves the clock on by one frame.
    void Advance(std::vector<std::int16_t>* pcm);

    // Frames ended so far: the number of the frame being drawn.
    std::int64_t Frame() const { return frame_; }
    // Time since the first frame in ms, whatever the music did.
    std::int64_t ElapsedMs() const { return frame_ * 1000 / fps_; }
    // True once the music has played to its end.
    bool Ended() const { return decoder_ && ticks_ >= endTicks_; }

private:
    std::unique_ptr<music::Decoder> decoder_;
    std::int64_t rate_;
    std::int64_t fps_;
    std::int64_t frame_ = 0;
    std::int64_t ticks_ = 0;     // music position
    std::int64_t endTicks_ = 0;  // the music's length
    bool playing_ = false;
};

}  // namespace record

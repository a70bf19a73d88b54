// The recording clock: frame-stepped music position and the samples heard.
#include "record/VirtualClock.h"

#include <algorithm>

namespace record {

namespace {

constexpr int kChannels = 2;
constexpr std::int64_t kTicksPerFrame = 1000;  // a tick is 1 / (1000 * fps) s

}  // namespace

VirtualClock::VirtualClock(std::unique_ptr<music::Decoder> decoder, int rate, int fps)
    : decoder_(std::move(decoder)), rate_(rate), fps_(fps)
{
    if (decoder_)
        endTicks_ = decoder_->Length() * kTicksPerFrame * fps_ / rate_;
}

int VirtualClock::Position() { return static_cast<int>(ticks_ / fps_); }

int VirtualClock::Length() const
{
    return decoder_ ? static_cast<int>(decoder_->Length() * 1000 / rate_) : -1;
}

bool VirtualClock::Seek(int ms)
{
    ticks_ = static_cast<std::int64_t>(std::max(ms, 0)) * fps_;
    if (!decoder_)
        return true;
    ticks_ = std::min(ticks_, endTicks_);
    return decoder_->Seek(ticks_ * rate_ / (kTicksPerFrame * fps_));
}

void VirtualClock::Advance(std::vector<std::int16_t>* pcm)
{
    // NOTE: the samples of a frame are counted on the frame number, not on the
    // music position, so the audio track stays exactly as long as the video
    // whatever the show does with the music. After a seek the decoder runs at
    // most one sample off the tick position; it reads on contiguously.
    const std::int64_t count = (frame_ + 1) * rate_ / fps_ - frame_ * rate_ / fps_;
    pcm->assign(static_cast<std::size_t>(count * kChannels), 0);
    if (playing_) {
        if (decoder_ && ticks_ < endTicks_)
            decoder_->Read(pcm->data(), static_cast<int>(count));
        ticks_ += kTicksPerFrame;
        if (decoder_)
            ticks_ = std::min(ticks_, endTicks_);
    }
    ++frame_;
}

}  // namespace record

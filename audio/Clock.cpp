// Music clock: the heard position from the device's consumed samples.
#include "audio/Clock.h"

#include <algorithm>
#include <ctime>

namespace music {

namespace {

constexpr double kNsPerSecond = 1e9;
// Weight of each new callback gap in the pace estimate (a time constant of
// about 16 callbacks, a third of a second), and the gaps it ignores: a
// callback delayed by the scheduler says nothing about the device's pace.
constexpr double kPaceWeight = 1.0 / 16.0;
constexpr double kPaceGapMin = 0.5;
constexpr double kPaceGapMax = 1.5;
// The pace stays within this share of the nominal rate.
constexpr double kPaceLimit = 0.05;

}  // namespace

std::int64_t MonotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

Clock::Clock(int rate, std::int64_t latencyFrames)
    : latency_(latencyFrames), nominalNsPerFrame_(kNsPerSecond / rate), nsPerFrame_(nominalNsPerFrame_)
{
}

void Clock::Seek(std::int64_t frame, std::int64_t nowNs)
{
    held_ = static_cast<double>(std::clamp<std::int64_t>(frame, 0, end_));
    // Buffers reported before the seek describe music that will no longer be
    // heard; wait for the first one that starts at the new position.
    haveAnchor_ = false;
    if (freeRunning_ && running_)
        Resume(nowNs);
}

std::int64_t Clock::Pause(std::int64_t nowNs)
{
    const std::int64_t frame = static_cast<std::int64_t>(Read(nowNs));
    held_ = static_cast<double>(frame);
    running_ = false;
    haveAnchor_ = false;
    return frame;
}

void Clock::Resume(std::int64_t nowNs)
{
    running_ = true;
    haveAnchor_ = freeRunning_;
    anchorFrame_ = held_;
    anchorNs_ = nowNs;
}

void Clock::Buffer(std::int64_t startFrame, int frames, std::int64_t nowNs)
{
    if (!running_ || freeRunning_)
        return;
    if (startFrame == lastBufferEnd_ && lastBufferFrames_ > 0) {
        const double gap = static_cast<double>(nowNs - lastBufferNs_) / lastBufferFrames_;
        if (gap > kPaceGapMin * nominalNsPerFrame_ && gap < kPaceGapMax * nominalNsPerFrame_) {
            nsPerFrame_ += kPaceWeight * (gap - nsPerFrame_);
            nsPerFrame_ = std::clamp(nsPerFrame_, nominalNsPerFrame_ * (1.0 - kPaceLimit),
                                     nominalNsPerFrame_ * (1.0 + kPaceLimit));
        }
    }
    lastBufferNs_ = nowNs;
    lastBufferEnd_ = startFrame + frames;
    lastBufferFrames_ = frames;
    // The device still holds `latency_` frames handed over earlier; the first
    // frame of this buffer is heard once they have played.
    anchorFrame_ = static_cast<double>(startFrame - latency_);
    anchorNs_ = nowNs;
    cap_ = static_cast<double>(startFrame + frames - latency_);
    haveAnchor_ = true;
}

double Clock::Read(std::int64_t nowNs)
{
    if (running_ && haveAnchor_) {
        const double perFrame = freeRunning_ ? nominalNsPerFrame_ : nsPerFrame_;
        double position = anchorFrame_ + static_cast<double>(nowNs - anchorNs_) / perFrame;
        // A late callback must not let the clock run ahead of what the device
        // was given; it waits there for the next buffer instead.
        if (!freeRunning_)
            position = std::min(position, cap_);
        held_ = std::max(held_, position);
    }
    held_ = std::min(held_, static_cast<double>(end_));
    return held_;
}

}  // namespace music

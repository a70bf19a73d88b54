// Music clock: the heard position from the device's consumed samples.
#include "audio/Clock.h"

#include <algorithm>
#include <ctime>

namespace music {

namespace {

constexpr double kNsPerSecond = 1e9;

}  // namespace

std::int64_t MonotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

Clock::Clock(int rate, std::int64_t latencyFrames) : rate_(rate), latency_(latencyFrames) {}

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
        double position = anchorFrame_ + static_cast<double>(nowNs - anchorNs_) * rate_ / kNsPerSecond;
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

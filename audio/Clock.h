// Music clock: turns the device's consumption of samples into the position the
// listener hears, smooth between device callbacks and exact on seeks.
//
// Positions are in frames at the output rate (one frame = one sample per
// channel). The device callback reports each buffer it takes (Buffer); the
// main thread reads the position (Read) and snaps it (Seek, Pause, Resume).
// The class does no locking of its own: callers serialise access (the SDL
// output guards its clock with the lock its device callback takes).
#pragma once

#include <cstdint>

namespace music {

class Clock {
public:
    // rate: output frames per second. latencyFrames: how long a frame handed
    // to the device waits before it is heard (the device buffer).
    Clock(int rate, std::int64_t latencyFrames);

    // A clock without a device: while running it follows the monotonic clock
    // alone (used for the silent stream of a missing music file).
    void SetFreeRunning(bool freeRunning) { freeRunning_ = freeRunning; }

    // The last frame the position can reach (the music's length).
    void SetEnd(std::int64_t endFrame) { end_ = endFrame; }
    std::int64_t End() const { return end_; }

    // Moves the position to frame; it reads exactly that until the music
    // handed to the device from there on is heard.
    void Seek(std::int64_t frame, std::int64_t nowNs);

    // Stops at the position heard now and returns it (whole frames).
    std::int64_t Pause(std::int64_t nowNs);

    // Starts running from the held position.
    void Resume(std::int64_t nowNs);

    bool Running() const { return running_; }

    // The device took `frames` frames at nowNs, the first being music frame
    // startFrame (frames past the end count on as if the music went on).
    void Buffer(std::int64_t startFrame, int frames, std::int64_t nowNs);

    // The position heard at nowNs, in fractional frames: never before the
    // last reading while running, never past the end.
    double Read(std::int64_t nowNs);

private:
    std::int64_t latency_;
    bool freeRunning_ = false;
    bool running_ = false;
    std::int64_t end_ = INT64_MAX;

    // Floor of every reading: the last value returned or snapped to.
    double held_ = 0.0;

    // The straight line the position follows since the last buffer (or, when
    // free-running, since Resume), and the most it may reach before the next.
    bool haveAnchor_ = false;
    double anchorFrame_ = 0.0;
    std::int64_t anchorNs_ = 0;
    double cap_ = 0.0;

    // The device's own pace, learnt from the gaps between its callbacks: a
    // device that runs a little fast or slow (SDL's dummy driver sleeps whole
    // milliseconds) would otherwise make the clock stall at every cap.
    double nominalNsPerFrame_;
    double nsPerFrame_;
    std::int64_t lastBufferNs_ = 0;
    std::int64_t lastBufferEnd_ = -1;
    int lastBufferFrames_ = 0;
};

// The monotonic clock the music clock runs on, in nanoseconds.
std::int64_t MonotonicNs();

}  // namespace music

// Recording progress on standard error: frame, time of total, frames per
// second and time left; one line rewritten in place on a terminal, a line
// every few seconds otherwise (a log keeps them all).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace record {

class Progress {
public:
    // totalFrames: the frames the recording is expected to have, 0 when
    // unknown. inPlace: rewrite one line (out is a terminal).
    Progress(std::FILE* out, bool inPlace, int fps, std::int64_t totalFrames);

    // After each frame: prints when a line is due.
    void Frame(std::int64_t frames);
    // The last line, with the final count.
    void Done(std::int64_t frames);

private:
    using Clock = std::chrono::steady_clock;
    void Print(std::int64_t frames, bool last);

    std::FILE* out_;
    bool inPlace_;
    int fps_;
    std::int64_t total_;
    Clock::time_point start_;
    Clock::time_point lastPrint_;
};

}  // namespace record

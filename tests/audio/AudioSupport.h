// Helpers for the music tests: an independent decode of a fixture, and waiting
// on the monotonic clock.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace audio_test {

// Interleaved 16-bit samples of a whole file decoded with libmpg123 at its own
// rate and layout (gapless), straight through from the start.
struct Pcm {
    long rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;
};
Pcm DecodeWhole(const std::string& path);

// CLOCK_MONOTONIC in ns, the clock the player stamps its readings with.
inline long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Polls done() every ms until it holds (true) or timeoutMs pass (false).
template <typename F>
bool WaitFor(F done, int timeoutMs)
{
    for (const long long end = NowNs() + timeoutMs * 1000000LL; !done(); usleep(1000))
        if (NowNs() > end)
            return false;
    return true;
}

}  // namespace audio_test

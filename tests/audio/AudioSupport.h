// Helpers for the music tests: an independent decode of a fixture, the raw
// output of SDL's disk audio driver, and the audio environment.
#pragma once

#include <cstdint>
#include <string>
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

// Raw 16-bit samples from a file.
std::vector<std::int16_t> ReadSamples(const std::string& path);

// Selects an SDL audio driver for the music component's next Init; "disk"
// writes to file with a short delay per buffer.
void UseDummyDriver();
void UseDiskDriver(const std::string& file);

// Waits (polling every ms) until done() or the timeout; true when done.
template <typename F>
bool WaitFor(F done, int timeoutMs);

// Index of the first stereo frame that is not silent, or -1.
long FirstSound(const std::vector<std::int16_t>& stereo, long fromFrame = 0);

}  // namespace audio_test

#include <chrono>
#include <thread>

template <typename F>
bool audio_test::WaitFor(F done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

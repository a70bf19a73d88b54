// A small SDL OpenGL window for tests that draw effects directly, and pixel
// probes read back from what was drawn.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

struct Rgba {
    int r = 0, g = 0, b = 0, a = 255;
};

std::string ToString(const Rgba& c);

// Opens (once per process) a windowed, double-buffered GL window of the given
// size; later calls with another size reopen it. False without a display.
bool OpenGlWindow(int width = 800, int height = 600);

// Clears colour and depth to the given colour and resets the matrices.
void ClearFrame(float r = 0, float g = 0, float b = 0, float a = 1);

// The back buffer's pixel at (x, y), x from the left, y from the TOP.
Rgba ReadPixel(int x, int y);

// Pixel at normalised device coordinates (-1..1, y up).
Rgba ReadPixelNdc(double x, double y);

// Saves the back buffer as a BMP file (for a failed probe).
void SaveFrame(const std::string& path);

// True when every channel is within tolerance. On failure the frame is saved
// under /tmp with the label in its name and the message says where.
bool ColorNear(const Rgba& seen, const Rgba& want, int tolerance);

}  // namespace testing_support

// Probe with a stated tolerance; prints expected and observed and saves the
// frame when it fails.
#define EXPECT_PIXEL(seen, want, tolerance)                                                            \
    do {                                                                                               \
        const ::testing_support::Rgba seen_ = (seen);                                                  \
        const ::testing_support::Rgba want_ = (want);                                                  \
        if (!::testing_support::ColorNear(seen_, want_, (tolerance))) {                                \
            const std::string saved_ = "/tmp/probe-failure-" + std::to_string(__LINE__) + ".bmp";      \
            ::testing_support::SaveFrame(saved_);                                                      \
            ADD_FAILURE() << #seen << ": saw " << ::testing_support::ToString(seen_) << ", expected "  \
                          << ::testing_support::ToString(want_) << " +-" << (tolerance)                \
                          << " (frame saved to " << saved_ << ")";                                     \
        }                                                                                              \
    } while (0)

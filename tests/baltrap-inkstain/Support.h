// Helpers shared by the BalTrap and InkStain tests: the window, quadrant
// pictures made on the spot and RGB probes.
#pragma once

#include "tests/support/Pictures.h"

#include <gtest/gtest.h>
#include <string>

namespace baltrap_inkstain {

using namespace testing_support;

constexpr int kTolerance = 4;
const Rgba kBackground{64, 64, 64, 255};  // the clear colour, 0.25 grey
// A quadrant picture's top left, top right, bottom left and bottom right, and the same seen from behind.
const Rgba kUpright[4] = {kRed, kGreen, kBlue, kYellow}, kMirrored[4] = {kGreen, kRed, kYellow, kBlue};

// Writes a BMP in four quadrants into a folder removed at exit; returns its path.
inline std::string WriteQuadrants(const std::string& name, int width, int height, const Rgba (&c)[4] = kUpright)
{
    static TempDir dir;
    WriteBmp(dir / name, width, height, QuadrantPixels(width, height, c[0], c[1], c[2], c[3]));
    return dir / name;
}

// Xvfb visuals may have no alpha channel: probes compare colour only.
inline Rgba Ndc(double x, double y)
{
    Rgba c = ReadPixelNdc(x, y);
    c.a = 255;
    return c;
}

// Probes a quadrant picture of half-sizes (w, h) centred on (x, y) as `at` reads it: each quadrant's centre
// and, given an outside colour, a point beyond the middle of each side.
template <class Probe>
void ExpectPicture(Probe at, double x, double y, double w, double h, const Rgba (&quadrants)[4],
                   const Rgba* outside = nullptr)
{
    const int sx[4] = {-1, 1, -1, 1}, sy[4] = {1, 1, -1, -1};
    const double ox[4] = {-1.2, 1.2, 0, 0}, oy[4] = {0, 0, 1.2, -1.2};  // left, right, top, bottom
    for (int q = 0; q < 4; ++q) {
        SCOPED_TRACE("quadrant " + std::to_string(q + 1) + " around " + std::to_string(x) + ", " + std::to_string(y));
        EXPECT_PIXEL(at(x + sx[q] * w / 2, y + sy[q] * h / 2), quadrants[q], kTolerance);
        if (outside)
            EXPECT_PIXEL(at(x + ox[q] * w, y + oy[q] * h), *outside, kTolerance);
    }
}

// Opens the 800 x 600 window: an Xvfb without -noreset resets when its last client leaves and refuses a
// connection made meanwhile; a second try gets through. Draw clears to kBackground and renders.
class EffectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OpenGlWindow(800, 600) || OpenGlWindow(800, 600)) << "needs a display"; }

    template <class Effect>
    void Draw(Effect& effect)
    {
        ClearFrame(0.25f, 0.25f, 0.25f, 1.0f);
        EXPECT_EQ(effect.Render(1000), 0);
    }
};

}  // namespace baltrap_inkstain

// Helpers shared by the BalTrap and InkStain tests: the window, pictures made
// on the spot and RGB probes.
#pragma once

#include "tests/support/Pictures.h"

#include <string>

namespace baltrap_inkstain {

using namespace testing_support;

// The 800 x 600 test window. An Xvfb started without -noreset resets when its
// last client leaves, and a connection made meanwhile fails; a second try
// gets through.
bool OpenWindow();

// Writes a BMP of width x height split into four coloured quadrants into a
// folder removed at exit, and returns its path.
std::string WriteQuadrants(const std::string& name, int width, int height, Rgba topLeft, Rgba topRight,
                           Rgba bottomLeft, Rgba bottomRight);

// Xvfb visuals may have no alpha channel: probes compare colour only.
inline Rgba Rgb(Rgba c)
{
    c.a = 255;
    return c;
}

}  // namespace baltrap_inkstain

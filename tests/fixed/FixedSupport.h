// Helpers shared by the BalTrap and InkStain tests: pictures made on the spot,
// RGB probes, and a switch that makes the next display-list allocations fail.
#pragma once

#include "tests/support/GlWindow.h"

#include <string>

namespace fixed_test {

using testing_support::Rgba;

// The 800 x 600 test window. An Xvfb started without -noreset resets when its
// last client leaves, and a connection made meanwhile fails; a second try
// gets through.
bool OpenWindow();

// A folder for the pictures of one test run, removed at exit.
const std::string& PictureDir();

// Writes a BMP of width x height split into four coloured quadrants and
// returns its path (inside PictureDir()).
std::string WriteQuadrants(const std::string& name, int width, int height, Rgba topLeft, Rgba topRight,
                           Rgba bottomLeft, Rgba bottomRight);

// Xvfb visuals may have no alpha channel: probes compare colour only.
inline Rgba Rgb(Rgba c)
{
    c.a = 255;
    return c;
}

// Makes the next `count` calls of glGenLists return 0, as GL does when it has
// no names left or is called at the wrong time.
void FailNextListAllocations(int count);

}  // namespace fixed_test

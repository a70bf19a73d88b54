// Test pictures made on the spot: RGBA byte strings (solid or split into four
// coloured quadrants) written to BMP files.
#pragma once

#include "tests/support/GlWindow.h"
#include "tests/support/TempDir.h"

#include <string>

namespace testing_support {

const Rgba kRed{255, 0, 0, 255};
const Rgba kGreen{0, 255, 0, 255};
const Rgba kBlue{0, 0, 255, 255};
const Rgba kWhite{255, 255, 255, 255};
const Rgba kYellow{255, 255, 0, 255};

// width x height RGBA pixels, top row first, in four quadrants (an odd middle
// row or column goes to the bottom or right).
std::string QuadrantPixels(int width, int height, Rgba topLeft = kRed, Rgba topRight = kGreen,
                           Rgba bottomLeft = kBlue, Rgba bottomRight = kWhite);

// width x height pixels of one colour.
std::string SolidPixels(int width, int height, Rgba colour);

// Writes pixels (as made above) to a 24-bit BMP file (no alpha channel),
// creating missing folders on the way.
bool WriteBmp(const std::string& path, int width, int height, const std::string& pixels);

// Makes the next `count` calls of glGenLists in this test program return 0,
// as GL does when it has no names left or is called at the wrong time.
void FailNextListAllocations(int count);

}  // namespace testing_support

// Test pictures made on the spot: RGBA byte strings (solid or split into four
// coloured quadrants) written to BMP files, and a scratch folder for them.
#pragma once

#include "tests/support/GlWindow.h"

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

// A fresh temporary folder, removed with its contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Makes the next `count` calls of glGenLists in this test program return 0,
// as GL does when it has no names left or is called at the wrong time.
void FailNextListAllocations(int count);

}  // namespace testing_support

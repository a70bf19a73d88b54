// Test pictures made on the spot: RGBA byte strings with coloured quadrants,
// written to BMP files when a test needs a file on disk.
#pragma once

#include <string>

namespace image_test {

struct Colour {
    unsigned char r, g, b, a;
};

constexpr Colour kRed{255, 0, 0, 255};
constexpr Colour kGreen{0, 255, 0, 255};
constexpr Colour kBlue{0, 0, 255, 255};
constexpr Colour kWhite{255, 255, 255, 255};
constexpr Colour kYellow{255, 255, 0, 255};

// width x height RGBA pixels, top row first. Quadrants: top-left red,
// top-right green, bottom-left blue, bottom-right white.
std::string QuadrantPixels(int width, int height);

// width x height pixels of one colour.
std::string SolidPixels(int width, int height, Colour colour);

// Writes pixels (as made above) to a 24-bit BMP file (no alpha channel).
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

}  // namespace image_test

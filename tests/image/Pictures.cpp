// Test pictures made on the spot: RGBA byte strings with coloured quadrants,
// written to BMP files when a test needs a file on disk.
#include "tests/image/Pictures.h"

#include <SDL.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace image_test {

std::string QuadrantPixels(int width, int height)
{
    std::string pixels(static_cast<std::size_t>(width) * height * 4, '\0');
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const bool right = column >= width / 2;
            const bool bottom = row >= height / 2;
            const Colour c = bottom ? (right ? kWhite : kBlue) : (right ? kGreen : kRed);
            char* p = &pixels[(static_cast<std::size_t>(row) * width + column) * 4];
            p[0] = static_cast<char>(c.r);
            p[1] = static_cast<char>(c.g);
            p[2] = static_cast<char>(c.b);
            p[3] = static_cast<char>(c.a);
        }
    }
    return pixels;
}

std::string SolidPixels(int width, int height, Colour c)
{
    std::string pixels;
    pixels.reserve(static_cast<std::size_t>(width) * height * 4);
    for (int i = 0; i < width * height; ++i) {
        pixels += static_cast<char>(c.r);
        pixels += static_cast<char>(c.g);
        pixels += static_cast<char>(c.b);
        pixels += static_cast<char>(c.a);
    }
    return pixels;
}

bool WriteBmp(const std::string& path, int width, int height, const std::string& pixels)
{
    // A surface without an alpha mask: SDL writes a plain 24-bit BMP.
    SDL_Surface* surface = SDL_CreateRGBSurface(0, width, height, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0);
    if (!surface)
        return false;
    for (int row = 0; row < height; ++row)
        std::memcpy(static_cast<char*>(surface->pixels) + row * surface->pitch, &pixels[row * width * 4], width * 4);
    const bool saved = SDL_SaveBMP(surface, path.c_str()) == 0;
    SDL_FreeSurface(surface);
    return saved;
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/image-test-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "/tmp";
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (path_ != "/tmp")
        std::filesystem::remove_all(path_, ignored);
}

}  // namespace image_test

// Test pictures made on the spot, and a glGenLists that can be told to fail.
#include "tests/support/Pictures.h"

#include <GL/gl.h>
#include <SDL.h>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <string>

namespace testing_support {

namespace {

void Put(std::string& pixels, std::size_t at, const Rgba& c)
{
    pixels[at] = static_cast<char>(c.r);
    pixels[at + 1] = static_cast<char>(c.g);
    pixels[at + 2] = static_cast<char>(c.b);
    pixels[at + 3] = static_cast<char>(c.a);
}

int failingListAllocations = 0;

}  // namespace

std::string QuadrantPixels(int width, int height, Rgba topLeft, Rgba topRight, Rgba bottomLeft, Rgba bottomRight)
{
    std::string pixels(static_cast<std::size_t>(width) * height * 4, '\0');
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const bool right = column >= width / 2, bottom = row >= height / 2;
            Put(pixels, (static_cast<std::size_t>(row) * width + column) * 4,
                bottom ? (right ? bottomRight : bottomLeft) : (right ? topRight : topLeft));
        }
    }
    return pixels;
}

std::string SolidPixels(int width, int height, Rgba c)
{
    return QuadrantPixels(width, height, c, c, c, c);
}

bool WriteBmp(const std::string& path, int width, int height, const std::string& pixels)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    if (!parent.empty())
        std::filesystem::create_directories(parent, ignored);
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

void FailNextListAllocations(int count)
{
    failingListAllocations = count;
}

}  // namespace testing_support

// Stands in for the GL library's glGenLists in a test program that asks for
// failures (the effect code is linked in statically, so its calls land here)
// and forwards to the real one unless a failure was asked for.
extern "C" GLuint glGenLists(GLsizei range)
{
    using GenLists = GLuint (*)(GLsizei);
    static const GenLists real = reinterpret_cast<GenLists>(dlsym(RTLD_NEXT, "glGenLists"));
    if (testing_support::failingListAllocations > 0) {
        --testing_support::failingListAllocations;
        return 0;
    }
    return real(range);
}

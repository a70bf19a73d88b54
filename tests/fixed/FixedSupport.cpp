// Helpers shared by the BalTrap and InkStain tests: pictures made on the spot,
// RGB probes, and a switch that makes the next display-list allocations fail.
#include "tests/fixed/FixedSupport.h"

#include <GL/gl.h>
#include <SDL.h>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>

namespace {

int failingListAllocations = 0;

struct TempDir {
    std::string path;
    TempDir()
    {
        char pattern[] = "/tmp/fixed-pictures-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "/tmp";
    }
    ~TempDir()
    {
        if (path != "/tmp")
            std::filesystem::remove_all(path);
    }
};

}  // namespace

// Stands in for the GL library's glGenLists in this test program (the effect
// code is linked in statically, so its calls land here) and forwards to the
// real one unless a failure was asked for.
extern "C" GLuint glGenLists(GLsizei range)
{
    using GenLists = GLuint (*)(GLsizei);
    static const GenLists real = reinterpret_cast<GenLists>(dlsym(RTLD_NEXT, "glGenLists"));
    if (failingListAllocations > 0) {
        --failingListAllocations;
        return 0;
    }
    return real(range);
}

namespace fixed_test {

bool OpenWindow()
{
    return testing_support::OpenGlWindow(800, 600) || testing_support::OpenGlWindow(800, 600);
}

const std::string& PictureDir()
{
    static TempDir dir;
    return dir.path;
}

std::string WriteQuadrants(const std::string& name, int width, int height, Rgba topLeft, Rgba topRight,
                           Rgba bottomLeft, Rgba bottomRight)
{
    SDL_Surface* surface = SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 24, 0x0000FF, 0x00FF00, 0xFF0000, 0);
    const Rgba quadrants[2][2] = {{topLeft, topRight}, {bottomLeft, bottomRight}};
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 2; ++column) {
            const Rgba& c = quadrants[row][column];
            SDL_Rect rect;
            rect.x = static_cast<Sint16>(column * width / 2);
            rect.y = static_cast<Sint16>(row * height / 2);
            rect.w = static_cast<Uint16>(width / 2 + (column ? width % 2 : 0));
            rect.h = static_cast<Uint16>(height / 2 + (row ? height % 2 : 0));
            SDL_FillRect(surface, &rect, SDL_MapRGB(surface->format, static_cast<Uint8>(c.r),
                                                    static_cast<Uint8>(c.g), static_cast<Uint8>(c.b)));
        }
    }
    const std::string path = PictureDir() + "/" + name;
    SDL_SaveBMP(surface, path.c_str());
    SDL_FreeSurface(surface);
    return path;
}

void FailNextListAllocations(int count)
{
    failingListAllocations = count;
}

}  // namespace fixed_test

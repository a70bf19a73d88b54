// A small SDL OpenGL window for tests that draw effects directly, and pixel
// probes read back from what was drawn.
#include "tests/support/GlWindow.h"
#include "tests/support/Display.h"

#include <GL/gl.h>
#include <SDL.h>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace testing_support {

namespace {
int windowWidth = 0;
int windowHeight = 0;
}  // namespace

std::string ToString(const Rgba& c)
{
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ", " +
           std::to_string(c.a) + ")";
}

bool OpenGlWindow(int width, int height)
{
    if (width == windowWidth && height == windowHeight)
        return true;
    if (!HoldDisplay())
        return false;
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) < 0)
        return false;
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    if (!SDL_SetVideoMode(width, height, 32, SDL_OPENGL)) {
        SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
        if (!SDL_SetVideoMode(width, height, 32, SDL_OPENGL))
            return false;
    }
    windowWidth = width;
    windowHeight = height;
    glViewport(0, 0, width, height);
    return true;
}

void ClearFrame(float r, float g, float b, float a)
{
    glClearColor(r, g, b, a);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor4f(1, 1, 1, 1);
}

namespace {

// Reads from what the frame is drawn into. NOTE: SDL 1.2 as sdl12-compat over
// SDL2 draws into a framebuffer object of its own, which has no GL_BACK: asking
// for it there is an error and the read returns nothing. Without one, the
// window's back buffer.
void ReadFromDrawnFrame()
{
    GLint framebuffer = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &framebuffer);
    if (framebuffer == 0)
        glReadBuffer(GL_BACK);
}

}  // namespace

Rgba ReadPixel(int x, int y)
{
    unsigned char p[4] = {0, 0, 0, 0};
    glFinish();
    ReadFromDrawnFrame();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, windowHeight - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2], p[3]};
}

Rgba ReadPixelNdc(double x, double y)
{
    const int px = static_cast<int>((x + 1.0) * 0.5 * windowWidth);
    const int py = static_cast<int>((1.0 - y) * 0.5 * windowHeight);
    return ReadPixel(px < windowWidth ? px : windowWidth - 1, py < windowHeight ? py : windowHeight - 1);
}

void SaveFrame(const std::string& path)
{
    if (windowWidth <= 0)
        return;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(windowWidth) * windowHeight * 4);
    glFinish();
    ReadFromDrawnFrame();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, windowWidth, windowHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    SDL_Surface* surface = SDL_CreateRGBSurface(0, windowWidth, windowHeight, 32, 0x000000FF, 0x0000FF00,
                                                0x00FF0000, 0xFF000000);
    if (!surface)
        return;
    for (int row = 0; row < windowHeight; ++row)
        std::copy_n(&pixels[static_cast<std::size_t>(windowHeight - 1 - row) * windowWidth * 4], windowWidth * 4,
                    static_cast<unsigned char*>(surface->pixels) + row * surface->pitch);
    SDL_SaveBMP(surface, path.c_str());
    SDL_FreeSurface(surface);
}

bool ColorNear(const Rgba& seen, const Rgba& want, int tolerance)
{
    return std::abs(seen.r - want.r) <= tolerance && std::abs(seen.g - want.g) <= tolerance &&
           std::abs(seen.b - want.b) <= tolerance && std::abs(seen.a - want.a) <= tolerance;
}

}  // namespace testing_support

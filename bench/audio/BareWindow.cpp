// Bare SDL 1.2 program for the start-up benchmark (arguments ignored): opens
// the player's window the same way (driver, attributes, flags, the multisample
// retry), clears and swaps once, then says "ready" on standard output.
#include <GL/gl.h>
#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kDepth = 32;
constexpr int kMultisampleSamples = 6;

}  // namespace

int main()
{
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) < 0 || !SDL_GetVideoInfo())
        return 1;
    const Uint32 flags = SDL_OPENGL | SDL_HWPALETTE | SDL_HWSURFACE | SDL_HWACCEL | SDL_DOUBLEBUF;
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, kMultisampleSamples);
    if (!SDL_SetVideoMode(kWidth, kHeight, kDepth, flags)) {
        SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 0);
        if (!SDL_SetVideoMode(kWidth, kHeight, kDepth, flags))
            return 1;
    }
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWMInfo(&info) == 0)
        return 1;
    SDL_ShowCursor(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SDL_GL_SwapBuffers();
    const char ready[] = "ready\n";
    if (write(1, ready, sizeof ready - 1) < 0)
        return 1;
    SDL_Quit();
    return 0;
}

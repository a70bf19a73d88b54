// Video stage: the SDL window and its OpenGL context.
#include "host/Stages.h"

#include "audio/Player.h"
#include "host/LiveFrontEnd.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <csignal>
#include <cstdlib>

namespace host {

namespace {

constexpr const char* kDriverVariable = "SDL_VIDEODRIVER";
constexpr const char* kGlDriver = "x11";

// Starts SDL with its video subsystem (again, when restart is set), asking
// for the X11 driver unless the user chose one. 0 on success.
int StartVideo(bool restart)
{
    // With no driver named, SDL 1.2 falls back to text-mode drivers when there
    // is no X display; they can never give OpenGL and they write terminal
    // control codes to standard output. Only X11 offers OpenGL here, so ask
    // for it unless the user chose a driver. SDL reads the variable only when
    // video starts; it is taken away again so that the script and the
    // programs it starts see the environment the player was given.
    const bool chooseDriver = std::getenv(kDriverVariable) == nullptr;
    if (chooseDriver)
        setenv(kDriverVariable, kGlDriver, 1);
    const int result = restart ? SDL_InitSubSystem(SDL_INIT_VIDEO) : SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE);
    if (chooseDriver)
        unsetenv(kDriverVariable);
    return result;
}

// Asks for the double-buffered GL window with the given multisampling.
bool OpenWindow(int width, int height, int depth, Uint32 flags, int samples)
{
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, samples);
    return SDL_SetVideoMode(width, height, depth, flags) != nullptr;
}

}  // namespace

int InitVideo(int width, int height, int depth, bool fullscreen, show::Context& context)
{
    if (StartVideo(false) < 0)
        return 1;
    if (!SDL_GetVideoInfo())
        return 1;

    Uint32 flags = SDL_OPENGL | SDL_HWPALETTE | SDL_HWSURFACE | SDL_HWACCEL | SDL_DOUBLEBUF;
    if (fullscreen)
        flags |= SDL_FULLSCREEN;

    // Displays without multisampled visuals refuse the first request; the
    // retry asks for none.
    bool opened = OpenWindow(width, height, depth, flags, kMultisampleSamples) ||
                  OpenWindow(width, height, depth, flags, 0);
    if (!opened) {
        // NOTE: SDL 1.2 as sdl12-compat over SDL2, with its GL scaling off,
        // refuses every mode after one refused request; the same request
        // succeeds on a freshly started video subsystem.
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        opened = StartVideo(true) == 0 && OpenWindow(width, height, depth, flags, 0);
    }
    if (!opened)
        return 1;

    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWMInfo(&info) == 0)
        return 1;

    SDL_ShowCursor(0);
    context.width = width;
    context.height = height;
    context.windowReady = 1;
    context.frontEnd = std::make_unique<LiveFrontEnd>(&context);
    return 0;
}

// SDL catches SIGINT and SIGTERM and turns them into a quit event, which a
// show never reads: Ctrl-C and kill would be ignored. Give them back their
// default action, so that they end the player at once like any command. A
// signal the player was started with ignored stays ignored (SDL leaves those
// alone too).
void RestoreTerminationSignals()
{
    for (int signalNumber : {SIGINT, SIGTERM}) {
        struct sigaction current;
        if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            std::signal(signalNumber, SIG_DFL);
    }
}

void CloseStages(show::Context& context)
{
    context.player.reset();
    context.clock = nullptr;
    SDL_Quit();
}

}  // namespace host

// The window and keyboard of live play, through SDL.
#include "host/LiveFrontEnd.h"

#include <sys/time.h>

namespace host {

LiveFrontEnd::LiveFrontEnd(show::Context* context) : context_(context), keys_(SDL_GetKeyState(nullptr)) {}

void LiveFrontEnd::SwapBuffers() { SDL_GL_SwapBuffers(); }

// The key state follows the events as they are pumped; the events themselves
// are then taken off the queue, which would otherwise fill up (SDL drops what
// comes after) and lose the window's close request among unread key events.
bool LiveFrontEnd::PumpEvents()
{
    SDL_PumpEvents();
    bool closeAsked = false;
    SDL_Event event;
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_ALLEVENTS) > 0) {
        if (event.type == SDL_QUIT)
            closeAsked = true;
        else if (event.type == SDL_KEYDOWN)
            KeyPressed(event.key.keysym.sym);
    }
    return closeAsked;
}

// The transport keys: F2 pauses and plays, F3 marks a loop's start, F4 its end.
void LiveFrontEnd::KeyPressed(SDLKey key)
{
    if (!context_ || !context_->transport.keys)
        return;
    show::Transport& transport = context_->transport;
    if (key == SDLK_F2)
        transport.Toggle(context_->clock);
    else if (key == SDLK_F3)
        transport.MarkStart(context_->clock);
    else if (key == SDLK_F4)
        transport.MarkEnd(context_->clock);
}

// An entry of the key state array counts as down when it is non-zero; the
// arrow keys count on the keypad too.
bool LiveFrontEnd::KeyDown(show::Key key)
{
    switch (key) {
    case show::Key::Space:
        return keys_[SDLK_SPACE] != 0;
    case show::Key::Escape:
        return keys_[SDLK_ESCAPE] != 0;
    case show::Key::Right:
        return keys_[SDLK_RIGHT] != 0 || keys_[SDLK_KP6] != 0;
    case show::Key::Left:
        return keys_[SDLK_LEFT] != 0 || keys_[SDLK_KP4] != 0;
    }
    return false;
}

std::uint32_t LiveFrontEnd::WallMs() { return WallClockMs(); }

// Unsigned arithmetic gives the wrap without overflow being undefined.
std::uint32_t WallClockMs()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<std::uint32_t>(now.tv_sec) * 1000u + static_cast<std::uint32_t>(now.tv_usec / 1000);
}

}  // namespace host

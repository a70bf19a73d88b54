// The window and keyboard of live play, through SDL: what the OpenGL package
// does to them when a person watches the show.
#pragma once

#include "bindings/Context.h"

#include <SDL.h>

namespace host {

// Wall-clock milliseconds wrapped to 32 bits, as glGetTime reads them live
// (a recording starts its virtual wall clock there).
std::uint32_t WallClockMs();

class LiveFrontEnd : public show::FrontEnd {
public:
    // context: where the transport keys act (F2 to F4, when its transport
    // takes keys); none without.
    explicit LiveFrontEnd(show::Context* context = nullptr);
    void SwapBuffers() override;
    bool PumpEvents() override;
    bool KeyDown(show::Key key) override;
    std::uint32_t WallMs() override;

protected:
    // Each key that went down, as PumpEvents takes the events in: for modes
    // that add keys of the player's own, which call this for the keys they
    // leave. The scripts see only KeyDown.
    virtual void KeyPressed(SDLKey key);

private:
    show::Context* context_;
    // SDL's key state array: it changes only inside PumpEvents.
    const Uint8* keys_;
};

}  // namespace host

// Music component (first cut): every stream is a silent clock until the
// decoder lands.
#include "audio/Music.h"

#include <SDL.h>

namespace music {

class Stream {
public:
    bool paused = true;
    int baseMs = 0;
    Uint32 startTicks = 0;
};

namespace {
Stream* theStream = nullptr;
}

bool Init(int) { return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0; }

void Close() { SDL_QuitSubSystem(SDL_INIT_AUDIO); }

Stream* StreamOpen(const char*)
{
    theStream = new Stream();
    return theStream;
}

int StreamPlayPaused(Stream*) { return 0; }

bool SetPaused(int channel, bool paused)
{
    if (channel != 0 || !theStream)
        return false;
    if (theStream->paused && !paused)
        theStream->startTicks = SDL_GetTicks();
    theStream->paused = paused;
    return true;
}

int StreamGetTime(Stream* s)
{
    if (!s)
        return 0;
    return s->paused ? s->baseMs : s->baseMs + static_cast<int>(SDL_GetTicks() - s->startTicks);
}

bool StreamSetTime(Stream* s, int ms)
{
    if (!s)
        return false;
    s->baseMs = ms;
    s->startTicks = SDL_GetTicks();
    return true;
}

}  // namespace music

// The old entry points over one Player (see Music.h).
#include "audio/Music.h"

#include "audio/Player.h"

#include <SDL.h>

namespace music {

class Stream {};

namespace {

// NOTE: a script that dies ends the process with exit(), without the host's
// shutdown; destroying this at exit stops the output and the decoder thread
// before the memory they use goes away.
std::unique_ptr<Player> player;
Stream token;

}  // namespace

bool Init(int mixRate)
{
    if (player)
        return true;
    std::string error;
    player = Player::Create(mixRate, &error);
    if (!player)
        SDL_SetError("%s", error.c_str());
    return player != nullptr;
}

void Close() { player.reset(); }

Stream* StreamOpen(const char* path)
{
    if (!player)
        return nullptr;
    player->Open(path ? path : "");
    return &token;
}

int StreamPlayPaused(Stream* stream) { return stream ? 0 : -1; }

bool SetPaused(int channel, bool paused)
{
    if (channel != 0 || !player)
        return false;
    if (paused)
        player->Pause();
    else
        player->Start();
    return true;
}

int StreamGetTime(Stream* stream) { return stream && player ? player->Position() : 0; }

bool StreamSetTime(Stream* stream, int ms) { return stream && player ? player->Seek(ms) : false; }

}  // namespace music

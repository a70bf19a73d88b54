// Sound stage: the music output and the paused music stream.
#include "host/Stages.h"
#include "host/State.h"

#include "audio/Music.h"

#include <cstdio>

namespace host {

namespace {

constexpr int kMixRate = 44100;

}  // namespace

int InitSound(const char* fileName)
{
    if (!music::Init(kMixRate)) {
        std::printf("Sound error!\n");
        music::Close();
        return 1;
    }
    state::musicStream = music::StreamOpen(fileName);
    state::musicChannel = music::StreamPlayPaused(state::musicStream);
    return 0;
}

}  // namespace host

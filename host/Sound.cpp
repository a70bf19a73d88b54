// Sound stage: the music player and its paused music stream.
#include "host/Stages.h"

#include <cstdio>

namespace host {

namespace {

constexpr int kMixRate = 44100;

}  // namespace

int InitSound(const char* fileName, show::Context& context)
{
    std::string error;
    context.player = music::Player::Create(kMixRate, &error);
    if (!context.player) {
        std::printf("Sound error!\n");
        return 1;
    }
    context.player->Open(fileName);
    context.clock = context.player.get();
    return 0;
}

}  // namespace host

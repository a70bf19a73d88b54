// Sound stage: the music player and its paused music stream; the author's
// hold on it (transport keys, the sync editor).
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

void StartAuthoring(bool keys, bool editor, const std::string& host, int port, show::Context& context)
{
    context.transport.keys = keys || editor;
    if (editor)
        context.tracks.ConnectEditor(host, port);
}

}  // namespace host

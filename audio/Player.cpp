// The music player object over the sound output of Music.cpp.
#include "audio/Player.h"

#include "audio/Music.h"

#include <SDL.h>

namespace music {

struct Player::Impl {
    Stream* stream = nullptr;
    int channel = -1;
    bool playing = false;
};

std::unique_ptr<Player> Player::Create(int mixRate, std::string* error)
{
    if (!Init(mixRate)) {
        if (error)
            *error = SDL_GetError();
        Close();
        return nullptr;
    }
    std::unique_ptr<Player> player(new Player());
    player->impl_ = std::make_unique<Impl>();
    return player;
}

Player::~Player() { Close(); }

void Player::Open(const std::string& path)
{
    impl_->stream = StreamOpen(path.c_str());
    impl_->channel = StreamPlayPaused(impl_->stream);
    impl_->playing = false;
}

void Player::Reopen(const std::string& path)
{
    const int position = Position();
    const bool playing = impl_->playing;
    Open(path);
    Seek(position);
    if (playing)
        Start();
}

void Player::Start()
{
    if (SetPaused(impl_->channel, false))
        impl_->playing = true;
}

void Player::Pause()
{
    if (SetPaused(impl_->channel, true))
        impl_->playing = false;
}

bool Player::Playing() const { return impl_->playing; }
int Player::Position() { return StreamGetTime(impl_->stream); }
bool Player::Seek(int ms) { return StreamSetTime(impl_->stream, ms); }
int Player::Length() const { return StreamGetLength(impl_->stream); }
double Player::PositionExact() { return StreamGetTimeExact(impl_->stream); }
int Player::DeviceLatencyFrames() const { return music::DeviceLatencyFrames(); }
void Player::TraceDevice(std::vector<DeviceBuffer>* sink) { music::TraceDevice(sink); }

}  // namespace music

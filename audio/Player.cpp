// The music player: chooses the sound output, owns the feed (decoder thread
// and ring) of the open file, and reads the clock from the output, or from the
// monotonic clock when the music is missing.
#include "audio/Player.h"

#include "audio/Clock.h"
#include "audio/Decoder.h"
#include "audio/Feed.h"
#include "audio/Output.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace music {

struct Player::Impl {
    explicit Impl(int rate) : rate(rate), silent(rate, 0) { silent.SetFreeRunning(true); }

    const int rate;
    std::unique_ptr<Output> output;
    std::unique_ptr<Feed> feed;  // null: the silent clock
    Clock silent;
    bool playing = false;
};

std::unique_ptr<Player> Player::Create(int mixRate, std::string* error)
{
    std::string why;
    std::unique_ptr<Output> output;
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    // SDL_AUDIODRIVER asks for SDL and that driver. Otherwise a PulseAudio
    // server (or PipeWire's) times the music best; SDL's own choice comes last.
    if (!(driver && *driver))
        output = OpenPulseOutput(mixRate, &why);
    if (!output)
        output = OpenSdlOutput(mixRate, &why);
    if (!output) {
        if (error)
            *error = why;
        return nullptr;
    }
    std::unique_ptr<Player> player(new Player());
    player->impl_ = std::make_unique<Impl>(mixRate);
    player->impl_->output = std::move(output);
    return player;
}

Player::~Player()
{
    // The output's device thread reads from the feed: stop it first.
    if (impl_)
        impl_->output.reset();
}

void Player::Open(const std::string& path)
{
    Impl& p = *impl_;
    p.output->Attach(nullptr);
    p.feed.reset();
    p.playing = false;
    p.silent = Clock(p.rate, 0);
    p.silent.SetFreeRunning(true);
    std::string reason;
    std::unique_ptr<Decoder> decoder = Decoder::Open(path, p.rate, &reason);
    if (!decoder) {
        std::fprintf(stderr, "music: cannot play \"%s\": %s; the show runs on a silent clock\n", path.c_str(),
                     reason.c_str());
        return;
    }
    p.feed = std::make_unique<Feed>(std::move(decoder));
    p.output->Attach(p.feed.get());
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
    Impl& p = *impl_;
    if (p.playing)
        return;
    p.playing = true;
    if (p.feed)
        p.output->Resume();
    else
        p.silent.Resume(MonotonicNs());
}

void Player::Pause()
{
    Impl& p = *impl_;
    if (!p.playing)
        return;
    p.playing = false;
    if (p.feed)
        p.output->Pause();
    else
        p.silent.Pause(MonotonicNs());
}

bool Player::Playing() const { return impl_->playing; }

double Player::PositionExact()
{
    Impl& p = *impl_;
    const double frames = p.feed ? p.output->Read() : p.silent.Read(MonotonicNs());
    return frames * 1000.0 / p.rate;
}

int Player::Position()
{
    Impl& p = *impl_;
    const double frames = p.feed ? p.output->Read() : p.silent.Read(MonotonicNs());
    return static_cast<int>(static_cast<std::int64_t>(frames) * 1000 / p.rate);
}

bool Player::Seek(int ms)
{
    Impl& p = *impl_;
    // Round the frame up so that reading the position back gives ms again.
    std::int64_t frame = (static_cast<std::int64_t>(std::max(ms, 0)) * p.rate + 999) / 1000;
    if (p.feed)
        p.output->Seek(std::min(frame, p.feed->Length()));
    else
        p.silent.Seek(frame, MonotonicNs());
    return true;
}

int Player::Length() const
{
    const Impl& p = *impl_;
    return p.feed ? static_cast<int>(p.feed->Length() * 1000 / p.rate) : -1;
}

int Player::DeviceLatencyFrames() const { return impl_->output->LatencyFrames(); }
void Player::TraceDevice(std::vector<DeviceBuffer>* sink) { impl_->output->Trace(sink); }
std::uint64_t Player::Underruns() const { return impl_->output->Underruns(); }
std::string Player::OutputName() const { return impl_->output->Name(); }

}  // namespace music

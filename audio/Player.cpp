// The music player: chooses the sound output, owns the feed (decoder thread
// and ring) of the open file, and reads the clock from the output, or from the
// monotonic clock when the music is missing or the output has been lost.
//
// When the output is lost the clock goes on at wall-clock pace from the last
// position the output vouched for, and a background thread connects to a
// sound server of the same kind anew, at most once a second. The script's
// thread only ever swaps in an output that is already connected.
#include "audio/Player.h"

#include "audio/Clock.h"
#include "audio/Decoder.h"
#include "audio/Feed.h"
#include "audio/Output.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace music {

namespace {

// How far ahead of the wall clock a new output starts the music: about what
// it takes a server to play the first sample.
constexpr int kHandoverLeadMs = 30;
// Over how long the clock takes up the difference when a new output's music
// is heard a little earlier or later than planned.
constexpr std::int64_t kEaseNs = 500000000;
constexpr auto kReconnectInterval = std::chrono::seconds(1);

// Opens an output of one kind again, to take over the music at once.
using Opener = std::unique_ptr<Output> (*)(int rate, std::string* error);
std::unique_ptr<Output> OpenPipeWire(int rate, std::string* error) { return OpenPipeWireOutput(rate, error); }
std::unique_ptr<Output> OpenPulse(int rate, std::string* error) { return OpenPulseOutput(rate, error, nullptr, true); }

// What the script's thread and the reconnect thread share. The thread holds
// it too, so that a player going away need not wait for an attempt under way
// (one on a server that takes the connection and never answers lasts
// seconds): the thread is let go and ends by itself once the attempt does.
struct Reconnection {
    std::mutex lock;
    std::condition_variable wake;
    std::unique_ptr<Output> pending;  // connected in the background
    bool wanted = false;
    bool quit = false;
    bool attempting = false;  // the thread is connecting, without the lock
};

// The background thread that connects anew while the output is lost, at most
// once per interval, to the kind of server that was lost.
void Reconnect(std::shared_ptr<Reconnection> shared, int rate, Opener opener)
{
    pthread_setname_np(pthread_self(), "music reconnect");
    Reconnection& r = *shared;
    std::unique_lock<std::mutex> guard(r.lock);
    while (!r.quit) {
        r.wake.wait_for(guard, kReconnectInterval, [&] { return r.quit; });
        if (r.quit || !r.wanted || r.pending)
            continue;
        r.attempting = true;
        guard.unlock();
        std::string why;
        std::unique_ptr<Output> fresh = opener(rate, &why);
        guard.lock();
        r.attempting = false;
        if (fresh && !r.quit) {
            r.pending = std::move(fresh);
            r.wanted = false;
        }
    }
}

}  // namespace

struct Player::Impl {
    explicit Impl(int rate) : rate(rate), silent(rate, 0) { silent.SetFreeRunning(true); }

    ~Impl()
    {
        if (reconnector.joinable()) {
            bool attempting;
            {
                std::lock_guard<std::mutex> guard(reconnection->lock);
                reconnection->quit = true;
                attempting = reconnection->attempting;
            }
            reconnection->wake.notify_all();
            // Otherwise the thread waits for the lock or the wake-up, and
            // then sees quit at once.
            if (attempting)
                reconnector.detach();
            else
                reconnector.join();
        }
        // The output's device thread reads from the feed: stop it first.
        output.reset();
    }

    // The wall clock from `frame` at time ns, running or not.
    void WallFrom(double frame, std::int64_t ns)
    {
        silent = Clock(rate, 0);
        silent.SetFreeRunning(true);
        if (feed)
            silent.SetEnd(feed->Length());
        silent.Seek(static_cast<std::int64_t>(frame), ns);
        if (playing)
            silent.Resume(ns);
    }

    // Notices a lost output, and takes back one that plays again.
    void Check()
    {
        if (!feed)
            return;
        if (!lost) {
            double frame = 0.0;
            std::int64_t ns = 0;
            std::string why;
            if (!output->Lost(&frame, &ns, &why))
                return;
            lost = true;
            const std::int64_t now = MonotonicNs();
            if (!handover) {
                // The last frame the output played, less what the clock had
                // still to take up after a reconnect, goes on at wall pace
                // from when it was heard; never behind what the clock showed.
                if (easeGap != 0.0)
                    frame -= easeGap * std::max(0.0, 1.0 - static_cast<double>(ns - easeStartNs) / kEaseNs);
                WallFrom(frame, playing ? ns : now);
                if (playing && silent.Read(now) < floor)
                    WallFrom(floor, now);
            }
            // While a new output was being handed over, the clock already ran
            // on the wall: it just goes on. (The output's last frame is then
            // the one planned at the hand-over, with the time it was planned.)
            handover = false;
            easeGap = 0.0;
            output->Attach(nullptr);
            std::fprintf(stderr, "music: sound lost (%s); the show goes on without sound\n", why.c_str());
            if (output->Reconnects()) {
                std::lock_guard<std::mutex> guard(reconnection->lock);
                reconnection->wanted = true;
            }
            return;
        }
        if (!output->Recovered()) {
            std::unique_ptr<Output> fresh;
            {
                std::lock_guard<std::mutex> guard(reconnection->lock);
                fresh = std::move(reconnection->pending);
            }
            if (!fresh)
                return;
            output = std::move(fresh);  // the lost one is closed here
        }
        lost = false;
        const double now = silent.Read(MonotonicNs());
        output->Attach(feed.get());
        if (playing) {
            // Start the music a little ahead and keep the wall clock until
            // it is heard, so that the clock never steps back.
            handoverFrame = std::min<double>(now + static_cast<double>(kHandoverLeadMs) * rate / 1000,
                                             static_cast<double>(feed->Length()));
            output->Seek(static_cast<std::int64_t>(handoverFrame));
            output->Resume();
            handover = true;
        } else {
            output->Seek(static_cast<std::int64_t>(now));
        }
        std::fprintf(stderr, "music: sound is back (%s); the music goes on\n", output->Name().c_str());
    }

    // The position now, in frames.
    double Read()
    {
        Check();
        double frames;
        if (!feed || lost) {
            frames = silent.Read(MonotonicNs());
        } else if (handover) {
            const double heard = output->Read();
            if (heard > handoverFrame || heard >= static_cast<double>(feed->Length())) {
                // A server seldom plays the first sample exactly when planned
                // (a low-latency one plays it at once): rather than step by
                // the difference, the clock runs a little fast or slow until
                // it has taken it up.
                handover = false;
                easeStartNs = MonotonicNs();
                easeGap = heard - silent.Read(easeStartNs);
                frames = heard - easeGap;
            } else {
                frames = silent.Read(MonotonicNs());
            }
        } else {
            frames = output->Read();
            if (easeGap != 0.0) {
                const double left = 1.0 - static_cast<double>(MonotonicNs() - easeStartNs) / kEaseNs;
                if (left > 0.0)
                    frames -= easeGap * left;
                else
                    easeGap = 0.0;
            }
        }
        if (playing)
            frames = std::max(frames, floor);
        floor = frames;
        return frames;
    }

    const int rate;
    std::unique_ptr<Output> output;  // kept when lost, for its name and figures
    std::unique_ptr<Feed> feed;      // null: the silent clock
    Clock silent;                    // the wall clock: missing music, lost output
    bool playing = false;
    bool lost = false;
    bool handover = false;  // a new output plays; the wall clock until it is heard
    double handoverFrame = 0.0;
    double easeGap = 0.0;  // frames the new output was heard ahead of the wall clock, still to take up
    std::int64_t easeStartNs = 0;
    double floor = 0.0;  // the last position read

    std::shared_ptr<Reconnection> reconnection = std::make_shared<Reconnection>();
    std::thread reconnector;
};

std::unique_ptr<Player> Player::Create(int mixRate, std::string* error)
{
    std::string why;
    std::unique_ptr<Output> output;
    Opener opener = nullptr;
    // SDL_AUDIODRIVER asks for SDL and that driver, PULSE_SERVER for that
    // PulseAudio server. Otherwise a PipeWire daemon that answers plays
    // natively, with the graph's own timing; then the desktop's PulseAudio
    // server; SDL's own choice comes last.
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    const char* server = std::getenv("PULSE_SERVER");
    const bool sdl = driver && *driver, pulse = server && *server;
    if (!sdl && !pulse && PipeWireAnswers()) {
        output = OpenPipeWireOutput(mixRate, &why);
        opener = &OpenPipeWire;
    }
    bool unresponsive = false;
    if (!output && !sdl) {
        output = OpenPulseOutput(mixRate, &why, &unresponsive);
        opener = &OpenPulse;
    }
    // A server that took the connection and never answered would hold SDL's
    // drivers (its pulse driver, ALSA through its pulse plugin) for half a
    // minute each.
    if (!output && !unresponsive)
        output = OpenSdlOutput(mixRate, &why);
    if (!output) {
        if (error)
            *error = why;
        return nullptr;
    }
    std::unique_ptr<Player> player(new Player());
    player->impl_ = std::make_unique<Impl>(mixRate);
    Impl& p = *player->impl_;
    p.output = std::move(output);
    if (p.output->Reconnects())
        p.reconnector = std::thread(Reconnect, p.reconnection, mixRate, opener);
    return player;
}

Player::~Player() = default;

void ReportSilentClock(const std::string& path, const std::string& reason)
{
    std::fprintf(stderr, "music: cannot play \"%s\": %s; the show runs on a silent clock\n", path.c_str(),
                 reason.c_str());
}

void Player::Open(const std::string& path)
{
    Impl& p = *impl_;
    p.output->Attach(nullptr);
    p.feed.reset();
    p.playing = false;
    p.handover = false;
    p.easeGap = 0.0;
    p.floor = 0.0;
    p.WallFrom(0.0, MonotonicNs());
    std::string reason;
    std::unique_ptr<Decoder> decoder = Decoder::Open(path, p.rate, &reason);
    if (!decoder) {
        ReportSilentClock(path, reason);
        return;
    }
    p.feed = std::make_unique<Feed>(std::move(decoder));
    p.silent.SetEnd(p.feed->Length());
    if (!p.lost)
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
    p.Check();
    if (p.playing)
        return;
    p.playing = true;
    if (p.feed && !p.lost)
        p.output->Resume();
    else
        p.silent.Resume(MonotonicNs());
}

// Holds the music at the position the clock shows now. During a hand-over
// the clock runs on the wall, and after one it eases towards the output: the
// output's own frame differs from what the show saw, so the output is moved
// to the shown frame, and plays on from there.
void Player::Pause()
{
    Impl& p = *impl_;
    p.Check();
    if (!p.playing)
        return;
    const auto shown = static_cast<std::int64_t>(p.Read());
    p.playing = false;
    p.handover = false;
    p.easeGap = 0.0;
    p.floor = static_cast<double>(shown);
    if (p.feed && !p.lost) {
        p.output->Pause();
        p.output->Seek(shown);
    } else {
        const std::int64_t now = MonotonicNs();
        p.silent.Pause(now);
        p.silent.Seek(shown, now);
    }
}

bool Player::Playing() const { return impl_->playing; }

double Player::PositionExact() { return impl_->Read() * 1000.0 / impl_->rate; }

int Player::Position()
{
    const double frames = impl_->Read();
    return static_cast<int>(static_cast<std::int64_t>(frames) * 1000 / impl_->rate);
}

bool Player::Seek(int ms)
{
    Impl& p = *impl_;
    p.Check();
    // Round the frame up so that reading the position back gives ms again.
    std::int64_t frame = (static_cast<std::int64_t>(std::max(ms, 0)) * p.rate + 999) / 1000;
    if (p.feed)
        frame = std::min(frame, p.feed->Length());
    p.handover = false;
    p.easeGap = 0.0;
    p.floor = static_cast<double>(frame);
    if (p.feed && !p.lost)
        p.output->Seek(frame);
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

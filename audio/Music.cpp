// Music component: SDL audio output, the MP3 stream decoded in the device
// callback, and the clock of what the listener hears.
//
// Threads: the main thread calls the functions of Music.h; SDL's audio thread
// runs Fill. The decoder, a stream's paused flag and its next frame belong to
// whoever holds SDL's audio lock (Fill runs with it held; the main thread takes
// it with SDL_LockAudio). Each clock has a mutex of its own, so reading the
// position never waits for a decode. Lock order: audio lock, then clock mutex.
#include "audio/Music.h"

#include "audio/Clock.h"
#include "audio/Decoder.h"

#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace music {

namespace {

constexpr int kChannels = 2;
constexpr int kBytesPerFrame = kChannels * static_cast<int>(sizeof(std::int16_t));
// Device buffer: 1024 frames is 23 ms at 44.1 kHz, short enough for the
// clock's latency correction to matter little, long enough that decoding a
// buffer (well under a millisecond) never makes the device wait.
constexpr Uint16 kDeviceFrames = 1024;
constexpr int kDefaultRate = 44100;
constexpr int kMusicChannel = 0;

}  // namespace

class Stream {
public:
    Stream(std::string path, std::unique_ptr<Decoder> decoder, int rate, int latency)
        : path(std::move(path)), decoder(std::move(decoder)), rate(rate), clock(rate, latency)
    {
        if (this->decoder)
            clock.SetEnd(this->decoder->Length());
        else
            clock.SetFreeRunning(true);
    }

    const std::string path;
    const std::unique_ptr<Decoder> decoder;  // null: a silent clock
    const int rate;

    // Under the audio lock.
    bool paused = true;
    std::int64_t next = 0;  // music frame of the next buffer (counts on past the end)

    std::mutex clockLock;
    Clock clock;
};

namespace {

struct Output {
    // A script that dies ends the process with exit(), without the host's
    // shutdown: the device thread would go on filling buffers from streams
    // that this object's destruction has just freed. Stop it first.
    ~Output()
    {
        if (open)
            SDL_CloseAudio();
    }

    bool open = false;
    int rate = kDefaultRate;
    int latency = 0;
    std::vector<std::unique_ptr<Stream>> streams;
    Stream* channel = nullptr;               // under the audio lock
    std::vector<DeviceBuffer>* trace = nullptr;  // under the audio lock
};

Output output;

// SDL's audio thread, with the audio lock held: the next device buffer.
void Fill(void*, Uint8* bytes, int length)
{
    const std::int64_t now = MonotonicNs();
    const int frames = length / kBytesPerFrame;
    auto* samples = reinterpret_cast<std::int16_t*>(bytes);
    Stream* stream = output.channel;
    if (!stream || stream->paused) {
        std::memset(bytes, 0, static_cast<std::size_t>(length));
        return;
    }

    int got = 0;
    bool brokeOff = false;
    if (stream->decoder) {
        got = stream->decoder->Read(samples, frames);
        brokeOff = got < frames && stream->decoder->Position() < stream->decoder->Length();
    }
    // Past the end, and wherever the decoder gave less, the device plays silence.
    std::memset(samples + got * kChannels, 0, static_cast<std::size_t>(frames - got) * kBytesPerFrame);

    const std::int64_t start = stream->next;
    stream->next += frames;
    {
        std::lock_guard<std::mutex> guard(stream->clockLock);
        if (brokeOff)
            stream->clock.SetEnd(stream->decoder->Position());
        stream->clock.Buffer(start, frames, now);
    }
    if (output.trace)
        output.trace->push_back({now, start, frames});
}

// Sets the stream's position to frame (decoder, next buffer and clock), with
// the audio lock held. False when the decoder cannot seek.
bool MoveTo(Stream* stream, std::int64_t frame)
{
    bool ok = true;
    if (stream->decoder) {
        frame = std::min(frame, stream->decoder->Length());
        ok = stream->decoder->Seek(frame);
    }
    stream->next = frame;
    std::lock_guard<std::mutex> guard(stream->clockLock);
    if (stream->decoder)
        stream->clock.SetEnd(stream->decoder->Length());
    stream->clock.Seek(frame, MonotonicNs());
    return ok;
}

}  // namespace

bool Init(int mixRate)
{
    if (output.open)
        return true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0)
        return false;
    SDL_AudioSpec wanted;
    std::memset(&wanted, 0, sizeof wanted);
    wanted.freq = mixRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kChannels;
    wanted.samples = kDeviceFrames;
    wanted.callback = Fill;
    // No "obtained" format: SDL converts to whatever the device really takes,
    // so Fill always delivers 16-bit stereo at mixRate.
    if (SDL_OpenAudio(&wanted, nullptr) < 0)
        return false;
    output.open = true;
    output.rate = mixRate;
    output.latency = wanted.samples;
    // The device runs from now on, playing silence while the music is paused,
    // so that unpausing is heard one device buffer later, every time.
    SDL_PauseAudio(0);
    return true;
}

void Close()
{
    if (output.open)
        SDL_CloseAudio();
    output.open = false;
    output.channel = nullptr;
    output.trace = nullptr;
    output.streams.clear();
    output.latency = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

Stream* StreamOpen(const char* path)
{
    const std::string name = path ? path : "";
    std::string reason;
    std::unique_ptr<Decoder> decoder = Decoder::Open(name, output.rate, &reason);
    if (!decoder)
        std::fprintf(stderr, "music: cannot play \"%s\": %s; the show runs on a silent clock\n", name.c_str(),
                     reason.c_str());
    output.streams.push_back(std::make_unique<Stream>(name, std::move(decoder), output.rate, output.latency));
    return output.streams.back().get();
}

int StreamPlayPaused(Stream* stream)
{
    if (!stream)
        return -1;
    SDL_LockAudio();
    if (output.channel && output.channel != stream && !output.channel->paused) {
        std::lock_guard<std::mutex> guard(output.channel->clockLock);
        output.channel->paused = true;
        output.channel->clock.Pause(MonotonicNs());
    }
    output.channel = stream;
    if (!stream->paused) {
        stream->paused = true;
        std::int64_t frame;
        {
            std::lock_guard<std::mutex> guard(stream->clockLock);
            frame = stream->clock.Pause(MonotonicNs());
        }
        MoveTo(stream, frame);
    }
    SDL_UnlockAudio();
    return kMusicChannel;
}

bool SetPaused(int channel, bool paused)
{
    if (channel != kMusicChannel || !output.channel)
        return false;
    Stream* stream = output.channel;
    SDL_LockAudio();
    if (paused && !stream->paused) {
        stream->paused = true;
        std::int64_t frame;
        {
            std::lock_guard<std::mutex> guard(stream->clockLock);
            frame = stream->clock.Pause(MonotonicNs());
        }
        // The decoder ran a buffer or two ahead of the ear; resume from what
        // was heard.
        MoveTo(stream, frame);
    } else if (!paused && stream->paused) {
        stream->paused = false;
        std::lock_guard<std::mutex> guard(stream->clockLock);
        stream->clock.Resume(MonotonicNs());
    }
    SDL_UnlockAudio();
    return true;
}

double StreamGetTimeExact(Stream* stream)
{
    if (!stream)
        return 0.0;
    std::lock_guard<std::mutex> guard(stream->clockLock);
    return stream->clock.Read(MonotonicNs()) * 1000.0 / stream->rate;
}

int StreamGetTime(Stream* stream)
{
    if (!stream)
        return 0;
    double frames;
    {
        std::lock_guard<std::mutex> guard(stream->clockLock);
        frames = stream->clock.Read(MonotonicNs());
    }
    return static_cast<int>(static_cast<std::int64_t>(frames) * 1000 / stream->rate);
}

bool StreamSetTime(Stream* stream, int ms)
{
    if (!stream)
        return false;
    // Round the frame up so that reading the position back gives ms again.
    const std::int64_t frame = (static_cast<std::int64_t>(std::max(ms, 0)) * stream->rate + 999) / 1000;
    SDL_LockAudio();
    const bool ok = MoveTo(stream, frame);
    SDL_UnlockAudio();
    return ok;
}

int StreamGetLength(Stream* stream)
{
    if (!stream || !stream->decoder)
        return -1;
    return static_cast<int>(stream->decoder->Length() * 1000 / stream->rate);
}

int DeviceLatencyFrames() { return output.latency; }

void TraceDevice(std::vector<DeviceBuffer>* sink)
{
    SDL_LockAudio();
    output.trace = sink;
    SDL_UnlockAudio();
}

}  // namespace music

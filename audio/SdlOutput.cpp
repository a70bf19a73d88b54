// SDL audio output: the device callback copies from the feed's ring, and the
// music clock follows the buffers it hands to the device.
#include "audio/Clock.h"
#include "audio/Feed.h"
#include "audio/Output.h"
#include "audio/Realtime.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>  // std::lock_guard

namespace music {

namespace {

constexpr int kBytesPerFrame = 4;
// Device buffer: 1024 frames is 23 ms at 44.1 kHz, short enough for the
// clock's latency correction to matter little, long enough that the callback
// is never due before the last one has returned.
constexpr Uint16 kDeviceFrames = 1024;
// A device that has not called for this long while the music plays is lost;
// it is back after this many callbacks in a row without such a gap.
constexpr std::int64_t kSilenceNs = 250000000;
constexpr int kRegularCallbacks = 8;

class SdlOutput : public Output {
public:
    SdlOutput(int rate, std::string driver) : rate_(rate), clock_(rate, 0), driver_(std::move(driver)) {}

    ~SdlOutput() override
    {
        SDL_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool Start(int rate)
    {
        SDL_AudioSpec wanted;
        std::memset(&wanted, 0, sizeof wanted);
        wanted.freq = rate;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = 2;
        wanted.samples = kDeviceFrames;
        wanted.callback = Fill;
        wanted.userdata = this;
        // No "obtained" format: SDL converts to whatever the device really
        // takes, so Fill always delivers 16-bit stereo at rate.
        if (SDL_OpenAudio(&wanted, nullptr) < 0)
            return false;
        latency_ = wanted.samples;
        clock_ = Clock(rate, latency_);
        // The device runs from now on, playing silence while the music is
        // paused, so that unpausing is heard one device buffer later, every time.
        SDL_PauseAudio(0);
        return true;
    }

    std::string Name() const override { return "sdl:" + driver_; }

    void Attach(Feed* feed) override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        feed_ = feed;
        clock_.SetEnd(feed ? feed->Length() : 0);
        clock_.Pause(MonotonicNs());
        clock_.Seek(0, MonotonicNs());
    }

    void Seek(std::int64_t frame) override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        if (feed_) {
            feed_->MoveTo(frame);
            clock_.SetEnd(feed_->Length());
        }
        clock_.Seek(frame, MonotonicNs());
    }

    std::int64_t Pause() override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        const std::int64_t frame = clock_.Pause(MonotonicNs());
        // The ring ran ahead of the ear; go on later from what was heard.
        if (feed_)
            feed_->MoveTo(frame);
        return frame;
    }

    void Resume() override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        clock_.Resume(MonotonicNs());
        // The device's silence while paused says nothing: count from here.
        lastCallbackNs_ = std::max(lastCallbackNs_, MonotonicNs());
    }

    bool Lost(double* frame, std::int64_t* ns, std::string* why) override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        const std::int64_t now = MonotonicNs();
        if (!feed_ || !clock_.Running() || now - lastCallbackNs_ <= kSilenceNs)
            return false;
        // The clock stopped where the last buffer ends, one period after it came.
        *frame = clock_.Read(now);
        *ns = lastCallbackNs_ + static_cast<std::int64_t>(latency_) * 1000000000LL / rate_;
        *why = "the " + driver_ + " device stopped playing";
        return true;
    }

    bool Recovered() override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        return regular_ >= kRegularCallbacks && MonotonicNs() - lastCallbackNs_ <= kSilenceNs;
    }

    double Read() override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        return clock_.Read(MonotonicNs());
    }

    int LatencyFrames() override { return latency_; }

    std::uint64_t Underruns() override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        return feed_ ? feed_->Underruns() : 0;
    }

    void Trace(std::vector<DeviceBuffer>* sink) override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        trace_ = sink;
    }

private:
    // SDL's audio thread: the next device buffer.
    static void Fill(void* self, Uint8* bytes, int length) { static_cast<SdlOutput*>(self)->Fill(bytes, length); }

    void Fill(Uint8* bytes, int length)
    {
        const std::int64_t now = MonotonicNs();
        if (!realtime_) {
            RaiseToRealtime(kDevicePriority);
            realtime_ = true;
        }
        const int frames = length / kBytesPerFrame;
        auto* samples = reinterpret_cast<std::int16_t*>(bytes);
        std::lock_guard<PriorityMutex> guard(lock_);
        regular_ = now - lastCallbackNs_ <= kSilenceNs ? regular_ + 1 : 0;
        lastCallbackNs_ = now;
        if (!feed_ || !clock_.Running()) {
            std::memset(bytes, 0, static_cast<std::size_t>(length));
            return;
        }
        const bool ended = feed_->Ended();
        const Pulled pulled = feed_->Pull(samples, frames);
        std::int64_t start;
        if (pulled.count > 0) {
            start = pulled.start;
        } else if (ended) {
            // Past the end the buffers count on as if the music went on, so
            // that the clock runs up to the end and stops there.
            start = next_;
        } else {
            return;  // nothing of the new position yet: not heard, not counted
        }
        if (pulled.ended)
            clock_.SetEnd(pulled.end);
        next_ = start + frames;
        clock_.Buffer(start, frames, now);
        if (trace_)
            trace_->push_back({now, start, frames});
    }

    const int rate_;
    // Taken by SDL's real-time audio thread and by the script's thread.
    PriorityMutex lock_;
    Clock clock_;
    const std::string driver_;
    int latency_ = 0;
    Feed* feed_ = nullptr;
    std::int64_t next_ = 0;
    std::vector<DeviceBuffer>* trace_ = nullptr;
    bool realtime_ = false;  // SDL's audio thread asked for it
    std::int64_t lastCallbackNs_ = MonotonicNs();
    int regular_ = 0;  // callbacks in a row without a long gap
};

}  // namespace

std::unique_ptr<Output> OpenSdlOutput(int rate, std::string* error)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
        *error = SDL_GetError();
        return nullptr;
    }
    char name[64] = "";
    SDL_AudioDriverName(name, sizeof name);
    auto output = std::make_unique<SdlOutput>(rate, name);
    if (!output->Start(rate)) {
        *error = SDL_GetError();
        return nullptr;  // the destructor quits the subsystem again
    }
    return output;
}

}  // namespace music

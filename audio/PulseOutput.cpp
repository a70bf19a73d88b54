// PulseAudio output on libpulse's asynchronous API: a threaded main loop
// whose write path copies from the feed's ring, and a clock taken from the
// server's own timing, so that it includes the sink's and the device's delay.
//
// The stream is written at absolute positions that the output chooses, and
// every run of music written is booked with the stream position it went to.
// The heard position is then the music frame booked at the stream time the
// server reports as playing now (pa_stream_get_time, interpolated and updated
// automatically). A seek, a pause or a start flushes the server's queue and
// writes the new music just past the server's read position: it is heard as
// soon as the server can play it, and the position holds the target until
// the stream time reaches it.
#include "audio/Clock.h"
#include "audio/Feed.h"
#include "audio/Output.h"
#include "audio/Realtime.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <numeric>
#include <vector>

namespace music {

namespace {

constexpr int kBytesPerFrame = 4;
// What the stream asks the server to hold: short enough that a flush is
// heard at once, long enough to ride out a busy machine (the ring behind it
// holds another 250 ms).
constexpr int kTargetMs = 40;
constexpr int kRequestMs = 10;
// How far past the server's read position new music is written: a local
// server takes well under this to act on the flush before it.
constexpr int kMarginMs = 2;
// How much music follows a flush before a dry queue counts as a dropout.
constexpr int kSettleMs = 200;
// How long to wait for a server that does not answer.
constexpr pa_usec_t kConnectTimeoutUs = 2000000;
// How soon the write path looks again when the decoder has nothing yet.
constexpr pa_usec_t kRetryUs = 2000;
// How often the stream's timing is asked for on PipeWire's pulse server.
constexpr pa_usec_t kTimingUs = 20000;
// Over how long the cycles' origin is taken, from how many updates on, and
// how long after the stream's first update.
constexpr std::int64_t kTimingSettleNs = 200000000;
constexpr std::int64_t kOriginWindowNs = 1000000000;
constexpr std::size_t kLeastOrigins = 5;
// How much later than a cycle's start a timing update may come back on a
// busy machine.
constexpr double kOriginSlackNs = 8e6;
// Largest piece written at a time.
constexpr int kChunkFrames = 4096;

// One run of music written to the stream.
struct Segment {
    std::int64_t stream;  // stream frame of the first music frame
    std::int64_t music;
    std::int64_t frames;
};

class PulseOutput : public Output {
public:
    explicit PulseOutput(int rate) : rate_(rate), buffer_(static_cast<std::size_t>(kChunkFrames) * 2) {}

    ~PulseOutput() override
    {
        if (loop_)
            pa_threaded_mainloop_stop(loop_);
        if (retry_)
            api_->time_free(retry_);
        if (timing_)
            api_->time_free(timing_);
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_)
            pa_threaded_mainloop_free(loop_);
    }

    // Connects to the server and opens the stream; false with *error set.
    // With settle, on PipeWire's server it returns once the server's own
    // timing is known (some 300 ms), so that music handed over at once lands
    // where it is planned.
    bool Start(std::string* error, bool settle)
    {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) {
            *error = "cannot make a PulseAudio main loop";
            return false;
        }
        pa_threaded_mainloop_set_name(loop_, "music output");
        api_ = pa_threaded_mainloop_get_api(loop_);
        context_ = pa_context_new(api_, "showplayer");
        if (!context_) {
            *error = "cannot make a PulseAudio context";
            return false;
        }
        pa_context_set_state_callback(context_, &PulseOutput::Wake, this);
        // NOTE: no autospawn: the player uses a server that is there, it does
        // not start one.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0) {
            *error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        Locked lock(loop_);
        pa_time_event* deadline =
            pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeoutUs, &PulseOutput::TimedOut, this);
        bool ok = WaitConnected(error) && AskServer(error) && OpenStream(error);
        api_->time_free(deadline);
        if (ok && settle && onPipeWire_) {
            deadline = pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeoutUs, &PulseOutput::TimedOut, this);
            while (!timed_ && !timedOut_ && !dead_)
                pa_threaded_mainloop_wait(loop_);
            api_->time_free(deadline);
            timedOut_ = false;
        }
        return ok;
    }

    std::string Name() const override { return "pulse"; }

    // Start gave up on a server that took the connection and never answered.
    bool Unresponsive() const { return timedOut_; }

    void Attach(Feed* feed) override
    {
        Locked lock(loop_);
        feed_ = feed;
        end_ = feed ? feed->Length() : 0;
        playing_ = false;
        held_ = 0.0;
        Restart();
    }

    void Seek(std::int64_t frame) override
    {
        Locked lock(loop_);
        if (feed_) {
            frame = std::min(frame, end_);
            feed_->MoveTo(frame);
            end_ = feed_->Length();
        }
        held_ = static_cast<double>(std::max<std::int64_t>(frame, 0));
        heldNs_ = MonotonicNs();
        Restart();
    }

    std::int64_t Pause() override
    {
        Locked lock(loop_);
        const auto frame = static_cast<std::int64_t>(ReadLocked());
        held_ = static_cast<double>(frame);
        heldNs_ = MonotonicNs();
        playing_ = false;
        if (feed_)
            feed_->MoveTo(frame);
        Restart();
        return frame;
    }

    void Resume() override
    {
        Locked lock(loop_);
        if (playing_)
            return;
        playing_ = true;
        heldNs_ = MonotonicNs();
        Restart();
    }

    double Read() override
    {
        Locked lock(loop_);
        return ReadLocked();
    }

    int LatencyFrames() override
    {
        Locked lock(loop_);
        pa_usec_t latency = 0;
        int negative = 0;
        if (!stream_ || pa_stream_get_latency(stream_, &latency, &negative) < 0)
            return 0;
        return negative ? 0 : static_cast<int>(latency * rate_ / 1000000);
    }

    std::uint64_t Underruns() override
    {
        Locked lock(loop_);
        return (feed_ ? feed_->Underruns() : 0) + serverUnderruns_;
    }

    bool Lost(double* frame, std::int64_t* ns, std::string* why) override
    {
        Locked lock(loop_);
        if (!dead_)
            return false;
        *frame = held_;
        *ns = heldNs_;
        *why = "the PulseAudio server: " + deathReason_;
        return true;
    }

    bool Reconnects() const override { return true; }

private:
    // Holds the main loop's lock for a scope.
    struct Locked {
        explicit Locked(pa_threaded_mainloop* loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
        ~Locked() { pa_threaded_mainloop_unlock(loop); }
        pa_threaded_mainloop* loop;
    };

    static void Wake(pa_context* context, void* self)
    {
        auto* output = static_cast<PulseOutput*>(self);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            output->Die(pa_strerror(pa_context_errno(context)));
        pa_threaded_mainloop_signal(output->loop_, 0);
    }
    static void WakeStream(pa_stream* stream, void* self)
    {
        auto* output = static_cast<PulseOutput*>(self);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            output->Die(pa_strerror(pa_context_errno(output->context_)));
        pa_threaded_mainloop_signal(output->loop_, 0);
    }

    // Main loop thread: the connection or the stream is gone for good.
    void Die(const char* why)
    {
        if (ready_ && !dead_) {  // a failure while connecting is Start's to report
            dead_ = true;
            deathReason_ = why;
        }
    }
    static void TimedOut(pa_mainloop_api*, pa_time_event*, const timeval*, void* self)
    {
        auto* output = static_cast<PulseOutput*>(self);
        output->timedOut_ = true;
        pa_threaded_mainloop_signal(output->loop_, 0);
    }
    static void WriteRequested(pa_stream*, std::size_t bytes, void* self)
    {
        auto* output = static_cast<PulseOutput*>(self);
        if (!output->realtime_) {
            // The main loop's thread only copies and books: it may run first.
            RaiseToRealtime(kDevicePriority);
            output->realtime_ = true;
        }
        output->Write(bytes);
    }
    static void Retry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self)
    {
        auto* output = static_cast<PulseOutput*>(self);
        api->time_restart(event, nullptr);  // one shot until armed again
        output->retryArmed_ = false;
        if (output->stream_ && pa_stream_get_state(output->stream_) == PA_STREAM_READY)
            output->Write(pa_stream_writable_size(output->stream_));
    }
    static void UpdateTiming(pa_mainloop_api*, pa_time_event* event, const timeval*, void* self)
    {
        auto* output = static_cast<PulseOutput*>(self);
        if (output->stream_ && pa_stream_get_state(output->stream_) == PA_STREAM_READY)
            if (pa_operation* op = pa_stream_update_timing_info(output->stream_, &PulseOutput::Timed, output))
                pa_operation_unref(op);
        pa_context_rttime_restart(output->context_, event, pa_rtclock_now() + kTimingUs);
    }
    // A timing update came: where the server's read position says its
    // cycles start. The server takes a whole cycle's frames at the start of
    // each cycle, so a reading taken later in the cycle is late by up to a
    // quantum; the earliest origin over the last second is the cycles' own.
    static void Timed(pa_stream* stream, int success, void* self)
    {
        auto* output = static_cast<PulseOutput*>(self);
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        if (!success || !info || info->read_index_corrupt)
            return;
        const std::int64_t now = MonotonicNs();
        // The first cycles of a new stream move its read position unevenly.
        if (output->firstTimingNs_ < 0)
            output->firstTimingNs_ = now;
        if (now - output->firstTimingNs_ < kTimingSettleNs)
            return;
        const std::int64_t read = info->read_index / kBytesPerFrame;
        const double origin = static_cast<double>(now) - static_cast<double>(read) * 1e9 / output->rate_;
        auto& origins = output->origins_;
        while (!origins.empty() && origins.front().ns < now - kOriginWindowNs)
            origins.pop_front();
        // A read position that stood still (the server waited for music)
        // moves the cycles' origin later for good: the older figures go.
        if (!origins.empty() &&
            origin > output->origin_ + static_cast<double>(output->quantum_) * 1e9 / output->rate_ + kOriginSlackNs)
            origins.clear();
        origins.push_back({now, origin, read});
        output->origin_ = origin;
        output->quantum_ = 0;
        for (std::size_t i = 0; i < origins.size(); ++i) {
            output->origin_ = std::min(output->origin_, origins[i].origin);
            if (i > 0)
                output->quantum_ = std::gcd(output->quantum_, origins[i].read - origins[i - 1].read);
        }
        output->sinkFrames_ = static_cast<double>(info->sink_usec) * output->rate_ / 1e6;
        if (!output->timed_ && origins.size() >= kLeastOrigins) {
            output->timed_ = true;
            pa_threaded_mainloop_signal(output->loop_, 0);
        }
    }
    static void Underflow(pa_stream*, void* self)
    {
        auto* output = static_cast<PulseOutput*>(self);
        // The queue runs dry right after every flush, until the new music is
        // written, and the server says so a little later; only a dry queue
        // well into a run of music is a dropout.
        if (output->playing_ && output->epochStart_ >= 0 && !output->resync_ &&
            output->written_ - output->epochStart_ > output->Frames(kSettleMs))
            ++output->serverUnderruns_;
    }

    // With the lock held: waits until the context is ready or has failed.
    bool WaitConnected(std::string* error)
    {
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY)
                return true;
            if (!PA_CONTEXT_IS_GOOD(state) || timedOut_) {
                *error = timedOut_ ? "the PulseAudio server does not answer" : pa_strerror(pa_context_errno(context_));
                return false;
            }
            pa_threaded_mainloop_wait(loop_);
        }
    }

    // With the lock held: which server this is (PipeWire's pulse server
    // needs its timing asked for often).
    bool AskServer(std::string* error)
    {
        pa_operation* op = pa_context_get_server_info(
            context_,
            [](pa_context*, const pa_server_info* info, void* self) {
                auto* output = static_cast<PulseOutput*>(self);
                output->onPipeWire_ = info && info->server_name && std::strstr(info->server_name, "PipeWire");
                pa_threaded_mainloop_signal(output->loop_, 0);
            },
            this);
        while (op && pa_operation_get_state(op) == PA_OPERATION_RUNNING && !timedOut_ &&
               PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
            pa_threaded_mainloop_wait(loop_);
        const bool done = op && pa_operation_get_state(op) == PA_OPERATION_DONE;
        if (op)
            pa_operation_unref(op);
        if (!done)
            *error = timedOut_ ? "the PulseAudio server does not answer" : pa_strerror(pa_context_errno(context_));
        return done;
    }

    bool OpenStream(std::string* error)
    {
        const pa_sample_spec spec{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(rate_), 2};
        stream_ = pa_stream_new(context_, "music", &spec, nullptr);
        if (!stream_) {
            *error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        pa_stream_set_state_callback(stream_, &PulseOutput::WakeStream, this);
        pa_stream_set_write_callback(stream_, &PulseOutput::WriteRequested, this);
        pa_stream_set_underflow_callback(stream_, &PulseOutput::Underflow, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(Frames(kTargetMs) * kBytesPerFrame);
        // NOTE: no prebuffering: the stream never stops on its own, so the
        // server's clock runs on through gaps and the booked positions stay
        // true; music written late is cut at the read position, not delayed.
        attr.prebuf = 0;
        attr.minreq = static_cast<std::uint32_t>(Frames(kRequestMs) * kBytesPerFrame);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
            *error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(state) || timedOut_) {
                *error = timedOut_ ? "the PulseAudio server does not answer" : pa_strerror(pa_context_errno(context_));
                return false;
            }
            pa_threaded_mainloop_wait(loop_);
        }
        retry_ = pa_context_rttime_new(context_, PA_USEC_INVALID, &PulseOutput::Retry, this);
        // PipeWire's pulse server: libpulse's clock between its own timing
        // updates (every 1.5 s at most) runs a per cent or two slow and then
        // jumps, by tens of ms at an ordinary quantum; asked often, the
        // server's figure keeps it true.
        if (onPipeWire_)
            timing_ = pa_context_rttime_new(context_, pa_rtclock_now() + kTimingUs, &PulseOutput::UpdateTiming, this);
        ready_ = true;
        return true;
    }

    std::int64_t Frames(int ms) const { return static_cast<std::int64_t>(ms) * rate_ / 1000; }

    // With the lock held: the stream time the server plays now, in frames.
    bool StreamNow(double* frames)
    {
        if (timed_) {
            // The server reads a cycle ahead of the one its sink plays.
            *frames = (static_cast<double>(MonotonicNs()) - origin_) * rate_ / 1e9 - sinkFrames_ -
                      static_cast<double>(quantum_);
            return true;
        }
        // Until then libpulse's figure would be tens of ms off: nothing yet
        // (the position holds).
        if (onPipeWire_)
            return false;
        pa_usec_t usec = 0;
        if (!stream_ || pa_stream_get_time(stream_, &usec) < 0)
            return false;
        *frames = static_cast<double>(usec) * rate_ / 1e6;
        return true;
    }

    // With the lock held: drops what the server still holds and starts a new
    // run of writes (a seek, a pause, a start).
    void Restart()
    {
        epochStart_ = -1;
        resync_ = true;
        segments_.clear();
        if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
            if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr))
                pa_operation_unref(op);
            Write(pa_stream_writable_size(stream_));
        }
    }

    // With the lock held: where the next write lands when a new run begins,
    // just past what the server has already taken from the stream.
    std::int64_t ResyncPosition()
    {
        double now = 0.0;
        if (!StreamNow(&now))
            return written_;
        const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
        double sink = timing ? static_cast<double>(timing->sink_usec) * rate_ / 1e6 : 0.0;
        // On PipeWire's server the read position is a cycle ahead of the
        // sink, and its own delay is part of the stream time already.
        if (timed_)
            sink = static_cast<double>(quantum_) + sinkFrames_;
        return static_cast<std::int64_t>(std::ceil(now + sink)) + Frames(kMarginMs);
    }

    void ArmRetry()
    {
        if (retryArmed_ || !retry_)
            return;
        retryArmed_ = true;
        pa_context_rttime_restart(context_, retry_, pa_rtclock_now() + kRetryUs);
    }

    // The write path (main loop thread, lock held): copies what the server
    // asks for from the ring, or silence while the music is held.
    void Write(std::size_t bytes)
    {
        std::int64_t wanted = static_cast<std::int64_t>(bytes / kBytesPerFrame);
        while (wanted > 0) {
            const int frames = static_cast<int>(std::min<std::int64_t>(wanted, kChunkFrames));
            std::int64_t count = frames;
            if (playing_ && feed_ && !feed_->Ended()) {
                const Pulled pulled = feed_->Pull(buffer_.data(), frames);
                if (pulled.count == 0 && !pulled.ended) {
                    // Nothing yet: write nothing, so that the music is heard
                    // the moment it comes (the server plays silence meanwhile).
                    resync_ = true;
                    ArmRetry();
                    return;
                }
                if (pulled.count > 0) {
                    if (resync_) {
                        written_ = std::max(written_, ResyncPosition());
                        resync_ = false;
                    }
                    if (epochStart_ < 0)
                        epochStart_ = written_;
                    Book(written_, pulled.start, pulled.count);
                }
                if (pulled.ended)
                    end_ = std::min(end_, pulled.end);
                else
                    count = pulled.count;  // a dry ring: write the music only, and look again soon
                if (count < frames)
                    ArmRetry();
            } else {
                std::fill(buffer_.begin(), buffer_.begin() + frames * 2, 0);
                if (resync_) {
                    written_ = std::max(written_, ResyncPosition());
                    resync_ = false;
                }
            }
            pa_stream_write(stream_, buffer_.data(), static_cast<std::size_t>(count) * kBytesPerFrame, nullptr,
                            written_ * kBytesPerFrame, PA_SEEK_ABSOLUTE);
            written_ += count;
            wanted -= count;
            if (count < frames)
                return;
        }
    }

    void Book(std::int64_t stream, std::int64_t music, std::int64_t frames)
    {
        if (!segments_.empty()) {
            Segment& last = segments_.back();
            if (last.stream + last.frames == stream && last.music + last.frames == music) {
                last.frames += frames;
                return;
            }
        }
        segments_.push_back({stream, music, frames});
    }

    // With the lock held: the music frame heard now.
    double ReadLocked()
    {
        double now = 0.0;
        if (playing_ && epochStart_ >= 0 && StreamNow(&now) && now >= static_cast<double>(epochStart_)) {
            // The last run that began at or before the stream time played now;
            // the runs before it are heard and gone.
            auto it = segments_.end();
            while (it != segments_.begin() && static_cast<double>((it - 1)->stream) > now)
                --it;
            if (it != segments_.begin()) {
                const Segment& seg = *(it - 1);
                const double into = std::min(now - static_cast<double>(seg.stream), static_cast<double>(seg.frames));
                held_ = std::max(held_, static_cast<double>(seg.music) + into);
                heldNs_ = MonotonicNs();
                segments_.erase(segments_.begin(), it - 1);
            }
        }
        held_ = std::min(held_, static_cast<double>(end_));
        return held_;
    }

    const int rate_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* retry_ = nullptr;
    pa_time_event* timing_ = nullptr;  // frequent timing updates (PipeWire's server)
    struct Origin {
        std::int64_t ns;  // when the update came
        double origin;    // the ns at which the read position was 0, as it says
        std::int64_t read;
    };
    std::deque<Origin> origins_;  // the updates of the last second
    double origin_ = 0.0;         // the earliest of them: the cycles' own
    bool timed_ = false;          // origin_ holds from here on
    std::int64_t firstTimingNs_ = -1;
    std::int64_t quantum_ = 0;    // what the read position moves by, cycle by cycle
    double sinkFrames_ = 0.0;
    bool retryArmed_ = false;
    bool timedOut_ = false;
    bool realtime_ = false;  // the main loop's thread asked for it
    bool ready_ = false;  // connected, with the stream playing
    bool onPipeWire_ = false;  // the server is PipeWire's pulse server
    bool dead_ = false;
    std::string deathReason_;

    // Under the main loop's lock.
    Feed* feed_ = nullptr;
    bool playing_ = false;
    double held_ = 0.0;
    std::int64_t heldNs_ = 0;  // when held_ was last heard (or the music started)
    std::int64_t end_ = 0;
    std::int64_t written_ = 0;       // stream frame of the next write
    std::int64_t epochStart_ = -1;   // stream frame of the first music since the last restart
    bool resync_ = true;             // the next write starts a new run
    std::deque<Segment> segments_;
    std::vector<std::int16_t> buffer_;
    std::uint64_t serverUnderruns_ = 0;
};

}  // namespace

std::unique_ptr<Output> OpenPulseOutput(int rate, std::string* error, bool* unresponsive, bool settle)
{
    auto output = std::make_unique<PulseOutput>(rate);
    if (!output->Start(error, settle)) {
        if (unresponsive)
            *unresponsive = output->Unresponsive();
        return nullptr;
    }
    return output;
}

}  // namespace music

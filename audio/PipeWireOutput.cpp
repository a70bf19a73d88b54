// PipeWire output: a pw_stream on the daemon's graph, filled in its real-time
// process callback from the feed's ring, with a clock from the graph's own
// timing.
//
// Each buffer handed to the stream is booked with the CLOCK_MONOTONIC moment
// its first frame reaches the device: the moment of the graph cycle that asks
// for it, plus the graph's delay to the device, what the stream still holds
// queued and what its converter holds (pw_stream_get_time_n). The heard
// position is then the music frame booked for the moment of the call. A seek,
// a pause or a start flushes what the stream holds, and the position holds
// the target until the first buffer of the new music is due at the device.
#include "audio/Clock.h"
#include "audio/Feed.h"
#include "audio/Output.h"
#include "audio/Realtime.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace music {

namespace {

constexpr int kBytesPerFrame = 4;
// The graph quantum the stream asks for: 11.6 ms at 44.1 kHz, so that a seek
// is heard within two of them; the daemon may run a larger one when other
// clients ask for it, and the clock follows either way.
constexpr int kLatencyFrames = 512;
// How long to wait for a daemon that does not answer.
constexpr int kConnectTimeoutMs = 2000;
// How much music follows a flush before a dry ring counts as a dropout.
constexpr int kSettleMs = 200;

// One buffer handed to the stream: `frames` of music from `music`, its first
// frame at the device at CLOCK_MONOTONIC `ns`.
struct Booked {
    std::int64_t ns;
    std::int64_t music;
    int frames;
};

class PipeWireOutput : public Output {
public:
    explicit PipeWireOutput(int rate) : rate_(rate) {}

    ~PipeWireOutput() override
    {
        if (loop_)
            pw_thread_loop_stop(loop_);
        if (stream_) {
            spa_hook_remove(&streamListener_);
            pw_stream_destroy(stream_);
        }
        if (core_) {
            spa_hook_remove(&coreListener_);
            pw_core_disconnect(core_);
        }
        if (context_)
            pw_context_destroy(context_);
        if (loop_)
            pw_thread_loop_destroy(loop_);
    }

    // Connects to the daemon and starts the stream; false with *error set.
    bool Start(std::string* error)
    {
        pw_init(nullptr, nullptr);
        loop_ = pw_thread_loop_new("music output", nullptr);
        if (!loop_) {
            *error = "cannot make a PipeWire loop";
            return false;
        }
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
        if (!context_ || pw_thread_loop_start(loop_) < 0) {
            *error = "cannot make a PipeWire context";
            return false;
        }
        Locked lock(loop_);
        core_ = pw_context_connect(context_, nullptr, 0);
        if (!core_) {
            *error = std::string("the PipeWire daemon: ") + std::strerror(errno);
            return false;
        }
        static const pw_core_events coreEvents = [] {
            pw_core_events events{};
            events.version = PW_VERSION_CORE_EVENTS;
            events.error = &PipeWireOutput::CoreError;
            return events;
        }();
        pw_core_add_listener(core_, &coreListener_, &coreEvents, this);

        pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                                                 PW_KEY_MEDIA_ROLE, "Music", PW_KEY_APP_NAME, "showplayer",
                                                 PW_KEY_NODE_NAME, "showplayer", nullptr);
        pw_properties_setf(props, PW_KEY_NODE_LATENCY, "%d/%d", kLatencyFrames, rate_);
        pw_properties_setf(props, PW_KEY_NODE_RATE, "1/%d", rate_);
        stream_ = pw_stream_new(core_, "music", props);
        if (!stream_) {
            *error = "cannot make a PipeWire stream";
            return false;
        }
        static const pw_stream_events streamEvents = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = &PipeWireOutput::StateChanged;
            events.process = &PipeWireOutput::Process;
            return events;
        }();
        pw_stream_add_listener(stream_, &streamListener_, &streamEvents, this);

        std::uint8_t pod[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(pod, sizeof pod);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_S16;
        info.rate = static_cast<std::uint32_t>(rate_);
        info.channels = 2;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                        PW_STREAM_FLAG_RT_PROCESS);
        if (pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
            *error = "cannot connect a PipeWire stream";
            return false;
        }
        // Ready once the graph runs the stream (the session manager has
        // linked it to a sink): music handed over from then on is heard at
        // once. A daemon that never gets there is given up.
        timespec deadline;
        pw_thread_loop_get_time(loop_, &deadline, static_cast<std::int64_t>(kConnectTimeoutMs) * 1000000);
        for (;;) {
            const char* why = nullptr;
            const pw_stream_state state = pw_stream_get_state(stream_, &why);
            if (state == PW_STREAM_STATE_STREAMING)
                break;
            if (state == PW_STREAM_STATE_ERROR || failed_) {
                *error = "the PipeWire daemon: " + (failure_.empty() ? std::string(why ? why : "stream error") : failure_);
                return false;
            }
            if (pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) {
                *error = "the PipeWire daemon does not answer";
                return false;
            }
        }
        std::lock_guard<PriorityMutex> guard(lock_);
        ready_ = true;
        return true;
    }

    std::string Name() const override { return "pipewire"; }

    void Attach(Feed* feed) override
    {
        Flush();
        std::lock_guard<PriorityMutex> guard(lock_);
        feed_ = feed;
        end_ = feed ? feed->Length() : 0;
        playing_ = false;
        held_ = 0.0;
        RestartLocked();
    }

    void Seek(std::int64_t frame) override
    {
        Flush();
        std::lock_guard<PriorityMutex> guard(lock_);
        if (feed_) {
            frame = std::min(frame, end_);
            feed_->MoveTo(frame);
            end_ = feed_->Length();
        }
        held_ = static_cast<double>(std::max<std::int64_t>(frame, 0));
        heldNs_ = MonotonicNs();
        RestartLocked();
    }

    std::int64_t Pause() override
    {
        const std::int64_t now = MonotonicNs();
        Flush();
        std::lock_guard<PriorityMutex> guard(lock_);
        const auto frame = static_cast<std::int64_t>(ReadLocked(now));
        held_ = static_cast<double>(frame);
        playing_ = false;
        if (feed_)
            feed_->MoveTo(frame);
        RestartLocked();
        return frame;
    }

    void Resume() override
    {
        {
            std::lock_guard<PriorityMutex> guard(lock_);
            if (playing_)
                return;
        }
        Flush();
        std::lock_guard<PriorityMutex> guard(lock_);
        playing_ = true;
        heldNs_ = MonotonicNs();
        RestartLocked();
    }

    double Read() override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        return ReadLocked(MonotonicNs());
    }

    int LatencyFrames() override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        return latency_;
    }

    std::uint64_t Underruns() override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        return (feed_ ? feed_->Underruns() : 0) + dry_;
    }

    bool Lost(double* frame, std::int64_t* ns, std::string* why) override
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        if (!dead_)
            return false;
        // What was due at the device up to the moment the daemon went.
        *frame = ReadLocked(deathNs_);
        *ns = std::max(heldNs_, deathNs_);
        *why = "the PipeWire daemon: " + failure_;
        return true;
    }

    bool Reconnects() const override { return true; }

private:
    struct Locked {
        explicit Locked(pw_thread_loop* loop) : loop(loop) { pw_thread_loop_lock(loop); }
        ~Locked() { pw_thread_loop_unlock(loop); }
        pw_thread_loop* loop;
    };

    // The loop's thread: the connection is gone (the daemon quit or died).
    static void CoreError(void* self, std::uint32_t id, int, int res, const char* message)
    {
        auto* output = static_cast<PipeWireOutput*>(self);
        if (id == PW_ID_CORE && res == -EPIPE)
            output->Fail(message && *message ? message : "connection closed");
    }
    static void StateChanged(void* self, pw_stream_state, pw_stream_state state, const char* error)
    {
        auto* output = static_cast<PipeWireOutput*>(self);
        if (state == PW_STREAM_STATE_ERROR)
            output->Fail(error && *error ? error : "stream error");
        else if (state == PW_STREAM_STATE_UNCONNECTED)
            output->Fail("stream disconnected");
        pw_thread_loop_signal(output->loop_, false);
    }
    void Fail(const std::string& why)
    {
        std::lock_guard<PriorityMutex> guard(lock_);
        if (!failed_)
            failure_ = why;
        failed_ = true;
        if (ready_ && !dead_) {  // a failure while connecting is Start's to report
            dead_ = true;
            deathNs_ = MonotonicNs();
        }
        pw_thread_loop_signal(loop_, false);
    }

    static void Process(void* self) { static_cast<PipeWireOutput*>(self)->Process(); }

    // The graph's real-time thread, once a cycle: the next buffer.
    void Process()
    {
        if (!realtime_) {
            RaiseToRealtime(kDevicePriority);
            realtime_ = true;
        }
        pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
        if (!buffer)
            return;
        spa_data& data = buffer->buffer->datas[0];
        if (!data.data) {
            pw_stream_queue_buffer(stream_, buffer);
            return;
        }
        int frames = static_cast<int>(data.maxsize / kBytesPerFrame);
        if (buffer->requested)
            frames = std::min<int>(frames, static_cast<int>(buffer->requested));
        auto* samples = static_cast<std::int16_t*>(data.data);

        // When the first frame of this buffer reaches the device.
        pw_time time{};
        const bool timed = pw_stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom > 0 &&
                           time.now > 0;
        std::int64_t dueNs = 0;
        int latency = 0;
        if (timed) {
            const double graph = static_cast<double>(time.delay) * time.rate.num / time.rate.denom;
            const double stream = static_cast<double>(time.queued + time.buffered) / rate_;
            dueNs = time.now + static_cast<std::int64_t>((graph + stream) * 1e9);
            latency = static_cast<int>((graph + stream) * rate_);
        }
        {
            std::lock_guard<PriorityMutex> guard(lock_);
            latency_ = latency;
            Pulled pulled;
            if (playing_ && feed_ && !feed_->Ended()) {
                pulled = feed_->Pull(samples, frames);
                if (pulled.count > 0) {
                    if (timed)
                        Book(dueNs, pulled.start, pulled.count);
                    if (settled_ < 0)
                        settled_ = dueNs + static_cast<std::int64_t>(kSettleMs) * 1000000;
                } else if (!pulled.ended && settled_ >= 0 && dueNs > settled_) {
                    ++dry_;  // the ring ran dry well into a run of music
                }
                if (pulled.ended)
                    end_ = std::min(end_, pulled.end);
            } else {
                std::memset(samples, 0, static_cast<std::size_t>(frames) * kBytesPerFrame);
            }
        }
        data.chunk->offset = 0;
        data.chunk->stride = kBytesPerFrame;
        data.chunk->size = static_cast<std::uint32_t>(frames * kBytesPerFrame);
        // The stream reports what it still holds in these units: frames.
        buffer->size = static_cast<std::uint64_t>(frames);
        pw_stream_queue_buffer(stream_, buffer);
    }

    void Book(std::int64_t ns, std::int64_t music, int frames)
    {
        if (!booked_.empty()) {
            Booked& last = booked_.back();
            // A later cycle's figure for the next frames: the same run when it
            // agrees within a frame, so that the clock does not wobble.
            const std::int64_t next = last.ns + static_cast<std::int64_t>(last.frames) * 1000000000 / rate_;
            if (last.music + last.frames == music && std::llabs(ns - next) < 1000000000LL / rate_) {
                last.frames += frames;
                return;
            }
        }
        booked_.push_back({ns, music, frames});
    }

    // With lock_ held: the music frame at the device at CLOCK_MONOTONIC ns.
    double ReadLocked(std::int64_t ns)
    {
        if (playing_) {
            auto it = booked_.end();
            while (it != booked_.begin() && (it - 1)->ns > ns)
                --it;
            if (it != booked_.begin()) {
                const Booked& run = *(it - 1);
                const double into = std::min(static_cast<double>(ns - run.ns) * rate_ / 1e9,
                                             static_cast<double>(run.frames));
                held_ = std::max(held_, static_cast<double>(run.music) + into);
                heldNs_ = ns;
                booked_.erase(booked_.begin(), it - 1);
            }
        }
        held_ = std::min(held_, static_cast<double>(end_));
        return held_;
    }

    // Drops what the stream still holds (a seek, a pause, a start), before
    // the new run is set up: a cycle in between still books its music with
    // the flushed queue behind it. Without lock_, which the flush would wait
    // on through the process thread.
    void Flush()
    {
        Locked lock(loop_);
        if (stream_)
            pw_stream_flush(stream_, false);
    }

    // With lock_ held: the next cycle starts a new run.
    void RestartLocked()
    {
        booked_.clear();
        settled_ = -1;
    }

    const int rate_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook coreListener_{};
    spa_hook streamListener_{};
    bool realtime_ = false;  // the process thread asked for it

    // Shared by the main thread, the loop's thread and the process thread;
    // the process thread holds it only to copy and book. It inherits
    // priority, so that the script's busy thread cannot hold up a cycle.
    PriorityMutex lock_;
    bool ready_ = false;
    bool failed_ = false;
    bool dead_ = false;
    std::string failure_;
    std::int64_t deathNs_ = 0;
    Feed* feed_ = nullptr;
    bool playing_ = false;
    double held_ = 0.0;
    std::int64_t heldNs_ = 0;
    std::int64_t end_ = 0;
    std::int64_t settled_ = -1;  // after this moment a dry ring is a dropout
    std::uint64_t dry_ = 0;
    int latency_ = 0;
    std::deque<Booked> booked_;
};

}  // namespace

bool PipeWireAnswers()
{
    // The daemon's socket: PIPEWIRE_REMOTE (a name or a path), in the runtime
    // folder the library looks in.
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    std::string path = remote && *remote ? remote : "pipewire-0";
    if (path[0] != '/') {
        const char* folder = std::getenv("PIPEWIRE_RUNTIME_DIR");
        if (!(folder && *folder))
            folder = std::getenv("XDG_RUNTIME_DIR");
        if (!(folder && *folder))
            return false;
        path = std::string(folder) + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answers = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

std::unique_ptr<Output> OpenPipeWireOutput(int rate, std::string* error)
{
    auto output = std::make_unique<PipeWireOutput>(rate);
    if (!output->Start(error))
        return nullptr;
    return output;
}

}  // namespace music

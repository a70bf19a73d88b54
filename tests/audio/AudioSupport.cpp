// Helpers for the music tests: the decode, the private PulseAudio server, its recorder and the sync probe.
#include "tests/audio/AudioSupport.h"

#include "audio/Realtime.h"

#include <mpg123.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace audio_test {

std::vector<std::int16_t> DecodeWhole(const std::string& path)
{
    mpg123_init();
    int error = 0, channels = 0, encoding = 0;
    long rate = 0;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    mpg123_param(handle, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    std::vector<std::int16_t> pcm;
    if (mpg123_open(handle, path.c_str()) == MPG123_OK && mpg123_getformat(handle, &rate, &channels, &encoding) == 0) {
        mpg123_format_none(handle);
        mpg123_format(handle, rate, channels, MPG123_ENC_SIGNED_16);
        std::vector<std::int16_t> buffer(1 << 15);
        for (int result = MPG123_OK; result == MPG123_OK || result == MPG123_NEW_FORMAT;) {
            std::size_t done = 0;
            result = mpg123_read(handle, reinterpret_cast<unsigned char*>(buffer.data()), buffer.size() * 2, &done);
            pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + static_cast<long>(done / 2));
        }
    }
    mpg123_delete(handle);
    return pcm;
}

PulseServer::PulseServer()
{
    char folder[] = "/tmp/showplayer-pulse-XXXXXX";
    if (!mkdtemp(folder))
        return;
    folder_ = folder;
    Start();
}

PulseServer::~PulseServer()
{
    Kill(SIGTERM);
    if (!folder_.empty())
        std::system(("rm -rf '" + folder_ + "'").c_str());
}

bool PulseServer::Start()
{
    const std::string socket = folder_ + "/native";
    unlink(socket.c_str());
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // All it keeps goes into the folder; as root it runs as a per-user daemon all the same.
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME"})
            setenv(name, folder_.c_str(), 1);
        unsetenv("PULSE_SERVER");
        freopen((folder_ + "/daemon.log").c_str(), "a", stderr);
        freopen("/dev/null", "w", stdout);
        const std::string native = "module-native-protocol-unix socket=" + socket + " auth-anonymous=1";
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
               "--use-pid-file=no", "--disable-shm=no", "--load=module-null-sink sink_name=show",
               ("--load=" + native).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string ask = "pactl -s '" + Address() + "' info >/dev/null 2>&1";
    if (WaitFor([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_ || std::system(ask.c_str()) == 0; }, 10000) &&
        std::system(ask.c_str()) == 0)
        return true;
    pid_ = -1;
    return false;
}

void PulseServer::Kill(int signal)
{
    if (pid_ > 0 && kill(pid_, signal) == 0)
        waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string PulseServer::Log() const
{
    std::stringstream text;
    text << std::ifstream(folder_ + "/daemon.log").rdbuf();
    return text.str();
}

namespace {

// The daemon's graph: the null sink as the only driver, at 44.1 kHz (no resampling: clicks come back
// bit-exact), with quantum frames a cycle and no device modules.
const char* const kPipeWireConf = R"(context.properties = {
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
    default.clock.quantum = QUANTUM
    default.clock.min-quantum = QUANTUM
    default.clock.max-quantum = QUANTUM
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = adapter args = {
        factory.name = support.null-audio-sink
        node.name = show
        media.class = Audio/Sink
        audio.position = [ FL FR ]
        object.linger = true
        priority.driver = 30000
        priority.session = 30000
    } }
]
)";

const char* const kPulseConf = R"(context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse }
]
pulse.properties = {
    server.address = [ "unix:FOLDER/pulse" ]
    pulse.min.quantum = 128/44100
    pulse.min.req = 128/44100
    pulse.min.frag = 128/44100
}
)";

std::string Replace(std::string text, const std::string& what, const std::string& with)
{
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

}  // namespace

PipeWireStack::PipeWireStack(int quantum) : quantum_(quantum)
{
    char folder[] = "/tmp/showplayer-pipewire-XXXXXX";
    if (!mkdtemp(folder))
        return;
    folder_ = folder;
    const std::string conf = folder_ + "/conf", wp = folder_ + "/wireplumber";
    for (const char* sub : {"/run", "/conf", "/config", "/state", "/data", "/home"})
        mkdir((folder_ + sub).c_str(), 0700);
    std::ofstream(conf + "/pipewire.conf") << Replace(kPipeWireConf, "QUANTUM", std::to_string(quantum));
    std::ofstream(conf + "/pipewire-pulse.conf") << Replace(kPulseConf, "FOLDER", folder_);
    // The session manager's own configuration, less the device monitors (ALSA, V4L2, libcamera, Bluetooth).
    const std::string copy = "cp /usr/share/pipewire/client.conf '" + conf + "/' && cp -r /usr/share/wireplumber '" +
                             wp + "' && sed -i -e '/^alsa_monitor.enable/d' -e '/^v4l2_monitor.enable/d' " +
                             "-e '/^libcamera_monitor.enable/d' '" + wp + "/main.lua.d/90-enable-all.lua' && " +
                             "rm -rf '" + wp + "/bluetooth.lua.d' && sed -i '/bluetooth.lua/d' '" + wp +
                             "/wireplumber.conf'";
    if (std::system(copy.c_str()) != 0)
        return;
    bus_ = Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + folder_ + "/bus"},
                 "bus.log");
    if (!WaitFor([&] { return access((folder_ + "/bus").c_str(), F_OK) == 0; }, 5000))
        return;
    StartAll();
}

PipeWireStack::~PipeWireStack()
{
    End(pulse_, SIGTERM);
    End(session_, SIGTERM);
    End(daemon_, SIGTERM);
    End(bus_, SIGTERM);
    if (!folder_.empty())
        std::system(("rm -rf '" + folder_ + "'").c_str());
}

pid_t PipeWireStack::Spawn(const std::vector<std::string>& argv, const std::string& log) const
{
    // The child's freopen would write out what this process still buffers.
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_RUNTIME_DIR", (folder_ + "/run").c_str(), 1);
        setenv("PIPEWIRE_RUNTIME_DIR", (folder_ + "/run").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (folder_ + "/config").c_str(), 1);
        setenv("XDG_STATE_HOME", (folder_ + "/state").c_str(), 1);
        setenv("XDG_DATA_HOME", (folder_ + "/data").c_str(), 1);
        setenv("HOME", (folder_ + "/home").c_str(), 1);
        setenv("PIPEWIRE_CONFIG_DIR", (folder_ + "/conf").c_str(), 1);
        setenv("WIREPLUMBER_CONFIG_DIR", (folder_ + "/wireplumber").c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + folder_ + "/bus").c_str(), 1);
        for (const char* name : {"PULSE_SERVER", "PIPEWIRE_REMOTE", "SDL_AUDIODRIVER"})
            unsetenv(name);
        freopen((folder_ + "/" + log).c_str(), "a", stderr);
        freopen("/dev/null", "w", stdout);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void PipeWireStack::End(pid_t& pid, int signal) const
{
    if (pid > 0 && kill(pid, signal) == 0)
        waitpid(pid, nullptr, 0);
    pid = -1;
}

void PipeWireStack::Export() const
{
    setenv("XDG_RUNTIME_DIR", (folder_ + "/run").c_str(), 1);
    setenv("PIPEWIRE_RUNTIME_DIR", (folder_ + "/run").c_str(), 1);
    setenv("PIPEWIRE_CONFIG_DIR", (folder_ + "/conf").c_str(), 1);
    for (const char* name : {"PULSE_SERVER", "PIPEWIRE_REMOTE", "SDL_AUDIODRIVER"})
        unsetenv(name);
}

bool PipeWireStack::StartAll()
{
    const std::string socket = folder_ + "/run/pipewire-0";
    daemon_ = Spawn({"pipewire"}, "pipewire.log");
    const auto exited = [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid; };
    const std::string listens = "test -S '" + socket + "'";
    if (!WaitFor([&] { return exited(daemon_) || std::system(listens.c_str()) == 0; }, 10000) ||
        std::system(listens.c_str()) != 0) {
        daemon_ = -1;
        return false;
    }
    session_ = Spawn({"wireplumber"}, "wireplumber.log");
    // The session manager links streams to the sink: up once it has chosen the sink as the default.
    const std::string chosen = "env PIPEWIRE_RUNTIME_DIR='" + folder_ + "/run' PIPEWIRE_CONFIG_DIR='" + folder_ +
                               "/conf' timeout 5 pw-metadata -n default 2>/dev/null | grep -q default.audio.sink";
    if (!WaitFor([&] { return exited(session_) || std::system(chosen.c_str()) == 0; }, 10000) ||
        std::system(chosen.c_str()) != 0) {
        session_ = -1;
        return false;
    }
    return StartPulse();
}

void PipeWireStack::KillAll()
{
    End(daemon_, SIGKILL);
    End(session_, SIGKILL);
    End(pulse_, SIGKILL);
    unlink((folder_ + "/run/pipewire-0").c_str());
    unlink((folder_ + "/run/pipewire-0.lock").c_str());
}

bool PipeWireStack::StartPulse()
{
    unlink((folder_ + "/pulse").c_str());
    pulse_ = Spawn({"pipewire-pulse"}, "pipewire-pulse.log");
    const std::string ask = "pactl -s '" + PulseAddress() + "' info >/dev/null 2>&1";
    if (WaitFor([&] { return waitpid(pulse_, nullptr, WNOHANG) == pulse_ || std::system(ask.c_str()) == 0; }, 10000) &&
        std::system(ask.c_str()) == 0)
        return true;
    pulse_ = -1;
    return false;
}

void PipeWireStack::KillPulse() { End(pulse_, SIGKILL); }

std::string PipeWireStack::Log() const
{
    std::stringstream text;
    for (const char* log : {"bus.log", "pipewire.log", "wireplumber.log", "pipewire-pulse.log"})
        text << "== " << log << "\n" << std::ifstream(folder_ + "/" + log).rdbuf();
    return text.str();
}

void Recorder::Read(pa_stream* stream, std::size_t, void* self)
{
    auto* r = static_cast<Recorder*>(self);
    if (!r->realtime_) {
        // Beside busy processes a late reader stamps its reads late, and libpulse's timing, from round trips, is
        // off by the wait: the heard line would move.
        music::RaiseToRealtime(music::kDevicePriority);
        r->realtime_ = true;
    }
    const void* data = nullptr;
    std::size_t bytes = 0;
    std::lock_guard<std::mutex> guard(r->lock_);
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        const auto* samples = static_cast<const std::int16_t*>(data);
        if (data)
            r->samples_.insert(r->samples_.end(), samples, samples + bytes / 2);
        else
            r->samples_.insert(r->samples_.end(), bytes / 2, 0);  // a hole
        pa_stream_drop(stream);
    }
    pa_usec_t usec = 0;
    if (pa_stream_get_time(stream, &usec) == 0)
        r->stamps_.emplace_back(NowNs(), usec * 1e-6 * kRate);
}

namespace {

// A 16-bit stereo stream on the graph, on a thread loop of its own, its process callback on the graph's
// real-time thread.
struct GraphStream {
    pw_thread_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    bool realtime = false;  // the process thread asked for it

    // Starts the loop and connects the stream to the sink "show"; false when that fails.
    bool Connect(const char* name, pw_properties* props, pw_direction direction, const pw_stream_events* events,
                 void* self)
    {
        pw_init(nullptr, nullptr);
        loop = pw_thread_loop_new(name, nullptr);
        pw_thread_loop_lock(loop);
        pw_thread_loop_start(loop);
        stream = pw_stream_new_simple(pw_thread_loop_get_loop(loop), name, props, events, self);
        std::uint8_t pod[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(pod, sizeof pod);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_S16;
        info.rate = Recorder::kRate;
        info.channels = 2;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        const bool connected =
            stream && pw_stream_connect(stream, direction, PW_ID_ANY,
                                        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                                     PW_STREAM_FLAG_MAP_BUFFERS |
                                                                     PW_STREAM_FLAG_RT_PROCESS),
                                        params, 1) == 0;
        pw_thread_loop_unlock(loop);
        return connected;
    }
    // The stream goes first, while its process callback can still reach its owner.
    void Close()
    {
        if (loop)
            pw_thread_loop_stop(loop);
        if (stream)
            pw_stream_destroy(stream);
        stream = nullptr;
    }
    ~GraphStream()
    {
        Close();
        if (loop)
            pw_thread_loop_destroy(loop);
    }
};

}  // namespace

// The capture stream on the PipeWire graph.
struct Recorder::Graph : GraphStream {
    long long origin = 0;  // when the first frame recorded was heard
};

void Recorder::StartGraphCapture()
{
    graph_ = std::make_unique<Graph>();
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_TARGET_OBJECT, "show",
                                             PW_KEY_NODE_NAME, "monitor recorder", nullptr);
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = [](void* self) { static_cast<Recorder*>(self)->Capture(); };
        return e;
    }();
    ready_ = graph_->Connect("monitor recorder", props, PW_DIRECTION_INPUT, &events, this);
    // Ready once the cycles bring data.
    ready_ = ready_ && WaitFor([&] {
        std::lock_guard<std::mutex> guard(lock_);
        return stamps_.size() > 20;
    }, 5000);
}

void Recorder::Capture()
{
    if (!graph_->realtime) {
        // Beside CPU hogs a recorder that misses cycles would count them as dropouts.
        music::RaiseToRealtime(music::kDevicePriority);
        graph_->realtime = true;
    }
    // A callback that came late finds the cycles it missed queued, oldest first.
    std::vector<pw_buffer*> buffers;
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(graph_->stream))
        buffers.push_back(buffer);
    pw_time time{};
    pw_stream_get_time_n(graph_->stream, &time, sizeof time);
    const long long cycle = static_cast<long long>(quantum_) * 1000000000LL / kRate;
    std::lock_guard<std::mutex> guard(lock_);
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        const spa_data& data = buffers[i]->buffer->datas[0];
        if (data.data && data.chunk->size > 0) {
            const auto* samples = reinterpret_cast<const std::int16_t*>(static_cast<const std::uint8_t*>(data.data) +
                                                                         data.chunk->offset);
            const std::size_t count = data.chunk->size / 2;
            // The newest buffer brings the frames the sink played in the cycle before this one. They go where
            // their time puts them, so that a cycle lost on a busy machine leaves a gap, not a shift.
            const long long heard = time.now - static_cast<long long>(buffers.size() - i) * cycle;
            if (stamps_.empty())
                graph_->origin = heard;
            const auto at = static_cast<std::size_t>(std::max<long long>(
                0, std::llround(static_cast<double>(heard - graph_->origin) * kRate / 1e9)));
            if (at * 2 > samples_.size())
                uncovered_.emplace_back(samples_.size() / 2, at);
            samples_.resize(at * 2);
            samples_.insert(samples_.end(), samples, samples + count);
            stamps_.emplace_back(heard, static_cast<double>(at));
        }
        pw_stream_queue_buffer(graph_->stream, buffers[i]);
    }
}

std::vector<std::pair<std::size_t, std::size_t>> Recorder::Uncovered()
{
    std::lock_guard<std::mutex> guard(lock_);
    return uncovered_;
}

Recorder::Recorder(const std::string& server, int quantum) : quantum_(quantum)
{
    if (quantum > 0) {
        StartGraphCapture();
        return;
    }
    auto wake = [](auto*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); };
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "monitor recorder");
    pa_context_set_state_callback(context_, wake, loop_);
    if (pa_context_connect(context_, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return;
    pa_threaded_mainloop_lock(loop_);
    pa_threaded_mainloop_start(loop_);
    while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) && pa_context_get_state(context_) != PA_CONTEXT_READY)
        pa_threaded_mainloop_wait(loop_);
    if (pa_context_get_state(context_) == PA_CONTEXT_READY) {
        const pa_sample_spec spec{PA_SAMPLE_S16NE, kRate, 2};
        const std::uint32_t none = static_cast<std::uint32_t>(-1), tenth = kRate / 10 * 4;
        // The keeper: silence with about 100 ms of latency on the sink.
        keeper_ = pa_stream_new(context_, "latency keeper", &spec, nullptr);
        pa_stream_set_state_callback(keeper_, wake, loop_);
        pa_stream_set_write_callback(keeper_, [](pa_stream* stream, std::size_t bytes, void* self) {
            const auto& silence = static_cast<Recorder*>(self)->silence_;
            pa_stream_write(stream, silence.data(), std::min(bytes, silence.size() * 2), nullptr, 0, PA_SEEK_RELATIVE);
        }, this);
        const pa_buffer_attr keep{none, tenth, none, none, none};
        pa_stream_connect_playback(keeper_, "show", &keep, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr);
        // The recorder: no latency request of its own (fragments of the keeper's latency), timing from the server.
        record_ = pa_stream_new(context_, "monitor", &spec, nullptr);
        pa_stream_set_state_callback(record_, wake, loop_);
        pa_stream_set_read_callback(record_, &Recorder::Read, this);
        const pa_buffer_attr attr{none, none, none, none, tenth};
        pa_stream_connect_record(
            record_, "show.monitor", &attr,
            static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE));
        for (;;) {
            const pa_stream_state_t a = pa_stream_get_state(keeper_), b = pa_stream_get_state(record_);
            ready_ = a == PA_STREAM_READY && b == PA_STREAM_READY;
            if (ready_ || !PA_STREAM_IS_GOOD(a) || !PA_STREAM_IS_GOOD(b))
                break;
            pa_threaded_mainloop_wait(loop_);
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    // A new null sink plays its first block whole at 2 s latency: wait until that is over and reads come.
    const long long steady = NowNs() + 2200000000LL;
    WaitFor([&] {
        std::lock_guard<std::mutex> guard(lock_);
        return !ready_ || (stamps_.size() > 20 && NowNs() > steady);
    }, 5000);
}

Recorder::~Recorder()
{
    if (graph_) {
        graph_->Close();
        graph_.reset();
    }
    if (quantum_ > 0) {
        pa_threaded_mainloop_free(loop_);
        return;
    }
    pa_threaded_mainloop_stop(loop_);
    for (pa_stream* stream : {record_, keeper_})
        if (stream) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
}

struct GraphReference::Stream : GraphStream {};

GraphReference::GraphReference(int quantum, bool tone)
    : stream_(std::make_unique<Stream>()), quantum_(quantum), tone_(tone)
{
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                                             PW_KEY_TARGET_OBJECT, "show", PW_KEY_NODE_NAME, "reference player",
                                             nullptr);
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = [](void* self) { static_cast<GraphReference*>(self)->Process(); };
        return e;
    }();
    ready_ = stream_->Connect("reference player", props, PW_DIRECTION_OUTPUT, &events, this);
}

GraphReference::~GraphReference() { stream_->Close(); }

void GraphReference::Process()
{
    const long long wake = NowNs();
    if (!stream_->realtime) {
        music::RaiseToRealtime(music::kDevicePriority);
        stream_->realtime = true;
    }
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_->stream);
    if (!buffer)
        return;
    spa_data& data = buffer->buffer->datas[0];
    if (data.data) {
        constexpr std::uint32_t kStride = 4, kEvery = 50, kSettle = 20, kClickFrames = 32;
        std::uint32_t frames = std::min<std::uint32_t>(data.maxsize / kStride, static_cast<std::uint32_t>(quantum_));
        if (buffer->requested > 0)
            frames = std::min<std::uint32_t>(frames, static_cast<std::uint32_t>(buffer->requested));
        auto* samples = static_cast<std::int16_t*>(data.data);
        std::fill_n(samples, frames * 2, 0);
        std::lock_guard<std::mutex> guard(lock_);
        const std::size_t index = wakes_.size();
        wakes_.push_back(wake);
        if (tone_) {
            for (std::uint32_t i = 0; i < frames; ++i, ++written_)
                samples[i * 2 + 1] = static_cast<std::int16_t>(16000 * std::sin(2 * M_PI * 440 * written_ / Recorder::kRate));
        } else if (index >= kSettle && index % kEvery == 0) {
            std::fill_n(samples, std::min(frames, kClickFrames) * 2, 20000);
            clicks_.push_back(index);
        }
        data.chunk->offset = 0;
        data.chunk->stride = kStride;
        data.chunk->size = frames * kStride;
    }
    pw_stream_queue_buffer(stream_->stream, buffer);
}

std::vector<double> GraphReference::ClickNs()
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<double> heard;
    if (wakes_.empty())
        return heard;
    const double cycle = quantum_ * 1e9 / Recorder::kRate;
    auto slot = [&](std::size_t i) { return std::llround((wakes_[i] - wakes_[0]) / cycle); };
    // The first cycle's start: the earliest wake-up on the grid, leaving out those held off for more than
    // half a cycle, which fall on the next slot and would look early (they lie far from the typical one).
    std::vector<double> starts;
    for (std::size_t i = 0; i < wakes_.size(); ++i)
        starts.push_back(wakes_[i] - slot(i) * cycle);
    std::vector<double> sorted = starts;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double typical = sorted[sorted.size() / 2];
    double start = typical;
    for (double s : starts)
        if (std::abs(s - typical) < cycle / 4)
            start = std::min(start, s);
    for (std::size_t i : clicks_)
        heard.push_back(start + slot(i) * cycle);
    return heard;
}

double CheckHeardLine(Recorder& recorder, int quantum, double seconds)
{
    std::vector<double> known;
    {
        GraphReference reference(quantum);
        if (!reference.Ready())
            return NAN;
        usleep(static_cast<useconds_t>(seconds * 1e6));
        known = reference.ClickNs();
    }
    // The monitor brings the last cycles a cycle later.
    usleep(static_cast<useconds_t>(4 * quantum * 1e6 / Recorder::kRate) + 50000);
    std::vector<double> offsets;
    const std::vector<std::int16_t> samples = recorder.Samples();
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
        if (samples[i] < 10000 || (i >= 2 && samples[i - 2] >= 10000))
            continue;
        const double heard = recorder.HeardNs(static_cast<std::int64_t>(i / 2));
        const auto nearest = std::min_element(known.begin(), known.end(), [&](double a, double b) {
            return std::abs(a - heard) < std::abs(b - heard);
        });
        if (nearest != known.end() && std::abs(*nearest - heard) < 100e6)
            offsets.push_back((heard - *nearest) / 1e6);
    }
    if (offsets.empty())
        return NAN;
    std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
    return offsets[offsets.size() / 2];
}

std::vector<std::int16_t> Recorder::Samples()
{
    std::lock_guard<std::mutex> guard(lock_);
    return samples_;
}

double Recorder::HeardNs(std::int64_t frame)
{
    // The null sink plays on the monotonic clock: frame k is heard at t0 + k / rate, and each read gives t0; the
    // server's figure settles after a while, so take the median of the later half.
    std::vector<double> origins;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (std::size_t i = stamps_.size() / 2; i < stamps_.size(); ++i)
            origins.push_back(stamps_[i].first - stamps_[i].second * 1e9 / kRate);
    }
    if (origins.empty())
        return NAN;
    std::nth_element(origins.begin(), origins.begin() + origins.size() / 2, origins.end());
    return origins[origins.size() / 2] + static_cast<double>(frame) * 1e9 / kRate;
}

namespace {

constexpr int kRate = Recorder::kRate;

// Frames where a click begins: above half the loudest sample, a tenth of a second after the previous one.
std::vector<std::int64_t> FindClicks(const std::vector<std::int16_t>& stereo)
{
    int loudest = 0;
    for (std::int16_t s : stereo)
        loudest = std::max(loudest, std::abs(static_cast<int>(s)));
    std::vector<std::int64_t> clicks;
    for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) {
        const auto frame = static_cast<std::int64_t>(i / 2);
        if (std::abs(stereo[i]) > loudest / 2 && (clicks.empty() || frame - clicks.back() >= kRate / 10))
            clicks.push_back(frame);
    }
    return clicks;
}

// The clock read every ms with the moment of each reading; -1 marks a jump nothing interpolates across.
struct ClockLog {
    struct Reading {
        long long ns;
        double ms;
    };
    std::vector<Reading> readings;

    // Reads the clock until ms have passed.
    void Follow(music::Player& player, int ms)
    {
        for (const long long end = NowNs() + ms * 1000000LL; NowNs() < end; usleep(1000)) {
            const long long before = NowNs();
            const double position = player.PositionExact();
            const long long after = NowNs();
            // A reading the scheduler interrupted has no known moment.
            if (after - before < 200000)
                readings.push_back({(before + after) / 2, position});
        }
    }
    long long Mark() { return readings.emplace_back(Reading{NowNs(), -1.0}).ns; }

    // The clock at moment ns between the readings around it; NAN across a jump or a 10 ms gap.
    double At(double ns) const
    {
        auto it = std::lower_bound(readings.begin(), readings.end(), ns,
                                   [](const Reading& r, double t) { return r.ns < t; });
        if (it == readings.begin() || it == readings.end())
            return NAN;
        const Reading &a = *(it - 1), &b = *it;
        if (a.ms < 0 || b.ms < 0 || b.ns - a.ns > 10000000)
            return NAN;
        return a.ms + (b.ms - a.ms) * (ns - a.ns) / double(b.ns - a.ns);
    }
};

// The value below which share of the values lie.
double Quantile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? NAN : values[static_cast<std::size_t>(values.size() * share)];
}

}  // namespace

double SyncFigures::Median() const { return Quantile(steady, 0.5); }

double SyncFigures::P90Magnitude() const
{
    std::vector<double> magnitudes;
    for (double o : steady)
        magnitudes.push_back(std::abs(o));
    return Quantile(magnitudes, 0.9);
}

SyncFigures MeasureSync(music::Player& player, Recorder& recorder, const std::string& clicks,
                        const std::vector<int>& seeks, int playMs, bool fromStart)
{
    ClockLog log;
    std::vector<long long> jumps;
    if (fromStart) {
        player.Open(clicks);
        log.Follow(player, 300);
    }
    jumps.push_back(log.Mark());
    player.Start();
    log.Follow(player, playMs);
    for (int target : seeks) {
        jumps.push_back(log.Mark());
        player.Seek(target);
        log.Follow(player, playMs);
    }
    player.Pause();
    // The recorder gets the monitor's data in 100 ms pieces.
    usleep(300000);

    const auto reference = FindClicks(DecodeWhole(clicks));
    std::vector<double> first(jumps.size(), NAN);
    SyncFigures figures;
    for (std::int64_t frame : FindClicks(recorder.Samples())) {
        const double at = recorder.HeardNs(frame);
        const double clock = log.At(at);
        const auto jump = std::upper_bound(jumps.begin(), jumps.end(), static_cast<long long>(at)) - jumps.begin() - 1;
        if (std::isnan(clock) || jump < 0 || reference.empty())
            continue;
        // The click the clock says is playing.
        const auto nearest = std::min_element(reference.begin(), reference.end(), [&](auto a, auto b) {
            return std::abs(a * 1000.0 / kRate - clock) < std::abs(b * 1000.0 / kRate - clock);
        });
        const double offset = clock - *nearest * 1000.0 / kRate;
        if (std::isnan(first[jump]))
            first[jump] = offset;
        else
            figures.steady.push_back(offset);
    }
    figures.atStart = first[0];
    figures.afterSeeks.assign(first.begin() + 1, first.end());
    return figures;
}

}  // namespace audio_test

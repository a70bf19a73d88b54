// The private PulseAudio server and the monitor recorder.
#include "tests/audio/PulseServer.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace audio_test {

namespace {

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// True once something accepts connections on the unix socket at path.
bool Answers(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

}  // namespace

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
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (!folder_.empty())
        std::system(("rm -rf '" + folder_ + "'").c_str());
}

bool PulseServer::Start()
{
    const std::string socket = folder_ + "/native";
    unlink(socket.c_str());
    pid_ = fork();
    if (pid_ == 0) {
        // Everything the daemon keeps goes into the temporary folder; as root
        // it runs as a per-user daemon all the same.
        setenv("HOME", folder_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
        setenv("XDG_STATE_HOME", folder_.c_str(), 1);
        unsetenv("PULSE_SERVER");
        const std::string log = folder_ + "/daemon.log";
        freopen(log.c_str(), "a", stderr);
        freopen("/dev/null", "w", stdout);
        const std::string native = "module-native-protocol-unix socket=" + socket + " auth-anonymous=1";
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
               "--use-pid-file=no", "--disable-shm=no", "--load=module-null-sink sink_name=show",
               ("--load=" + native).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const long long deadline = NowNs() + 10000000000LL;
    while (NowNs() < deadline) {
        if (Answers(socket))
            return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return false;
}

void PulseServer::Kill()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string PulseServer::Log() const
{
    std::ifstream in(folder_ + "/daemon.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---------------------------------------------------------------------------

struct Recorder::State {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* record = nullptr;
    pa_stream* keeper = nullptr;
    std::vector<std::int16_t> silence;

    std::mutex lock;
    std::vector<std::int16_t> samples;
    // Per read: the monotonic time, and the server's capture position in frames
    // (pa_stream_get_time: what the sink plays at that moment).
    std::vector<std::pair<long long, double>> stamps;

    static void Wake(pa_context*, void* self) { pa_threaded_mainloop_signal(static_cast<State*>(self)->loop, 0); }
    static void WakeStream(pa_stream*, void* self)
    {
        pa_threaded_mainloop_signal(static_cast<State*>(self)->loop, 0);
    }
    static void Read(pa_stream* stream, std::size_t, void* self)
    {
        auto* state = static_cast<State*>(self);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            std::lock_guard<std::mutex> guard(state->lock);
            if (data) {
                const auto* samples = static_cast<const std::int16_t*>(data);
                state->samples.insert(state->samples.end(), samples, samples + bytes / 2);
            } else {
                state->samples.insert(state->samples.end(), bytes / 2, 0);  // a hole
            }
            pa_stream_drop(stream);
        }
        pa_usec_t usec = 0;
        if (pa_stream_get_time(stream, &usec) == 0) {
            std::lock_guard<std::mutex> guard(state->lock);
            state->stamps.emplace_back(NowNs(), usec * 1e-6 * kRate);
        }
    }
    static void Write(pa_stream* stream, std::size_t bytes, void* self)
    {
        auto* state = static_cast<State*>(self);
        bytes = std::min(bytes, state->silence.size() * 2);
        pa_stream_write(stream, state->silence.data(), bytes, nullptr, 0, PA_SEEK_RELATIVE);
    }
};

Recorder::Recorder(const std::string& server) : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.silence.assign(kRate * 2, 0);
    s.loop = pa_threaded_mainloop_new();
    s.context = pa_context_new(pa_threaded_mainloop_get_api(s.loop), "monitor recorder");
    pa_context_set_state_callback(s.context, &State::Wake, &s);
    if (pa_context_connect(s.context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return;
    pa_threaded_mainloop_lock(s.loop);
    pa_threaded_mainloop_start(s.loop);
    while (PA_CONTEXT_IS_GOOD(pa_context_get_state(s.context)) && pa_context_get_state(s.context) != PA_CONTEXT_READY)
        pa_threaded_mainloop_wait(s.loop);
    if (pa_context_get_state(s.context) == PA_CONTEXT_READY) {
        const pa_sample_spec spec{PA_SAMPLE_S16NE, kRate, 2};
        const std::uint32_t none = static_cast<std::uint32_t>(-1);
        // The keeper: silence with about 100 ms of latency on the sink.
        s.keeper = pa_stream_new(s.context, "latency keeper", &spec, nullptr);
        pa_stream_set_state_callback(s.keeper, &State::WakeStream, &s);
        pa_stream_set_write_callback(s.keeper, &State::Write, &s);
        const pa_buffer_attr keep{none, static_cast<std::uint32_t>(kRate / 10 * 4), none, none, none};
        pa_stream_connect_playback(s.keeper, "show", &keep, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr);
        // The recorder: no latency request of its own (fragments as long as
        // the keeper's latency), timing from the server.
        s.record = pa_stream_new(s.context, "monitor", &spec, nullptr);
        pa_stream_set_state_callback(s.record, &State::WakeStream, &s);
        pa_stream_set_read_callback(s.record, &State::Read, &s);
        const pa_buffer_attr attr{none, none, none, none, static_cast<std::uint32_t>(kRate / 10 * 4)};
        pa_stream_connect_record(
            s.record, "show.monitor", &attr,
            static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE));
        for (;;) {
            const pa_stream_state_t a = pa_stream_get_state(s.keeper), b = pa_stream_get_state(s.record);
            if (a == PA_STREAM_READY && b == PA_STREAM_READY) {
                ready_ = true;
                break;
            }
            if (!PA_STREAM_IS_GOOD(a) || !PA_STREAM_IS_GOOD(b))
                break;
            pa_threaded_mainloop_wait(s.loop);
        }
    }
    pa_threaded_mainloop_unlock(s.loop);
    // A null sink that has just started plays its first block whole, at its
    // longest latency (2 s), before it takes its clients' latency: wait until
    // that is over and the monitor has run for a while.
    const long long steady = NowNs() + 2200000000LL;
    const long long deadline = NowNs() + 5000000000LL;
    while (ready_ && NowNs() < deadline) {
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (s.stamps.size() > 20 && NowNs() > steady)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Recorder::~Recorder()
{
    State& s = *state_;
    pa_threaded_mainloop_stop(s.loop);
    for (pa_stream* stream : {s.record, s.keeper})
        if (stream) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
    pa_context_disconnect(s.context);
    pa_context_unref(s.context);
    pa_threaded_mainloop_free(s.loop);
}

std::vector<std::int16_t> Recorder::Samples()
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->samples;
}

double Recorder::HeardNs(std::int64_t frame)
{
    // The null sink plays on the monotonic clock, so frame k of the monitor is
    // heard at t0 + k / rate. Each read says where the capture stood at that
    // moment, which gives t0; the server's figure settles after a while (the
    // first reads may come late or be held back), so take the median of the
    // later half.
    std::vector<double> origins;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        for (std::size_t i = state_->stamps.size() / 2; i < state_->stamps.size(); ++i)
            origins.push_back(state_->stamps[i].first - state_->stamps[i].second * 1e9 / kRate);
    }
    if (origins.empty())
        return NAN;
    std::nth_element(origins.begin(), origins.begin() + origins.size() / 2, origins.end());
    return origins[origins.size() / 2] + static_cast<double>(frame) * 1e9 / kRate;
}

std::vector<std::int64_t> FindClicks(const std::vector<std::int16_t>& stereo, std::int64_t gap)
{
    int loudest = 0;
    for (std::int16_t s : stereo)
        loudest = std::max(loudest, std::abs(static_cast<int>(s)));
    std::vector<std::int64_t> clicks;
    const int threshold = loudest / 2;
    for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) {
        const auto frame = static_cast<std::int64_t>(i / 2);
        if (std::abs(static_cast<int>(stereo[i])) > threshold && (clicks.empty() || frame - clicks.back() >= gap))
            clicks.push_back(frame);
    }
    return clicks;
}

}  // namespace audio_test

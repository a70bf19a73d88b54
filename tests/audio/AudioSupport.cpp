// Helpers for the music tests: the decode, the private PulseAudio server, its recorder and the sync probe.
#include "tests/audio/AudioSupport.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

void Recorder::Read(pa_stream* stream, std::size_t, void* self)
{
    auto* r = static_cast<Recorder*>(self);
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

Recorder::Recorder(const std::string& server)
{
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

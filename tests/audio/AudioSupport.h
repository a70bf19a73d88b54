// Helpers for the music tests and benchmarks: an independent decode, waiting on the monotonic clock, a private
// PulseAudio server or PipeWire stack with a recorder of its sink's monitor, and the sync of the music clock
// with what it heard.
#pragma once

#include "audio/Player.h"

#include <pulse/pulseaudio.h>

#include <csignal>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace audio_test {

// Interleaved 16-bit samples of a whole file, decoded straight through by libmpg123 (gapless).
std::vector<std::int16_t> DecodeWhole(const std::string& path);

// CLOCK_MONOTONIC in ns, the clock the player stamps its readings with.
inline long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Polls done() every ms until it holds (true) or timeoutMs pass (false).
template <typename F>
bool WaitFor(F done, int timeoutMs)
{
    for (const long long end = NowNs() + timeoutMs * 1000000LL; !done(); usleep(1000))
        if (NowNs() > end)
            return false;
    return true;
}

class PulseServer {
public:
    // Starts the daemon (a null sink "show", anonymous clients on a socket in a temporary folder).
    PulseServer();
    ~PulseServer();

    bool Running() const { return pid_ > 0; }
    // The value for PULSE_SERVER.
    std::string Address() const { return "unix:" + folder_ + "/native"; }
    // Sends the signal (SIGKILL: a crash, as far as clients can tell) and reaps the daemon.
    void Kill(int signal = SIGKILL);
    // Starts it again on the same socket; false when it does not answer.
    bool Start();
    // The daemon's own messages so far.
    std::string Log() const;

private:
    std::string folder_;
    pid_t pid_ = -1;
};

// A private PipeWire stack with no sound card, all under a temporary folder: a session bus, pipewire (a null
// sink "show" as the graph's driver, 44.1 kHz only, the quantum pinned), wireplumber without device monitors,
// and pipewire-pulse on a socket of its own. Every process is ended by its pid.
class PipeWireStack {
public:
    explicit PipeWireStack(int quantum);
    ~PipeWireStack();

    bool Running() const { return daemon_ > 0 && pulse_ > 0; }
    int Quantum() const { return quantum_; }
    // The value for PULSE_SERVER (pipewire-pulse).
    std::string PulseAddress() const { return "unix:" + folder_ + "/pulse"; }
    // Points this process at the stack (runtime and configuration folders) and unsets PULSE_SERVER and
    // SDL_AUDIODRIVER, so that the player finds the daemon as on a desktop.
    void Export() const;
    // Kills pipewire-pulse (SIGKILL) and starts it again; false when it does not answer.
    void KillPulse();
    bool StartPulse();
    // Kills the whole stack (the daemon first, as in a crash) and starts it again.
    void KillAll();
    bool StartAll();
    // The processes' own messages so far.
    std::string Log() const;

private:
    pid_t Spawn(const std::vector<std::string>& argv, const std::string& log) const;
    void End(pid_t& pid, int signal) const;

    std::string folder_;
    int quantum_;
    pid_t bus_ = -1, daemon_ = -1, session_ = -1, pulse_ = -1;
};

// Records the sink's monitor. On PulseAudio it does so without changing the sink's latency, and keeps a silent
// stream of 100 ms latency on the sink (without a low-latency client the null sink renders 2 s blocks); the
// heard line comes from the server's timing. On PipeWire (quantum > 0; the stack exported) it is a capture
// stream of the graph itself, and the heard line comes from the graph's cycles: the null sink runs on the
// monotonic clock, and the monitor hands each cycle's frames over one cycle late, so they were heard one
// quantum before the cycle that brings them.
class Recorder {
public:
    explicit Recorder(const std::string& server, int quantum = 0);
    ~Recorder();
    bool Ready() const { return ready_; }

    // What was recorded so far (16-bit stereo), and the CLOCK_MONOTONIC ns at which a frame of it was heard.
    std::vector<std::int16_t> Samples();
    double HeardNs(std::int64_t frame);
    // On PipeWire: the frames [from, to) of the recording that no cycle brought (the recorder, not the sink,
    // missed them).
    std::vector<std::pair<std::size_t, std::size_t>> Uncovered();

    static constexpr int kRate = 44100;

private:
    static void Read(pa_stream* stream, std::size_t, void* self);
    void StartGraphCapture();
    void Capture();
    struct Graph;
    std::unique_ptr<Graph> graph_;
    pa_threaded_mainloop* loop_ = pa_threaded_mainloop_new();
    pa_context* context_ = nullptr;
    pa_stream* record_ = nullptr;
    pa_stream* keeper_ = nullptr;
    std::vector<std::int16_t> silence_ = std::vector<std::int16_t>(kRate * 2);
    bool ready_ = false;
    bool realtime_ = false;  // the PulseAudio reader's thread asked for it
    int quantum_ = 0;

    std::mutex lock_;
    std::vector<std::int16_t> samples_;
    std::vector<std::pair<std::size_t, std::size_t>> uncovered_;
    // Per read: the monotonic time, and the frame the sink plays then (pa_stream_get_time).
    std::vector<std::pair<long long, double>> stamps_;
};

// A player of known timing, to check the recorder's heard line on PipeWire against something other than the
// graph's own account: a playback stream on the sink that writes a click at the start of every 50th cycle. The
// graph plays what a stream gives in a cycle from that cycle's start, and the cycles follow the null sink's
// timer on the monotonic clock, one quantum apart: their starts are found from the moments the stream's
// callback wakes (the earliest of them, on the grid of the quantum), without the graph's timing.
class GraphReference {
public:
    // tone: a steady 440 Hz tone on the right channel instead of the clicks, as the soak's music has it.
    explicit GraphReference(int quantum, bool tone = false);
    ~GraphReference();
    bool Ready() const { return ready_; }
    // The CLOCK_MONOTONIC ns at which each click written so far is heard.
    std::vector<double> ClickNs();

private:
    void Process();
    struct Stream;
    std::unique_ptr<Stream> stream_;
    int quantum_;
    bool tone_;
    std::int64_t written_ = 0;  // frames of tone so far
    bool ready_ = false;
    std::mutex lock_;
    std::vector<long long> wakes_;    // each callback's start
    std::vector<std::size_t> clicks_;  // the callbacks that wrote a click
};

// The recorder's heard line less the reference's, in ms, for the clicks of `seconds` of the reference (NAN
// when none was found): within a fraction of a ms when the rig can be trusted.
double CheckHeardLine(Recorder& recorder, int quantum, double seconds = 2.5);

// Offsets in ms: the clock when a click is heard less the click's music time (positive: the clock is ahead).
struct SyncFigures {
    double atStart = 0.0;            // the first click after the start
    std::vector<double> afterSeeks;  // the first click after each seek
    std::vector<double> steady;      // every other click
    double Median() const;
    double P90Magnitude() const;
};

// Opens `clicks` (one every 250 ms) and starts it, plays playMs, then seeks to each target and plays playMs
// more. With fromStart false the player already plays `clicks` (atStart is then the first click heard).
SyncFigures MeasureSync(music::Player& player, Recorder& recorder, const std::string& clicks,
                        const std::vector<int>& seeks, int playMs, bool fromStart = true);

}  // namespace audio_test

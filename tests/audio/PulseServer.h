// A private PulseAudio server for the music tests: a daemon with a null sink
// on a unix socket in a temporary folder (anonymous clients), and a passive
// recorder of the sink's monitor that knows when each recorded frame was heard.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace audio_test {

class PulseServer {
public:
    // Starts the daemon and waits until it answers; Running() says whether it did.
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool Running() const { return pid_ > 0; }
    // The value for PULSE_SERVER.
    std::string Address() const { return "unix:" + folder_ + "/native"; }
    // Sends SIGKILL and reaps the daemon (a crash, as far as clients can tell).
    void Kill();
    // Starts it again on the same socket; false when it does not answer.
    bool Start();
    // The daemon's own messages so far.
    std::string Log() const;

private:
    std::string folder_;
    pid_t pid_ = -1;
};

// Records the monitor of the server's sink without changing its latency, and
// keeps one silent stream of about 100 ms latency on the sink (without any
// low-latency client the null sink renders 2 s blocks).
class Recorder {
public:
    explicit Recorder(const std::string& server);
    ~Recorder();
    bool Ready() const { return ready_; }

    // Copies of what was recorded so far: interleaved 16-bit stereo, and the
    // CLOCK_MONOTONIC time (ns) at which frame `frame` was heard.
    std::vector<std::int16_t> Samples();
    double HeardNs(std::int64_t frame);

    static constexpr int kRate = 44100;

    struct State;

private:
    std::unique_ptr<State> state_;
    bool ready_ = false;
};

// Frames where a click begins: the first frame of each run above half the
// loudest sample, at least `gap` frames after the previous one.
std::vector<std::int64_t> FindClicks(const std::vector<std::int16_t>& stereo, std::int64_t gap);

}  // namespace audio_test

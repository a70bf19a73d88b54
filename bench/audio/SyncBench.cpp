// Sync benchmark on a private PulseAudio server and a private PipeWire stack
// (quanta 256 and 1024; the native output and pipewire-pulse): the clock
// against the clicks a monitor recorder hears (steady play, the start, eight
// seeks), then a minute of music beside two CPU-bound processes: underruns,
// dropouts heard on the monitor (and how many of them the machine caused: see
// StallProbe), and the CPU time of the audio threads. On PipeWire the
// recorder's heard line is first checked against a player of known timing.
// With SHOWPLAYER_REFERENCE naming another showplayer binary, the same minute
// is played by it (through SDL's pulse driver) for its dropouts.
// Usage: sync_bench <clicks.mp3> <tone.mp3> [seconds=60]
#include "audio/Player.h"
#include "audio/Realtime.h"
#include "tests/audio/AudioSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace audio_test;

namespace {

constexpr int kRate = 44100;

// Two processes that spin until stopped.
struct Hogs {
    Hogs()
    {
        for (pid_t& pid : pids)
            if ((pid = fork()) == 0)
                for (volatile unsigned long n = 0;; n = n + 1) {
                }
    }
    ~Hogs()
    {
        for (pid_t pid : pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    pid_t pids[2];
};

// CPU seconds used so far by this process's threads of that name.
double ThreadCpu(const std::string& name)
{
    double seconds = 0.0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* entry = tasks ? readdir(tasks) : nullptr) {
        const std::string dir = std::string("/proc/self/task/") + entry->d_name;
        std::ifstream commFile(dir + "/comm");
        std::string comm;
        std::getline(commFile, comm);
        if (comm != name)
            continue;
        std::ifstream statFile(dir + "/stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        seconds += static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
    }
    if (tasks)
        closedir(tasks);
    return seconds;
}

// Where gaps of 1 ms or more begin in the steady 440 Hz tone of the right channel, between the first and the
// last of it.
std::vector<long> Dropouts(const std::vector<std::int16_t>& stereo)
{
    const long frames = static_cast<long>(stereo.size() / 2);
    long first = 0, last = frames - 1;
    while (first < frames && std::abs(stereo[first * 2 + 1]) < 1000)
        ++first;
    while (last > first && std::abs(stereo[last * 2 + 1]) < 1000)
        --last;
    std::vector<long> gaps;
    long quiet = 0;
    for (long i = first; i <= last; ++i) {
        quiet = std::abs(stereo[i * 2 + 1]) < 300 ? quiet + 1 : 0;
        if (quiet == kRate / 1000)
            gaps.push_back(i - quiet + 1);
    }
    return gaps;
}

// The machine's own stalls: a thread of the player's real-time priority on one core that asks to wake every ms
// and notes each time it woke more than a ms late. On a virtual machine whose cores are all busy the host can hold every
// thread of it off, real-time or not; no player could have helped what this sees.
class StallProbe {
public:
    // cpu: the core the probe stays on; a stall of one core holds up whatever graph thread runs there.
    explicit StallProbe(int cpu) : cpu_(cpu), thread_([this] { Run(); }) {}
    ~StallProbe()
    {
        stop_ = true;
        thread_.join();
    }
    // Each stall: when the thread should have woken and when it did (CLOCK_MONOTONIC ns).
    std::vector<std::pair<long long, long long>> Stalls()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return stalls_;
    }

private:
    void Run()
    {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu_, &set);
        pthread_setaffinity_np(pthread_self(), sizeof set, &set);
        music::RaiseToRealtime(music::kDevicePriority);
        for (long long due = NowNs() + 1000000; !stop_; due += 1000000) {
            const timespec at{static_cast<time_t>(due / 1000000000), static_cast<long>(due % 1000000000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
            const long long woke = NowNs();
            if (woke - due > 1000000) {
                std::lock_guard<std::mutex> guard(lock_);
                stalls_.emplace_back(due, woke);
                due = woke;
            }
        }
    }
    int cpu_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::pair<long long, long long>> stalls_;
    std::thread thread_;
};

// Runs the reference player on a show that starts the music and waits.
bool RunReference(const std::string& player, const std::string& music, int seconds)
{
    char folder[] = "/tmp/showplayer-syncbench-XXXXXX";
    if (!mkdtemp(folder))
        return false;
    std::ofstream(std::string(folder) + "/main.pl")
        << "sub main { OpenGL::boot_OpenGL(); OpenGL::glStartSound(); select(undef, undef, undef, " << seconds
        << "); return 0; }\n1;\n";
    std::system(("cp '" + music + "' " + folder + "/derure.mp3").c_str());
    const std::string command = std::string("cd ") + folder + " && SDL_AUDIODRIVER=pulse '" + player +
                                "' -w >/dev/null 2>&1; status=$?; rm -rf " + folder + "; exit $status";
    return std::system(command.c_str()) == 0;
}

// The clock against the clicks heard: steady play, the start and eight seeks, each figure with its goal.
void PrintSync(const std::string& what, music::Player& player, Recorder& recorder, const std::string& clicks,
               double median, double p90, double jump)
{
    const SyncFigures f = MeasureSync(player, recorder, clicks, {7000, 13000, 2500, 18000, 500, 9750, 15250, 4000}, 1500);
    std::printf("%s, steady median offset: %+.2f ms (goal within +-%g)\n", what.c_str(), f.Median(), median);
    std::printf("%s, steady p90 |offset|: %.2f ms over %zu clicks (goal <= %g)\n", what.c_str(), f.P90Magnitude(),
                f.steady.size(), p90);
    std::printf("%s, offset at the start: %+.2f ms (goal within +-%g)\n", what.c_str(), f.atStart, jump);
    std::string seeks;
    double worst = 0.0;
    for (double o : f.afterSeeks) {
        char text[32];
        std::snprintf(text, sizeof text, "%+.2f ", o);
        seeks += text;
        worst = std::isnan(o) ? INFINITY : std::max(worst, std::abs(o));
    }
    std::printf("%s, offset after each of 8 seeks: %s(worst %.2f ms) (goal within +-%g)\n", what.c_str(),
                seeks.c_str(), worst, jump);
}

// A minute of the tone beside two CPU hogs: underruns, dropouts heard (not counting gaps where the recorder
// missed the cycles; and how many fell in a stall of the machine), and the audio threads' CPU time.
// With reference set (PipeWire only), a trivial player of the graph plays the tone instead: what the machine
// and the graph lose without the showplayer.
void PrintSoak(const std::string& what, Recorder& recorder, const std::string& tone, int seconds, int quantum = 0,
               bool reference = false)
{
    std::string error;
    auto player = reference ? nullptr : music::Player::Create(kRate, &error);
    if (!player && !reference) {
        std::printf("%s: no output (%s)\n", what.c_str(), error.c_str());
        return;
    }
    std::unique_ptr<GraphReference> graphPlayer;
    if (player)
        player->Open(tone);
    const double cpuBefore = ThreadCpu("music decoder") + ThreadCpu("music output");
    std::vector<std::pair<long long, long long>> stalls;
    {
        std::vector<std::unique_ptr<StallProbe>> probes;
        for (int cpu = 0; cpu < static_cast<int>(std::thread::hardware_concurrency()); ++cpu)
            probes.push_back(std::make_unique<StallProbe>(cpu));
        Hogs hogs;
        if (player)
            player->Start();
        else
            graphPlayer = std::make_unique<GraphReference>(quantum, true);
        // The clock read every ms, as a show reads it, on a thread of normal priority.
        for (const long long end = NowNs() + seconds * 1000000000LL; NowNs() < end; usleep(1000))
            if (player)
                player->PositionExact();
        if (player)
            player->Pause();
        graphPlayer.reset();
        for (const auto& probe : probes)
            for (const auto& stall : probe->Stalls())
                stalls.push_back(stall);
    }
    const double cpu = ThreadCpu("music decoder") + ThreadCpu("music output") - cpuBefore;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // A gap heard at h: the music for it was due in the cycle before (PulseAudio: within its 25 ms of latency).
    const long long cycle = quantum > 0 ? quantum * 1000000000LL / kRate : 25000000LL;
    // Gaps where the recorder itself missed the cycles are not what the sink played.
    const auto missed = recorder.Uncovered();
    std::size_t missedFrames = 0;
    for (const auto& m : missed)
        missedFrames += m.second - m.first;
    std::vector<long> gaps = Dropouts(recorder.Samples());
    const std::size_t heardAndMissed = gaps.size();
    gaps.erase(std::remove_if(gaps.begin(), gaps.end(), [&](long frame) {
        return std::any_of(missed.begin(), missed.end(), [&](const auto& m) {
            return static_cast<std::size_t>(frame) + kRate / 1000 > m.first && static_cast<std::size_t>(frame) < m.second;
        });
    }), gaps.end());
    int stalled = 0;
    for (long frame : gaps) {
        const double heard = recorder.HeardNs(frame);
        stalled += std::any_of(stalls.begin(), stalls.end(), [&](const auto& s) {
            return s.first < heard + 1e6 && s.second > heard - 2.0 * cycle - 1e6;
        });
    }
    long long worst = 0;
    int longer = 0;
    for (const auto& s : stalls) {
        worst = std::max(worst, s.second - s.first);
        longer += s.second - s.first > cycle;
    }
    if (player)
        std::printf("%s beside two CPU hogs, %d s: underruns %llu, dropouts heard %zu (goal 0)\n", what.c_str(),
                    seconds, static_cast<unsigned long long>(player->Underruns()), gaps.size());
    else
        std::printf("%s beside two CPU hogs, %d s: dropouts heard %zu\n", what.c_str(), seconds, gaps.size());
    std::printf("%s beside two CPU hogs: %d of the dropouts in a stall of the machine; it held a real-time "
                "thread off for more than a cycle (%.1f ms) %d times, at worst %.1f ms; the recorder itself missed "
                "%zu frames, %zu more gaps\n",
                what.c_str(), stalled, cycle / 1e6, longer, worst / 1e6, missedFrames, heardAndMissed - gaps.size());
    if (player)
        std::printf("CPU time of the audio threads per second of music (%s): %.2f ms\n", what.c_str(),
                    cpu * 1000.0 / seconds);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <clicks.mp3> <tone.mp3> [seconds]\n", argv[0]);
        return 2;
    }
    const std::string clicks = argv[1], tone = argv[2];
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    const char* reference = std::getenv("SHOWPLAYER_REFERENCE");

    PulseServer server;
    if (!server.Running()) {
        std::fprintf(stderr, "pulseaudio did not start:\n%s", server.Log().c_str());
        return 1;
    }
    setenv("PULSE_SERVER", server.Address().c_str(), 1);
    unsetenv("SDL_AUDIODRIVER");

    {
        Recorder recorder(server.Address());
        std::string error;
        auto player = music::Player::Create(kRate, &error);
        if (!recorder.Ready() || !player || player->OutputName() != "pulse") {
            std::fprintf(stderr, "no PulseAudio output: %s\n", error.c_str());
            return 1;
        }
        PrintSync("pulse sync", *player, recorder, clicks, 1.0, 3.0, 3.0);
    }

    {
        Recorder recorder(server.Address());
        PrintSoak("pulse output", recorder, tone, seconds);
    }

    // A private PipeWire stack at two graph quanta: the native output, and the pulse output through
    // pipewire-pulse.
    for (int quantum : {256, 1024}) {
        PipeWireStack stack(quantum);
        if (!stack.Running()) {
            std::printf("the PipeWire stack did not start:\n%s", stack.Log().c_str());
            return 1;
        }
        stack.Export();
        const std::string q = " at quantum " + std::to_string(quantum);
        {
            Recorder recorder(stack.PulseAddress(), quantum);
            std::printf("rig check%s: the heard line against a player of known timing: %+.2f ms (goal within +-0.5)\n",
                        q.c_str(), CheckHeardLine(recorder, quantum));
        }
        for (const char* output : {"pipewire", "pulse"}) {
            if (output == std::string("pulse"))
                setenv("PULSE_SERVER", stack.PulseAddress().c_str(), 1);
            Recorder recorder(stack.PulseAddress(), quantum);
            std::string error;
            auto player = music::Player::Create(kRate, &error);
            if (!recorder.Ready() || !player || player->OutputName() != output) {
                std::printf("no %s output%s: %s\n", output, q.c_str(), error.c_str());
                continue;
            }
            if (output == std::string("pulse"))
                PrintSync("pipewire-pulse sync" + q, *player, recorder, clicks, 3.0, 5.0, 5.0);
            else
                PrintSync("pipewire sync" + q, *player, recorder, clicks, 1.0, 3.0, 3.0);
        }
        unsetenv("PULSE_SERVER");
        {
            Recorder recorder(stack.PulseAddress(), quantum);
            PrintSoak("pipewire output" + q, recorder, tone, seconds, quantum);
        }
        Recorder recorder(stack.PulseAddress(), quantum);
        PrintSoak("a trivial real-time player of the graph" + q, recorder, tone, seconds, quantum, true);
    }
    setenv("PULSE_SERVER", server.Address().c_str(), 1);

    if (reference) {
        Recorder recorder(server.Address());
        bool ran;
        {
            Hogs hogs;
            ran = RunReference(reference, tone, seconds);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (ran)
            std::printf("reference player (SDL pulse) beside two CPU hogs, %d s: dropouts heard %zu\n", seconds,
                        Dropouts(recorder.Samples()).size());
        else
            std::printf("reference player %s did not run\n", reference);
    }
    return 0;
}

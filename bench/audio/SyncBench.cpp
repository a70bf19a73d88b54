// Sync benchmark on a private PulseAudio server and a private PipeWire stack
// (quanta 256 and 1024; the native output and pipewire-pulse): the clock
// against the clicks a monitor recorder hears (steady play, the start, eight
// seeks), then a minute of music beside two CPU-bound processes: underruns,
// dropouts heard on the monitor, and the CPU time of the audio threads. With SHOWPLAYER_REFERENCE
// naming another showplayer binary, the same minute is played by it (through
// SDL's pulse driver) for its dropouts.
// Usage: sync_bench <clicks.mp3> <tone.mp3> [seconds=60]
#include "audio/Player.h"
#include "tests/audio/AudioSupport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
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

// Gaps of 1 ms or more in the steady 440 Hz tone of the right channel, between
// the first and the last of it.
int Dropouts(const std::vector<std::int16_t>& stereo)
{
    const long frames = static_cast<long>(stereo.size() / 2);
    long first = 0, last = frames - 1;
    while (first < frames && std::abs(stereo[first * 2 + 1]) < 1000)
        ++first;
    while (last > first && std::abs(stereo[last * 2 + 1]) < 1000)
        --last;
    int gaps = 0;
    long quiet = 0;
    for (long i = first; i <= last; ++i) {
        quiet = std::abs(stereo[i * 2 + 1]) < 300 ? quiet + 1 : 0;
        if (quiet == kRate / 1000)
            ++gaps;
    }
    return gaps;
}

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

// A minute of the tone beside two CPU hogs: underruns, dropouts heard and the audio threads' CPU time.
void PrintSoak(const std::string& what, Recorder& recorder, const std::string& tone, int seconds)
{
    std::string error;
    auto player = music::Player::Create(kRate, &error);
    if (!player) {
        std::printf("%s: no output (%s)\n", what.c_str(), error.c_str());
        return;
    }
    player->Open(tone);
    const double cpuBefore = ThreadCpu("music decoder") + ThreadCpu("music output");
    {
        Hogs hogs;
        player->Start();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        player->Pause();
    }
    const double cpu = ThreadCpu("music decoder") + ThreadCpu("music output") - cpuBefore;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("%s beside two CPU hogs, %d s: underruns %llu, dropouts heard %d (goal 0)\n", what.c_str(), seconds,
                static_cast<unsigned long long>(player->Underruns()), Dropouts(recorder.Samples()));
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
        Recorder recorder(stack.PulseAddress(), quantum);
        PrintSoak("pipewire output" + q, recorder, tone, seconds);
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
            std::printf("reference player (SDL pulse) beside two CPU hogs, %d s: dropouts heard %d\n", seconds,
                        Dropouts(recorder.Samples()));
        else
            std::printf("reference player %s did not run\n", reference);
    }
    return 0;
}

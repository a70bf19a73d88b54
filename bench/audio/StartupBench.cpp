// Start-up benchmark harness: time from exec to the first line a program
// prints (the bare window's "ready", the show's first line of main), for the
// player and the bare SDL program alternately, several rounds in one run.
// Usage: startup_bench <showplayer> <bare_window> <show folder> [rounds=10]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double NowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Runs the program in folder and returns ms until its first output line, or
// a negative value when it printed none or failed.
double TimeToFirstLine(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                       double* cpuMs = nullptr)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    const double start = NowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    double elapsed = -1;
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
        // The player's own resolution line comes first; wait for the show's.
        if (elapsed < 0 && (text.find("ready\n") != std::string::npos || text.find("main\n") != std::string::npos))
            elapsed = NowMs() - start;
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (cpuMs)
        *cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <showplayer> <bare_window> <show folder> [rounds]\n", argv[0]);
        return 2;
    }
    const std::string player = argv[1], bare = argv[2], show = argv[3];
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 10;
    std::vector<double> playerMs, bareMs;
    // One unmeasured run of each first: loads both from disk into the cache.
    TimeToFirstLine(bare, {"-w"}, show);
    TimeToFirstLine(player, {"-w"}, show);
    for (int round = 0; round < rounds; ++round) {
        double bareCpu = 0, playerCpu = 0;
        const double b = TimeToFirstLine(bare, {"-w"}, show, &bareCpu);
        const double p = TimeToFirstLine(player, {"-w"}, show, &playerCpu);
        if (b < 0 || p < 0) {
            std::fprintf(stderr, "round %d: a run failed (bare %.1f, player %.1f)\n", round + 1, b, p);
            continue;
        }
        bareMs.push_back(b);
        playerMs.push_back(p);
        std::printf("round %d: bare window %.1f ms, player to main %.1f ms (whole run's CPU: bare %.1f ms, "
                    "player %.1f ms)\n",
                    round + 1, b, p, bareCpu, playerCpu);
    }
    if (playerMs.empty())
        return 1;
    const double p = Median(playerMs), b = Median(bareMs);
    std::printf("start-up: player %.1f ms (best %.1f), bare window %.1f ms (best %.1f), player/bare %.3f "
                "(goal <= 1.10)\n",
                p, *std::min_element(playerMs.begin(), playerMs.end()), b,
                *std::min_element(bareMs.begin(), bareMs.end()), p / b);
    return 0;
}

// Recording speed: the bundled show recorded at 800x600 against the same
// frames drawn on the same virtual clock with nothing read back or encoded,
// side by side in one process (runs interleaved, the order swapped each
// round), at 30 and at 60 fps. Prints the rates, their ratio (goal >= 0.8),
// the CPU time per frame of each and the file size.
//
//   record_bench SHOW_DIR OUT_DIR [SECONDS [ROUNDS]]
#include "record/Recording.h"
#include "host/ScriptHost.h"

#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr double kGoal = 0.8;

struct Timing {
    double wall = 0;  // seconds
    double cpu = 0;   // seconds, every thread of the process
};

double CpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One recording (or drawing only) of the show in the working directory.
Timing RunOnce(const host::Settings& settings, record::Recording::Output output)
{
    std::string error;
    show::Context context;
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    auto recording = record::Recording::Open(settings, &error, output);
    if (!recording || recording->Run(context, "derure.mp3") != 0) {
        std::fprintf(stderr, "record_bench: the run failed: %s\n", error.c_str());
        std::exit(1);
    }
    recording.reset();
    Timing t;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    t.cpu = CpuSeconds() - cpu0;
    return t;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv, char** env)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SHOW_DIR OUT_DIR [SECONDS [ROUNDS]]\n", argv[0]);
        return 2;
    }
    char* outPath = realpath(argv[2], nullptr);
    if (!outPath) {
        std::perror(argv[2]);
        return 1;
    }
    const std::string out = outPath;
    std::free(outPath);
    const double seconds = argc > 3 ? std::atof(argv[3]) : 30;
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 2;
    if (chdir(argv[1]) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    // The show's own lines go nowhere; the figures keep the real output.
    std::FILE* figures = fdopen(dup(STDOUT_FILENO), "w");
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;
    host::ScriptRuntime runtime(&argc, &argv, &env);

    for (int fps : {30, 60}) {
        host::Settings settings;
        settings.width = kWidth;
        settings.height = kHeight;
        settings.fps = fps;
        settings.duration = seconds;
        settings.recordPath = out + "/derure-" + std::to_string(fps) + ".mp4";
        const double frames = seconds * fps;
        std::vector<double> ratios, cpuRatios, recordFps, drawFps, recordCpu, drawCpu;
        for (int round = 0; round < rounds; ++round) {
            Timing record, draw;
            if (round % 2 == 0) {
                record = RunOnce(settings, record::Recording::Output::File);
                draw = RunOnce(settings, record::Recording::Output::None);
            } else {
                draw = RunOnce(settings, record::Recording::Output::None);
                record = RunOnce(settings, record::Recording::Output::File);
            }
            recordFps.push_back(frames / record.wall);
            drawFps.push_back(frames / draw.wall);
            ratios.push_back(draw.wall / record.wall);
            cpuRatios.push_back(draw.cpu / record.cpu);
            recordCpu.push_back(record.cpu * 1000 / frames);
            drawCpu.push_back(draw.cpu * 1000 / frames);
        }
        struct stat info {};
        stat(settings.recordPath.c_str(), &info);
        std::fprintf(figures,
                     "recording %dx%d at %d fps (%.0f s of the show, median of %d rounds): record %.1f fps, "
                     "draw only %.1f fps, record/draw %.3f wall (goal >= %.1f), %.3f CPU; CPU per frame %.1f ms "
                     "record, %.1f ms draw only\n",
                     kWidth, kHeight, fps, seconds, rounds, Median(recordFps), Median(drawFps), Median(ratios), kGoal,
                     Median(cpuRatios), Median(recordCpu), Median(drawCpu));
        if (fps == 30) {
            std::fprintf(figures, "recording rate at 30 fps: %.1f fps\n", Median(recordFps));
            std::fprintf(figures, "recording file size at 30 fps: %.2f MB for %.0f s (%.1f MB per minute)\n",
                         info.st_size / 1e6, seconds, info.st_size / 1e6 * 60 / seconds);
        }
        std::fflush(figures);
    }
    return 0;
}

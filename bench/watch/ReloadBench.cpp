// Watch-mode benchmark: the time from a save of main.pl to the first frame of
// the new script, for a small script and for the bundled show, and the
// player's resident memory after 50 reloads of the bundled show against after
// the first.
//   watch_bench SHOWDIR [RELOADS]
#include "tests/support/Player.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

constexpr double kPatience = 30;
// Time between a first frame and the next save: the show settles, and the
// saves do not fall into one burst.
constexpr auto kBetweenSaves = std::chrono::milliseconds(400);

// A small show: one picture every frame, "first frame POS" after its first
// swap; no pause between frames.
const std::string kSmallShow = FillShow("frame", "", "");

long ResidentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

struct Series {
    std::vector<double> ms;
    double Median() const
    {
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
    double Max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// Saves main.pl (its text with a different last line each time) and times the
// first frame of the new script. Calls afterEach with the reload's number.
Series Reloads(LivePlayer& player, const TempDir& dir, const std::string& text, int count,
               const std::function<void(int)>& afterEach = {})
{
    Series series;
    for (int i = 1; i <= count; ++i) {
        std::this_thread::sleep_for(kBetweenSaves);
        const std::size_t from = player.Lines().size();
        const auto saved = Clock::now();
        dir.Write("main.pl", text + "# save " + std::to_string(i) + "\n");
        if (player.WaitForLine("first frame", kPatience, from) < 0) {
            std::fprintf(stderr, "reload %d: no first frame\n%s", i, player.Err().c_str());
            break;
        }
        series.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - saved).count());
        if (afterEach)
            afterEach(i);
    }
    return series;
}

// The bundled show, with a line after its first frame.
std::string BundledShow(const std::string& showDir)
{
    std::ifstream in(showDir + "/main.pl");
    std::stringstream text;
    text << in.rdbuf();
    std::string show = text.str();
    const std::string swap = "        OpenGL::SwapBuffers();\n";
    const std::size_t at = show.rfind(swap);
    if (at == std::string::npos)
        return "";
    show.insert(at + swap.size(), "        print \"first frame\\n\" unless $main::shown++;\n");
    return show;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SHOWDIR [RELOADS]\n", argv[0]);
        return 2;
    }
    const int reloads = argc > 2 ? std::atoi(argv[2]) : 50;

    {
        ShowDir dir(kSmallShow);
        LivePlayer player(dir, {"-w", "--watch"});
        if (player.WaitForLine("first frame", kPatience) < 0) {
            std::fprintf(stderr, "the small show did not start\n%s", player.Err().c_str());
            return 1;
        }
        const Series small = Reloads(player, dir, kSmallShow, 20);
        std::printf("save to first frame, small script: %.1f ms median, %.1f ms max of %zu (goal <= 150 ms)\n",
                    small.Median(), small.Max(), small.ms.size());
    }

    TempDir dir;
    std::filesystem::copy(argv[1], dir.path(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    const std::string show = BundledShow(argv[1]);
    if (show.empty()) {
        std::fprintf(stderr, "no frame loop found in %s/main.pl\n", argv[1]);
        return 1;
    }
    dir.Write("main.pl", show);
    const auto started = Clock::now();
    LivePlayer player(dir, {"-w", "--watch"});
    if (player.WaitForLine("first frame", kPatience) < 0) {
        std::fprintf(stderr, "the bundled show did not start\n%s", player.Err().c_str());
        return 1;
    }
    // For comparison: the show's own loading and warm-up are part of both.
    std::printf("player start to first frame, bundled show: %.1f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    long firstKb = 0, lastKb = 0;
    const Series bundled = Reloads(player, dir, show, reloads, [&](int i) {
        if (i == 1 || i == reloads) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            (i == 1 ? firstKb : lastKb) = ResidentKb(player.pid());
        }
    });
    std::printf("save to first frame, bundled show: %.1f ms median, %.1f ms max of %zu\n", bundled.Median(),
                bundled.Max(), bundled.ms.size());
    std::printf("resident memory, bundled show: %ld kB after the first reload, %ld kB after %d: growth %ld kB "
                "(goal <= 3072 kB)\n",
                firstKb, lastKb, reloads, lastKb - firstKb);
    return 0;
}

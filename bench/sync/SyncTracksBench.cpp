// Sync tracks: what a value costs a script, what tracks cost in memory, and
// what an editor costs the show (key to screen, frame rate under a flood of
// keys), the last two through the real player and a sync editor's stand-in.
#include "tests/support/Player.h"
#include "tests/support/SyncEditor.h"
#include "tests/support/perl/EmbeddedPerl.h"

#include "sync/Track.h"
#include "sync/TrackFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testing_support;

namespace {

constexpr long kCalls = 1000000;
constexpr int kRounds = 5;
constexpr int kBigTrackKeys = 10000;
constexpr int kTracks = 1000;
constexpr int kKeysPerTrack = 1000;
constexpr int kLatencySamples = 50;
constexpr int kFloodKeysPerSecond = 10000;

double Seconds(EmbeddedPerl& perl, const std::string& loop)
{
    const auto start = std::chrono::steady_clock::now();
    perl.Eval("$main::loops{" + loop + "}->()");
    const auto stop = std::chrono::steady_clock::now();
    if (!perl.error().empty())
        std::fprintf(stderr, "%s: %s", loop.c_str(), perl.error().c_str());
    return std::chrono::duration<double>(stop - start).count();
}

// $track->Value($ms) on a track of 10,000 keys against an empty Perl sub
// returning a number, each net of the bare loop; fastest of the rounds.
void BenchValue()
{
    EmbeddedPerl perl;
    perl.Eval("Sync::boot_Sync();");
    synctrack::Track* track = perl.context().tracks.Get("big");
    for (int i = 0; i < kBigTrackKeys; ++i)
        track->SetKey({i * 4, static_cast<float>(i % 7), static_cast<synctrack::KeyType>(i % 4)});
    perl.Eval(R"(
        use strict; use warnings;
        our $track = Sync::Track('big');
        sub empty_number { return 0 }
        sub Empty::number { return 0 }
        our $empty = bless \(my $o = 0), 'Empty';
        our %loops;
        for my $body (['none', '$s += 0'], ['empty', '$s += empty_number($_)'], ['value', '$s += $track->Value($_)'],
                      ['method', '$s += $empty->number($_)']) {
            $loops{$body->[0]} = eval "sub { my \$s = 0; for (1 .. )" + std::to_string(kCalls) + R"() { $body->[1] } return \$s }" or die $@;
        }
        1;)");
    if (!perl.error().empty()) {
        std::fprintf(stderr, "setup: %s", perl.error().c_str());
        return;
    }
    std::vector<double> best(4, 1e9);
    const char* loops[] = {"none", "empty", "value", "method"};
    for (int round = 0; round < kRounds; ++round)
        for (int i = 0; i < 4; ++i)
            best[i] = std::min(best[i], Seconds(perl, loops[i]));
    const auto ns = [&](int i) { return (best[i] - best[0]) * 1e9 / kCalls; };
    // The method call is the fair measure: $track->Value is one, and the
    // runtime's method lookup costs the same for both.
    std::printf("Sync::Track::Value, 10000 keys / empty Perl method: %.2f (goal <= 1.0)\n", ns(2) / ns(3));
    std::printf("Sync::Track::Value, 10000 keys / empty Perl function: %.2f\n", ns(2) / ns(1));
    std::printf("  Value %.1f ns per call, empty method %.1f ns, empty function %.1f ns, bare loop %.1f ns per iteration\n",
                ns(2), ns(3), ns(1), best[0] * 1e9 / kCalls);
}

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// 1,000 track files of 1,000 keys each, read by a script: resident memory
// after against before.
void BenchMemory()
{
    TempDir dir;
    for (int t = 0; t < kTracks; ++t) {
        std::vector<synctrack::Key> keys(kKeysPerTrack);
        for (int k = 0; k < kKeysPerTrack; ++k)
            keys[k] = {k * 8, static_cast<float>(k), synctrack::KeyType::Linear};
        std::string why;
        synctrack::SaveTrackFile(dir / synctrack::TrackFileName("t" + std::to_string(t)), keys, &why);
    }
    char home[4096];
    if (!getcwd(home, sizeof home) || chdir(dir.path().c_str()) != 0)
        return;
    EmbeddedPerl perl;
    perl.Eval("Sync::boot_Sync(); our $x = 0;");
    const long before = ResidentKb();
    perl.Eval("our @tracks = map { Sync::Track(\"t$_\") } 0 .. " + std::to_string(kTracks - 1) +
              "; $x += $_->Value(1000) for @tracks; 1;");
    const long after = ResidentKb();
    if (chdir(home) != 0)
        return;
    std::printf("sync tracks resident memory, 1000 tracks of 1000 keys: %.1f MB above none (goal <= 16)\n",
                (after - before) / 1024.0);
}

double WallMs()
{
    timeval now;
    gettimeofday(&now, nullptr);
    return now.tv_sec * 1000.0 + now.tv_usec / 1000.0;
}

// A show at 60 frames a second that, after each swap, prints the wall time
// of the swap whenever the track's value changed, and after 4 s its frame
// rate.
const char kShow[] = R"(use strict; use warnings; use Time::HiRes ();
sub main {
    OpenGL::boot_OpenGL(); Sync::boot_Sync();
    my $track = Sync::Track('a');
    OpenGL::glStartSound();
    my ($last, $frames, $next) = (-1, 0, Time::HiRes::time());
    my $start = $next;
    $| = 1;
    for (;;) {
        OpenGL::glPumpEvents();
        my $v = $track->Value(OpenGL::glGetSoundPos());
        OpenGL::glClear();
        OpenGL::SwapBuffers();
        my $now = Time::HiRes::time();
        if ($v != $last) { printf "swap %.17g %.3f\n", $v, $now * 1000; $last = $v }
        ++$frames;
        if ($ENV{RATE} && $now - $start >= 4) { printf "rate %.2f\n", $frames / ($now - $start); return 0 }
        $next += 1 / 60;
        my $wait = $next - Time::HiRes::time();
        Time::HiRes::sleep($wait) if $wait > 0;
    }
}
)";

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// From the editor's SET_KEY to the swap of the first frame that used it.
void BenchKeyToScreen()
{
    SyncEditor editor;
    ShowDir dir(kShow);
    LivePlayer player(dir, {"-w", "--editor=" + editor.Address()});
    if (!editor.WaitFor([](const SyncEditor::Seen& s) { return s.tracks.size() == 1; })) {
        std::printf("editor key to screen: not measured, no connection\n");
        return;
    }
    editor.Send(SyncEditor::PauseMusic(false));
    std::vector<double> latencies;
    for (int i = 1; i <= kLatencySamples; ++i) {
        // Somewhere inside a frame, each time elsewhere.
        std::this_thread::sleep_for(std::chrono::microseconds(100000 + (i * 3700) % 16667));
        const std::size_t from = player.Lines().size();
        const double sent = WallMs();
        editor.Send(SyncEditor::SetKey(0, 0, static_cast<float>(i), 0));
        const std::string prefix = "swap " + std::to_string(i) + " ";
        const int line = player.WaitForLine(prefix, 5, from);
        if (line < 0)
            continue;
        latencies.push_back(std::stod(player.Lines()[line].substr(prefix.size())) - sent);
    }
    std::printf("sync editor key to screen at 60 fps: %.2f ms median, %.2f ms max of %zu (goal <= 18.7)\n",
                Median(latencies), latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()),
                latencies.size());
}

double Rate(const std::vector<std::string>& args, SyncEditor* flood)
{
    ShowDir dir(kShow);
    RunOptions options;
    options.env["RATE"] = "1";
    LivePlayer player(dir, args, options);
    bool stop = false;
    std::thread sender;
    if (flood) {
        flood->WaitFor([](const SyncEditor::Seen& s) { return s.tracks.size() == 1; });
        flood->Send(SyncEditor::PauseMusic(false));
        sender = std::thread([&] {
            // 100 keys every 10 ms, on rows 0 to 99 over and over.
            for (int batch = 0; !stop; ++batch) {
                std::string keys;
                for (int k = 0; k < kFloodKeysPerSecond / 100; ++k)
                    keys += SyncEditor::SetKey(0, static_cast<std::uint32_t>(k), static_cast<float>(batch), 1);
                flood->Send(keys);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    const int line = player.WaitForLine("rate ", 20);
    stop = true;
    if (sender.joinable())
        sender.join();
    return line < 0 ? 0.0 : std::stod(player.Lines()[line].substr(5));
}

void BenchFlood()
{
    const double plain = Rate({"-w"}, nullptr);
    SyncEditor editor;
    const double flooded = Rate({"-w", "--editor=" + editor.Address()}, &editor);
    std::printf("frame rate with an editor sending 10000 keys a second: %.2f fps, %.2f without; ratio %.3f (goal >= 0.95)\n",
                flooded, plain, plain > 0 ? flooded / plain : 0.0);
}

}  // namespace

int main()
{
    BenchValue();
    BenchMemory();
    BenchKeyToScreen();
    BenchFlood();
    return 0;
}

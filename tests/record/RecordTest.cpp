// Recording through the real player without a display, checked with ffprobe and ffmpeg: the frames, their
// times and the music's clicks; files cut short by a die or Ctrl-C; refusals that leave nothing behind.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

using namespace testing_support;

namespace {

constexpr int kRate = 44100;
constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Standard output of a shell command.
std::string Output(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        out += static_cast<char>(c);
    return pipe ? (pclose(pipe), out) : out;
}

// Stereo music with a one-sample click every 250 ms from 125 ms, as an MP3 (gapless, from lame).
void WriteMusic(const ShowDir& dir, double seconds)
{
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(seconds * kRate) * 2, 0);
    for (std::size_t at = kRate / 8 * 2; at < pcm.size(); at += kRate / 4 * 2)
        pcm[at] = pcm[at + 1] = 30000;
    FILE* lame = popen(("lame --quiet -r -s 44.1 -b 192 - '" + dir / "derure.mp3" + "' 2>/dev/null").c_str(), "w");
    std::fwrite(pcm.data(), 2, pcm.size(), lame);
    ASSERT_EQ(pclose(lame), 0);
}

RunResult Record(const ShowDir& dir, const std::string& mainPl, std::vector<std::string> args)
{
    dir.Write("main.pl", mainPl);
    RunOptions options;
    options.args = std::move(args);
    options.unsetEnv = {"DISPLAY"};  // recording needs no display
    return RunPlayer(dir, options);
}

// What ffprobe says of the video ("codec,width,height,frames") and the audio ("codec").
std::string Probe(const std::string& file)
{
    return Output("ffprobe -v error -count_frames -select_streams v -show_entries "
                  "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" + file + "'; " +
                  "ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 '" + file + "'");
}

// The time of the first decoded frame of a stream ("a" or "v"), in seconds.
double FirstTime(const std::string& file, const char* stream)
{
    return std::atof(Output(std::string("ffprobe -v error -select_streams ") + stream +
                            " -show_entries frame=pts_time -of csv=p=0 -read_intervals %+#8 '" + file +
                            "' | cut -d, -f1 | grep . | sort -g | head -1").c_str());
}

// Clicks in the file's sound (decoded at 48 kHz), in seconds from the first picture.
std::vector<double> Clicks(const std::string& file)
{
    const int rate = 48000;
    const std::string raw = Output("ffmpeg -v error -i '" + file + "' -map 0:a -ac 1 -ar 48000 -f s16le -");
    std::vector<std::int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    const double offset = FirstTime(file, "a") - FirstTime(file, "v");
    std::vector<double> clicks;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        if (std::abs(pcm[i]) < 6000)
            continue;
        const auto louder = [](std::int16_t a, std::int16_t b) { return std::abs(a) < std::abs(b); };
        const std::size_t end = std::min(pcm.size(), i + rate / 200);
        const std::size_t peak = std::max_element(pcm.begin() + i, pcm.begin() + end, louder) - pcm.begin();
        clicks.push_back(offset + static_cast<double>(peak) / rate);
        i = peak + rate / 10;
    }
    return clicks;
}

// Paints in 16 bands (bit 15 left, white for 1) the music position on top, glGetTime since the first frame below.
// The music starts at $start_ms, jumps from $seek_at to $seek_to; after $stop_after (> 0) frames main returns 7.
const char* kShow = R"(use strict;
use warnings;
sub bits { my $v = shift; return join '', map { ($v >> (15 - $_)) & 1 ? "\xff" x 4 : "\0\0\0\xff" } 0 .. 15 }
sub main {
    OpenGL::boot_OpenGL();
    Image::boot_Image();
    my $picture = Image->new;
    my ($start_ms, $seek_at, $seek_to, $stop_after) = (SETTINGS);
    SETUP
    my $t0 = OpenGL::glGetTime();
    my $frames = 0;
    while (1) {
        OpenGL::glPumpEvents();
        die "a key reads down\n" if OpenGL::glEscPressed() + OpenGL::glSpacePressed()
            + OpenGL::glLeftPressed() + OpenGL::glRightPressed();
        return 7 if $stop_after > 0 && $frames++ == $stop_after;
        if ($start_ms >= 0 && OpenGL::glGetTime() - $t0 >= $start_ms) { OpenGL::glStartSound(); $start_ms = -1 }
        if ($seek_at >= 0 && OpenGL::glGetSoundPos() >= $seek_at) { OpenGL::glSetSoundPos($seek_to); $seek_at = -1 }
        my $pixels = bits(OpenGL::glGetSoundPos()) . bits(OpenGL::glGetTime() - $t0);
        OpenGL::glClear();
        $picture->SetParams({ imagedata => $pixels, width => 16, height => 2, x => 0, y => 0,
            alignh => 1, alignv => 1, wsize => 2.66, hsize => 16, rot => 0, alpha => 1,
            r => 1, g => 1, b => 1 });
        $picture->Render(0);
        EXTRA
        OpenGL::SwapBuffers();
    }
}
1;
)";

// The show with its settings, SETUP (before the loop) and EXTRA (over the bands) filled in.
std::string Show(int startMs, int seekAt, int seekTo, int stopAfter, const std::string& setup = "",
                 const std::string& extra = "")
{
    char settings[64];
    std::snprintf(settings, sizeof settings, "%d, %d, %d, %d", startMs, seekAt, seekTo, stopAfter);
    std::string text = kShow;
    const std::string values[][2] = {{"SETTINGS", settings}, {"SETUP", setup}, {"EXTRA", extra}};
    for (const auto& [key, value] : values)
        text.replace(text.find(key), key.size(), value);
    return text;
}

// The value painted in one row of a grey frame (row 0 top, 1 bottom).
int ReadBits(const std::string& frame, int row)
{
    const int y = row == 0 ? kHeight / 4 : 3 * kHeight / 4;
    int value = 0;
    for (int bit = 0; bit < 16; ++bit)
        value = value * 2 + (static_cast<unsigned char>(frame[y * kWidth + (2 * bit + 1) * kWidth / 32]) > 128);
    return value;
}

}  // namespace

// Frame k is drawn at floor(k * 1000 / fps) ms, the music following from its start and a seek; the file has the
// frames drawn, ending at the duration, the music's end or main's return, and every click within 1 ms of its place.
TEST(Record, FramesAndSoundFollowTheVirtualClock)
{
    struct Case {
        const char* file;
        int fps;
        const char* duration;  // "" for none
        double musicSeconds;
        int startMs, seekAt, seekTo, stopAfter;
        long frames;
        int status;
        const char* probed;
    } cases[] = {
        {"show.mp4", 25, "2", 4.5, 0, -1, 0, 0, 50, 0, "h264,160,120,50\naac\n"},
        {"show.mkv", 60, "2", 4.5, 500, 1000, 2000, 0, 120, 0, "h264,160,120,120\naac\n"},
        {"show.webm", 30, "", 3, 500, 1000, 2000, 0, 75, 0, "vp9,160,120,75\nopus\n"},
        {"show.mp4", 30, "3", 4.5, 0, -1, 0, 40, 40, 7, "h264,160,120,40\naac\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.fps) + " fps");
        ShowDir dir;
        WriteMusic(dir, c.musicSeconds);
        std::vector<std::string> args = {"-x", "160", "--record", c.file, "--fps", std::to_string(c.fps)};
        if (*c.duration)
            args.insert(args.end(), {"--duration", c.duration});
        const RunResult run = Record(dir, Show(c.startMs, c.seekAt, c.seekTo, c.stopAfter), args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, "using resolution 160x120 32bpp [fs]\n");
        EXPECT_EQ(Probe(dir / c.file), c.probed);

        // The frame the music starts on, and the one it plays from seekTo on.
        const long startFrame = (c.startMs * c.fps + 999) / 1000;
        const long seekFrame = c.seekAt < 0 ? c.frames : startFrame + (c.seekAt * c.fps + 999) / 1000;
        const std::string all =
            Output("ffmpeg -v error -i '" + dir / c.file + "' -fps_mode passthrough -f rawvideo -pix_fmt gray -");
        ASSERT_EQ(static_cast<long>(all.size()), c.frames * kWidth * kHeight);
        for (long k = 0; k < c.frames; ++k) {
            const std::string frame = all.substr(k * kWidth * kHeight, kWidth * kHeight);
            const long music = k < startFrame ? 0 : k < seekFrame ? (k - startFrame) * 1000 / c.fps
                                                                  : c.seekTo + (k - seekFrame) * 1000 / c.fps;
            EXPECT_EQ(ReadBits(frame, 0), music) << "music position, frame " << k;
            EXPECT_EQ(ReadBits(frame, 1), k * 1000 / c.fps) << "glGetTime, frame " << k;
        }

        // Each click is heard from the start up to the seek, and from the seek on at its place after seekTo.
        std::vector<double> want;
        const double startAt = static_cast<double>(startFrame) / c.fps, end = static_cast<double>(c.frames) / c.fps;
        const double seekedAt = static_cast<double>(seekFrame) / c.fps;
        for (int ms = 125; startAt + ms / 1000.0 < std::min(seekedAt, end - 0.01); ms += 250)
            want.push_back(startAt + ms / 1000.0);
        for (int ms = c.seekTo + 125; c.seekAt >= 0 && seekedAt + (ms - c.seekTo) / 1000.0 < end - 0.01; ms += 250)
            want.push_back(seekedAt + (ms - c.seekTo) / 1000.0);
        const std::vector<double> got = Clicks(dir / c.file);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_NEAR(got[i], want[i], 0.001) << "click " << i;
    }
}

// A die or Ctrl-C while drawing frame 20 leaves a complete file of the 19 swapped (status 1 or 130) and no
// temporary file; both files decode to the same frames, effects and all.
TEST(Record, InterruptedShowLeavesACompleteFile)
{
    const char* setup = R"(BalTrap::boot_BalTrap();
    InkStain::boot_InkStain();
    my ($trap, $stain) = (BalTrap->new, InkStain->new);)";
    const std::string effects = R"(my $t = OpenGL::glGetSoundPos();
        $stain->SetParams({ openangle => $t / 10, stainsize => 0.5 + $t / 2000 });
        $stain->Render($t);
        $trap->SetParams({ x => 0, y => 0, zoom => 2, turn => $t / 5, trap_alpha => 0.8 });
        $trap->Render($t);
        our $n; )";
    // The top level can move to another folder; Ctrl-C can come in an END
    // block, which then calls into the player, as a DESTROY does after it.
    const char* keeper = R"(package Keeper;
sub DESTROY { OpenGL::glGetSoundPos() for 1 .. 3; print STDERR "destroyed\n" }
our $keeper = bless {}, 'Keeper';
END { kill 'INT', $$; OpenGL::glGetSoundPos() for 1 .. 3; print STDERR "end\n" }
)";
    const struct {
        const char* stop;
        int status;
        const char* message;  // how standard error starts
        const char* more;     // after the show
    } cases[] = {
        {"die \"broken show\\n\"", 1, "broken show\nrecording: frame 19", ""},
        {"kill 'INT', $$", 130, "recording: frame 19", ""},
        {"die \"broken show\\n\"", 1, "broken show\nrecording: frame 19", "chdir '/' or die;\n"},
        {"return 0", 130, "end\ndestroyed\nrecording: frame 19", keeper},
    };
    std::string hashes[std::size(cases)];
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string(cases[i].stop) + " " + cases[i].more);
        ShowDir dir;
        WriteMusic(dir, 2);
        const RunResult run =
            Record(dir, Show(0, -1, 0, 0, setup, effects + cases[i].stop + " if ++$n == 20;") + cases[i].more,
                   {"-x", "160", "--record", "cut.mkv"});
        EXPECT_EQ(run.status, cases[i].status) << run.err;
        EXPECT_EQ(run.err.rfind(cases[i].message, 0), 0u) << run.err;
        EXPECT_EQ(Probe(dir / "cut.mkv"), "h264,160,120,19\naac\n");
        EXPECT_EQ(Output("ffmpeg -v error -i '" + dir / "cut.mkv" + "' -f null - 2>&1"), "");
        EXPECT_EQ(Output("ls -A '" + dir.path() + "'"), "cut.mkv\nderure.mp3\nmain.pl\n");
        hashes[i] = Output("ffmpeg -v error -i '" + dir / "cut.mkv" + "' -map 0:v -fps_mode passthrough -f framemd5 -");
    }
    EXPECT_GE(std::count(hashes[0].begin(), hashes[0].end(), '\n'), 19);
    for (const std::string& hash : hashes)
        EXPECT_EQ(hash, hashes[0]);
}

// What the recorder cannot do ends the player with one line and status 1, and leaves no file.
TEST(Record, RefusalsLeaveNothingBehind)
{
    const std::pair<const char*, const char*> cases[] = {
        {"missing/out.mp4", "showplayer: cannot write \"missing/out.mp4\": No such file or directory\n"},
        {"folder", "showplayer: cannot record to \"folder\": the file name must end in .mp4, .mkv or .webm\n"},
        {"out.avi", "showplayer: cannot record to \"out.avi\": the file name must end in .mp4, .mkv or .webm\n"},
        {"folder.mp4", "showplayer: cannot write \"folder.mp4\": Is a directory\n"},
    };
    for (const auto& [file, err] : cases) {
        ShowDir dir;
        dir.Write("folder/keep", "");
        dir.Write("folder.mp4/keep", "");
        dir.Write("main.pl", "");
        dir.Copy(Fixture("tone.mp3"), "derure.mp3");
        const std::string before = Output("ls -A '" + dir.path() + "'");
        const RunResult run = Record(dir, "sub main { return 0 } 1;", {"--record", file});
        EXPECT_EQ(run.status, 1) << file;
        EXPECT_EQ(run.out, "") << file;
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(Output("ls -A '" + dir.path() + "'"), before) << file;
    }
}

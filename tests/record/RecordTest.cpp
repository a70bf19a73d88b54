// Recording through the real player without a display, checked with ffprobe
// and ffmpeg: frame count, size and the time each frame was drawn at; clicks
// of the music at their place in the file's sound, also after a late start and
// a seek; identical decoded frames from two runs; a file that is complete
// after a die and after Ctrl-C; and the refusals that leave nothing behind.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace testing_support;

namespace {

constexpr int kRate = 44100;
constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Standard output of a shell command.
std::string Output(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// Stereo music of `seconds` with a one-sample click on both channels at each
// of clickMs, as an MP3 (lame writes the gapless tag the decoder honours).
void WriteMusic(const ShowDir& dir, double seconds, const std::vector<int>& clickMs)
{
    const std::uint32_t frames = static_cast<std::uint32_t>(seconds * kRate);
    std::vector<std::int16_t> pcm(frames * 2, 0);
    for (int ms : clickMs)
        pcm[static_cast<std::size_t>(ms) * kRate / 1000 * 2] = pcm[static_cast<std::size_t>(ms) * kRate / 1000 * 2 + 1] = 30000;
    const std::uint32_t bytes = frames * 4;
    std::ofstream wav(dir / "music.wav", std::ios::binary);
    auto u32 = [&](std::uint32_t v) { wav.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { wav.write(reinterpret_cast<const char*>(&v), 2); };
    wav.write("RIFF", 4);
    u32(36 + bytes);
    wav.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(kRate);
    u32(kRate * 4);
    u16(4);
    u16(16);
    wav.write("data", 4);
    u32(bytes);
    wav.write(reinterpret_cast<const char*>(pcm.data()), bytes);
    wav.close();
    ASSERT_EQ(std::system(("lame --quiet -b 192 " + dir / "music.wav" + " " + dir / "derure.mp3").c_str()), 0);
}

RunResult Record(const ShowDir& dir, const std::string& mainPl, std::vector<std::string> args)
{
    dir.Write("main.pl", mainPl);
    RunOptions options;
    options.args = std::move(args);
    options.unsetEnv = {"DISPLAY"};  // recording needs no display
    return RunPlayer(dir, options);
}

struct StreamInfo {
    std::string video, audio;  // codec names
    int width = 0, height = 0;
    long frames = -1;
};

StreamInfo Probe(const std::string& file)
{
    StreamInfo info;
    std::istringstream lines(Output("ffprobe -v error -count_frames -show_entries "
                                    "stream=codec_type,codec_name,width,height,nb_read_frames -of compact=p=0 '" +
                                    file + "'"));
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string> field;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');)
            if (const auto eq = part.find('='); eq != std::string::npos)
                field[part.substr(0, eq)] = part.substr(eq + 1);
        if (field["codec_type"] == "video") {
            info.video = field["codec_name"];
            info.width = std::atoi(field["width"].c_str());
            info.height = std::atoi(field["height"].c_str());
            info.frames = std::atol(field["nb_read_frames"].c_str());
        } else if (field["codec_type"] == "audio") {
            info.audio = field["codec_name"];
        }
    }
    return info;
}

// The decoded frames as grey pictures.
std::vector<std::string> GreyFrames(const std::string& file)
{
    const std::string all = Output("ffmpeg -v error -i '" + file + "' -fps_mode passthrough -f rawvideo -pix_fmt gray -");
    std::vector<std::string> frames;
    for (std::size_t at = 0; at + kWidth * kHeight <= all.size(); at += kWidth * kHeight)
        frames.push_back(all.substr(at, kWidth * kHeight));
    return frames;
}

// The time of the first decoded frame of a stream ("a" or "v"), in seconds.
double FirstTime(const std::string& file, const char* stream)
{
    std::istringstream times(Output(std::string("ffprobe -v error -select_streams ") + stream +
                                     " -show_entries frame=pts_time -of csv=p=0 -read_intervals %+#8 '" + file +
                                     "' | cut -d, -f1"));
    double first = 1e9;
    for (std::string line; std::getline(times, line);)
        if (!line.empty())
            first = std::min(first, std::atof(line.c_str()));
    return first;
}

// Clicks in the file's sound, in seconds from the first picture.
std::vector<double> Clicks(const std::string& file, int* rate)
{
    const std::string rateText = Output("ffprobe -v error -select_streams a -show_entries stream=sample_rate "
                                        "-of csv=p=0 '" + file + "'");
    *rate = std::atoi(rateText.c_str());
    const std::string raw = Output("ffmpeg -v error -i '" + file + "' -map 0:a -ac 1 -f s16le -");
    std::vector<std::int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    const double offset = FirstTime(file, "a") - FirstTime(file, "v");
    std::vector<double> clicks;
    const std::size_t window = *rate / 200, gap = *rate / 10;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        if (std::abs(pcm[i]) < 6000)
            continue;
        std::size_t peak = i;
        for (std::size_t j = i; j < std::min(pcm.size(), i + window); ++j)
            if (std::abs(pcm[j]) > std::abs(pcm[peak]))
                peak = j;
        clicks.push_back(offset + static_cast<double>(peak) / *rate);
        i = peak + gap;
    }
    return clicks;
}

std::set<std::string> Listing(const ShowDir& dir)
{
    std::set<std::string> names;
    if (DIR* d = opendir(dir.path().c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// Paints two rows of 16 bands, bit 15 on the left, white for 1: the music
// position on top, the time since the first frame by glGetTime below.
// STOP_AFTER frames, when above 0, make main return 7; SETUP runs before the
// loop and EXTRA draws over the bands.
const char* kTimeBits = R"(use strict;
use warnings;
sub bits { my $v = shift; return join '', map { ($v >> (15 - $_)) & 1 ? "\xff" x 4 : "\0\0\0\xff" } 0 .. 15 }
sub main {
    OpenGL::boot_OpenGL();
    Image::boot_Image();
    my $picture = Image->new;
    SETUP
    my $start = OpenGL::glGetTime();
    my $frames = 0;
    OpenGL::glStartSound();
    while (1) {
        OpenGL::glPumpEvents();
        die "a key reads down\n" if OpenGL::glEscPressed() + OpenGL::glSpacePressed()
            + OpenGL::glLeftPressed() + OpenGL::glRightPressed();
        return 7 if STOP_AFTER > 0 && $frames++ == STOP_AFTER;
        my $pixels = bits(OpenGL::glGetSoundPos()) . bits(OpenGL::glGetTime() - $start);
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

std::string TimeBitsShow(int stopAfter, const std::string& extra = "", const std::string& setup = "")
{
    std::string text = kTimeBits;
    text.replace(text.find("STOP_AFTER"), 10, std::to_string(stopAfter));
    text.replace(text.find("STOP_AFTER"), 10, std::to_string(stopAfter));
    text.replace(text.find("SETUP"), 5, setup);
    text.replace(text.find("EXTRA"), 5, extra);
    return text;
}

// The value painted in one row of a grey frame (row 0 top, 1 bottom).
int ReadBits(const std::string& frame, int row)
{
    const int y = row == 0 ? kHeight / 4 : 3 * kHeight / 4;
    int value = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const int x = (2 * bit + 1) * kWidth / 32;
        value = value * 2 + (static_cast<unsigned char>(frame[y * kWidth + x]) > 128 ? 1 : 0);
    }
    return value;
}

}  // namespace

// Frame k is drawn at floor(k * 1000 / fps) ms by both clocks; the file has
// exactly the frames drawn, at the show's size, and ends at the duration, at
// the music's end, or when main returns (with main's status).
TEST(Record, FramesFollowTheVirtualClock)
{
    struct Case {
        const char* file;
        int fps;
        const char* duration;  // "" for none
        double musicSeconds;
        int stopAfter;
        long frames;
        int status;
        const char* video;
        const char* audio;
    } cases[] = {
        {"show.mp4", 25, "2", 10, 0, 50, 0, "h264", "aac"},
        {"show.mkv", 60, "1", 10, 0, 60, 0, "h264", "aac"},
        {"show.webm", 25, "", 1, 0, 25, 0, "vp9", "opus"},
        {"show.mp4", 30, "3", 10, 40, 40, 7, "h264", "aac"},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.file) + " at " + std::to_string(c.fps) + " fps";
        ShowDir dir;
        WriteMusic(dir, c.musicSeconds, {});
        std::vector<std::string> args = {"-x", std::to_string(kWidth), "--record", c.file, "--fps",
                                         std::to_string(c.fps)};
        if (*c.duration)
            args.insert(args.end(), {"--duration", c.duration});
        const RunResult run = Record(dir, TimeBitsShow(c.stopAfter), args);
        EXPECT_EQ(run.status, c.status) << what << ": " << run.err;
        EXPECT_EQ(run.out, "using resolution 160x120 32bpp [fs]\n") << what;

        const StreamInfo info = Probe(dir / c.file);
        EXPECT_EQ(info.video, c.video) << what;
        EXPECT_EQ(info.audio, c.audio) << what;
        EXPECT_EQ(info.width, kWidth) << what;
        EXPECT_EQ(info.height, kHeight) << what;
        EXPECT_EQ(info.frames, c.frames) << what;
        const std::vector<std::string> frames = GreyFrames(dir / c.file);
        ASSERT_EQ(static_cast<long>(frames.size()), c.frames) << what;
        for (long k = 0; k < c.frames; ++k) {
            const int want = static_cast<int>(k * 1000 / c.fps);
            EXPECT_EQ(ReadBits(frames[k], 0), want) << what << ", frame " << k << ": music position";
            EXPECT_EQ(ReadBits(frames[k], 1), want) << what << ", frame " << k << ": glGetTime";
        }
    }
}

// Every click of the music lies in the file's sound within 1 ms of its place:
// music time T at T from the first picture; after a late start and a seek,
// shifted exactly as the show moved the music.
TEST(Record, SoundIsWhatTheAudienceHeard)
{
    // The music starts when glGetTime has advanced startMs, and on reaching
    // seekAt it jumps to seekTo.
    const char* show = R"(use strict;
sub main {
    OpenGL::boot_OpenGL();
    my ($start_ms, $seek_at, $seek_to) = (START);
    my $t0 = OpenGL::glGetTime();
    my ($started, $seeked);
    while (1) {
        if (!$started && OpenGL::glGetTime() - $t0 >= $start_ms) { OpenGL::glStartSound(); $started = 1 }
        if ($seek_at >= 0 && !$seeked && OpenGL::glGetSoundPos() >= $seek_at) { OpenGL::glSetSoundPos($seek_to); $seeked = 1 }
        OpenGL::glClear();
        OpenGL::SwapBuffers();
    }
}
1;
)";
    struct Case {
        const char* file;
        int fps;
        int startMs, seekAt, seekTo;
    } cases[] = {
        {"clicks.mp4", 25, 0, -1, 0},
        {"clicks.mkv", 25, 500, 1000, 2000},
        {"clicks.webm", 30, 500, 1000, 2000},
    };
    std::vector<int> music;
    for (int ms = 125; ms < 4000; ms += 250)
        music.push_back(ms);
    const double seconds = 3;
    for (const Case& c : cases) {
        ShowDir dir;
        WriteMusic(dir, 4.5, music);
        std::string text = show;
        text.replace(text.find("START"), 5,
                     std::to_string(c.startMs) + ", " + std::to_string(c.seekAt) + ", " + std::to_string(c.seekTo));
        const RunResult run = Record(dir, text, {"-x", std::to_string(kWidth), "--record", c.file, "--fps",
                                                 std::to_string(c.fps), "--duration", "3"});
        ASSERT_EQ(run.status, 0) << c.file << ": " << run.err;

        // Where each click must be: the frame the music starts on, and the
        // frame after which it plays from seekTo, both whole frames.
        const long startFrame = (static_cast<long>(c.startMs) * c.fps + 999) / 1000;
        const long seekFrame = c.seekAt < 0 ? -1 : startFrame + (static_cast<long>(c.seekAt) * c.fps + 999) / 1000;
        const double startAt = static_cast<double>(startFrame) / c.fps;
        const double seekedAt = seekFrame < 0 ? 1e9 : static_cast<double>(seekFrame) / c.fps;
        std::vector<double> want;
        for (int ms : music) {
            if (startAt + ms / 1000.0 < seekedAt)
                want.push_back(startAt + ms / 1000.0);
            if (seekFrame >= 0 && ms >= c.seekTo)
                want.push_back(seekedAt + (ms - c.seekTo) / 1000.0);
        }
        std::sort(want.begin(), want.end());
        while (!want.empty() && want.back() >= seconds - 0.01)
            want.pop_back();
        int rate = 0;
        const std::vector<double> got = Clicks(dir / c.file, &rate);
        ASSERT_EQ(got.size(), want.size()) << c.file;
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_NEAR(got[i], want[i], 0.001) << c.file << ", click " << i;
    }
}

// Two recordings of the same show decode to the same frames.
TEST(Record, TwoRecordingsAreIdentical)
{
    const std::string setup = R"(BalTrap::boot_BalTrap();
    InkStain::boot_InkStain();
    my ($trap, $stain) = (BalTrap->new, InkStain->new);)";
    const std::string effects = R"(my $t = OpenGL::glGetSoundPos();
        $stain->SetParams({ openangle => $t / 10, stainsize => 0.5 + $t / 2000 });
        $stain->Render($t);
        $trap->SetParams({ x => 0, y => 0, zoom => 2, turn => $t / 5, trap_alpha => 0.8 });
        $trap->Render($t);)";
    std::string hashes[2];
    for (std::string& hash : hashes) {
        ShowDir dir;
        WriteMusic(dir, 2, {});
        const RunResult run = Record(dir, TimeBitsShow(0, effects, setup),
                                     {"-x", std::to_string(kWidth), "--record", "a.mp4", "--duration", "1"});
        ASSERT_EQ(run.status, 0) << run.err;
        hash = Output("ffmpeg -v error -i '" + dir / "a.mp4" + "' -map 0:v -fps_mode passthrough -f framemd5 -");
    }
    EXPECT_GT(hashes[0].size(), 60u * 40);
    EXPECT_EQ(hashes[0], hashes[1]);
}

// A show that dies or gets Ctrl-C midway (here while drawing its 20th frame)
// leaves a complete file of the frames swapped until then, with status 1 or
// 130, and no temporary file.
TEST(Record, InterruptedShowLeavesACompleteFile)
{
    struct Case {
        const char* what;
        const char* stop;
        int status;
        long frames;
        const char* message;  // how standard error starts
    } cases[] = {
        {"die", "die \"broken show\\n\"", 1, 19, "broken show\nrecording: frame 19"},
        {"Ctrl-C", "kill 'INT', $$", 130, 19, "recording: frame 19"},
    };
    for (const Case& c : cases) {
        ShowDir dir;
        WriteMusic(dir, 2, {});
        const std::string extra = std::string("our $n; ") + c.stop + " if ++$n == 20;";
        const RunResult run =
            Record(dir, TimeBitsShow(0, extra), {"-x", std::to_string(kWidth), "--record", "cut.mkv"});
        EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
        EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << c.what << ": " << run.err;
        EXPECT_EQ(Probe(dir / "cut.mkv").frames, c.frames) << c.what;
        EXPECT_EQ(Output("ffmpeg -v error -i '" + dir / "cut.mkv" + "' -f null - 2>&1"), "") << c.what;
        EXPECT_EQ(Listing(dir), (std::set<std::string>{"main.pl", "music.wav", "derure.mp3", "cut.mkv"})) << c.what;
    }
}

// What the recorder cannot do ends the player with one line and status 1,
// before anything is drawn, and leaves no file.
TEST(Record, RefusalsLeaveNothingBehind)
{
    struct Case {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{"--record", "missing/out.mp4"}, "showplayer: cannot write \"missing/out.mp4\": No such file or directory\n"},
        {{"--record", "folder"}, "showplayer: cannot record to \"folder\": the file name must end in .mp4, .mkv or .webm\n"},
        {{"--record", "out.avi"}, "showplayer: cannot record to \"out.avi\": the file name must end in .mp4, .mkv or .webm\n"},
        {{"--record", "folder.mp4"}, "showplayer: cannot write \"folder.mp4\": Is a directory\n"},
        {{"--record", "out.mp4", "--fps", "0"}, "showplayer: --fps takes a whole number from 1 to 240, not \"0\"\n"},
    };
    for (const Case& c : cases) {
        ShowDir dir;
        dir.Write("folder/keep", "");
        dir.Write("folder.mp4/keep", "");
        dir.Copy(Fixture("tone.mp3"), "derure.mp3");
        const std::set<std::string> before = Listing(dir);
        const RunResult run = Record(dir, "sub main { return 0 } 1;", c.args);
        EXPECT_EQ(run.status, 1) << c.args[1];
        EXPECT_EQ(run.out, "") << c.args[1];
        EXPECT_EQ(run.err, c.err);
        std::set<std::string> after = Listing(dir);
        after.erase("main.pl");
        EXPECT_EQ(after, before) << c.args[1];
    }
}

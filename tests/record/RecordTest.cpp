// Recording through the real player without a display, checked with ffprobe and ffmpeg: the frames, their
// times and the music's clicks; files cut short by a die or Ctrl-C; refusals that leave nothing behind.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <sys/resource.h>
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

// Clicks in the sound (decoded at 48 kHz), in seconds from the first picture; the sound is in the video's file
// or, for an image sequence, in a file of its own.
std::vector<double> Clicks(const std::string& file, const std::string& soundFile)
{
    const int rate = 48000;
    const std::string raw = Output("ffmpeg -v error -i '" + soundFile + "' -map 0:a -ac 1 -ar 48000 -f s16le -");
    std::vector<std::int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    const double offset = FirstTime(soundFile, "a") - FirstTime(file, "v");
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
        const char* sound;  // the sound's own file, "" when it is in the video's
    } cases[] = {
        {"show.mp4", 25, "2", 4.5, 0, -1, 0, 0, 50, 0, "h264,160,120,50\naac\n", ""},
        {"show.mkv", 60, "2", 4.5, 500, 1000, 2000, 0, 120, 0, "h264,160,120,120\naac\n", ""},
        {"show.webm", 30, "", 3, 500, 1000, 2000, 0, 75, 0, "vp9,160,120,75\nopus\n", ""},
        {"show.mp4", 30, "3", 4.5, 0, -1, 0, 40, 40, 7, "h264,160,120,40\naac\n", ""},
        {"show.mov", 30, "2", 3, 500, 1000, 2000, 0, 60, 0, "prores,160,120,60\npcm_s16le\n", ""},
        {"shots/f-%03d.png", 25, "", 2, 0, 500, 1000, 0, 38, 0, "png,160,120,38\n", "shots/f.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.fps) + " fps");
        ShowDir dir;
        dir.Write("shots/.keep", "");
        WriteMusic(dir, c.musicSeconds);
        std::vector<std::string> args = {"-x", "160", "--record", c.file, "--fps", std::to_string(c.fps)};
        if (*c.duration)
            args.insert(args.end(), {"--duration", c.duration});
        const RunResult run = Record(dir, Show(c.startMs, c.seekAt, c.seekTo, c.stopAfter), args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, "using resolution 160x120 32bpp [fs]\n");
        const std::string sound = dir / (*c.sound ? c.sound : c.file);
        if (std::string(c.file) == "show.mov") {  // the editing master: ProRes 422 HQ in 10 bits
            EXPECT_EQ(Output("ffprobe -v error -select_streams v -show_entries stream=profile,pix_fmt -of csv=p=0 '" +
                             dir / c.file + "'"), "HQ,yuv422p10le\n");
        }
        EXPECT_EQ(Probe(dir / c.file) + (*c.sound ? Probe(sound) : ""), c.probed + std::string(*c.sound ? "pcm_s16le\n" : ""));

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
        const std::vector<double> got = Clicks(dir / c.file, sound);
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

// A show of two frames with a white square turned 30 degrees on black (a hard diagonal edge), then the sub-frame
// show: white over the whole picture during the first half of each 40 ms frame, black in the second, printing the
// time and music position of every swap.
const char* kSquareShow = R"(sub main {
    OpenGL::boot_OpenGL();
    Image::boot_Image();
    my $p = Image->new;
    my %white = (imagedata => "\xff" x (4 * 256 * 256), width => 256, height => 256, x => 0, y => 0, alignh => 1, alignv => 1,
                 alpha => 1, r => 1, g => 1, b => 1);
    for (1 .. 2) {
        OpenGL::glClear();
        $p->SetParams({ %white, wsize => 1, hsize => 1, rot => 30 });
        $p->Render(0);
        OpenGL::SwapBuffers();
    }
    return 0;
}
1;
)";
const char* kHalfWhiteShow = R"(our @seen;
END { print "@seen\n" }
sub main {
    OpenGL::boot_OpenGL();
    Image::boot_Image();
    my $p = Image->new;
    OpenGL::glStartSound();
    my $t0 = OpenGL::glGetTime();
    while (1) {
        my $t = OpenGL::glGetTime() - $t0;
        push @seen, "$t/" . OpenGL::glGetSoundPos();
        OpenGL::glClear();
        if ($t % 40 < 20) {
            $p->SetParams({ imagedata => "\xff" x 16, width => 2, height => 2, x => 0, y => 0, alignh => 1,
                alignv => 1, alpha => 1, r => 1, g => 1, b => 1, wsize => 8, hsize => 8, rot => 0 });
            $p->Render(0);
        }
        OpenGL::SwapBuffers();
    }
}
1;
)";

// The red channel of every pixel of a picture file (rows from the top).
std::string Reds(const std::string& file)
{
    const std::string rgb = Output("ffmpeg -v error -i '" + file + "' -f rawvideo -pix_fmt rgb24 -");
    std::string reds;
    for (std::size_t i = 0; i < rgb.size(); i += 3)
        reds += rgb[i];
    return reds;
}

// Top-level MP4 boxes in file order.
std::string Boxes(const std::string& file)
{
    const std::string bytes = Output("cat '" + file + "'");
    std::string boxes;
    for (std::size_t at = 0; at + 8 <= bytes.size();) {
        const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])); };
        std::uint64_t size = byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        if (size == 1 && at + 16 <= bytes.size())
            for (int i = 0; i < 8; ++i)
                size = (i == 0 ? 0 : size << 8) | byte(at + 8 + i);
        boxes += bytes.substr(at + 4, 4) + " ";
        if (size < 8)
            break;
        at += size;
    }
    return boxes;
}

// Frames drawn at twice the size come out with smooth edges and exact flat areas; sub-frames are averaged to
// the exact mean, each drawn at its own time; quality settings reach x264, and an MP4's index comes first.
TEST(Record, PublishingOptions)
{
    const int w = 64, h = 48;
    for (const char* supersample : {"1", "2"}) {
        SCOPED_TRACE(std::string("--supersample ") + supersample);
        ShowDir dir;
        WriteMusic(dir, 1);
        const RunResult run = Record(dir, kSquareShow, {"-x", "64", "--supersample", supersample, "--record", "e-%d.png"});
        EXPECT_EQ(run.status, 0) << run.err;
        const std::string reds = Reds(dir / "e-1.png");
        ASSERT_EQ(reds.size(), static_cast<std::size_t>(w * h));
        const long between = std::count_if(reds.begin(), reds.end(), [](char c) { return c != 0 && c != '\xff'; });
        if (*supersample == '1') {
            // The rasterised edge is hard; only the picture's sampling at its own border (clamped to a
            // transparent border) greys the odd pixel.
            EXPECT_LE(between, 8);
        } else {
            // Most of the edge, in quarters where one, two or three of the four samples were white.
            EXPECT_GE(between, 60);
            for (char quarter : {'\x40', '\x80', '\xbf'})
                EXPECT_GE(std::count(reds.begin(), reds.end(), quarter), 5) << static_cast<int>(quarter & 0xff);
        }
        EXPECT_EQ(reds[h / 2 * w + w / 2], '\xff') << "the square's middle";
        EXPECT_EQ(reds[1 * w + 1], '\0') << "the corner";
    }

    {
        SCOPED_TRACE("--motion-blur 4");
        ShowDir dir;
        WriteMusic(dir, 1);
        const RunResult run = Record(dir, kHalfWhiteShow, {"-x", "64", "--fps", "25", "--duration", "0.4",
                                                           "--motion-blur", "4", "--record", "b-%d.png"});
        EXPECT_EQ(run.status, 0) << run.err;
        std::string seen;
        for (int k = 0; k < 40; ++k)
            seen += (k ? " " : "") + std::to_string(k * 10) + "/" + std::to_string(k * 10);
        EXPECT_EQ(run.out, "using resolution 64x48 32bpp [fs]\n" + seen + "\n");
        for (int frame : {0, 9}) {
            const std::string reds = Reds(dir / ("b-" + std::to_string(frame) + ".png"));
            ASSERT_EQ(reds.size(), static_cast<std::size_t>(w * h));
            EXPECT_EQ(std::count(reds.begin(), reds.end(), '\x80'), w * h) << "frame " << frame;  // (2 * 255) / 4
        }
        EXPECT_EQ(Output("ls '" + dir.path() + "' | grep -c png"), "10\n");
        EXPECT_NEAR(std::atof(Output("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + dir / "b.wav" +
                                     "'").c_str()), 0.4, 1e-4);
    }

    {
        SCOPED_TRACE("--preset medium --crf 18");
        ShowDir dir;
        WriteMusic(dir, 1);
        const RunResult run = Record(dir, kSquareShow, {"-x", "64", "--preset", "medium", "--crf", "18",
                                                        "--record", "q.mp4"});
        EXPECT_EQ(run.status, 0) << run.err;
        const std::string bytes = Output("cat '" + dir / "q.mp4" + "'");
        EXPECT_NE(bytes.find(" crf=18.0 "), std::string::npos);
        EXPECT_NE(bytes.find(" subme=7 "), std::string::npos);  // medium's; ultrafast's is 0
        EXPECT_EQ(Boxes(dir / "q.mp4"), "ftyp moov free mdat ");
    }
}

// The ends of a run around the file: a show that changes its folder, one that fails before its first frame
// (an existing file stays as it was), a Ctrl-C before the first frame or a second one, a clock waited on between
// swaps, a write that fails (a file size limit standing in for a full disk).
TEST(Record, EndsOfARunKeepTheFilesRight)
{
    enum class Event { None, EarlyCtrlC, FileLimit };
    const struct {
        const char* name;
        std::string mainPl;
        Event event;
        int status;
        const char* errEnd;   // how standard error ends
        const char* listing;  // the folder afterwards
        long frames;          // in the file; 0: none
    } cases[] = {
        {"chdir", "chdir 'pictures' or die;\n" + Show(0, -1, 0, 10), Event::None, 7, "", "derure.mp3\nmain.pl\n"
         "out.mkv\npictures\n", 10},
        {"syntax error", "sub main {", Event::None, 1, "showplayer: nothing recorded: the show ended before its first "
         "frame, so \"out.mkv\" was not written\n", "derure.mp3\nmain.pl\nout.mkv\npictures\n", 0},
        {"die at once", "sub main { die \"at once\\n\" } 1;", Event::None, 1, "so \"out.mkv\" was not written\n",
         "derure.mp3\nmain.pl\nout.mkv\npictures\n", 0},
        {"early Ctrl-C", Show(0, -1, 0, 0), Event::EarlyCtrlC, 130, "so \"out.mkv\" was not written\n",
         "derure.mp3\nmain.pl\npictures\n", 0},
        {"second Ctrl-C", Show(0, -1, 0, 0, "", "if (++$main::n == 5) { kill 'INT', $$; kill 'INT', $$ }"), Event::None, 130, "",
         "derure.mp3\nmain.pl\npictures\n", 0},
        {"waits on the clock", Show(0, -1, 0, 0, "", "if (++$main::w == 2) { my ($t, $start) = (OpenGL::glGetTime(), time);\n"
         "        1 while OpenGL::glGetTime() - $t < 500 && time - $start <= 6; return 3 }"), Event::None, 3, "",
         "derure.mp3\nmain.pl\nout.mkv\npictures\n", 1},
        {"file limit", Show(0, -1, 0, 0, "", "$picture->SetParams({ imagedata => join('', map { chr rand 256 } 1 .. 16384),\n"
         "        width => 64, height => 64, x => 0, y => 0, alignh => 1, alignv => 1, wsize => 3, hsize => 3, rot => 0,\n"
         "        alpha => 1, r => 1, g => 1, b => 1 }); $picture->Render(0);"), Event::FileLimit, 1, "showplayer: writing \"out.mkv\" failed: File too large\n",
         "derure.mp3\nmain.pl\npictures\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShowDir dir;
        dir.Write("pictures/.keep", "");
        WriteMusic(dir, 10);
        if (c.frames == 0 && std::string(c.listing).find("out.mkv") != std::string::npos)
            dir.Write("out.mkv", "a good recording");
        dir.Write("main.pl", c.mainPl);
        const std::vector<std::string> args = {"-x", "160", "--record", "out.mkv", "--duration", "10"};
        RunResult run;
        if (c.event == Event::EarlyCtrlC) {
            // Once the file is open (the resolution line comes next), before the off-screen context and the
            // music are ready.
            RunOptions options;
            options.unsetEnv = {"DISPLAY"};
            LivePlayer player(dir, args, options);
            EXPECT_EQ(player.WaitForLine("using resolution", 20), 0);
            kill(player.pid(), SIGINT);
            run.status = player.WaitExit(30);
            run.err = player.Err();
        } else if (c.event == Event::FileLimit) {
            rlimit saved;
            getrlimit(RLIMIT_FSIZE, &saved);
            rlimit limit = saved;
            limit.rlim_cur = 8 * 1024;
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &limit);
            run = Record(dir, c.mainPl, args);
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
            // It stopped at the failed write (the first, once a buffer of noise is full), long before the show's
            // 600 frames.
            const std::size_t at = run.err.rfind("recording: frame ");
            ASSERT_NE(at, std::string::npos) << run.err;
            EXPECT_LT(std::atol(run.err.c_str() + at + 17), 300) << run.err;
        } else {
            run = Record(dir, c.mainPl, args);
        }
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::string end = c.errEnd;
        EXPECT_TRUE(run.err.size() >= end.size() && run.err.compare(run.err.size() - end.size(), end.size(), end) == 0)
            << run.err;
        EXPECT_EQ(Output("ls -A '" + dir.path() + "'; ls -A '" + dir / "pictures" + "'"), std::string(c.listing) + ".keep\n");
        if (c.frames > 0) {
            EXPECT_EQ(Probe(dir / "out.mkv"), "h264,160,120," + std::to_string(c.frames) + "\naac\n");
        } else if (std::string(c.listing).find("out.mkv") != std::string::npos) {
            EXPECT_EQ(Output("cat '" + dir / "out.mkv" + "'"), "a good recording");
        }
        const std::string stuck = "the clock only moves at SwapBuffers";
        const std::size_t told = run.err.find(stuck);
        EXPECT_EQ(told != std::string::npos, std::string(c.name) == "waits on the clock") << run.err;
        if (told != std::string::npos) {
            EXPECT_EQ(run.err.find(stuck, told + 1), std::string::npos) << "said once";
        }
    }
}

// What the recorder cannot do (a path, a name, an encoder setting, a size) ends the player with one line and
// status 1, and leaves no file; the libraries' own complaints stay off standard error.
TEST(Record, RefusalsLeaveNothingBehind)
{
    const char* const kKnown = "the file name must end in .mp4, .mkv, .webm, .mov or .png\n";
    const struct {
        std::vector<std::string> args;
        std::string err;  // all of it, or how its one line starts when it ends in "..."
    } cases[] = {
        {{"--record", "missing/out.mp4"}, "showplayer: cannot write \"missing/out.mp4\": No such file or directory\n"},
        {{"--record", "folder"}, std::string("showplayer: cannot record to \"folder\": ") + kKnown},
        {{"--record", "out.avi"}, std::string("showplayer: cannot record to \"out.avi\": ") + kKnown},
        {{"--record", "folder.mp4"}, "showplayer: cannot write \"folder.mp4\": Is a directory\n"},
        {{"--record", "out.png"}, "showplayer: cannot record to \"out.png\": an image sequence's name needs one "
                                  "counter, such as frame-%05d.png\n"},
        {{"--record", "out-%d-%d.png"}, "showplayer: cannot record to \"out-%d-%d.png\": an image sequence's name "
                                        "needs one counter, such as frame-%05d.png\n"},
        {{"--record", "out.mov", "--crf", "20"},
         "showplayer: cannot record to \"out.mov\": --crf applies to .mp4, .mkv and .webm only\n"},
        {{"--record", "out.mp4", "--crf", "52"},
         "showplayer: cannot record to \"out.mp4\": --crf for libx264 takes 0 to 51, not 52\n"},
        {{"--record", "out.webm", "--preset", "slow"},
         "showplayer: cannot record to \"out.webm\": --preset applies to .mp4 and .mkv only\n"},
        {{"--record", "out.mp4", "--preset", "quick"}, "showplayer: --preset takes ultrafast, superfast, veryfast, "
                                                       "faster, fast, medium, slow, slower or veryslow, not \"quick\"\n"},
        {{"--record", "out.mp4", "--supersample", "5"},
         "showplayer: --supersample takes a whole number from 1 to 4, not \"5\"\n"},
        {{"--record", "out.mp4", "--motion-blur=0"},
         "showplayer: --motion-blur takes a whole number from 1 to 64, not \"0\"\n"},
        {{"--motion-blur", "4"}, "showplayer: --supersample, --motion-blur, --crf and --preset apply to --record only\n"},
        {{"-x", "32800", "--record", "big.mp4"}, "showplayer: cannot record to \"big.mp4\": cannot start the libx264 ..."},
        {{"-x", "6000", "--supersample", "4", "--record", "big.mkv"},
         "using resolution 6000x4500 32bpp [fs]\nshowplayer: no window-less OpenGL context of 24000x18000 ..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        ShowDir dir;
        dir.Write("folder/keep", "");
        dir.Write("folder.mp4/keep", "");
        dir.Write("main.pl", "");
        dir.Copy(Fixture("tone.mp3"), "derure.mp3");
        const std::string before = Output("ls -A '" + dir.path() + "'");
        const RunResult run = Record(dir, "sub main { return 0 } 1;", c.args);
        EXPECT_EQ(run.status, 1);
        const std::string all = run.out + run.err;
        if (c.err.size() > 3 && c.err.compare(c.err.size() - 3, 3, "...") == 0) {
            EXPECT_EQ(all.rfind(c.err.substr(0, c.err.size() - 3), 0), 0u) << all;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        } else {
            EXPECT_EQ(all, c.err);
        }
        EXPECT_EQ(Output("ls -A '" + dir.path() + "'"), before);
    }
}

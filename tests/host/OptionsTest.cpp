// The option rules, table-driven, on the parser itself.
#include "host/Options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Parsed {
    host::Settings settings;
    std::string diagnostics;
};

// Runs the parser on the words after argv[0], collecting what it writes on
// its diagnostics stream.
Parsed Parse(const std::vector<std::string>& args, bool posixlyCorrect = false, std::string argv0 = "sp")
{
    std::vector<std::string> words = args;
    std::vector<char*> argv = {argv0.data()};
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* err = open_memstream(&text, &size);
    Parsed parsed;
    parsed.settings = host::ParseOptions(static_cast<int>(argv.size() - 1), argv.data(), posixlyCorrect, err);
    std::fclose(err);
    parsed.diagnostics.assign(text, size);
    std::free(text);
    return parsed;
}

// The settings in a few words: "WxH DEPTH fs" (or "win"), then what the long
// options set, when it is not their default.
std::string Summary(const host::Settings& s)
{
    std::ostringstream text;
    text << s.width << 'x' << s.height << ' ' << s.depth << (s.fullscreen ? " fs" : " win");
    if (s.watch)
        text << " watch";
    if (!s.recordPath.empty())
        text << " record " << s.recordPath;
    if (s.fps != 60)
        text << " fps " << s.fps;
    if (s.duration != 0.0)
        text << " duration " << s.duration;
    if (s.help)
        text << " help";
    if (s.version)
        text << " version";
    if (s.supersample != 1)
        text << " supersample " << s.supersample;
    if (s.motionBlur != 1)
        text << " motion-blur " << s.motionBlur;
    if (s.crf >= 0)
        text << " crf " << s.crf;
    if (!s.preset.empty())
        text << " preset " << s.preset;
    if (s.editor)
        text << " editor " << s.editorHost << ':' << s.editorPort;
    if (!s.error.empty())
        text << " error: " << s.error;
    return text.str();
}

struct Case {
    std::vector<std::string> args;  // after argv[0]
    bool posixlyCorrect;
    const char* settings;     // as Summary gives them
    const char* diagnostics;  // with argv[0] "sp"
};

constexpr bool kGnu = false, kPosix = true;

const Case kCases[] = {
    // Defaults and the derived side (DerivedSideOverTheWholeRange has them all).
    {{}, kGnu, "800x600 32 fs", ""},
    {{"-w"}, kGnu, "800x600 32 win", ""},
    {{"-x", "1024"}, kGnu, "1024x768 32 fs", ""},
    {{"-y", "600"}, kGnu, "801x600 32 fs", ""},
    // The last -x or -y decides both sides; the last -f or -w the mode.
    {{"-x", "1024", "-y", "600"}, kGnu, "801x600 32 fs", ""},
    {{"-y", "600", "-x", "1024"}, kGnu, "1024x768 32 fs", ""},
    {{"-f", "-w"}, kGnu, "800x600 32 win", ""},
    {{"-w", "-f"}, kGnu, "800x600 32 fs", ""},
    {{"-wf"}, kGnu, "800x600 32 fs", ""},
    // Arguments: rest of the word or the next word; atoi conversion.
    {{"-x1024"}, kGnu, "1024x768 32 fs", ""},
    {{"-b", "16"}, kGnu, "800x600 16 fs", ""},
    {{"-b16"}, kGnu, "800x600 16 fs", ""},
    {{"-b", "abc"}, kGnu, "800x600 0 fs", ""},
    {{"-b", "12abc"}, kGnu, "800x600 12 fs", ""},
    {{"-bfw"}, kGnu, "800x600 0 fs", ""},  // fw is -b's argument
    {{"-wb", "16"}, kGnu, "800x600 16 win", ""},
    {{"-x", "abc"}, kGnu, "0x0 32 fs", ""},
    {{"-x", "--"}, kGnu, "0x0 32 fs", ""},  // the next word is taken whatever it is
    {{"-y", "2000000000"}, kGnu, "2147483647x2000000000 32 fs", ""},  // saturates, no overflow
    // Unknown letters and a missing argument: diagnostic, then go on.
    {{"-q"}, kGnu, "800x600 32 fs", "sp: illegal option -- q\n"},
    {{"-qw"}, kGnu, "800x600 32 win", "sp: illegal option -- q\n"},
    {{"-wq", "-x", "1024"}, kGnu, "1024x768 32 win", "sp: illegal option -- q\n"},
    {{"--w"}, kGnu, "800x600 32 win", "sp: illegal option -- -\n"},
    {{"-x"}, kGnu, "800x600 32 fs", "sp: option requires an argument -- x\n"},
    {{"-y", "768", "-y"}, kGnu, "1025x768 32 fs", "sp: option requires an argument -- y\n"},
    {{"-wb"}, kGnu, "800x600 32 win", "sp: option requires an argument -- b\n"},
    {{"-q", "-z", "-x"}, kGnu, "800x600 32 fs",
     "sp: illegal option -- q\nsp: illegal option -- z\nsp: option requires an argument -- x\n"},
    // Plain words: skipped (GNU) or the end of the options (POSIXLY_CORRECT).
    {{"show", "-w"}, kGnu, "800x600 32 win", ""},
    {{"show", "-w"}, kPosix, "800x600 32 fs", ""},
    {{"-x", "1024", "show", "-b", "16"}, kGnu, "1024x768 16 fs", ""},
    {{"-x", "1024", "show", "-b", "16"}, kPosix, "1024x768 32 fs", ""},
    {{"-", "-w"}, kGnu, "800x600 32 win", ""},  // a lone dash is a plain word
    {{"-", "-w"}, kPosix, "800x600 32 fs", ""},
    // Two dashes end the options and are consumed.
    {{"--", "-w"}, kGnu, "800x600 32 fs", ""},
    {{"-w", "--", "-f"}, kGnu, "800x600 32 win", ""},
    {{"show", "--", "-w"}, kGnu, "800x600 32 fs", ""},
    {{"-x", "1024", "--", "-y", "600"}, kPosix, "1024x768 32 fs", ""},
    // Long options live beside the letters without changing how letters parse.
    {{"--watch", "-x", "1024"}, kGnu, "1024x768 32 fs watch", ""},
    {{"-x", "--watch"}, kGnu, "0x0 32 fs", ""},  // the next word is -x's argument
    {{"--", "--watch"}, kGnu, "800x600 32 fs", ""},
    {{"--record", "out.mp4", "--fps", "25", "--duration", "2.5"}, kGnu,
     "800x600 32 fs record out.mp4 fps 25 duration 2.5", ""},
    {{"--record=a.webm", "--fps=240", "--duration=1"}, kGnu, "800x600 32 fs record a.webm fps 240 duration 1", ""},
    {{"--record", "a.mp4", "--supersample", "4", "--motion-blur=64", "--crf", "0", "--preset", "veryslow"}, kGnu,
     "800x600 32 fs record a.mp4 supersample 4 motion-blur 64 crf 0 preset veryslow", ""},
    {{"--fps", "1"}, kGnu, "800x600 32 fs fps 1", ""},
    {{"--fps", "0"}, kGnu, "800x600 32 fs error: --fps takes a whole number from 1 to 240, not \"0\"", ""},
    {{"--fps", "241"}, kGnu, "800x600 32 fs error: --fps takes a whole number from 1 to 240, not \"241\"", ""},
    {{"--fps", "30.5"}, kGnu, "800x600 32 fs error: --fps takes a whole number from 1 to 240, not \"30.5\"", ""},
    {{"--duration", "0"}, kGnu, "800x600 32 fs error: --duration takes a number of seconds above 0, not \"0\"", ""},
    {{"--duration", "x"}, kGnu, "800x600 32 fs error: --duration takes a number of seconds above 0, not \"x\"", ""},
    {{"--record"}, kGnu, "800x600 32 fs error: option '--record' requires an argument", ""},
    {{"--watch=1"}, kGnu, "800x600 32 fs error: option '--watch' takes no value", ""},
    {{"-w", "--help", "--version"}, kGnu, "800x600 32 win help version", ""},
    {{"--", "--help"}, kGnu, "800x600 32 fs", ""},
    {{"--version=2"}, kGnu, "800x600 32 fs error: option '--version' takes no value", ""},
    {{"--editor", "-w"}, kGnu, "800x600 32 win editor 127.0.0.1:1338", ""},  // the value comes only after '='
    {{"--editor=studio.lan:4000"}, kGnu, "800x600 32 fs editor studio.lan:4000", ""},
    {{"--editor=::1:1338"}, kGnu, "800x600 32 fs editor ::1:1338", ""},
    {{"--editor=host"}, kGnu, "800x600 32 fs editor 127.0.0.1:1338 error: --editor takes HOST:PORT, not \"host\"", ""},
    {{"--editor=:80"}, kGnu, "800x600 32 fs editor 127.0.0.1:1338 error: --editor takes HOST:PORT, not \":80\"", ""},
    {{"--editor=h:70000"}, kGnu, "800x600 32 fs editor 127.0.0.1:1338 error: --editor takes HOST:PORT, not \"h:70000\"", ""},
    {{"--record", "a.mkv", "--editor"}, kGnu,
     "800x600 32 fs record a.mkv editor 127.0.0.1:1338 error: --editor cannot be used with --record (a recording takes "
     "its sync tracks from the files)", ""},
};

}  // namespace

TEST(Options, Table)
{
    for (const Case& c : kCases) {
        const Parsed p = Parse(c.args, c.posixlyCorrect);
        const std::string what = (c.posixlyCorrect ? "POSIXLY_CORRECT " : "GNU ") + ::testing::PrintToString(c.args);
        EXPECT_EQ(Summary(p.settings), c.settings) << what;
        EXPECT_EQ(p.diagnostics, c.diagnostics) << what;
    }
}

// The diagnostics name the program exactly as argv[0] gave it.
TEST(Options, DiagnosticsUseArgvZeroAsGiven)
{
    EXPECT_EQ(Parse({"-k", "-b"}, false, "./build/showplayer").diagnostics,
              "./build/showplayer: illegal option -- k\n./build/showplayer: option requires an argument -- b\n");
    EXPECT_EQ(Parse({"-k"}, false, "").diagnostics, ": illegal option -- k\n");
}

// The derivation matches ceil(3w/4) for every width the video mode could take,
// and ceil(4h/3) except for multiples of 3 (one more: the factor exceeds 4/3).
TEST(Options, DerivedSideOverTheWholeRange)
{
    for (int side = 1; side <= 20000; ++side) {
        const std::string n = std::to_string(side);
        const host::Settings byWidth = Parse({"-x", n}).settings;
        ASSERT_EQ(byWidth.height, (3 * side + 3) / 4) << side;
        const host::Settings byHeight = Parse({"-y", n}).settings;
        const int expected = side % 3 == 0 ? 4 * side / 3 + 1 : (4 * side + 2) / 3;
        ASSERT_EQ(byHeight.width, expected) << side;
    }
}

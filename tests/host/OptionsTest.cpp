// The option rules, table-driven, on the parser itself.
#include "host/Options.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Parsed {
    host::Settings settings;
    std::string diagnostics;
};

// Runs the parser on a copy of the words (argv[0] first), collecting what it
// writes on its diagnostics stream.
Parsed Parse(std::vector<std::string> words, bool posixlyCorrect)
{
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* err = open_memstream(&text, &size);
    Parsed parsed;
    parsed.settings = host::ParseOptions(static_cast<int>(words.size()), argv.data(), posixlyCorrect, err);
    std::fclose(err);
    parsed.diagnostics.assign(text, size);
    std::free(text);
    return parsed;
}

struct Case {
    std::vector<std::string> args;  // after argv[0]
    bool posixlyCorrect;
    int width, height, depth;
    bool fullscreen;
    const char* diagnostics;  // with argv[0] "sp"
};

std::string Describe(const Case& c)
{
    std::string text = c.posixlyCorrect ? "POSIXLY_CORRECT" : "GNU";
    for (const auto& a : c.args)
        text += " [" + a + "]";
    return text;
}

constexpr bool kFs = true, kWin = false, kGnu = false, kPosix = true;

const Case kCases[] = {
    // Defaults and the derived side (the float aspect factor, not exactly 4/3).
    {{}, kGnu, 800, 600, 32, kFs, ""},
    {{"-w"}, kGnu, 800, 600, 32, kWin, ""},
    {{"-x", "1024"}, kGnu, 1024, 768, 32, kFs, ""},
    {{"-x", "801"}, kGnu, 801, 601, 32, kFs, ""},
    {{"-x", "1366"}, kGnu, 1366, 1025, 32, kFs, ""},
    {{"-y", "600"}, kGnu, 801, 600, 32, kFs, ""},
    {{"-y", "480"}, kGnu, 641, 480, 32, kFs, ""},
    {{"-y", "601"}, kGnu, 802, 601, 32, kFs, ""},
    {{"-y", "1024"}, kGnu, 1366, 1024, 32, kFs, ""},
    // The last -x or -y decides both sides; the last -f or -w the mode.
    {{"-x", "1024", "-y", "600"}, kGnu, 801, 600, 32, kFs, ""},
    {{"-y", "600", "-x", "1024"}, kGnu, 1024, 768, 32, kFs, ""},
    {{"-f", "-w"}, kGnu, 800, 600, 32, kWin, ""},
    {{"-w", "-f"}, kGnu, 800, 600, 32, kFs, ""},
    {{"-wf"}, kGnu, 800, 600, 32, kFs, ""},
    // Arguments: rest of the word or the next word; atoi conversion.
    {{"-x1024"}, kGnu, 1024, 768, 32, kFs, ""},
    {{"-b", "16"}, kGnu, 800, 600, 16, kFs, ""},
    {{"-b16"}, kGnu, 800, 600, 16, kFs, ""},
    {{"-b", "abc"}, kGnu, 800, 600, 0, kFs, ""},
    {{"-b", "12abc"}, kGnu, 800, 600, 12, kFs, ""},
    {{"-bfw"}, kGnu, 800, 600, 0, kFs, ""},  // fw is -b's argument
    {{"-wb", "16"}, kGnu, 800, 600, 16, kWin, ""},
    {{"-x", "abc"}, kGnu, 0, 0, 32, kFs, ""},
    {{"-x", "--"}, kGnu, 0, 0, 32, kFs, ""},  // the next word is taken whatever it is
    {{"-y", "2000000000"}, kGnu, INT_MAX, 2000000000, 32, kFs, ""},  // saturates, no overflow
    // Unknown letters and a missing argument: diagnostic, then go on.
    {{"-q"}, kGnu, 800, 600, 32, kFs, "sp: illegal option -- q\n"},
    {{"-qw"}, kGnu, 800, 600, 32, kWin, "sp: illegal option -- q\n"},
    {{"-wq", "-x", "1024"}, kGnu, 1024, 768, 32, kWin, "sp: illegal option -- q\n"},
    {{"--w"}, kGnu, 800, 600, 32, kWin, "sp: illegal option -- -\n"},
    {{"-x"}, kGnu, 800, 600, 32, kFs, "sp: option requires an argument -- x\n"},
    {{"-y", "768", "-y"}, kGnu, 1025, 768, 32, kFs, "sp: option requires an argument -- y\n"},
    {{"-wb"}, kGnu, 800, 600, 32, kWin, "sp: option requires an argument -- b\n"},
    {{"-q", "-z", "-x"}, kGnu, 800, 600, 32, kFs,
     "sp: illegal option -- q\nsp: illegal option -- z\nsp: option requires an argument -- x\n"},
    // Plain words: skipped (GNU) or the end of the options (POSIXLY_CORRECT).
    {{"show", "-w"}, kGnu, 800, 600, 32, kWin, ""},
    {{"show", "-w"}, kPosix, 800, 600, 32, kFs, ""},
    {{"-x", "1024", "show", "-b", "16"}, kGnu, 1024, 768, 16, kFs, ""},
    {{"-x", "1024", "show", "-b", "16"}, kPosix, 1024, 768, 32, kFs, ""},
    {{"-", "-w"}, kGnu, 800, 600, 32, kWin, ""},  // a lone dash is a plain word
    {{"-", "-w"}, kPosix, 800, 600, 32, kFs, ""},
    // Two dashes end the options and are consumed.
    {{"--", "-w"}, kGnu, 800, 600, 32, kFs, ""},
    {{"-w", "--", "-f"}, kGnu, 800, 600, 32, kWin, ""},
    {{"show", "--", "-w"}, kGnu, 800, 600, 32, kFs, ""},
    {{"-x", "1024", "--", "-y", "600"}, kPosix, 1024, 768, 32, kFs, ""},
};

}  // namespace

TEST(Options, Table)
{
    for (const Case& c : kCases) {
        std::vector<std::string> words = {"sp"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        const Parsed p = Parse(words, c.posixlyCorrect);
        const std::string what = Describe(c);
        EXPECT_EQ(p.settings.width, c.width) << what;
        EXPECT_EQ(p.settings.height, c.height) << what;
        EXPECT_EQ(p.settings.depth, c.depth) << what;
        EXPECT_EQ(p.settings.fullscreen, c.fullscreen) << what;
        EXPECT_EQ(p.diagnostics, c.diagnostics) << what;
    }
}

// The diagnostics name the program exactly as argv[0] gave it.
TEST(Options, DiagnosticsUseArgvZeroAsGiven)
{
    EXPECT_EQ(Parse({"./build/showplayer", "-k", "-b"}, false).diagnostics,
              "./build/showplayer: illegal option -- k\n./build/showplayer: option requires an argument -- b\n");
    EXPECT_EQ(Parse({"", "-k"}, false).diagnostics, ": illegal option -- k\n");
}

// The derivation matches ceil(3w/4) for every width the video mode could take,
// and ceil(4h/3) except for multiples of 3 (one more: the factor exceeds 4/3).
TEST(Options, DerivedSideOverTheWholeRange)
{
    for (int side = 1; side <= 20000; ++side) {
        const std::string n = std::to_string(side);
        const host::Settings byWidth = Parse({"sp", "-x", n}, false).settings;
        ASSERT_EQ(byWidth.height, (3 * side + 3) / 4) << side;
        const host::Settings byHeight = Parse({"sp", "-y", n}, false).settings;
        const int expected = side % 3 == 0 ? 4 * side / 3 + 1 : (4 * side + 2) / 3;
        ASSERT_EQ(byHeight.width, expected) << side;
    }
}

namespace {

struct LongCase {
    std::vector<std::string> args;
    bool watch;
    const char* record;
    int fps;
    double duration;
    const char* error;  // "" when the options are usable
    int width;
};

const LongCase kLongCases[] = {
    {{}, false, "", 60, 0.0, "", 800},
    {{"--watch", "-x", "1024"}, true, "", 60, 0.0, "", 1024},
    {{"-x", "--watch"}, false, "", 60, 0.0, "", 0},  // the next word is -x's argument
    {{"--", "--watch"}, false, "", 60, 0.0, "", 800},
    {{"--record", "out.mp4", "--fps", "25", "--duration", "2.5"}, false, "out.mp4", 25, 2.5, "", 800},
    {{"--record=a.webm", "--fps=240", "--duration=1"}, false, "a.webm", 240, 1.0, "", 800},
    {{"--fps", "1"}, false, "", 1, 0.0, "", 800},
    {{"--fps", "0"}, false, "", 60, 0.0, "--fps takes a whole number from 1 to 240, not \"0\"", 800},
    {{"--fps", "241"}, false, "", 60, 0.0, "--fps takes a whole number from 1 to 240, not \"241\"", 800},
    {{"--fps", "30.5"}, false, "", 60, 0.0, "--fps takes a whole number from 1 to 240, not \"30.5\"", 800},
    {{"--duration", "0"}, false, "", 60, 0.0, "--duration takes a number of seconds above 0, not \"0\"", 800},
    {{"--duration", "x"}, false, "", 60, 0.0, "--duration takes a number of seconds above 0, not \"x\"", 800},
    {{"--record"}, false, "", 60, 0.0, "option '--record' requires an argument", 800},
    {{"--watch=1"}, false, "", 60, 0.0, "option '--watch' takes no value", 800},
};

}  // namespace

// Long options live beside the letters without changing how letters parse.
TEST(Options, LongOptions)
{
    for (const LongCase& c : kLongCases) {
        std::vector<std::string> words = {"sp"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        const Parsed p = Parse(words, false);
        std::string what;
        for (const auto& a : c.args)
            what += " [" + a + "]";
        EXPECT_EQ(p.settings.watch, c.watch) << what;
        EXPECT_EQ(p.settings.recordPath, c.record) << what;
        EXPECT_EQ(p.settings.fps, c.fps) << what;
        EXPECT_DOUBLE_EQ(p.settings.duration, c.duration) << what;
        EXPECT_EQ(p.settings.error, c.error) << what;
        EXPECT_EQ(p.settings.width, c.width) << what;
        EXPECT_EQ(p.diagnostics, "") << what;
    }
}

// Command-line options: window size, colour depth and display mode.
#pragma once

#include <cstdio>
#include <string>

namespace host {

// The single-precision float nearest to 4/3 (11184811 / 2^23). The other side
// of the window is derived with this value, not with the exact ratio, so a
// height that is a multiple of 3 gives one pixel more than 4/3 of it.
constexpr float kAspectFactor = 1.33333337306976318359375f;

struct Settings {
    int width = 800;
    int height = 600;
    int depth = 32;
    bool fullscreen = true;

    // Long options (authoring and recording).
    bool watch = false;        // --watch: reload the show when its files change
    std::string recordPath;    // --record FILE: record to a video file instead of playing
    int fps = 60;              // --fps N, 1 to 240
    double duration = 0.0;     // --duration SECONDS; 0: no cap
    bool editor = false;       // --editor[=HOST:PORT]: take sync tracks from a sync editor
    std::string editorHost = "127.0.0.1";
    int editorPort = 1338;

    // --help, --version: print and end before anything opens.
    bool help = false;
    bool version = false;

    // Recording quality (only with --record).
    int supersample = 1;       // --supersample N, 1 to 4: drawn at N times the size
    int motionBlur = 1;        // --motion-blur N, 1 to 64: sub-frames averaged per frame
    int crf = -1;              // --crf N: the encoder's quality factor; -1: its default
    std::string preset;        // --preset NAME: x264's speed preset; empty: the default

    // A long option with a value the player cannot use: one line, and the
    // player ends with status 1 before it opens anything.
    std::string error;
};

// Reads the options "x:y:b:fw" with the POSIX getopt rules and the GNU
// extensions: non-option words are skipped unless posixlyCorrect is set (then
// parsing stops at the first one), "--" ends parsing, clustered flags, and an
// argument taken from the rest of the word or from the next word. Unknown
// letters and missing arguments print their diagnostic on err and are ignored.
//
// Long options ("--help", "--version", "--watch", "--record FILE", "--fps N",
// "--duration SECONDS", "--supersample N", "--motion-blur N", "--crf N",
// "--preset NAME", the value also as "--name=value"; "--editor" or
// "--editor=HOST:PORT") are words of their own and follow the same rules of
// order. An unknown long option is reported and ignored like an
// unknown letter; a bad value sets Settings::error.
Settings ParseOptions(int argc, char* const* argv, bool posixlyCorrect, std::FILE* err);

}  // namespace host

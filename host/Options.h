// Command-line options: window size, colour depth and display mode.
#pragma once

#include <cstdio>

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
};

// Reads the options "x:y:b:fw" with the POSIX getopt rules and the GNU
// extensions: non-option words are skipped unless posixlyCorrect is set (then
// parsing stops at the first one), "--" ends parsing, clustered flags, and an
// argument taken from the rest of the word or from the next word. Unknown
// letters and missing arguments print their diagnostic on err and are ignored.
Settings ParseOptions(int argc, char* const* argv, bool posixlyCorrect, std::FILE* err);

}  // namespace host

// What the player says about itself: --help, --version, and the hint that
// points a user outside a show folder to the bundled show.
#include "host/Usage.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace host {

const char* const kVersion = SHOWPLAYER_VERSION;

namespace {

// One line of the usage summary. A new option is one more row here, and one
// more entry under OPTIONS in the manual page (package/showplayer.1.in).
struct OptionLine {
    const char* option;
    const char* meaning;
};

constexpr OptionLine kOptionLines[] = {
    {"-x N", "window width N pixels; the height follows in 4:3"},
    {"-y N", "window height N pixels; the width follows in 4:3"},
    {"-b N", "colour depth in bits per pixel (default 32)"},
    {"-f", "full screen (the default)"},
    {"-w", "in a window"},
    {"--watch", "play the show again when one of its files changes"},
    {"--editor[=HOST:PORT]", "take sync tracks live from an editor (127.0.0.1:1338)"},
    {"--record FILE", "record to FILE (.mp4 .mkv .webm .mov, or name-%05d.png) instead of playing"},
    {"--fps N", "frames per second of a recording, 1 to 240 (default 60)"},
    {"--duration SECONDS", "stop a recording after this long"},
    {"--supersample N", "draw recorded frames N times larger, 1 to 4 (default 1)"},
    {"--motion-blur N", "average N sub-frames per recorded frame, 1 to 64"},
    {"--crf N", "encoder quality: H.264 0 to 51 (20), VP9 0 to 63 (24)"},
    {"--preset NAME", "H.264 speed preset: ultrafast (default) to veryslow"},
    {"--help", "print this summary and end"},
    {"--version", "print the version and end"},
};

// Wide enough for the longest option; a line stays within 80 columns.
constexpr int kOptionColumn = 20;

constexpr const char* kInstalledShow = "/../share/showplayer/show";
constexpr const char* kBuildShow = "/show";

}  // namespace

std::string PlayerFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    const std::string exe(path, static_cast<std::size_t>(n));
    const std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}


void PrintUsage(std::FILE* out)
{
    std::fputs("Usage: showplayer [OPTION]...\n"
               "Plays the show in the current folder: its script main.pl with the music derure.mp3.\n"
               "\n",
               out);
    for (const OptionLine& line : kOptionLines)
        std::fprintf(out, "  %-*s %s\n", kOptionColumn, line.option, line.meaning);
    std::fprintf(out,
                 "\n"
                 "The bundled show is in %s; run showplayer there.\n"
                 "Escape ends a show. More in the manual page: man showplayer\n",
                 BundledShowFolder().c_str());
}

void PrintVersion(std::FILE* out) { std::fprintf(out, "showplayer %s\n", kVersion); }

std::string BundledShowFolder()
{
    const std::string player = PlayerFolder();
    for (const char* relative : {kInstalledShow, kBuildShow}) {
        char resolved[PATH_MAX];
        if (realpath((player + relative).c_str(), resolved) &&
            access((std::string(resolved) + "/main.pl").c_str(), R_OK) == 0)
            return resolved;
    }
    return SHOWPLAYER_INSTALLED_SHOW;
}

void PrintShowFolderHint(std::FILE* out)
{
    if (access("main.pl", F_OK) == 0)
        return;
    std::fprintf(out,
                 "showplayer: no main.pl here: run the player inside a show folder (main.pl and its music "
                 "derure.mp3), such as the bundled show in %s\n",
                 BundledShowFolder().c_str());
}

}  // namespace host

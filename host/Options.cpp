// Command-line options: window size, colour depth and display mode.
#include "host/Options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace host {

namespace {

bool TakesArgument(char letter) { return letter == 'x' || letter == 'y' || letter == 'b'; }

bool IsOptionLetter(char letter) { return TakesArgument(letter) || letter == 'f' || letter == 'w'; }

// The derived side as an int. Only absurd sizes fall outside the int range;
// they saturate instead of overflowing the conversion, and the video mode call
// then refuses them.
int DerivedSide(double value)
{
    if (value >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

void Apply(Settings& settings, char letter, const char* argument)
{
    switch (letter) {
    case 'x':
        settings.width = std::atoi(argument);
        settings.height = DerivedSide(std::ceil(static_cast<double>(settings.width) / kAspectFactor));
        break;
    case 'y':
        settings.height = std::atoi(argument);
        settings.width = DerivedSide(std::ceil(static_cast<double>(settings.height) * kAspectFactor));
        break;
    case 'b':
        settings.depth = std::atoi(argument);
        break;
    case 'f':
        settings.fullscreen = true;
        break;
    case 'w':
        settings.fullscreen = false;
        break;
    }
}

}  // namespace

Settings ParseOptions(int argc, char* const* argv, bool posixlyCorrect, std::FILE* err)
{
    Settings settings;
    const char* program = argc > 0 && argv[0] ? argv[0] : "";

    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (std::strcmp(word, "--") == 0)
            break;
        if (word[0] != '-' || word[1] == '\0') {
            // A plain word (or a lone dash): GNU skips it and goes on,
            // POSIX stops here.
            if (posixlyCorrect)
                break;
            continue;
        }
        for (const char* p = word + 1; *p; ++p) {
            const char letter = *p;
            if (!IsOptionLetter(letter)) {
                std::fprintf(err, "%s: illegal option -- %c\n", program, letter);
                continue;
            }
            if (!TakesArgument(letter)) {
                Apply(settings, letter, nullptr);
                continue;
            }
            if (p[1] != '\0') {
                Apply(settings, letter, p + 1);
            } else if (i + 1 < argc) {
                Apply(settings, letter, argv[++i]);
            } else {
                std::fprintf(err, "%s: option requires an argument -- %c\n", program, letter);
            }
            break;  // the argument used up the rest of the word
        }
    }
    return settings;
}

}  // namespace host

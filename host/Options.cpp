// Command-line options: window size, colour depth and display mode.
#include "host/Options.h"

#include <cerrno>
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

constexpr int kMinFps = 1;
constexpr int kMaxFps = 240;

// Whole number in [low, high], nothing else in the word.
bool ParseWhole(const char* text, long low, long high, long* value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

void SetError(Settings& settings, const std::string& message)
{
    if (settings.error.empty())
        settings.error = message;
}

const char* const kLongOptions[] = {"help", "version", "watch", "editor", "record", "fps", "duration",
                                     "supersample", "motion-blur", "crf", "preset"};
constexpr int kMaxPort = 65535;

std::string LongName(const char* word)
{
    const char* equals = std::strchr(word + 2, '=');
    return equals ? std::string(word + 2, static_cast<std::size_t>(equals - word - 2)) : std::string(word + 2);
}

// Only the player's own long names count as long options: any other word that
// starts with "--" is read as clustered letters, as it always was.
bool IsLongOption(const char* word)
{
    if (word[0] != '-' || word[1] != '-' || word[2] == '\0')
        return false;
    const std::string name = LongName(word);
    for (const char* known : kLongOptions)
        if (name == known)
            return true;
    return false;
}

// Recording quality: how finely frames are drawn and how they are encoded.
constexpr int kMaxSupersample = 4;
constexpr int kMaxMotionBlur = 64;
constexpr int kMaxCrf = 63;  // VP9's range; the recorder narrows it for H.264
const char* const kPresets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                "medium", "slow", "slower", "veryslow"};

// Sets one of the recording-quality options; false for any other name.
bool ApplyRecordingQuality(Settings& settings, const std::string& name, const char* value)
{
    long n = 0;
    if (name == "supersample") {
        if (ParseWhole(value, 1, kMaxSupersample, &n))
            settings.supersample = static_cast<int>(n);
        else
            SetError(settings, std::string("--supersample takes a whole number from 1 to 4, not \"") + value + "\"");
    } else if (name == "motion-blur") {
        if (ParseWhole(value, 1, kMaxMotionBlur, &n))
            settings.motionBlur = static_cast<int>(n);
        else
            SetError(settings, std::string("--motion-blur takes a whole number from 1 to 64, not \"") + value + "\"");
    } else if (name == "crf") {
        if (ParseWhole(value, 0, kMaxCrf, &n))
            settings.crf = static_cast<int>(n);
        else
            SetError(settings, std::string("--crf takes a whole number from 0 to 63, not \"") + value + "\"");
    } else if (name == "preset") {
        bool known = false;
        for (const char* preset : kPresets)
            known = known || std::strcmp(preset, value) == 0;
        if (known)
            settings.preset = value;
        else
            SetError(settings, std::string("--preset takes ultrafast, superfast, veryfast, faster, fast, medium, "
                                           "slow, slower or veryslow, not \"") + value + "\"");
    } else {
        return false;
    }
    return true;
}

// The recording-quality options mean nothing without a recording.
void CheckRecordingQuality(Settings& settings)
{
    if (!settings.recordPath.empty())
        return;
    if (settings.supersample != 1 || settings.motionBlur != 1 || settings.crf >= 0 || !settings.preset.empty())
        SetError(settings, "--supersample, --motion-blur, --crf and --preset apply to --record only");
}

// "--name" or "--name=value" at argv[*i]; the value may come from the next
// word.
void ApplyLong(Settings& settings, int argc, char* const* argv, int* i, std::FILE* err)
{
    (void)err;
    const std::string name = LongName(argv[*i]);
    const char* equals = std::strchr(argv[*i] + 2, '=');
    // Switches: no value.
    bool* const flag = name == "watch" ? &settings.watch
                       : name == "help" ? &settings.help
                       : name == "version" ? &settings.version
                                           : nullptr;
    if (flag) {
        if (equals)
            SetError(settings, "option '--" + name + "' takes no value");
        else
            *flag = true;
        return;
    }
    if (name == "editor") {
        // The value is optional, so only "--editor=HOST:PORT" gives one.
        settings.editor = true;
        if (!equals)
            return;
        const char* colon = std::strrchr(equals + 1, ':');
        long port = 0;
        if (!colon || colon == equals + 1 || !ParseWhole(colon + 1, 1, kMaxPort, &port)) {
            SetError(settings, std::string("--editor takes HOST:PORT, not \"") + (equals + 1) + "\"");
            return;
        }
        settings.editorHost.assign(equals + 1, colon);
        settings.editorPort = static_cast<int>(port);
        return;
    }
    const char* value = nullptr;
    if (equals)
        value = equals + 1;
    else if (*i + 1 < argc)
        value = argv[++*i];
    if (!value) {
        SetError(settings, std::string("option '--") + name + "' requires an argument");
        return;
    }
    if (name == "record") {
        if (!*value)
            SetError(settings, "--record needs a file name");
        settings.recordPath = value;
    } else if (ApplyRecordingQuality(settings, name, value)) {
    } else if (name == "fps") {
        long fps = 0;
        if (ParseWhole(value, kMinFps, kMaxFps, &fps))
            settings.fps = static_cast<int>(fps);
        else
            SetError(settings, std::string("--fps takes a whole number from 1 to 240, not \"") + value + "\"");
    } else {
        char* end = nullptr;
        const double seconds = std::strtod(value, &end);
        if (!*value || *end != '\0' || !(seconds > 0.0) || !std::isfinite(seconds))
            SetError(settings, std::string("--duration takes a number of seconds above 0, not \"") + value + "\"");
        else
            settings.duration = seconds;
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
        if (IsLongOption(word)) {
            ApplyLong(settings, argc, argv, &i, err);
            continue;
        }
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
    CheckRecordingQuality(settings);
    // A recording must come out the same every time: it plays the track files.
    if (settings.editor && !settings.recordPath.empty())
        SetError(settings, "--editor cannot be used with --record (a recording takes its sync tracks from the files)");
    return settings;
}

}  // namespace host

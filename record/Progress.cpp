// Recording progress line.
#include "record/Progress.h"

#include <string>

namespace record {

namespace {

// How often the line is rewritten on a terminal, and printed anew otherwise.
constexpr std::chrono::milliseconds kInPlaceInterval{250};
constexpr std::chrono::seconds kLogInterval{5};

// Seconds as m:ss.s.
std::string MinutesSeconds(double seconds)
{
    char text[32];
    const int minutes = static_cast<int>(seconds / 60);
    std::snprintf(text, sizeof text, "%d:%04.1f", minutes, seconds - minutes * 60);
    return text;
}

}  // namespace

Progress::Progress(std::FILE* out, bool inPlace, int fps, std::int64_t totalFrames)
    : out_(out), inPlace_(inPlace), fps_(fps), total_(totalFrames), start_(Clock::now()), lastPrint_(start_)
{
}

void Progress::Frame(std::int64_t frames)
{
    const Clock::time_point now = Clock::now();
    if (now - lastPrint_ < (inPlace_ ? std::chrono::duration_cast<Clock::duration>(kInPlaceInterval)
                                     : std::chrono::duration_cast<Clock::duration>(kLogInterval)))
        return;
    lastPrint_ = now;
    Print(frames, false);
}

void Progress::Done(std::int64_t frames) { Print(frames, true); }

void Progress::Print(std::int64_t frames, bool last)
{
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    const double rate = elapsed > 0 ? frames / elapsed : 0.0;
    std::string line = "recording: frame " + std::to_string(frames);
    if (total_ > 0)
        line += "/" + std::to_string(total_);
    line += "  " + MinutesSeconds(static_cast<double>(frames) / fps_);
    if (total_ > 0)
        line += " of " + MinutesSeconds(static_cast<double>(total_) / fps_);
    char speed[32];
    std::snprintf(speed, sizeof speed, "  %.1f fps", rate);
    line += speed;
    if (!last && total_ > 0 && rate > 0)
        line += "  " + MinutesSeconds((total_ - frames) / rate) + " left";
    else if (last)
        line += "  done in " + MinutesSeconds(elapsed);
    if (inPlace_)
        std::fprintf(out_, "\r%s\033[K%s", line.c_str(), last ? "\n" : "");
    else
        std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

}  // namespace record

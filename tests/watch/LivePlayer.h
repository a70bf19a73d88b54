// The real player kept running while a test edits its show folder: its
// output line by line, its window's pixels, keys and the close button.
#pragma once

#include "tests/support/GlWindow.h"
#include "tests/support/TempDir.h"

#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

class LivePlayer {
public:
    // Starts the player in dir with args; env is added to the test's own.
    LivePlayer(const TempDir& dir, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {});
    // Ends the player (SIGKILL) if it still runs.
    ~LivePlayer();
    LivePlayer(const LivePlayer&) = delete;
    LivePlayer& operator=(const LivePlayer&) = delete;

    // Index of the first line of standard output from `from` on for which
    // match is true, waiting up to seconds; -1 when none came (or the player
    // ended first).
    int WaitForLine(const std::function<bool(const std::string&)>& match, double seconds, std::size_t from = 0);
    // The same for a line that starts with prefix.
    int WaitForLine(const std::string& prefix, double seconds, std::size_t from = 0);
    // Reads what has arrived for the given time.
    void Drain(double seconds);

    const std::vector<std::string>& Lines() const { return lines_; }
    const std::string& Err() const { return err_; }

    bool Running();
    // Exit status once the player has ended within seconds (128 + signal
    // when a signal ended it); -1 when it still runs.
    int WaitExit(double seconds);

    // The player's window (found through its process id); 0 when none.
    unsigned long Window();
    // Gives the window the keyboard and presses the key (an X key name such
    // as "Escape" or "F1") for a quarter of a second.
    void PressKey(const std::string& key);
    // Asks the window to close as a window manager's close button does.
    void Close();

    pid_t pid() const { return pid_; }

private:
    void Read(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    std::string err_;
    int status_ = -1;
};

// The screen of the test's own X server, read back (the player's window sits
// in its top-left corner).
class ScreenShot {
public:
    ScreenShot(int width, int height);
    Rgba At(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
    // Pixels in the rectangle that differ from colour by more than tolerance.
    int CountUnlike(const Rgba& colour, int tolerance, int x0, int y0, int x1, int y1) const;

private:
    int width_;
    std::vector<Rgba> pixels_;
};

}  // namespace testing_support

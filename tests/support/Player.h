// Runs the real player binary on a show folder made for one test: to its end,
// or kept running while the test edits the folder, presses keys or closes it.
#pragma once

#include "tests/support/TempDir.h"

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

struct RunResult {
    int status = -1;       // exit status, or 128 + signal when killed
    int signal = 0;        // the signal that ended the player, 0 when it exited
    bool timedOut = false;
    std::string out;       // standard output
    std::string err;       // standard error
};

// A show folder: main.pl and derure.mp3 (the named fixture) when given, and
// whatever else a test writes.
struct ShowDir : TempDir {
    ShowDir() = default;
    explicit ShowDir(const std::string& mainPl, const std::string& music = "tone.mp3");
};

struct RunOptions {
    std::vector<std::string> args;                 // after argv[0]
    std::map<std::string, std::string> env;        // added or replaced
    std::vector<std::string> unsetEnv;             // removed
    std::string argv0 = "showplayer";
    double timeoutSeconds = 30.0;
};

// Runs the player with the folder as working directory. SDL_AUDIODRIVER is
// "dummy" unless the options set it; DISPLAY is inherited.
RunResult RunPlayer(const TempDir& dir, const RunOptions& options = {});

// Runs main.pl with the given text and the music fixture (none when empty)
// in a folder of its own, windowed unless the options give arguments.
RunResult RunScript(const std::string& mainPl, RunOptions options = {}, const std::string& music = "tone.mp3");

// Path of a generated fixture (music files made by the build).
std::string Fixture(const std::string& name);

// A show that fills the window with `picture` (or blue) every frame, prints
// "first NAME POS" after its first frame and "last NAME POS" from its END block
// (POS: the music position it read last), and ends each frame with the Perl
// `frame` (by default a pause that leaves the machine to the tests beside it).
std::string FillShow(const std::string& name, const std::string& picture = "",
                     const std::string& frame = "select(undef, undef, undef, 0.01);");

// The player kept running while the test talks to it; killed when the object
// goes.
class LivePlayer {
public:
    // Starts the player as RunPlayer does, with args instead of options.args.
    LivePlayer(const TempDir& dir, const std::vector<std::string>& args, const RunOptions& options = {});
    ~LivePlayer();
    LivePlayer(const LivePlayer&) = delete;
    LivePlayer& operator=(const LivePlayer&) = delete;

    // Index of the first line of standard output from `from` on that starts
    // with prefix, waiting up to seconds; -1 when none came before the
    // player closed its output.
    int WaitForLine(const std::string& prefix, double seconds, std::size_t from = 0);
    // Reads what arrives for the given time; false if the player's output
    // was still open then.
    bool Drain(double seconds);

    const std::vector<std::string>& Lines() const { return lines_; }
    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

    bool Running();
    // Exit status once the player has ended within seconds (128 + signal
    // when a signal ended it); -1 when it still runs.
    int WaitExit(double seconds);
    // The signal that ended the player, 0 when it exited.
    int Signal() const { return signal_; }

    // Gives the window the keyboard and presses the key (an X key name such
    // as "Escape" or "F1") for a quarter of a second.
    void PressKey(const std::string& key);
    // Asks the window to close as a window manager's close button does.
    void Close();

    pid_t pid() const { return pid_; }

private:
    void Read(int timeoutMs);
    unsigned long Window();

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};  // standard output and error
    std::string out_, err_;
    std::size_t parsed_ = 0;  // out_ up to here is split into lines_
    std::vector<std::string> lines_;
    int status_ = -1, signal_ = 0;
};

// A sound server that takes connections and never answers: a listening
// socket at path, for PULSE_SERVER="unix:" + path.
class SilentServer {
public:
    explicit SilentServer(const std::string& path);
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    bool Listening() const { return fd_ >= 0; }
    // Waits up to seconds for a client to connect, and keeps it waiting.
    bool WaitForClient(double seconds);

private:
    int fd_ = -1;
    std::vector<int> clients_;
};

}  // namespace testing_support

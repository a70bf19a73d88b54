// Runs the real player binary on a show folder made for one test.
#pragma once

#include "tests/support/TempDir.h"

#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
    int status = -1;       // exit status, or 128 + signal when killed
    int signal = 0;        // the signal that ended the player, 0 when it exited
    bool timedOut = false;
    std::string out;       // standard output
    std::string err;       // standard error
};

// A show folder: main.pl, derure.mp3 and whatever else a test writes.
using ShowDir = TempDir;

struct RunOptions {
    std::vector<std::string> args;                 // after argv[0]
    std::map<std::string, std::string> env;        // added or replaced
    std::vector<std::string> unsetEnv;             // removed
    std::string argv0 = "showplayer";
    double timeoutSeconds = 30.0;
};

// Runs the player with the folder as working directory. SDL_AUDIODRIVER is
// "dummy" unless the options set it; DISPLAY is inherited.
RunResult RunPlayer(const ShowDir& dir, const RunOptions& options = {});

// A folder holding main.pl with the given text and, unless music is empty,
// the named fixture copied to derure.mp3; then runs the player windowed.
RunResult RunScript(const std::string& mainPl, RunOptions options = {},
                    const std::string& music = "tone.mp3");

// Path of a generated fixture (music files made by the build).
std::string Fixture(const std::string& name);

}  // namespace testing_support

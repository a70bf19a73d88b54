// Recording mode: the show runs on a virtual clock that advances one frame at
// every buffer swap, draws into a window-less GL context, and every frame
// with the sound heard during it goes to a video file.
#pragma once

#include "host/Options.h"

#include "bindings/Context.h"

#include <cstdint>
#include <memory>
#include <string>

namespace record {

class Recording {
public:
    // What becomes of the frames: a video file, or nothing (the frames are
    // still drawn to the end; benchmarks compare the two).
    enum class Output { File, None };

    // Opens the video file (under its temporary name, by its absolute path)
    // before anything else, so that a path, name or encoder setting the
    // recorder cannot use ends the player at once.
    // Null with a one-line reason.
    static std::unique_ptr<Recording> Open(const host::Settings& settings, std::string* error,
                                           Output output = Output::File);
    // An unfinished recording leaves no file behind.
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Records the show: the window-less GL context, the music on the virtual
    // clock, one run of the script ("main.pl" in the working directory, under
    // a ScriptRuntime the caller holds) with a front end that captures each
    // swap, and the file completed; a run that ended before its first frame
    // writes nothing. The player's exit status: main's (or exit's), 1 after
    // an error or with no frame, 128 + the signal after Ctrl-C or SIGTERM.
    int Run(show::Context& context, const std::string& musicFile);

private:
    Recording();
    class FrontEnd;
    class WatchedClock;
    bool Swap();
    bool Finish(std::string* error);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace record

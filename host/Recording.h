// Recording mode: the show runs on a virtual clock that advances one frame at
// every buffer swap, draws into a window-less GL context, and every frame
// with the sound heard during it goes to a video file.
#pragma once

#include "host/Options.h"

#include <cstdint>
#include <memory>
#include <string>

namespace music { class ShowClock; }

namespace host {

class Recording {
public:
    // Opens the video file (under its temporary name) before anything else,
    // so that a path or name the recorder cannot use ends the player at once.
    // Null with a one-line reason.
    static std::unique_ptr<Recording> Open(const Settings& settings, std::string* error);
    // An unfinished recording leaves no file behind.
    ~Recording();

    // The window-less GL context, current on this thread; false with a
    // one-line reason.
    bool StartVideo(std::string* error);
    // The music on the virtual clock; a file that cannot be played gives a
    // silent clock and one line on standard error, as in live play.
    void OpenMusic(const std::string& path);
    // The clock the show reads (valid after OpenMusic).
    music::ShowClock* Clock();

    // The wall clock the show reads: its value at the start plus the virtual
    // time, wrapped to 32 bits like the live one.
    std::int32_t WallMs() const;

    // The frame is drawn: reads it back, hands it to the encoder with its
    // sound and advances the clock one frame. True when the recording is
    // complete (the music ended, the duration is reached, or Ctrl-C came):
    // the script must stop now.
    bool Swap();
    // True once Ctrl-C has asked the recording to end.
    bool Interrupted() const;

    // Hands over the last frame, completes the file and gives it its name.
    // False with a one-line reason (the file is then removed).
    bool Finish(std::string* error);

private:
    Recording();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace host

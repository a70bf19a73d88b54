// Sound outputs: the device end of the music. An output plays the attached
// feed (or silence) and tells the position the listener hears, from its own
// device's timing.
//
// All members are called on the main thread; each output serialises them
// against its device thread with a lock that the device side holds only
// while it copies from the feed's ring and books what it handed over.
#pragma once

#include "audio/Player.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace music {

class Feed;

class Output {
public:
    virtual ~Output() = default;

    // "pipewire", "pulse" or "sdl:<driver>": what plays the music.
    virtual std::string Name() const = 0;

    // Plays `feed` from its frame 0, paused; null detaches it (silence). The
    // feed must stay alive until it is detached.
    virtual void Attach(Feed* feed) = 0;

    // Moves to frame; the music from there is heard as soon as the device
    // allows, and until then the position reads frame.
    virtual void Seek(std::int64_t frame) = 0;
    // Stops the music and returns the frame heard now, where it is held.
    virtual std::int64_t Pause() = 0;
    // Plays on from the held frame; the position moves once it is heard.
    virtual void Resume() = 0;
    // The frame heard now (fractional); never back while playing, never past
    // the end.
    virtual double Read() = 0;

    // How long a frame handed to the device waits before it is heard.
    virtual int LatencyFrames() = 0;
    // Music buffers the device wanted and could not get in full.
    virtual std::uint64_t Underruns() = 0;
    // Records the buffers the device takes (SDL output only).
    virtual void Trace(std::vector<DeviceBuffer>* sink) { (void)sink; }

    // True once the output cannot play any more (the server went away, the
    // stream failed, the device stopped calling while the music played);
    // *frame is then the last position it vouched for, at CLOCK_MONOTONIC
    // time *ns, and *why says what happened.
    virtual bool Lost(double* frame, std::int64_t* ns, std::string* why) = 0;
    // True when a lost output plays again by itself (an SDL device whose
    // callbacks come regularly again).
    virtual bool Recovered() { return false; }
    // True when a lost output is replaced by connecting anew (PipeWire,
    // PulseAudio).
    virtual bool Reconnects() const { return false; }
};

// SDL audio at rate Hz with the driver SDL_AUDIODRIVER names (or SDL's own
// choice). Null when it cannot start; *error says why.
std::unique_ptr<Output> OpenSdlOutput(int rate, std::string* error);

// A stream on the PulseAudio server that PULSE_SERVER (or the desktop) names.
// Null when no server answers; *error says why, and *unresponsive (when
// given) is set when a server took the connection and then never answered.
// With settle it returns only once the server's timing is known (PipeWire's
// server takes some 300 ms): for an output that takes over music at once.
std::unique_ptr<Output> OpenPulseOutput(int rate, std::string* error, bool* unresponsive = nullptr,
                                        bool settle = false);

// True when a PipeWire daemon listens on its socket (PIPEWIRE_REMOTE, in
// PIPEWIRE_RUNTIME_DIR or XDG_RUNTIME_DIR); asks nothing of it.
bool PipeWireAnswers();
// A stream on the PipeWire daemon's graph. Null when it cannot start; *error
// says why.
std::unique_ptr<Output> OpenPipeWireOutput(int rate, std::string* error);

}  // namespace music

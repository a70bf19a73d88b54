// The music as the show sees it: one player object that owns the sound output
// and the music stream, and the clock interface the OpenGL package reads.
//
// Live play uses Player; a recording replaces it with a virtual clock that
// advances frame by frame, so the bindings only ever talk to a ShowClock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace music {

// The show's timeline in milliseconds: what glStartSound, glGetSoundPos and
// glSetSoundPos act on.
class ShowClock {
public:
    virtual ~ShowClock() = default;

    // Starts (or resumes) the music from the current position.
    virtual void Start() = 0;
    // Holds the position where it is; Start goes on from there.
    virtual void Pause() = 0;
    virtual bool Playing() const = 0;

    // The position the audience hears now, in whole milliseconds.
    virtual int Position() = 0;
    // Moves the position to ms (negative clamps to 0, past the end lands at the
    // end). False when the clock cannot be moved.
    virtual bool Seek(int ms) = 0;
    // Length of the music in ms; -1 for a silent clock.
    virtual int Length() const = 0;
};

// One buffer taken by the device while the music played: the CLOCK_MONOTONIC
// time of the callback in ns, the music position of its first frame and its
// length in frames (measurement: tests and benchmarks).
struct DeviceBuffer {
    long long timeNs;
    long long startFrame;
    int frames;
};

// The one line on standard error for a music file that cannot be opened or
// decoded (reason says why): the show then runs on a silent clock.
void ReportSilentClock(const std::string& path, const std::string& reason);

// The live music: a sound output and one streamed file.
class Player : public ShowClock {
public:
    // Starts the sound output at mixRate Hz, stereo 16-bit, and keeps it
    // running (silent until the music plays). The output: SDL audio with the
    // driver SDL_AUDIODRIVER names when it is set; the PulseAudio server
    // PULSE_SERVER names when that is set; otherwise a PipeWire daemon that
    // answers, then the desktop's PulseAudio server, then SDL's own choice
    // (not after a PulseAudio server that never answered). Null when no
    // output can start; *error then says why.
    static std::unique_ptr<Player> Create(int mixRate, std::string* error);
    ~Player() override;

    // Opens the music file, paused at 0. A file that cannot be opened or
    // decoded gives a silent clock (0 until started, then real time; seeks
    // work) and one line on standard error naming the file and the reason.
    void Open(const std::string& path);
    // Opens the file again (it changed on disk), keeping the position and
    // whether it plays.
    void Reopen(const std::string& path);

    void Start() override;
    void Pause() override;
    bool Playing() const override;
    int Position() override;
    bool Seek(int ms) override;
    int Length() const override;

    // Measurement (tests and benchmarks).
    // The position in fractional ms, as Position before rounding.
    double PositionExact();
    // How long a frame handed to the device waits before it is heard.
    int DeviceLatencyFrames() const;
    // Records the buffers the SDL device takes into *sink (appended from the
    // audio thread; reserve room beforehand), or stops with null. Read *sink
    // only after stopping. The PulseAudio output records nothing.
    void TraceDevice(std::vector<DeviceBuffer>* sink);
    // Times the device wanted music and the decoder had none ready, and
    // (PulseAudio) times the server's queue ran dry in steady play.
    std::uint64_t Underruns() const;
    // "pipewire", "pulse", or "sdl:" and SDL's driver name.
    std::string OutputName() const;

private:
    Player() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace music

// Video file writer for recording mode: encodes the frames and the audio track
// that the show produced on its own thread(s), through FFmpeg's libraries.
//
// The container and codecs come from the file's extension: ".mp4" H.264
// (yuv420p) with AAC, ".mkv" the same in Matroska, ".webm" VP9 with Opus. The
// file is written under a temporary name in the same folder and takes its own
// name only when it is complete, so a failed recording leaves nothing behind.
//
// The writer lives in a module of its own (showplayer-record.so) that Open
// loads: FFmpeg's libraries pull in a hundred more, and loading them would
// add some 35 ms to every start of the player, recording or not.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace record {

class Recorder {
public:
    // Loads the module, opens the encoders and the temporary file. Null on
    // failure; *error then holds a one-line reason.
    static std::unique_ptr<Recorder> Open(const std::string& path, int width, int height, int fps,
                                          std::string* error);
    // Discards the temporary file unless Finish succeeded.
    virtual ~Recorder() = default;

    // Samples per second of the audio track; AddFrame's samples are at this rate.
    virtual int SampleRate() const = 0;

    // Queues one frame: width * height BGRA pixels, rows from the bottom up as
    // GL reads them, and the stereo 16-bit interleaved samples heard while it
    // shows. Both are copied; this waits only while the encoders are a few
    // frames behind.
    virtual void AddFrame(const std::uint8_t* bgra, const std::int16_t* pcm, int samples) = 0;

    // Encodes what is queued, flushes the encoders, completes the container
    // and gives the file its name. False with a one-line reason otherwise
    // (the temporary file is then removed).
    virtual bool Finish(std::string* error) = 0;
};

}  // namespace record

// The module's one entry point, found by name: Recorder::Open's work, with
// the same contract.
extern "C" record::Recorder* showplayer_open_recorder(const char* path, int width, int height, int fps,
                                                    std::string* error);

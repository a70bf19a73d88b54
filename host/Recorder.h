// Video file writer for recording mode: encodes the frames and the audio track
// that the show produced on its own thread(s), through FFmpeg's libraries.
//
// The container and codecs come from the file's extension: ".mp4" H.264
// (yuv420p) with AAC, ".mkv" the same in Matroska, ".webm" VP9 with Opus. The
// file is written under a temporary name in the same folder and takes its own
// name only when it is complete, so a failed recording leaves nothing behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace host {

class Recorder {
public:
    // An empty string when the extension names a format the recorder writes;
    // otherwise the one-line reason.
    static std::string CheckFormat(const std::string& path);

    // Opens the encoders and the temporary file. Null on failure; *error
    // then holds a one-line reason.
    static std::unique_ptr<Recorder> Open(const std::string& path, int width, int height, int fps,
                                          std::string* error);
    // Discards the temporary file unless Finish succeeded.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Samples per second of the audio track; AddFrame's samples are at this rate.
    int SampleRate() const;

    // Queues one frame: width * height BGRA pixels, rows from the bottom up as
    // GL reads them, and the stereo 16-bit interleaved samples heard while it
    // shows. Both are copied; this waits only while the encoders are a few
    // frames behind.
    void AddFrame(const std::uint8_t* bgra, const std::int16_t* pcm, int samples);

    // Encodes what is queued, flushes the encoders, completes the container
    // and gives the file its name. False with a one-line reason otherwise
    // (the temporary file is then removed).
    bool Finish(std::string* error);

private:
    Recorder();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace host

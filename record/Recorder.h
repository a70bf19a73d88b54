// Video file writer for recording mode: encodes the frames and the audio track
// that the show produced on its own thread(s), through FFmpeg's libraries.
//
// The container and codecs come from the file's extension: ".mp4" H.264
// (yuv420p) with AAC and its index at the front, ".mkv" the same in Matroska,
// ".webm" VP9 with Opus, ".mov" ProRes 422 HQ with 16-bit PCM. The file is
// written under a temporary name in the same folder and takes its own name
// only when it is complete, so a failed recording leaves nothing behind.
//
// A name ending in ".png" with one printf-style counter ("frame-%05d.png") is
// an image sequence: one PNG per frame, counted from 0, and the sound beside
// them as a WAV file (SequenceSoundPath), which is complete on every ending.
//
// The writer lives in a module of its own (showplayer-record.so) that Open
// loads: FFmpeg's libraries pull in a hundred more, and loading them would
// add some 35 ms to every start of the player, recording or not.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace record {

// What the encoders are asked for.
struct EncoderSettings {
    int width = 0, height = 0, fps = 0;
    int quality = -1;    // the quality factor (crf); -1: the format's default
    std::string preset;  // x264's speed preset; empty: the default
};

class Recorder {
public:
    // Loads the module, opens the encoders and the temporary file. shownPath
    // is the name as the user gave it, for messages; path is the same made
    // absolute (the working folder put before it), since the show may change
    // its folder. Null on failure; *error then holds a one-line reason.
    static std::unique_ptr<Recorder> Open(const std::string& path, const std::string& shownPath,
                                          const EncoderSettings& settings, std::string* error);
    // Discards the temporary file unless Finish succeeded.
    virtual ~Recorder() = default;

    // The temporary file being written, for a signal handler to remove.
    virtual const char* TempPath() const = 0;
    // True once a write or an encoder failed; Finish says why.
    virtual bool Failed() const = 0;

    // Samples per second of the audio track; AddFrame's samples are at this rate.
    virtual int SampleRate() const = 0;

    // The byte order of the frames' pixels, BGRA unless told otherwise before
    // the first frame.
    virtual void UseRgba() = 0;
    // Queues one frame: width * height pixels of 4 bytes, rows from the
    // bottom up as GL reads them, and the stereo 16-bit interleaved samples
    // heard while it shows. Both are copied; this waits only while the
    // encoders are a few frames behind.
    virtual void AddFrame(const std::uint8_t* pixels, const std::int16_t* pcm, int samples) = 0;

    // Encodes what is queued, flushes the encoders, completes the container
    // and gives the file its name. False with a one-line reason otherwise
    // (the temporary file is then removed).
    virtual bool Finish(std::string* error) = 0;
};

}  // namespace record

// The module's one entry point, found by name: Recorder::Open's work, with
// the same contract.
extern "C" record::Recorder* showplayer_open_recorder(const std::string& path, const std::string& shownPath,
                                                    const record::EncoderSettings& settings, std::string* error);

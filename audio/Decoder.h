// MP3 decoder for the music stream: libmpg123 with gapless decoding and a
// scanned frame index, so that the length and every seek are sample-exact,
// delivering interleaved 16-bit stereo at the output rate.
//
// Mono files are played on both channels (libmpg123 duplicates them). Files at
// another sample rate go through a windowed-sinc resampler whose output frame
// k depends only on the source frames around k * inRate / outRate, so a seek
// lands on exactly the samples that playing from the start would give there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct mpg123_handle_struct;

namespace music {

class Decoder {
public:
    // Opens and scans the file. Null when it cannot be read or holds no MPEG
    // audio; reason then says why.
    static std::unique_ptr<Decoder> Open(const std::string& path, int outRate, std::string* reason);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Length in output frames.
    std::int64_t Length() const { return length_; }
    // The next output frame Read gives.
    std::int64_t Position() const { return position_; }
    int SourceRate() const { return inRate_; }
    int SourceChannels() const { return inChannels_; }

    // Moves to output frame (clamped to [0, Length()]). False on a decoder error.
    bool Seek(std::int64_t frame);

    // Writes up to `frames` stereo frames; fewer only at the end of the music.
    int Read(std::int16_t* stereo, int frames);

private:
    Decoder() = default;
    // Native-rate frames into `out` (stereo 16-bit); fewer only at the end.
    int ReadSource(std::int16_t* stereo, int frames);
    int ReadResampled(std::int16_t* stereo, int frames);
    void BuildFilter();
    bool SourceFrame(std::int64_t index, float* left, float* right);

    mpg123_handle_struct* handle_ = nullptr;
    std::FILE* file_ = nullptr;
    std::vector<char> readBuffer_;  // the file's stdio buffer
    int inRate_ = 0;
    int inChannels_ = 0;
    int outRate_ = 0;
    std::int64_t sourceLength_ = 0;  // native frames
    std::int64_t length_ = 0;        // output frames
    std::int64_t position_ = 0;      // next output frame
    bool sourceDone_ = false;

    // Resampling: output frame k reads source frames around k * step_ / phases_
    // through the filter row of phase (k * step_) % phases_.
    std::int64_t step_ = 1;
    std::int64_t phases_ = 1;
    std::vector<float> filter_;                // phases_ rows of 2 * kTaps
    std::vector<float> window_;                // decoded source frames, stereo
    std::int64_t windowStart_ = 0;             // source index of window_[0]
    std::vector<std::int16_t> scratch_;
};

}  // namespace music

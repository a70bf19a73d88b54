// MP3 decoder: libmpg123 (gapless, scanned, exact seeks) plus a windowed-sinc
// resampler for files that are not at the output rate.
#include "audio/Decoder.h"

#include <mpg123.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace music {

namespace {

constexpr int kChannels = 2;
constexpr int kBytesPerFrame = kChannels * static_cast<int>(sizeof(std::int16_t));
// Filter half-length in source frames: 16 gives a stop band near -70 dB with
// the Blackman window, at a cost of 64 multiplies per output frame.
constexpr int kTaps = 16;
constexpr int kRow = 2 * kTaps;
// Cut a little below the lower Nyquist frequency so the transition band does
// not fold back.
constexpr double kCutoff = 0.95;
// Source frames decoded at a time while resampling, and how much decoded
// history may pile up before it is dropped.
constexpr int kSourceChunk = 4096;
constexpr std::int64_t kMaxHistory = 16384;
constexpr double kPi = 3.14159265358979323846;

// libmpg123 reads a file frame by frame, two small reads per frame: some 23000
// system calls for five minutes of music. Reading through a stdio buffer of
// this size makes the scan at open a few dozen.
constexpr std::size_t kReadBuffer = 1 << 16;

mpg123_ssize_t ReadFile(void* file, void* buffer, std::size_t bytes)
{
    auto* stream = static_cast<std::FILE*>(file);
    const std::size_t got = std::fread(buffer, 1, bytes, stream);
    return got == 0 && std::ferror(stream) ? -1 : static_cast<mpg123_ssize_t>(got);
}

off_t SeekFile(void* file, off_t offset, int whence)
{
    auto* stream = static_cast<std::FILE*>(file);
    return fseeko(stream, offset, whence) == 0 ? ftello(stream) : -1;
}

bool LibraryReady()
{
    // Thread-safe once-only initialisation (a no-op in recent libmpg123).
    static const bool ready = mpg123_init() == MPG123_OK;
    return ready;
}

std::int16_t ToSample(float value)
{
    const float scaled = std::nearbyint(value);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

}  // namespace

std::unique_ptr<Decoder> Decoder::Open(const std::string& path, int outRate, std::string* reason)
{
    if (!LibraryReady()) {
        *reason = "the MP3 decoder cannot start";
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        *reason = std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<Decoder> decoder(new Decoder());
    decoder->file_ = file;
    decoder->outRate_ = outRate;
    decoder->readBuffer_.resize(kReadBuffer);
    std::setvbuf(file, decoder->readBuffer_.data(), _IOFBF, kReadBuffer);

    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (!handle) {
        *reason = mpg123_plain_strerror(error);
        return nullptr;
    }
    decoder->handle_ = handle;

    // Gapless (encoder delay and padding removed) and no fuzzy seeks: with the
    // frame index built by mpg123_scan every position is exact. Automatic
    // resampling stays off: libmpg123's own is a sample-and-hold; we resample.
    mpg123_param(handle, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_STEREO | MPG123_QUIET, 0.0);
    mpg123_format_none(handle);
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(handle, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);

    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_replace_reader_handle(handle, ReadFile, SeekFile, nullptr) != MPG123_OK ||
        mpg123_open_handle(handle, file) != MPG123_OK || mpg123_scan(handle) != MPG123_OK) {
        *reason = mpg123_strerror(handle);
        return nullptr;
    }
    if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0) {
        *reason = "no MPEG audio found";
        return nullptr;
    }
    const off_t length = mpg123_length(handle);
    if (length <= 0) {
        *reason = "no MPEG audio found";
        return nullptr;
    }
    mpg123_frameinfo info;
    decoder->inChannels_ = mpg123_info(handle, &info) == MPG123_OK && info.mode == MPG123_M_MONO ? 1 : 2;
    decoder->inRate_ = static_cast<int>(rate);
    decoder->sourceLength_ = length;

    const std::int64_t common = std::gcd<std::int64_t>(decoder->inRate_, outRate);
    decoder->step_ = decoder->inRate_ / common;
    decoder->phases_ = outRate / common;
    decoder->length_ = decoder->sourceLength_ * decoder->phases_ / decoder->step_;
    if (decoder->inRate_ != outRate)
        decoder->BuildFilter();
    decoder->scratch_.resize(static_cast<std::size_t>(kSourceChunk) * kChannels);
    if (!decoder->Seek(0)) {
        *reason = mpg123_strerror(handle);
        return nullptr;
    }
    return decoder;
}

Decoder::~Decoder()
{
    if (handle_) {
        mpg123_close(handle_);
        mpg123_delete(handle_);
    }
    if (file_)
        std::fclose(file_);
}

void Decoder::BuildFilter()
{
    const double cutoff = kCutoff * std::min(1.0, static_cast<double>(outRate_) / inRate_);
    filter_.assign(static_cast<std::size_t>(phases_) * kRow, 0.0f);
    for (std::int64_t phase = 0; phase < phases_; ++phase) {
        const double fraction = static_cast<double>(phase) / static_cast<double>(phases_);
        float* row = &filter_[static_cast<std::size_t>(phase) * kRow];
        double sum = 0.0;
        for (int tap = 0; tap < kRow; ++tap) {
            const double t = (tap - kTaps + 1) - fraction;  // distance from the output point
            const double x = cutoff * t;
            const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(kPi * x) / (kPi * x);
            const double w = std::abs(t) >= kTaps ? 0.0
                                                  : 0.42 + 0.5 * std::cos(kPi * t / kTaps) +
                                                        0.08 * std::cos(2.0 * kPi * t / kTaps);
            row[tap] = static_cast<float>(sinc * w);
            sum += sinc * w;
        }
        // Unity gain at DC for every phase, so a steady signal stays steady.
        for (int tap = 0; tap < kRow; ++tap)
            row[tap] = static_cast<float>(row[tap] / sum);
    }
}

bool Decoder::Seek(std::int64_t frame)
{
    position_ = std::clamp<std::int64_t>(frame, 0, length_);
    sourceDone_ = false;
    std::int64_t sourceFrame = position_;
    if (inRate_ != outRate_) {
        sourceFrame = std::max<std::int64_t>(0, position_ * step_ / phases_ - kTaps + 1);
        windowStart_ = sourceFrame;
        window_.clear();
    }
    return mpg123_seek(handle_, static_cast<off_t>(sourceFrame), SEEK_SET) >= 0;
}

int Decoder::ReadSource(std::int16_t* stereo, int frames)
{
    int got = 0;
    while (got < frames && !sourceDone_) {
        std::size_t done = 0;
        const int result = mpg123_read(handle_, reinterpret_cast<unsigned char*>(stereo + got * kChannels),
                                       static_cast<std::size_t>(frames - got) * kBytesPerFrame, &done);
        got += static_cast<int>(done / kBytesPerFrame);
        if (result == MPG123_OK || result == MPG123_NEW_FORMAT)
            continue;
        // MPG123_DONE at the end; anything else is a damaged stream that
        // cannot go on. Either way the music ends here.
        sourceDone_ = true;
    }
    return got;
}

int Decoder::Read(std::int16_t* stereo, int frames)
{
    frames = static_cast<int>(std::min<std::int64_t>(frames, length_ - position_));
    if (frames <= 0)
        return 0;
    const int got = inRate_ == outRate_ ? ReadSource(stereo, frames) : ReadResampled(stereo, frames);
    position_ += got;
    return got;
}

bool Decoder::SourceFrame(std::int64_t index, float* left, float* right)
{
    if (index < 0 || index >= sourceLength_ || index < windowStart_) {
        *left = *right = 0.0f;
        return true;
    }
    while (index >= windowStart_ + static_cast<std::int64_t>(window_.size() / kChannels)) {
        const int got = ReadSource(scratch_.data(), kSourceChunk);
        if (got == 0)
            return false;
        window_.insert(window_.end(), scratch_.begin(), scratch_.begin() + got * kChannels);
    }
    const std::size_t at = static_cast<std::size_t>(index - windowStart_) * kChannels;
    *left = window_[at];
    *right = window_[at + 1];
    return true;
}

int Decoder::ReadResampled(std::int16_t* stereo, int frames)
{
    for (int i = 0; i < frames; ++i) {
        const std::int64_t k = position_ + i;
        const std::int64_t numerator = k * step_;
        const std::int64_t centre = numerator / phases_;
        const float* row = &filter_[static_cast<std::size_t>(numerator % phases_) * kRow];

        // Drop history no output frame will read again.
        const std::int64_t first = centre - kTaps + 1;
        if (first - windowStart_ > kMaxHistory) {
            const std::int64_t drop = first - windowStart_;
            window_.erase(window_.begin(), window_.begin() + drop * kChannels);
            windowStart_ += drop;
        }
        float left = 0.0f, right = 0.0f;
        for (int tap = 0; tap < kRow; ++tap) {
            float l, r;
            if (!SourceFrame(first + tap, &l, &r))
                return i;  // the stream broke off early: the music ends here
            left += l * row[tap];
            right += r * row[tap];
        }
        stereo[2 * i] = ToSample(left);
        stereo[2 * i + 1] = ToSample(right);
    }
    return frames;
}

}  // namespace music

// Video file writer: one FFmpeg muxer with a video and an audio stream, fed by
// an encoding thread from a small queue of frames. Built as the player's
// recording module; nothing else of the player links FFmpeg.
#include "record/Recorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace record {

// ---------------------------------------------------------------------------
// Formats and tuning

namespace {

struct Format {
    const char* extension;
    const char* muxer;  // null: an image sequence, one file per frame
    const char* video;  // encoder names
    const char* audio;
    int sampleRate;     // Opus codes 48 kHz only
    bool evenSize;      // 4:2:0 and 4:2:2 need even sides
    AVPixelFormat pixels;
    int maxQuality;     // the quality factor's range is 0 to this; -1: none
    const char* defaultQuality;
    bool presets;       // x264's speed presets apply
};

// x264's fastest preset costs about 4 ms of one core per 800x600 frame of the
// bundled show (the next one, 2.5 times that), so encoding stays well behind
// drawing in cost; the quality factor keeps hard edges and gradients clean.
// VP9 in real-time mode: constant quality, rows coded in parallel. ProRes 422
// HQ in 10 bits is what editing suites take without a generation loss; the
// plain encoder makes it at about twice the rate of the one that searches
// the quantisers per slice.
constexpr Format kFormats[] = {
    {".mp4", "mp4", "libx264", "aac", 44100, true, AV_PIX_FMT_YUV420P, 51, "20", true},
    {".mkv", "matroska", "libx264", "aac", 44100, true, AV_PIX_FMT_YUV420P, 51, "20", true},
    {".webm", "webm", "libvpx-vp9", "libopus", 48000, false, AV_PIX_FMT_YUV420P, 63, "24", false},
    {".mov", "mov", "prores_aw", "pcm_s16le", 44100, true, AV_PIX_FMT_YUV422P10LE, -1, nullptr, false},
    {".png", nullptr, "png", nullptr, 44100, false, AV_PIX_FMT_RGB24, -1, nullptr, false},
};
constexpr const char* kKnownNames = ".mp4, .mkv, .webm, .mov or .png";

constexpr const char* kH264Preset = "ultrafast";
constexpr const char* kVp9Deadline = "realtime";
constexpr const char* kVp9Speed = "8";
constexpr int kProResProfile = FF_PROFILE_PRORES_HQ;
constexpr std::int64_t kAacBitRate = 192000;
constexpr std::int64_t kOpusBitRate = 160000;
constexpr int kChannels = 2;
constexpr int kWavHeaderBytes = 44;
// Frames queued between the drawing thread and the encoder: enough to ride
// over a slow frame on either side, few enough to bound memory.
constexpr int kQueueFrames = 4;

const Format* FindFormat(const std::string& path)
{
    for (const Format& f : kFormats) {
        const std::size_t n = std::strlen(f.extension);
        if (path.size() > n && strcasecmp(path.c_str() + path.size() - n, f.extension) == 0)
            return &f;
    }
    return nullptr;
}

// True when the name holds exactly one counter ("%d", "%5d", "%05d") and no
// other conversion ("%%" stands for a percent sign); *at and *length locate it.
bool FindCounter(const std::string& name, std::size_t* at, std::size_t* length)
{
    int counters = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%')
            continue;
        if (i + 1 < name.size() && name[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < name.size() && j - i <= 3 && std::isdigit(static_cast<unsigned char>(name[j])))
            ++j;
        if (j >= name.size() || name[j] != 'd')
            return false;
        *at = i;
        *length = j + 1 - i;
        ++counters;
        i = j;
    }
    return counters == 1;
}

// The sound of an image sequence: the pattern without its counter and the
// separator before it, as .wav ("shots/frame-%05d.png" gives
// "shots/frame.wav"), or "sound.wav" in the frames' folder when nothing of the
// name is left.
std::string SoundPathOf(const std::string& pattern, std::size_t at, std::size_t length)
{
    std::string name = pattern.substr(0, at) + pattern.substr(at + length, pattern.size() - at - length - 4);
    for (std::size_t p; (p = name.find("%%")) != std::string::npos;)
        name.erase(p, 1);
    while (!name.empty() && std::strchr("-_. ", name.back()))
        name.pop_back();
    if (name.empty() || name.back() == '/')
        name += "sound";
    return name + ".wav";
}

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The header of a 16-bit stereo WAV file holding `bytes` of samples.
void WavHeader(std::uint8_t* out, int rate, std::uint32_t bytes)
{
    const auto put32 = [&out](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const auto put16 = [&out](std::size_t at, std::uint16_t v) {
        out[at] = static_cast<std::uint8_t>(v);
        out[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    std::memcpy(out, "RIFF", 4);
    put32(4, 36 + bytes);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);  // integer PCM
    put16(22, kChannels);
    put32(24, static_cast<std::uint32_t>(rate));
    put32(28, static_cast<std::uint32_t>(rate) * kChannels * 2);
    put16(32, kChannels * 2);
    put16(34, 16);
    std::memcpy(out + 36, "data", 4);
    put32(40, bytes);
}

// One output stream: its encoder, the frame it fills and the next timestamp.
struct Stream {
    AVStream* stream = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    std::int64_t nextPts = 0;

    ~Stream()
    {
        avcodec_free_context(&codec);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
};

// A frame on its way to the encoder.
struct Job {
    std::vector<std::uint8_t> pixels;
    std::vector<std::int16_t> pcm;
};

class FileRecorder final : public Recorder {
public:
    static std::unique_ptr<FileRecorder> Open(const std::string& path, const std::string& shownPath,
                                              const EncoderSettings& settings, std::string* error);
    const char* TempPath() const override;
    bool Failed() const override;
    int SampleRate() const override;
    void UseRgba() override;
    void AddFrame(const std::uint8_t* pixels, const std::int16_t* pcm, int samples) override;
    bool Finish(std::string* error) override;

    struct Impl;

private:
    FileRecorder();
    std::unique_ptr<Impl> impl_;
};

}  // namespace

// ---------------------------------------------------------------------------
// State

struct FileRecorder::Impl {
    const Format* format = nullptr;
    std::string path;      // absolute
    std::string shownPath;  // as the user wrote it, for messages
    std::string tempPath;
    int width = 0, height = 0;
    EncoderSettings settings;

    // An image sequence: the frames' names (as written, and the folder that
    // makes them absolute), and the sound file written beside them (under
    // tempPath until it is complete).
    std::string shownPattern;
    std::string folder;
    std::FILE* wav = nullptr;
    std::uint32_t wavBytes = 0;

    AVFormatContext* muxer = nullptr;
    Stream video, audio;
    SwsContext* scaler = nullptr;
    SwrContext* converter = nullptr;
    std::vector<std::int16_t> pendingAudio;  // samples short of a whole audio frame
    std::size_t pendingStart = 0;            // samples already encoded

    // The queue between AddFrame and the encoding thread.
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Job> jobs;
    std::deque<int> free, ready;
    bool closing = false;
    std::thread worker;

    // The first failure; set by either thread, read after the worker ended.
    std::mutex errorLock;
    std::string error;
    std::atomic<bool> failed{false};
    bool finished = false;

    ~Impl();
    bool Fail(const std::string& what);
    bool OpenVideo();
    bool OpenScaler(AVPixelFormat input);
    bool OpenAudio();
    bool OpenSound();
    bool WriteSequenceFrames();
    bool CloseSound();
    bool WritePackets(Stream& s);
    bool EncodeVideo(const std::uint8_t* pixels);
    bool EncodeAudio(std::size_t samples);
    bool Encode(const Job& job);
    bool Flush();
    void Work();
    void StopWorker();
};

FileRecorder::Impl::~Impl()
{
    StopWorker();
    if (muxer) {
        avio_closep(&muxer->pb);
        avformat_free_context(muxer);
    }
    sws_freeContext(scaler);
    swr_free(&converter);
    if (wav)
        std::fclose(wav);
    if (!finished && !tempPath.empty())
        unlink(tempPath.c_str());
}

bool FileRecorder::Impl::Fail(const std::string& what)
{
    std::lock_guard<std::mutex> guard(errorLock);
    if (error.empty())
        error = what;
    failed = true;
    return false;
}

// ---------------------------------------------------------------------------
// Opening

bool FileRecorder::Impl::OpenVideo()
{
    const int fps = settings.fps;
    const AVCodec* codec = avcodec_find_encoder_by_name(format->video);
    if (!codec)
        return Fail(std::string("no ") + format->video + " encoder in this FFmpeg");
    video.stream = muxer ? avformat_new_stream(muxer, nullptr) : nullptr;
    video.codec = avcodec_alloc_context3(codec);
    video.frame = av_frame_alloc();
    video.packet = av_packet_alloc();
    if ((muxer && !video.stream) || !video.codec || !video.frame || !video.packet)
        return Fail("out of memory");

    AVCodecContext* c = video.codec;
    // NOTE: an odd side is padded by repeating the last row or column; H.264
    // can only crop 4:2:0 pictures by whole chroma samples.
    c->width = format->evenSize ? (width + 1) & ~1 : width;
    c->height = format->evenSize ? (height + 1) & ~1 : height;
    c->pix_fmt = format->pixels;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->gop_size = fps * 2;
    // The scaler converts with the BT.601 matrix to limited range; say so,
    // or players guess BT.709 for large pictures and shift the colours.
    c->colorspace = AVCOL_SPC_SMPTE170M;
    c->color_range = AVCOL_RANGE_MPEG;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_IEC61966_2_1;
    c->thread_count = 0;
    if (muxer && (muxer->oformat->flags & AVFMT_GLOBALHEADER))
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const std::string quality =
        settings.quality >= 0 ? std::to_string(settings.quality) : std::string(format->defaultQuality ? format->defaultQuality : "");
    if (codec->id == AV_CODEC_ID_H264) {
        av_opt_set(c->priv_data, "preset", settings.preset.empty() ? kH264Preset : settings.preset.c_str(), 0);
        av_opt_set(c->priv_data, "crf", quality.c_str(), 0);
    } else if (codec->id == AV_CODEC_ID_VP9) {
        c->bit_rate = 0;
        av_opt_set(c->priv_data, "deadline", kVp9Deadline, 0);
        av_opt_set(c->priv_data, "cpu-used", kVp9Speed, 0);
        av_opt_set(c->priv_data, "crf", quality.c_str(), 0);
        av_opt_set(c->priv_data, "row-mt", "1", 0);
    } else if (codec->id == AV_CODEC_ID_PRORES) {
        c->profile = kProResProfile;
    } else {
        // PNG frames are coded several at once, each on a thread of its own.
        c->thread_type = FF_THREAD_FRAME;
    }
    int status = avcodec_open2(c, codec, nullptr);
    if (status < 0)
        return Fail(std::string("cannot start the ") + format->video + " encoder: " + AvError(status));
    if (video.stream) {
        status = avcodec_parameters_from_context(video.stream->codecpar, c);
        if (status < 0)
            return Fail(AvError(status));
        video.stream->time_base = c->time_base;
        video.stream->avg_frame_rate = c->framerate;
    }

    video.frame->format = c->pix_fmt;
    video.frame->width = c->width;
    video.frame->height = c->height;
    status = av_frame_get_buffer(video.frame, 0);
    if (status < 0)
        return Fail(AvError(status));
    return OpenScaler(AV_PIX_FMT_BGRA);
}

bool FileRecorder::Impl::OpenScaler(AVPixelFormat input)
{
    sws_freeContext(scaler);
    // Same size, so the filter only shapes the chroma subsampling; the fast
    // one with full-resolution chroma input halves the cost of the default.
    scaler = sws_getContext(width, height, input, width, height, format->pixels,
                            SWS_FAST_BILINEAR | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
    return scaler ? true : Fail("cannot convert the pictures to YUV");
}

bool FileRecorder::Impl::OpenAudio()
{
    const AVCodec* codec = avcodec_find_encoder_by_name(format->audio);
    if (!codec)
        return Fail(std::string("no ") + format->audio + " encoder in this FFmpeg");
    audio.stream = avformat_new_stream(muxer, nullptr);
    audio.codec = avcodec_alloc_context3(codec);
    audio.frame = av_frame_alloc();
    audio.packet = av_packet_alloc();
    if (!audio.stream || !audio.codec || !audio.frame || !audio.packet)
        return Fail("out of memory");

    AVCodecContext* c = audio.codec;
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    c->sample_rate = format->sampleRate;
    c->bit_rate = codec->id == AV_CODEC_ID_OPUS ? kOpusBitRate : kAacBitRate;
    av_channel_layout_default(&c->ch_layout, kChannels);
    c->time_base = AVRational{1, c->sample_rate};
    if (muxer->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int status = avcodec_open2(c, codec, nullptr);
    if (status < 0)
        return Fail(std::string("cannot start the ") + format->audio + " encoder: " + AvError(status));
    status = avcodec_parameters_from_context(audio.stream->codecpar, c);
    if (status < 0)
        return Fail(AvError(status));
    audio.stream->time_base = c->time_base;

    // The encoder's own sample layout; the rates match, so the converter only
    // reorders and rescales samples and adds no delay.
    status = swr_alloc_set_opts2(&converter, &c->ch_layout, c->sample_fmt, c->sample_rate, &c->ch_layout,
                                 AV_SAMPLE_FMT_S16, c->sample_rate, 0, nullptr);
    if (status < 0 || swr_init(converter) < 0)
        return Fail("cannot convert the audio samples");

    audio.frame->format = c->sample_fmt;
    audio.frame->sample_rate = c->sample_rate;
    audio.frame->nb_samples = c->frame_size > 0 ? c->frame_size : 1024;
    av_channel_layout_copy(&audio.frame->ch_layout, &c->ch_layout);
    status = av_frame_get_buffer(audio.frame, 0);
    return status < 0 ? Fail(AvError(status)) : true;
}

FileRecorder::FileRecorder() : impl_(std::make_unique<Impl>()) {}

bool FileRecorder::Impl::OpenSound()
{
    std::uint8_t header[kWavHeaderBytes];
    WavHeader(header, format->sampleRate, 0);
    wav = std::fopen(tempPath.c_str(), "wb");
    if (!wav || std::fwrite(header, sizeof header, 1, wav) != 1)
        return Fail(std::string("cannot write \"") + shownPath + "\": " + std::strerror(errno));
    return true;
}

std::unique_ptr<FileRecorder> FileRecorder::Open(const std::string& path, const std::string& shownPath,
                                                 const EncoderSettings& settings, std::string* error)
{
    const std::string refused = "cannot record to \"" + shownPath + "\": ";
    const Format* format = FindFormat(path);
    if (!format) {
        *error = refused + "the file name must end in " + kKnownNames;
        return nullptr;
    }
    if (settings.quality >= 0 && format->maxQuality < 0) {
        *error = refused + "--crf applies to .mp4, .mkv and .webm only";
        return nullptr;
    }
    if (settings.quality > format->maxQuality) {
        *error = refused + "--crf for " + format->video + " takes 0 to " + std::to_string(format->maxQuality) +
                 ", not " + std::to_string(settings.quality);
        return nullptr;
    }
    if (!settings.preset.empty() && !format->presets) {
        *error = refused + "--preset applies to .mp4 and .mkv only";
        return nullptr;
    }
    std::size_t counterAt = 0, counterLength = 0;
    const bool sequence = !format->muxer;
    if (sequence && !FindCounter(shownPath, &counterAt, &counterLength)) {
        *error = refused + "an image sequence's name needs one counter, such as frame-%05d.png";
        return nullptr;
    }

    std::unique_ptr<FileRecorder> recorder(new FileRecorder());
    Impl& r = *recorder->impl_;
    r.format = format;
    r.path = path;
    r.shownPath = shownPath;
    r.width = settings.width;
    r.height = settings.height;
    r.settings = settings;
    if (sequence) {
        // From here on the file being written is the sound beside the frames.
        r.shownPattern = shownPath;
        r.folder = path.substr(0, path.size() - shownPath.size());
        r.shownPath = SoundPathOf(shownPath, counterAt, counterLength);
        r.path = r.folder + r.shownPath;
    }

    struct stat info;
    if (stat(r.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        *error = "cannot write \"" + r.shownPath + "\": " + std::strerror(EISDIR);
        return nullptr;
    }
    // The temporary name sits in the file's own folder, so that the final
    // rename stays on one file system and cannot fail half-way.
    const std::size_t slash = r.path.rfind('/');
    const std::string folder = r.path.substr(0, slash + 1);
    const std::string base = r.path.substr(slash + 1);
    const std::string temp = folder + "." + base + "." + std::to_string(getpid()) + ".part";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = "cannot write \"" + r.shownPath + "\": " + std::strerror(errno);
        return nullptr;
    }
    close(fd);
    r.tempPath = temp;

    // The libraries' own lines (notices, encoder statistics, and x264's and
    // FFmpeg's complaints before the player's one-line reason) would mix with
    // the progress line and say again what the player says.
    av_log_set_level(AV_LOG_QUIET);
    if (sequence) {
        if (!r.OpenVideo() || !r.OpenSound()) {
            *error = "cannot record to \"" + shownPath + "\": " + r.error;
            return nullptr;
        }
    } else {
        // "file:" keeps a name with a colon from being read as a protocol;
        // the muxer reads the file back by this name to move the MP4 index.
        const std::string url = "file:" + temp;
        int status = avformat_alloc_output_context2(&r.muxer, nullptr, r.format->muxer, url.c_str());
        if (status < 0 || !r.OpenVideo() || !r.OpenAudio()) {
            if (status < 0)
                r.Fail(AvError(status));
            *error = refused + r.error;
            return nullptr;
        }
        status = avio_open(&r.muxer->pb, url.c_str(), AVIO_FLAG_WRITE);
        AVDictionary* options = nullptr;
        // The index in front, so that a browser plays the file as it arrives.
        if (std::strcmp(format->muxer, "mp4") == 0)
            av_dict_set(&options, "movflags", "+faststart", 0);
        if (status >= 0)
            status = avformat_write_header(r.muxer, &options);
        av_dict_free(&options);
        if (status < 0) {
            *error = "cannot write \"" + shownPath + "\": " + AvError(status);
            return nullptr;
        }
    }

    r.jobs.resize(kQueueFrames);
    for (int i = 0; i < kQueueFrames; ++i) {
        r.jobs[i].pixels.resize(static_cast<std::size_t>(r.width) * r.height * 4);
        r.free.push_back(i);
    }
    r.worker = std::thread([&r] { r.Work(); });
    return recorder;
}

const char* FileRecorder::TempPath() const { return impl_->finished ? "" : impl_->tempPath.c_str(); }

bool FileRecorder::Failed() const { return impl_->failed; }

int FileRecorder::SampleRate() const { return impl_->format->sampleRate; }

// ---------------------------------------------------------------------------
// Encoding (on the worker thread, then on Finish's for the flush)

// Writes every picture the PNG encoder has ready to its own file, named by
// its frame number. A file that cannot be written whole is removed.
bool FileRecorder::Impl::WriteSequenceFrames()
{
    for (;;) {
        int status = avcodec_receive_packet(video.codec, video.packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return true;
        if (status < 0)
            return Fail("encoding failed: " + AvError(status));
        const int number = static_cast<int>(video.packet->pts);
        char shown[PATH_MAX];
        std::snprintf(shown, sizeof shown, shownPattern.c_str(), number);
        const std::string name = folder + shown;
        std::FILE* file = std::fopen(name.c_str(), "wb");
        bool written = file && std::fwrite(video.packet->data, video.packet->size, 1, file) == 1;
        const int reason = errno;
        if (file && std::fclose(file) != 0)
            written = false;
        av_packet_unref(video.packet);
        if (!written) {
            unlink(name.c_str());
            return Fail("writing \"" + std::string(shown) + "\" failed: " + std::strerror(reason ? reason : errno));
        }
    }
}

// Moves every packet the encoder has ready into the muxer.
bool FileRecorder::Impl::WritePackets(Stream& s)
{
    if (!muxer)
        return WriteSequenceFrames();
    for (;;) {
        int status = avcodec_receive_packet(s.codec, s.packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return true;
        if (status < 0)
            return Fail("encoding failed: " + AvError(status));
        // NOTE: Matroska keeps Opus's encoder delay as the track's CodecDelay,
        // which readers subtract from the packets' times; the packets must
        // therefore start at 0, not at minus the delay as the encoder gives
        // them. Left negative, the muxer would shift every stream by the delay
        // and the picture would land that much late against the sound.
        if (s.codec->codec_id == AV_CODEC_ID_OPUS) {
            s.packet->pts += s.codec->initial_padding;
            s.packet->dts += s.codec->initial_padding;
        }
        av_packet_rescale_ts(s.packet, s.codec->time_base, s.stream->time_base);
        s.packet->stream_index = s.stream->index;
        status = av_interleaved_write_frame(muxer, s.packet);
        if (status < 0)
            return Fail("writing \"" + shownPath + "\" failed: " + AvError(status));
    }
}

bool FileRecorder::Impl::EncodeVideo(const std::uint8_t* pixels)
{
    AVFrame* f = video.frame;
    int status = av_frame_make_writable(f);
    if (status < 0)
        return Fail(AvError(status));
    // GL's rows run bottom-up: start at the last row and step backwards.
    const int stride = width * 4;
    const std::uint8_t* source[1] = {pixels + static_cast<std::size_t>(height - 1) * stride};
    const int strides[1] = {-stride};
    sws_scale(scaler, source, strides, 0, height, f->data, f->linesize);
    // Odd sides: repeat the last luma column and row; the chroma planes
    // already cover the padded picture.
    if (f->width > width)
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = f->data[0] + y * f->linesize[0];
            row[width] = row[width - 1];
        }
    if (f->height > height)
        std::memcpy(f->data[0] + height * f->linesize[0], f->data[0] + (height - 1) * f->linesize[0], f->width);
    f->pts = video.nextPts++;
    status = avcodec_send_frame(video.codec, f);
    if (status < 0)
        return Fail("encoding failed: " + AvError(status));
    return WritePackets(video);
}

// Encodes the next `samples` pending samples as one audio frame.
bool FileRecorder::Impl::EncodeAudio(std::size_t samples)
{
    AVFrame* f = audio.frame;
    int status = av_frame_make_writable(f);
    if (status < 0)
        return Fail(AvError(status));
    const std::uint8_t* in[1] = {reinterpret_cast<const std::uint8_t*>(pendingAudio.data() + pendingStart * kChannels)};
    f->nb_samples = static_cast<int>(samples);
    if (swr_convert(converter, f->data, f->nb_samples, in, f->nb_samples) < 0)
        return Fail("cannot convert the audio samples");
    pendingStart += samples;
    f->pts = audio.nextPts;
    audio.nextPts += f->nb_samples;
    status = avcodec_send_frame(audio.codec, f);
    if (status < 0)
        return Fail("encoding failed: " + AvError(status));
    return WritePackets(audio);
}

bool FileRecorder::Impl::Encode(const Job& job)
{
    if (wav) {
        // The sound of an image sequence is stored as it came.
        const std::size_t bytes = job.pcm.size() * sizeof(std::int16_t);
        if (!job.pcm.empty() && std::fwrite(job.pcm.data(), bytes, 1, wav) != 1)
            return Fail("writing \"" + shownPath + "\" failed: " + std::strerror(errno));
        wavBytes += static_cast<std::uint32_t>(bytes);
        return EncodeVideo(job.pixels.data());
    }
    pendingAudio.erase(pendingAudio.begin(), pendingAudio.begin() + pendingStart * kChannels);
    pendingStart = 0;
    pendingAudio.insert(pendingAudio.end(), job.pcm.begin(), job.pcm.end());
    const std::size_t frameSize = audio.codec->frame_size > 0 ? audio.codec->frame_size : 1024;
    while (pendingAudio.size() / kChannels - pendingStart >= frameSize)
        if (!EncodeAudio(frameSize))
            return false;
    return EncodeVideo(job.pixels.data());
}

// The rest of the audio as a last, shorter frame, then both encoders drained.
bool FileRecorder::Impl::Flush()
{
    if (wav) {
        const int status = avcodec_send_frame(video.codec, nullptr);
        if (status < 0 && status != AVERROR_EOF)
            return Fail("encoding failed: " + AvError(status));
        return WriteSequenceFrames();
    }
    const std::size_t rest = pendingAudio.size() / kChannels - pendingStart;
    if (rest > 0) {
        const bool shortLast = audio.codec->codec->capabilities &
                               (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        const std::size_t frameSize = audio.frame->nb_samples;
        if (!shortLast)
            pendingAudio.resize((pendingStart + frameSize) * kChannels, 0);
        if (!EncodeAudio(shortLast ? rest : frameSize))
            return false;
    }
    for (Stream* s : {&video, &audio}) {
        const int status = avcodec_send_frame(s->codec, nullptr);
        if (status < 0 && status != AVERROR_EOF)
            return Fail("encoding failed: " + AvError(status));
        if (!WritePackets(*s))
            return false;
    }
    return true;
}

void FileRecorder::Impl::Work()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return closing || !ready.empty(); });
        if (ready.empty())
            return;
        const int index = ready.front();
        ready.pop_front();
        guard.unlock();
        // After a failure the frames are still taken, so AddFrame never waits
        // for ever; Finish reports the failure.
        if (!failed)
            Encode(jobs[index]);
        guard.lock();
        free.push_back(index);
        changed.notify_all();
    }
}

void FileRecorder::Impl::StopWorker()
{
    if (!worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        closing = true;
    }
    changed.notify_all();
    worker.join();
}

void FileRecorder::UseRgba()
{
    // Before the first frame: the worker has nothing to convert yet.
    impl_->OpenScaler(AV_PIX_FMT_RGBA);
}

void FileRecorder::AddFrame(const std::uint8_t* pixels, const std::int16_t* pcm, int samples)
{
    Impl& r = *impl_;
    std::unique_lock<std::mutex> guard(r.lock);
    r.changed.wait(guard, [&r] { return !r.free.empty(); });
    const int index = r.free.front();
    r.free.pop_front();
    guard.unlock();
    Job& job = r.jobs[index];
    std::memcpy(job.pixels.data(), pixels, job.pixels.size());
    job.pcm.assign(pcm, pcm + static_cast<std::size_t>(samples) * kChannels);
    guard.lock();
    r.ready.push_back(index);
    r.changed.notify_all();
}

// Completes the WAV header and closes the file.
bool FileRecorder::Impl::CloseSound()
{
    std::uint8_t header[kWavHeaderBytes];
    WavHeader(header, format->sampleRate, wavBytes);
    bool ok = std::fflush(wav) == 0 && std::fseek(wav, 0, SEEK_SET) == 0 &&
              std::fwrite(header, sizeof header, 1, wav) == 1;
    const int reason = errno;
    ok = std::fclose(wav) == 0 && ok;
    wav = nullptr;
    return ok ? true : Fail("writing \"" + shownPath + "\" failed: " + std::strerror(reason ? reason : errno));
}

bool FileRecorder::Finish(std::string* error)
{
    Impl& r = *impl_;
    r.StopWorker();
    if (!r.failed && r.Flush() && r.muxer) {
        const int status = av_write_trailer(r.muxer);
        if (status < 0)
            r.Fail("writing \"" + r.shownPath + "\" failed: " + AvError(status));
    }
    if (r.muxer) {
        const int closed = avio_closep(&r.muxer->pb);
        if (!r.failed && closed < 0)
            r.Fail("writing \"" + r.shownPath + "\" failed: " + AvError(closed));
    } else if (r.wav) {
        // The sound stays complete for the frames that were written, even
        // after a failed one.
        r.CloseSound();
    }
    if ((!r.failed || !r.muxer) && rename(r.tempPath.c_str(), r.path.c_str()) != 0)
        r.Fail("cannot write \"" + r.shownPath + "\": " + std::strerror(errno));
    if (r.failed) {
        *error = r.error;
        return false;
    }
    r.finished = true;
    return true;
}

}  // namespace record

record::Recorder* showplayer_open_recorder(const std::string& path, const std::string& shownPath,
                                           const record::EncoderSettings& settings, std::string* error)
{
    return record::FileRecorder::Open(path, shownPath, settings, error).release();
}

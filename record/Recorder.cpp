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
    const char* muxer;
    const char* video;  // encoder names
    const char* audio;
    int sampleRate;     // Opus codes 48 kHz only
    bool evenSize;      // H.264 in 4:2:0 needs even sides
};

constexpr Format kFormats[] = {
    {".mp4", "mp4", "libx264", "aac", 44100, true},
    {".mkv", "matroska", "libx264", "aac", 44100, true},
    {".webm", "webm", "libvpx-vp9", "libopus", 48000, false},
};

// x264's fastest preset costs about 4 ms of one core per 800x600 frame of the
// bundled show (the next one, 2.5 times that), so encoding stays well behind
// drawing in cost; the quality factor keeps hard edges and gradients clean.
constexpr const char* kH264Preset = "ultrafast";
constexpr const char* kH264Quality = "20";
// VP9 in real-time mode: constant quality, rows coded in parallel.
constexpr const char* kVp9Deadline = "realtime";
constexpr const char* kVp9Speed = "8";
constexpr const char* kVp9Quality = "24";
constexpr std::int64_t kAacBitRate = 192000;
constexpr std::int64_t kOpusBitRate = 160000;
constexpr int kChannels = 2;
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

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
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
    static std::unique_ptr<FileRecorder> Open(const std::string& path, int width, int height, int fps,
                                              std::string* error);
    int SampleRate() const override;
    void AddFrame(const std::uint8_t* bgra, const std::int16_t* pcm, int samples) override;
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
    std::string path;
    std::string tempPath;
    int width = 0, height = 0;

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
    bool OpenVideo(int fps);
    bool OpenAudio();
    bool WritePackets(Stream& s);
    bool EncodeVideo(const std::uint8_t* bgra);
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

bool FileRecorder::Impl::OpenVideo(int fps)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(format->video);
    if (!codec)
        return Fail(std::string("no ") + format->video + " encoder in this FFmpeg");
    video.stream = avformat_new_stream(muxer, nullptr);
    video.codec = avcodec_alloc_context3(codec);
    video.frame = av_frame_alloc();
    video.packet = av_packet_alloc();
    if (!video.stream || !video.codec || !video.frame || !video.packet)
        return Fail("out of memory");

    AVCodecContext* c = video.codec;
    // NOTE: an odd side is padded by repeating the last row or column; H.264
    // can only crop 4:2:0 pictures by whole chroma samples.
    c->width = format->evenSize ? (width + 1) & ~1 : width;
    c->height = format->evenSize ? (height + 1) & ~1 : height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
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
    if (muxer->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (codec->id == AV_CODEC_ID_H264) {
        av_opt_set(c->priv_data, "preset", kH264Preset, 0);
        av_opt_set(c->priv_data, "crf", kH264Quality, 0);
    } else {
        c->bit_rate = 0;
        av_opt_set(c->priv_data, "deadline", kVp9Deadline, 0);
        av_opt_set(c->priv_data, "cpu-used", kVp9Speed, 0);
        av_opt_set(c->priv_data, "crf", kVp9Quality, 0);
        av_opt_set(c->priv_data, "row-mt", "1", 0);
    }
    int status = avcodec_open2(c, codec, nullptr);
    if (status < 0)
        return Fail(std::string("cannot start the ") + format->video + " encoder: " + AvError(status));
    status = avcodec_parameters_from_context(video.stream->codecpar, c);
    if (status < 0)
        return Fail(AvError(status));
    video.stream->time_base = c->time_base;
    video.stream->avg_frame_rate = c->framerate;

    video.frame->format = c->pix_fmt;
    video.frame->width = c->width;
    video.frame->height = c->height;
    status = av_frame_get_buffer(video.frame, 0);
    if (status < 0)
        return Fail(AvError(status));
    // Same size, so the filter only shapes the chroma subsampling; the fast
    // one with full-resolution chroma input halves the cost of the default.
    scaler = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P,
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

std::unique_ptr<FileRecorder> FileRecorder::Open(const std::string& path, int width, int height, int fps,
                                                 std::string* error)
{
    const Format* format = FindFormat(path);
    if (!format) {
        *error = "cannot record to \"" + path + "\": the file name must end in .mp4, .mkv or .webm";
        return nullptr;
    }
    std::unique_ptr<FileRecorder> recorder(new FileRecorder());
    Impl& r = *recorder->impl_;
    r.format = format;
    r.path = path;
    r.width = width;
    r.height = height;

    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        *error = "cannot write \"" + path + "\": " + std::strerror(EISDIR);
        return nullptr;
    }
    // The temporary name sits in the file's own folder, so that the final
    // rename stays on one file system and cannot fail half-way.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temp = folder + "." + base + "." + std::to_string(getpid()) + ".part";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = "cannot write \"" + path + "\": " + std::strerror(errno);
        return nullptr;
    }
    close(fd);
    r.tempPath = temp;

    // Library notices ("using cpu capabilities", encoder statistics) would
    // mix with the progress line; real errors still come through.
    av_log_set_level(AV_LOG_ERROR);
    int status = avformat_alloc_output_context2(&r.muxer, nullptr, r.format->muxer, nullptr);
    if (status < 0 || !r.OpenVideo(fps) || !r.OpenAudio()) {
        if (status < 0)
            r.Fail(AvError(status));
        *error = "cannot record to \"" + path + "\": " + r.error;
        return nullptr;
    }
    // "file:" keeps a name with a colon from being read as a protocol.
    status = avio_open(&r.muxer->pb, ("file:" + temp).c_str(), AVIO_FLAG_WRITE);
    if (status >= 0)
        status = avformat_write_header(r.muxer, nullptr);
    if (status < 0) {
        *error = "cannot write \"" + path + "\": " + AvError(status);
        return nullptr;
    }

    r.jobs.resize(kQueueFrames);
    for (int i = 0; i < kQueueFrames; ++i) {
        r.jobs[i].pixels.resize(static_cast<std::size_t>(width) * height * 4);
        r.free.push_back(i);
    }
    r.worker = std::thread([&r] { r.Work(); });
    return recorder;
}

int FileRecorder::SampleRate() const { return impl_->format->sampleRate; }

// ---------------------------------------------------------------------------
// Encoding (on the worker thread, then on Finish's for the flush)

// Moves every packet the encoder has ready into the muxer.
bool FileRecorder::Impl::WritePackets(Stream& s)
{
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
            return Fail("writing \"" + path + "\" failed: " + AvError(status));
    }
}

bool FileRecorder::Impl::EncodeVideo(const std::uint8_t* bgra)
{
    AVFrame* f = video.frame;
    int status = av_frame_make_writable(f);
    if (status < 0)
        return Fail(AvError(status));
    // GL's rows run bottom-up: start at the last row and step backwards.
    const int stride = width * 4;
    const std::uint8_t* source[1] = {bgra + static_cast<std::size_t>(height - 1) * stride};
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

void FileRecorder::AddFrame(const std::uint8_t* bgra, const std::int16_t* pcm, int samples)
{
    Impl& r = *impl_;
    std::unique_lock<std::mutex> guard(r.lock);
    r.changed.wait(guard, [&r] { return !r.free.empty(); });
    const int index = r.free.front();
    r.free.pop_front();
    guard.unlock();
    Job& job = r.jobs[index];
    std::memcpy(job.pixels.data(), bgra, job.pixels.size());
    job.pcm.assign(pcm, pcm + static_cast<std::size_t>(samples) * kChannels);
    guard.lock();
    r.ready.push_back(index);
    r.changed.notify_all();
}

bool FileRecorder::Finish(std::string* error)
{
    Impl& r = *impl_;
    r.StopWorker();
    if (!r.failed && r.Flush()) {
        const int status = av_write_trailer(r.muxer);
        if (status < 0)
            r.Fail("writing \"" + r.path + "\" failed: " + AvError(status));
    }
    const int closed = avio_closep(&r.muxer->pb);
    if (!r.failed && closed < 0)
        r.Fail("writing \"" + r.path + "\" failed: " + AvError(closed));
    if (!r.failed && rename(r.tempPath.c_str(), r.path.c_str()) != 0)
        r.Fail("cannot write \"" + r.path + "\": " + std::strerror(errno));
    if (r.failed) {
        *error = r.error;
        return false;
    }
    r.finished = true;
    return true;
}

}  // namespace record

record::Recorder* showplayer_open_recorder(const char* path, int width, int height, int fps, std::string* error)
{
    return record::FileRecorder::Open(path, width, height, fps, error).release();
}

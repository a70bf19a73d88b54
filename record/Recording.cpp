// Recording mode: virtual clock, window-less frames (drawn larger and
// reduced, sub-frames averaged), encoder, progress, and the ways a recording
// ends (main returns, the music or the duration runs out, an error, Ctrl-C, a
// failed write), each with a complete file or none.
#include "record/Recording.h"

#include "record/Offscreen.h"
#include "record/Progress.h"
#include "record/Recorder.h"
#include "host/LiveFrontEnd.h"
#include "host/ScriptHost.h"

#include "audio/Decoder.h"
#include "record/VirtualClock.h"

#include <GL/gl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

namespace record {

namespace {

constexpr int kSilentRate = 44100;  // the clock's rate when nothing is encoded
// A show that reads the clock this long without a SwapBuffers is waiting for
// time that will not come.
constexpr std::chrono::seconds kStuckAfter{5};

// NOTE: a signal handler can only leave marks where it finds them: the
// signal that came, and an interrupt request on the context of the run,
// which the script's next binding call turns into the end of the run. The
// handler may run on any thread (the encoder's, Mesa's), so the marks are
// lock-free atomics.
std::atomic<int> endingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler needs a lock-free flag");
std::atomic<show::Context*> signalContext{nullptr};
// The temporary file being written, for a second Ctrl-C to remove.
char partPath[PATH_MAX];

// The first Ctrl-C (or SIGTERM) asks for the file to be completed; a second
// one ends the process at once, should the script not call the player again,
// and takes the unfinished file with it.
void OnEndingSignal(int signal)
{
    if (endingSignal.exchange(signal) != 0) {
        if (partPath[0])
            unlink(partPath);
        std::signal(signal, SIG_DFL);
        raise(signal);
        return;
    }
    if (show::Context* context = signalContext.load())
        context->RequestInterrupt();
}

// Adds rows [y0, y1) of one sub-frame, reduced by S x S boxes, to the sums:
// rows from the bottom up at S times the output's width in, width x height
// out.
template <int S>
void AddBoxes(const std::uint8_t* in, int width, int y0, int y1, bool first, std::uint32_t* sums)
{
    const std::size_t inRow = static_cast<std::size_t>(width) * S * 4;
    const std::size_t outRow = static_cast<std::size_t>(width) * 4;
    for (int y = y0; y < y1; ++y) {
        std::uint32_t* out = sums + y * outRow;
        if (first)
            std::fill_n(out, outRow, 0u);
        for (int sy = 0; sy < S; ++sy) {
            const std::uint8_t* row = in + (static_cast<std::size_t>(y) * S + sy) * inRow;
            for (std::size_t x = 0; x < outRow; x += 4)
                for (int sx = 0; sx < S; ++sx)
                    for (int c = 0; c < 4; ++c)
                        out[x + c] += row[x * S + sx * 4 + c];
        }
    }
}

// Runs work(y0, y1) over [0, height) in bands, one a core, the last on this
// thread: the sums are the recording's own work besides drawing and
// encoding, and on this thread they would hold up the next frame.
template <typename Work>
void OverRows(int height, const Work& work)
{
    const int bands = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, std::max(1, height));
    std::vector<std::thread> helpers;
    int done = 0;
    for (int b = 0; b + 1 < bands; ++b) {
        const int y0 = height * b / bands, y1 = height * (b + 1) / bands;
        try {
            helpers.emplace_back(work, y0, y1);
        } catch (const std::system_error&) {
            work(y0, y1);  // no thread to spare: this one does it
        }
        done = y1;
    }
    work(done, height);
    for (std::thread& helper : helpers)
        helper.join();
}

}  // namespace

struct Recording::Impl {
    host::Settings settings;
    Output output = Output::File;
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<Offscreen> video;
    std::thread preload;  // the renderer, loading while the encoders open
    std::unique_ptr<VirtualClock> clock;
    std::unique_ptr<Progress> progress;
    std::int64_t frameCap = 0;  // 0: no --duration
    std::uint32_t wallStart = 0;
    std::vector<std::int16_t> pcm;
    bool complete = false;

    // Frames are drawn at `scale` times the size and each is the average of
    // `subFrames` swaps; the sums of the frame being built, the averaged
    // frame, and the table from a sum to its rounded average.
    int scale = 1;
    int subFrames = 1;
    std::int64_t subFramesRead = 0;  // sub-frames whose pixels were taken
    std::vector<std::uint32_t> sums;
    std::vector<std::uint8_t> averaged;
    std::vector<std::uint8_t> sumToByte;
    // The sound of the output frames from the one being read back to the one
    // being drawn (the read-back is at most two sub-frames behind), by the
    // frame number modulo kPcmFrames.
    static constexpr int kPcmFrames = 4;
    std::vector<std::int16_t> framePcm[kPcmFrames];
    std::int64_t framesWritten = 0;

    // When the show began reading the clock without swapping, and whether
    // it was told that this cannot end.
    std::chrono::steady_clock::time_point clockReadSince{};
    bool toldStuck = false;

    int SampleRate() const { return recorder ? recorder->SampleRate() : kSilentRate; }
    void OpenMusic(const std::string& path);
    void TakeSubFrame(const std::uint8_t* pixels);
    void ClockRead();
};

// The show's clock while recording: the virtual one, watched for a show that
// waits on it between two swaps.
class Recording::WatchedClock : public music::ShowClock {
public:
    explicit WatchedClock(Impl& r) : r_(r) {}
    void Start() override { r_.clock->Start(); }
    void Pause() override { r_.clock->Pause(); }
    bool Playing() const override { return r_.clock->Playing(); }
    int Position() override
    {
        r_.ClockRead();
        return r_.clock->Position();
    }
    bool Seek(int ms) override { return r_.clock->Seek(ms); }
    int Length() const override { return r_.clock->Length(); }

private:
    Impl& r_;
};

// The OpenGL package's window while recording: a swap captures the frame and
// moves the clock on, the keys are up, the wall clock is the virtual one.
class Recording::FrontEnd : public show::FrontEnd {
public:
    FrontEnd(Recording& recording, show::Context& context) : recording_(recording), context_(context) {}

    void SwapBuffers() override
    {
        // The last frame is in: end the script here, as an `exit 0` would.
        if (recording_.Swap())
            host::StopScript(&context_);
    }
    bool PumpEvents() override { return false; }
    bool KeyDown(show::Key) override { return false; }
    std::uint32_t WallMs() override
    {
        Impl& r = *recording_.impl_;
        r.ClockRead();
        return r.wallStart + static_cast<std::uint32_t>(r.clock->ElapsedMs());
    }

private:
    Recording& recording_;
    show::Context& context_;
};

Recording::Recording() : impl_(std::make_unique<Impl>()) {}

Recording::~Recording()
{
    signalContext = nullptr;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    partPath[0] = '\0';
    if (impl_->preload.joinable())
        impl_->preload.join();
    // The encoder goes first: it needs no GL, and its temporary file must go
    // even when GL never started.
    impl_->recorder.reset();
    impl_->video.reset();
}

std::unique_ptr<Recording> Recording::Open(const host::Settings& settings, std::string* error, Output output)
{
    std::unique_ptr<Recording> recording(new Recording());
    Impl& r = *recording->impl_;
    r.settings = settings;
    r.output = output;
    r.scale = settings.supersample;
    r.subFrames = settings.motionBlur;
    r.preload = Offscreen::Preload();
    // From here on a Ctrl-C is kept for the run (see Run), and the file
    // being opened is the recording's to complete or remove.
    endingSignal = 0;
    partPath[0] = '\0';
    std::signal(SIGINT, OnEndingSignal);
    std::signal(SIGTERM, OnEndingSignal);
    if (output == Output::File) {
        // The show may change its folder; the file stays where it was named.
        std::string path = settings.recordPath;
        char folder[PATH_MAX];
        if (path[0] != '/' && getcwd(folder, sizeof folder))
            path = std::string(folder) + "/" + path;
        EncoderSettings encoder;
        encoder.width = settings.width;
        encoder.height = settings.height;
        encoder.fps = settings.fps;
        encoder.quality = settings.crf;
        encoder.preset = settings.preset;
        r.recorder = Recorder::Open(path, settings.recordPath, encoder, error);
        if (!r.recorder)
            return nullptr;
        std::snprintf(partPath, sizeof partPath, "%s", r.recorder->TempPath());
    }
    if (settings.duration > 0)
        r.frameCap = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(settings.duration * settings.fps + 1e-9)));
    return recording;
}

void Recording::Impl::OpenMusic(const std::string& path)
{
    std::string reason;
    std::unique_ptr<music::Decoder> decoder = music::Decoder::Open(path, SampleRate(), &reason);
    if (!decoder)
        music::ReportSilentClock(path, reason);
    // Sub-frames are frames of a clock that runs subFrames times as fast:
    // sub-frame k of frame n falls at floor((n + k / N) * 1000 / fps) ms, and
    // the sound of a frame is that of its sub-frames in a row.
    clock = std::make_unique<VirtualClock>(std::move(decoder), SampleRate(), settings.fps * subFrames);

    // The expected length: the music played through, or the duration.
    std::int64_t total = frameCap;
    const int length = clock->Length();
    if (length >= 0) {
        const std::int64_t musicFrames = (static_cast<std::int64_t>(length) * settings.fps + 999) / 1000;
        total = total > 0 ? std::min(total, musicFrames) : musicFrames;
    }
    progress = std::make_unique<Progress>(stderr, isatty(STDERR_FILENO) == 1, settings.fps, total);
    wallStart = host::WallClockMs();
}

int Recording::Run(show::Context& context, const std::string& musicFile)
{
    Impl& r = *impl_;
    std::string error;
    r.preload.join();
    const std::int64_t drawnWidth = std::min<std::int64_t>(INT_MAX, std::int64_t{r.settings.width} * r.scale);
    const std::int64_t drawnHeight = std::min<std::int64_t>(INT_MAX, std::int64_t{r.settings.height} * r.scale);
    r.video = Offscreen::Create(static_cast<int>(drawnWidth), static_cast<int>(drawnHeight), r.scale == 1, &error);
    if (!r.video) {
        std::fprintf(stderr, "showplayer: %s\n", error.c_str());
        return 1;
    }
    if (r.recorder && r.video->Rgba())
        r.recorder->UseRgba();
    r.OpenMusic(musicFile);

    context.width = r.settings.width;
    context.height = r.settings.height;
    context.windowReady = 1;
    WatchedClock clock(r);
    context.clock = &clock;
    context.frontEnd = std::make_unique<FrontEnd>(*this, context);
    context.interruptHook = host::StopScript;
    context.interruptData = &context;
    signalContext = &context;
    // A Ctrl-C while the context and the music were being prepared found no
    // run to interrupt; it ends this one before its first frame.
    if (endingSignal.load() != 0)
        context.RequestInterrupt();

    // Every way the script ends comes back here, so the file is completed:
    // an exit runs END blocks as a return does, an error is reported.
    host::RunRules rules;
    rules.exitEndsProcess = false;
    rules.reportErrors = true;
    const host::RunResult run = host::RunScript(context, rules);
    signalContext = nullptr;

    int status = run.end == host::RunEnd::Failed ? 1 : run.status;
    const int signal = endingSignal.load();
    if (signal != 0)
        status = 128 + signal;
    if (!Finish(&error)) {
        std::fprintf(stderr, "showplayer: %s\n", error.c_str());
        if (signal == 0 || r.framesWritten > 0)
            status = 1;
    }
    context.clock = nullptr;
    return status;
}

void Recording::Impl::ClockRead()
{
    if (toldStuck)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (clockReadSince == std::chrono::steady_clock::time_point{}) {
        clockReadSince = now;
    } else if (now - clockReadSince >= kStuckAfter) {
        toldStuck = true;
        std::fprintf(stderr, "%srecording: no frame for %lld s while the show reads the clock: while recording, "
                     "the clock only moves at SwapBuffers, so a loop that waits for it never ends\n",
                     isatty(STDERR_FILENO) == 1 ? "\r\033[K" : "", static_cast<long long>(kStuckAfter.count()));
    }
}

// Takes the pixels of the next sub-frame read back; a frame is complete, and
// goes to the file with its sound, at its last sub-frame.
void Recording::Impl::TakeSubFrame(const std::uint8_t* pixels)
{
    const std::int64_t index = subFramesRead++;
    const std::int64_t frame = index / subFrames;
    const bool first = index % subFrames == 0;
    const bool last = index % subFrames == subFrames - 1;
    const int width = settings.width, height = settings.height;
    const std::uint8_t* out = pixels;
    if (scale > 1 || subFrames > 1) {
        const std::size_t size = static_cast<std::size_t>(width) * height * 4;
        if (sums.size() != size) {
            sums.assign(size, 0);
            averaged.assign(size, 0);
            // Every sum is at most 255 * scale^2 * subFrames; rounded to nearest.
            const std::uint32_t count = static_cast<std::uint32_t>(scale * scale * subFrames);
            sumToByte.resize(255 * count + 1);
            for (std::uint32_t sum = 0; sum < sumToByte.size(); ++sum)
                sumToByte[sum] = static_cast<std::uint8_t>((sum + count / 2) / count);
        }
        const std::size_t row = static_cast<std::size_t>(width) * 4;
        OverRows(height, [&](int y0, int y1) {
            switch (scale) {
            case 1: AddBoxes<1>(pixels, width, y0, y1, first, sums.data()); break;
            case 2: AddBoxes<2>(pixels, width, y0, y1, first, sums.data()); break;
            case 3: AddBoxes<3>(pixels, width, y0, y1, first, sums.data()); break;
            default: AddBoxes<4>(pixels, width, y0, y1, first, sums.data()); break;
            }
            if (last)
                for (std::size_t i = y0 * row; i < y1 * row; ++i)
                    averaged[i] = sumToByte[sums[i]];
        });
        if (!last)
            return;
        out = averaged.data();
    }
    std::vector<std::int16_t>& sound = framePcm[frame % kPcmFrames];
    recorder->AddFrame(out, sound.data(), static_cast<int>(sound.size() / 2));
    sound.clear();
    ++framesWritten;
}

bool Recording::Swap()
{
    Impl& r = *impl_;
    if (r.complete)
        return true;
    r.clockReadSince = {};
    if (r.output == Output::None) {
        glFinish();  // the same drawing work, nothing read back
    } else if (const std::uint8_t* pixels = r.video->Capture()) {
        // The pixels come two sub-frames late: the one read back now is
        // added up while the renderer draws the next ones.
        r.TakeSubFrame(pixels);
    }
    const std::int64_t frame = r.clock->Frame() / r.subFrames;
    r.clock->Advance(&r.pcm);
    r.framePcm[frame % Impl::kPcmFrames].insert(r.framePcm[frame % Impl::kPcmFrames].end(), r.pcm.begin(), r.pcm.end());
    const std::int64_t subFrame = r.clock->Frame();
    r.progress->Frame(subFrame / r.subFrames);
    // A failed write (a full disk) ends the show at once; Finish says why.
    const bool failed = r.recorder && r.recorder->Failed();
    r.complete = failed || (subFrame % r.subFrames == 0 &&
                            (r.clock->Ended() || (r.frameCap > 0 && subFrame >= r.frameCap * r.subFrames)));
    return r.complete;
}

bool Recording::Finish(std::string* error)
{
    Impl& r = *impl_;
    bool ok = true;
    if (r.recorder) {
        // A frame whose sub-frames were not all drawn is left out.
        while (const std::uint8_t* pixels = r.video->Drain())
            r.TakeSubFrame(pixels);
        if (r.framesWritten == 0) {
            // Nothing to show for it: the temporary file goes, and a file of
            // that name stays as it was.
            *error = "nothing recorded: the show ended before its first frame, so \"" + r.settings.recordPath +
                     "\" was not written";
            ok = false;
        } else {
            ok = r.recorder->Finish(error);
        }
    }
    r.progress->Done(r.clock->Frame() / r.subFrames);
    return ok;
}

}  // namespace record

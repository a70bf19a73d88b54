// Recording mode: virtual clock, window-less frames, encoder, progress, and
// the ways a recording ends (main returns, the music or the duration runs
// out, an error, Ctrl-C), each with a complete file.
#include "record/Recording.h"

#include "record/Offscreen.h"
#include "record/Progress.h"
#include "record/Recorder.h"
#include "host/LiveFrontEnd.h"
#include "host/ScriptHost.h"

#include "audio/Decoder.h"
#include "record/VirtualClock.h"

#include <GL/gl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <vector>

namespace record {

namespace {

constexpr int kSilentRate = 44100;  // the clock's rate when nothing is encoded

// NOTE: a signal handler can only leave marks where it finds them: the
// signal that came, and an interrupt request on the context of the run,
// which the script's next binding call turns into the end of the run.
volatile std::sig_atomic_t endingSignal = 0;
std::atomic<show::Context*> signalContext{nullptr};

// The first Ctrl-C (or SIGTERM) asks for the file to be completed; a second
// one ends the process at once, should the script not call the player again.
void OnEndingSignal(int signal)
{
    if (endingSignal != 0) {
        // The handler is back after the run (the script host restores what
        // was installed before it): a second signal still ends at once.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    endingSignal = signal;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (show::Context* context = signalContext.load())
        context->RequestInterrupt();
}

}  // namespace

struct Recording::Impl {
    host::Settings settings;
    Output output = Output::File;
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<Offscreen> video;
    std::unique_ptr<VirtualClock> clock;
    std::unique_ptr<Progress> progress;
    std::int64_t frameCap = 0;  // 0: no --duration
    std::uint32_t wallStart = 0;
    std::vector<std::int16_t> pendingPcm;  // the sound of the frame being read back
    std::vector<std::int16_t> pcm;
    bool complete = false;

    int SampleRate() const { return recorder ? recorder->SampleRate() : kSilentRate; }
    void OpenMusic(const std::string& path);
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
        const Impl& r = *recording_.impl_;
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
    if (output == Output::File) {
        r.recorder = Recorder::Open(settings.recordPath, settings.width, settings.height, settings.fps, error);
        if (!r.recorder)
            return nullptr;
    }
    if (settings.duration > 0)
        r.frameCap = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(settings.duration * settings.fps + 1e-9)));
    endingSignal = 0;
    std::signal(SIGINT, OnEndingSignal);
    std::signal(SIGTERM, OnEndingSignal);
    return recording;
}

void Recording::Impl::OpenMusic(const std::string& path)
{
    std::string reason;
    std::unique_ptr<music::Decoder> decoder = music::Decoder::Open(path, SampleRate(), &reason);
    if (!decoder)
        music::ReportSilentClock(path, reason);
    clock = std::make_unique<VirtualClock>(std::move(decoder), SampleRate(), settings.fps);

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
    r.video = Offscreen::Create(r.settings.width, r.settings.height, &error);
    if (!r.video) {
        std::fprintf(stderr, "showplayer: %s\n", error.c_str());
        return 1;
    }
    r.OpenMusic(musicFile);

    context.width = r.settings.width;
    context.height = r.settings.height;
    context.windowReady = 1;
    context.clock = r.clock.get();
    context.frontEnd = std::make_unique<FrontEnd>(*this, context);
    context.interruptHook = host::StopScript;
    context.interruptData = &context;
    signalContext = &context;

    // Every way the script ends comes back here, so the file is completed:
    // an exit runs END blocks as a return does, an error is reported.
    host::RunRules rules;
    rules.exitEndsProcess = false;
    rules.reportErrors = true;
    const host::RunResult run = host::RunScript(context, rules);
    signalContext = nullptr;

    int status = run.end == host::RunEnd::Failed ? 1 : run.status;
    if (endingSignal != 0)
        status = 128 + endingSignal;
    if (!Finish(&error)) {
        std::fprintf(stderr, "showplayer: %s\n", error.c_str());
        status = 1;
    }
    context.clock = nullptr;
    return status;
}

bool Recording::Swap()
{
    Impl& r = *impl_;
    if (r.complete)
        return true;
    if (r.output == Output::None) {
        glFinish();  // the same drawing work, nothing read back
    } else if (const std::uint8_t* pixels = r.video->Capture()) {
        // The pixels come one frame late: the frame read back now is copied
        // while the next one is drawn.
        r.recorder->AddFrame(pixels, r.pendingPcm.data(), static_cast<int>(r.pendingPcm.size() / 2));
    }
    r.clock->Advance(&r.pcm);
    r.pendingPcm.swap(r.pcm);
    r.progress->Frame(r.clock->Frame());
    r.complete = r.clock->Ended() || (r.frameCap > 0 && r.clock->Frame() >= r.frameCap);
    return r.complete;
}

bool Recording::Finish(std::string* error)
{
    Impl& r = *impl_;
    bool ok = true;
    if (r.recorder) {
        if (const std::uint8_t* pixels = r.video->Drain())
            r.recorder->AddFrame(pixels, r.pendingPcm.data(), static_cast<int>(r.pendingPcm.size() / 2));
        ok = r.recorder->Finish(error);
    }
    r.progress->Done(r.clock->Frame());
    return ok;
}

}  // namespace record

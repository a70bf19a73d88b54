// Recording mode: virtual clock, window-less frames, encoder, progress, Ctrl-C.
#include "host/Recording.h"

#include "host/Offscreen.h"
#include "host/Progress.h"
#include "host/Recorder.h"

#include "audio/Decoder.h"
#include "audio/VirtualClock.h"

#include <csignal>
#include <cmath>
#include <cstdio>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace host {

namespace {

// NOTE: a signal handler can only leave a mark in a static flag; the
// recording reads it at the next swap.
volatile std::sig_atomic_t interruptRequested = 0;

// The first Ctrl-C asks for the file to be completed; a second one ends the
// process at once, should the script not reach a swap.
void OnInterrupt(int)
{
    interruptRequested = 1;
    std::signal(SIGINT, SIG_DFL);
}

// Wall-clock milliseconds wrapped to 32 bits, as the live glGetTime reads.
std::uint32_t WallNowMs()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<std::uint32_t>(now.tv_sec) * 1000u + static_cast<std::uint32_t>(now.tv_usec / 1000);
}

}  // namespace

struct Recording::Impl {
    Settings settings;
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<Offscreen> video;
    std::unique_ptr<music::VirtualClock> clock;
    std::unique_ptr<Progress> progress;
    std::int64_t frameCap = 0;  // 0: no --duration
    std::uint32_t wallStart = 0;
    std::vector<std::int16_t> pendingPcm;  // the sound of the frame being read back
    std::vector<std::int16_t> pcm;
    bool complete = false;
};

Recording::Recording() : impl_(std::make_unique<Impl>()) {}

Recording::~Recording()
{
    // Destroy the encoder before the GL context: nothing of it needs GL, and
    // its temporary file must go even when GL never started.
    impl_->recorder.reset();
    impl_->video.reset();
    std::signal(SIGINT, SIG_DFL);
}

std::unique_ptr<Recording> Recording::Open(const Settings& settings, std::string* error)
{
    std::unique_ptr<Recording> recording(new Recording());
    Impl& r = *recording->impl_;
    r.settings = settings;
    r.recorder = Recorder::Open(settings.recordPath, settings.width, settings.height, settings.fps, error);
    if (!r.recorder)
        return nullptr;
    if (settings.duration > 0)
        r.frameCap = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(settings.duration * settings.fps + 1e-9)));
    interruptRequested = 0;
    std::signal(SIGINT, OnInterrupt);
    return recording;
}

bool Recording::StartVideo(std::string* error)
{
    impl_->video = Offscreen::Create(impl_->settings.width, impl_->settings.height, error);
    return impl_->video != nullptr;
}

void Recording::OpenMusic(const std::string& path)
{
    Impl& r = *impl_;
    std::string reason;
    std::unique_ptr<music::Decoder> decoder = music::Decoder::Open(path, r.recorder->SampleRate(), &reason);
    if (!decoder)
        std::fprintf(stderr, "music: cannot play \"%s\": %s; the show runs on a silent clock\n", path.c_str(),
                     reason.c_str());
    r.clock = std::make_unique<music::VirtualClock>(std::move(decoder), r.recorder->SampleRate(), r.settings.fps);

    // The expected length: the music played through, or the duration.
    std::int64_t total = r.frameCap;
    const int length = r.clock->Length();
    if (length >= 0) {
        const std::int64_t musicFrames = (static_cast<std::int64_t>(length) * r.settings.fps + 999) / 1000;
        total = total > 0 ? std::min(total, musicFrames) : musicFrames;
    }
    r.progress = std::make_unique<Progress>(stderr, isatty(STDERR_FILENO) == 1, r.settings.fps, total);
    r.wallStart = WallNowMs();
}

music::ShowClock* Recording::Clock() { return impl_->clock.get(); }

std::int32_t Recording::WallMs() const
{
    return static_cast<std::int32_t>(impl_->wallStart + static_cast<std::uint32_t>(impl_->clock->ElapsedMs()));
}

bool Recording::Interrupted() const { return interruptRequested != 0; }

bool Recording::Swap()
{
    Impl& r = *impl_;
    if (r.complete)
        return true;
    // The pixels come one frame late: the frame read back now is copied
    // while the next one is drawn.
    if (const std::uint8_t* pixels = r.video->Capture())
        r.recorder->AddFrame(pixels, r.pendingPcm.data(), static_cast<int>(r.pendingPcm.size() / 2));
    r.clock->Advance(&r.pcm);
    r.pendingPcm.swap(r.pcm);
    r.progress->Frame(r.clock->Frame());
    r.complete = r.clock->Ended() || (r.frameCap > 0 && r.clock->Frame() >= r.frameCap) || Interrupted();
    return r.complete;
}

bool Recording::Finish(std::string* error)
{
    Impl& r = *impl_;
    if (r.video)
        if (const std::uint8_t* pixels = r.video->Drain())
            r.recorder->AddFrame(pixels, r.pendingPcm.data(), static_cast<int>(r.pendingPcm.size() / 2));
    const bool ok = r.recorder->Finish(error);
    if (r.progress)
        r.progress->Done(r.recorder->Frames());
    return ok;
}

}  // namespace host

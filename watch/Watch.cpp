// Watch mode: the show runs again whenever a file of its folder changes, and
// an error shows in the window until the next change.
#include "watch/Watch.h"

#include "host/LiveFrontEnd.h"
#include "host/ScriptHost.h"
#include "watch/Watcher.h"
#include "render/TextPainter.h"

#include <SDL.h>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace watch {

namespace {

constexpr const char* kErrorHint = "Save a change to any file of the show to run it again. Escape ends the player.";
// Pause between two frames of the error screen: it changes only with the
// overlay, and a change is noticed within it.
constexpr Uint32 kErrorFramePauseMs = 15;
// The overlay's frame rate is counted over at least this long.
constexpr std::chrono::milliseconds kRateWindow{500};

// Live play plus the author's overlay: F1 switches it on and off (the key is
// the player's own; scripts test only their four keys), and it is drawn over
// each frame just before it is shown.
class WatchFrontEnd : public host::LiveFrontEnd {
public:
    WatchFrontEnd(show::Context& context, render::TextPainter& painter)
        : host::LiveFrontEnd(&context), context_(context), painter_(painter)
    {
    }

    void SwapBuffers() override
    {
        CountFrame();
        if (overlay_)
            painter_.DrawOverlay(OverlayText(), context_.width, context_.height);
        host::LiveFrontEnd::SwapBuffers();
    }

    void SetReloads(int reloads) { reloads_ = reloads; }
    // Whether Escape went down since the last call.
    bool TakeEscape()
    {
        const bool pressed = escape_;
        escape_ = false;
        return pressed;
    }

protected:
    void KeyPressed(SDLKey key) override
    {
        if (key == SDLK_F1)
            overlay_ = !overlay_;
        else if (key == SDLK_ESCAPE)
            escape_ = true;
        else
            host::LiveFrontEnd::KeyPressed(key);
    }

private:
    using Clock = std::chrono::steady_clock;

    void CountFrame()
    {
        const Clock::time_point now = Clock::now();
        if (frames_++ == 0)
            since_ = now;
        const auto elapsed = now - since_;
        if (elapsed >= kRateWindow) {
            rate_ = (frames_ - 1) / std::chrono::duration<double>(elapsed).count();
            frames_ = 1;
            since_ = now;
        }
    }

    // "m:ss.mmm  row N  [paused]  [loop m:ss.mmm-m:ss.mmm]  fps  reload count"
    std::string OverlayText() const
    {
        const int ms = context_.clock ? context_.clock->Position() : 0;
        const bool paused = context_.clock && !context_.clock->Playing();
        const show::Transport& transport = context_.transport;
        char loop[64] = "";
        if (transport.loopStartMs >= 0) {
            const int from = transport.loopStartMs, to = transport.loopEndMs;
            if (to >= 0)
                std::snprintf(loop, sizeof loop, "   loop %d:%02d.%03d-%d:%02d.%03d", from / 60000, from / 1000 % 60,
                              from % 1000, to / 60000, to / 1000 % 60, to % 1000);
            else
                std::snprintf(loop, sizeof loop, "   loop %d:%02d.%03d-", from / 60000, from / 1000 % 60, from % 1000);
        }
        char text[192];
        std::snprintf(text, sizeof text, "%d:%02d.%03d   row %ld%s%s   %.1f fps   reload %d", ms / 60000,
                      ms / 1000 % 60, ms % 1000, static_cast<long>(std::floor(context_.tracks.tempo.Row(ms))),
                      paused ? "   paused" : "", loop, rate_, reloads_);
        return text;
    }

    show::Context& context_;
    render::TextPainter& painter_;
    bool overlay_ = false;
    bool escape_ = false;
    int reloads_ = 0;
    int frames_ = 0;
    double rate_ = 0.0;
    Clock::time_point since_;
};

// The show folder's absolute path: the one it has now, where the watcher
// looks for it again should it be deleted and made anew.
std::string FolderPath(const show::Context& context)
{
    if (context.folder >= 0)
        (void)!fchdir(context.folder);
    char path[PATH_MAX];
    return getcwd(path, sizeof path) ? std::string(path) : std::string(".");
}

// A show folder deleted and made again under its path is another folder: the
// context's descriptor is pointed at the new one (its number stays), so that
// the next run starts there.
void RefreshFolder(show::Context& context, const std::string& path)
{
    struct stat held, named;
    if (context.folder < 0 || fstat(context.folder, &held) != 0 || stat(path.c_str(), &named) != 0)
        return;
    if (held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        return;
    const int fresh = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fresh < 0)
        return;
    dup3(fresh, context.folder, O_CLOEXEC);
    close(fresh);
}

// Before the next run: the change that ended the last one, and any that came
// while it was torn down, are all this run's. The request goes first, so that
// a change after it requests again and is not lost; the music is opened
// again when it was among the changes.
void TakeChange(show::Context& context, BackgroundWatch& watch, const char* musicFile, const std::string& folder)
{
    context.interruptRequested.store(false);
    FolderChange change;
    if (!watch.Take(&change))
        return;
    RefreshFolder(context, folder);
    if (change.music && context.player) {
        if (context.folder >= 0)
            (void)!fchdir(context.folder);
        context.player->Reopen(musicFile);
    }
}

// Shows the error until the next change of the folder (-1: run the show
// again) or until the author leaves (the player's status, 1).
int ShowError(show::Context& context, BackgroundWatch& watch, WatchFrontEnd& frontEnd,
              render::TextPainter& painter, const std::string& message, const char* musicFile,
              const std::string& folder)
{
    frontEnd.TakeEscape();
    for (;;) {
        // No script runs to take the request; a change made while this
        // screen shows must not stop the next run at its first call.
        context.interruptRequested.store(false);
        if (watch.Changed()) {
            TakeChange(context, watch, musicFile, folder);
            return -1;
        }
        painter.DrawErrorScreen(message, kErrorHint, context.width, context.height);
        frontEnd.SwapBuffers();
        if (frontEnd.PumpEvents() || frontEnd.TakeEscape())
            return 1;
        SDL_Delay(kErrorFramePauseMs);
    }
}

}  // namespace

int RunWatching(show::Context& context, const char* musicFile)
{
    render::TextPainter painter;
    std::string error;
    if (!painter.Open(render::kFontFile, &error))
        std::fprintf(stderr, "showplayer: %s; errors show on standard error only\n", error.c_str());

    const std::string folder = FolderPath(context);
    BackgroundWatch watch;
    if (!watch.Start(folder, musicFile, [&context] { context.RequestInterrupt(); }, &error)) {
        std::fprintf(stderr, "showplayer: %s\n", error.c_str());
        return 1;
    }

    // The front end draws with the painter: both go before the caller closes
    // the window.
    std::unique_ptr<show::FrontEnd> live = std::move(context.frontEnd);
    auto* frontEnd = new WatchFrontEnd(context, painter);
    context.frontEnd.reset(frontEnd);
    context.interruptHook = host::StopScript;
    context.interruptData = &context;

    host::RunRules rules;
    rules.exitEndsProcess = false;
    rules.reportErrors = true;
    int status = 0;
    for (int reloads = 0;; ++reloads) {
        frontEnd->SetReloads(reloads);
        const host::RunResult run = host::RunScript(context, rules);
        if (run.end == host::RunEnd::Stopped) {
            TakeChange(context, watch, musicFile, folder);
            continue;
        }
        if (run.end == host::RunEnd::Failed) {
            status = ShowError(context, watch, *frontEnd, painter, run.error, musicFile, folder);
            if (status < 0)
                continue;
        } else {
            status = run.status;
        }
        break;
    }

    watch.Stop();
    context.interruptHook = nullptr;
    context.interruptData = nullptr;
    context.frontEnd = std::move(live);
    return status;
}

}  // namespace watch

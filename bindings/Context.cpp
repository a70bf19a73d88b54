// The show context's effect registry, the author's transport and the sync
// tracks' service once a frame.
#include "bindings/Context.h"

#include <cmath>

namespace show {

// The map goes first, so that a destructor can never find an object that is
// half gone; then the objects, newest first, as a later object may use GL
// names an earlier one made.
void EffectRegistry::DestroyAll()
{
    std::vector<Entry> doomed;
    doomed.swap(order_);
    byAddress_.clear();
    for (auto entry = doomed.rbegin(); entry != doomed.rend(); ++entry)
        entry->destroy(entry->object);
}

void Transport::SetPaused(music::ShowClock* clock, bool paused)
{
    held = paused;
    if (!clock)
        return;
    if (paused)
        clock->Pause();
    else
        clock->Start();
}

void Transport::Toggle(music::ShowClock* clock)
{
    SetPaused(clock, clock && clock->Playing());
}

void Transport::MarkStart(music::ShowClock* clock)
{
    loopStartMs = clock ? clock->Position() : 0;
    loopEndMs = -1;
}

// An end before (or at) the start makes no loop.
void Transport::MarkEnd(music::ShowClock* clock)
{
    const int here = clock ? clock->Position() : 0;
    if (loopStartMs >= 0 && here > loopStartMs)
        loopEndMs = here;
}

namespace {

// The editor's seeks and pauses, carried out on the show's clock.
class ClockControl : public synctrack::MusicControl {
public:
    ClockControl(Context& context) : context_(context) {}
    void SeekMs(int ms) override
    {
        if (context_.clock)
            context_.clock->Seek(ms);
    }
    void SetPaused(bool paused) override { context_.transport.SetPaused(context_.clock, paused); }

private:
    Context& context_;
};

}  // namespace

void Context::ServeSync()
{
    ClockControl control(*this);
    tracks.Serve(control);
    if (!clock || !clock->Playing())
        return;
    if (transport.loopEndMs >= 0 && clock->Position() >= transport.loopEndMs)
        clock->Seek(transport.loopStartMs);
    if (tracks.EditorConnected())
        tracks.SendRow(tracks.tempo.Row(clock->Position()));
}

}  // namespace show

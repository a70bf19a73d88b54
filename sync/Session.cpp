// The show's sync tracks and what an editor does to them.
#include "sync/Session.h"

#include "sync/TrackFile.h"

#include <cmath>
#include <limits>

namespace synctrack {

Session::Session(std::string folder, std::FILE* log) : folder_(std::move(folder)), log_(log) {}

Session::~Session() = default;

void Session::BeginRun()
{
    tempo = Tempo();
    for (Entry& entry : tracks_)
        if (entry.fromFile)
            entry.stale = true;
}

// A missing file is an empty track; a damaged one too, said once.
void Session::Load(Entry& entry)
{
    const std::string& name = entry.track->Name();
    std::vector<Key> keys;
    std::string why;
    std::string file = TrackFileName(name);
    LoadResult result = LoadTrackFile(folder_ + "/" + file, &keys, &why);
    if (result == LoadResult::Missing && name.find('\0') == std::string::npos && RawTrackFileName(name) != file) {
        file = RawTrackFileName(name);
        result = LoadTrackFile(folder_ + "/" + file, &keys, &why);
    }
    if (result == LoadResult::Damaged)
        std::fprintf(log_, "sync: %s: %s; the track is empty\n", file.c_str(), why.c_str());
    entry.track->Replace(std::move(keys));
    entry.stale = false;
}

Track* Session::Get(const std::string& name)
{
    const auto found = byName_.find(name);
    if (found != byName_.end()) {
        Entry& entry = tracks_[found->second];
        if (entry.stale)
            Load(entry);
        return entry.track.get();
    }
    tracks_.push_back(Entry{std::make_unique<Track>(name)});
    Entry& entry = tracks_.back();
    byName_.emplace(name, tracks_.size() - 1);
    // While an editor is connected its keys are the truth, from the first:
    // it answers the request with them.
    if (editor_ && editor_->Connected())
        entry.fromFile = false;
    else
        Load(entry);
    if (editor_)
        editor_->AddTrack(name);
    return entry.track.get();
}

void Session::ConnectEditor(const std::string& host, int port)
{
    editor_ = std::make_unique<EditorClient>(host, port, log_);
    for (const Entry& entry : tracks_)
        editor_->AddTrack(entry.track->Name());
    editor_->Start();
}

void Session::Serve(MusicControl& control)
{
    if (!Pending())
        return;
    events_.clear();
    editor_->TakeEvents(&events_);
    for (const EditorEvent& event : events_) {
        if (event.connection == dropped_)
            continue;
        switch (event.kind) {
        case EditorEvent::Kind::Connected:
            // The editor holds the truth while it is connected.
            for (Entry& entry : tracks_) {
                entry.track->Clear();
                entry.fromFile = false;
                entry.stale = false;
            }
            break;
        case EditorEvent::Kind::SetKey:
            tracks_[event.track].track->SetKey(event.key);
            break;
        case EditorEvent::Kind::DeleteKey:
            if (!tracks_[event.track].track->DeleteKey(event.key.row)) {
                std::fprintf(log_, "sync: editor at %s deleted a key that is not there (track %u, row %d); disconnected\n",
                             editor_->Address().c_str(), event.track, event.key.row);
                dropped_ = event.connection;
                editor_->Drop(event.connection);
            }
            break;
        case EditorEvent::Kind::SetRow: {
            const double ms = std::round(tempo.Ms(static_cast<double>(event.row)));
            control.SeekMs(ms >= static_cast<double>(std::numeric_limits<int>::max())
                               ? std::numeric_limits<int>::max()
                               : static_cast<int>(ms));
            break;
        }
        case EditorEvent::Kind::Pause:
            control.SetPaused(event.paused);
            break;
        case EditorEvent::Kind::Save: {
            const int saved = SaveAll();
            std::fprintf(log_, "sync: saved %d tracks\n", saved);
            break;
        }
        }
    }
}

void Session::SendRow(double row)
{
    if (!editor_ || !editor_->Connected())
        return;
    const double floored = std::floor(row);
    if (!(floored >= 0.0) || floored > static_cast<double>(std::numeric_limits<std::uint32_t>::max()))
        return;
    editor_->SendRow(static_cast<std::uint32_t>(floored));
}

int Session::SaveAll()
{
    int saved = 0;
    for (const Entry& entry : tracks_) {
        std::string why;
        if (SaveTrackFile(folder_ + "/" + TrackFileName(entry.track->Name()), entry.track->Keys(), &why))
            ++saved;
        else
            std::fprintf(log_, "sync: %s\n", why.c_str());
    }
    return saved;
}

}  // namespace synctrack

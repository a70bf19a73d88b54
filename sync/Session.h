// The show's sync tracks for the whole life of the player: made on the
// script's first request, read from their files, or (with an editor) kept to
// what the editor says. A reload of the script keeps the tracks, their numbers
// and the connection; tracks that came from files are read again.
#pragma once

#include "sync/Editor.h"
#include "sync/Track.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace synctrack {

// What the editor does to the music; the show's side carries it out.
class MusicControl {
public:
    virtual ~MusicControl() = default;
    virtual void SeekMs(int ms) = 0;
    virtual void SetPaused(bool paused) = 0;
};

class Session {
public:
    // Tracks live in folder (the show folder); lines go to log.
    explicit Session(std::string folder = ".", std::FILE* log = stderr);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Tempo tempo;

    // A new script begins: the tempo is the default again, and tracks that
    // came from files are read again when it asks for them (a saved file is
    // what made it reload).
    void BeginRun();

    // The track of that name, made and read from its file on first use. The
    // name must be one StaysInside accepts.
    Track* Get(const std::string& name);
    // A track's number: its place in the order first asked (the editor's
    // number for it too). Numbers stay for the player's life.
    std::size_t Number(const Track* track) const { return byName_.at(track->Name()); }
    // The track of that number; null when there is none.
    Track* At(std::size_t number) const { return number < tracks_.size() ? tracks_[number].track.get() : nullptr; }
    std::size_t Count() const { return tracks_.size(); }

    // Connects to the editor at host:port in the background.
    void ConnectEditor(const std::string& host, int port);
    bool HasEditor() const { return editor_ != nullptr; }
    bool EditorConnected() const { return editor_ && editor_->Connected(); }
    // Whether the editor has sent something not yet carried out.
    bool Pending() const { return editor_ && editor_->HasEvents(); }
    // Carries out what the editor sent: keys change here, the music through
    // control.
    void Serve(MusicControl& control);
    // The music's current row, sent to the editor when it changed.
    void SendRow(double row);

    // Writes every track's file; the number written.
    int SaveAll();

private:
    struct Entry {
        std::unique_ptr<Track> track;
        bool fromFile = true;  // its keys came from its file, not an editor
        bool stale = false;    // read its file again at the next request
    };
    void Load(Entry& entry);

    const std::string folder_;
    std::FILE* const log_;
    std::vector<Entry> tracks_;  // in the order first asked: the editor's numbers
    std::unordered_map<std::string, std::size_t> byName_;
    std::unique_ptr<EditorClient> editor_;
    std::vector<EditorEvent> events_;
    unsigned dropped_ = 0;  // a connection found at fault: its later events go unheard
};

}  // namespace synctrack

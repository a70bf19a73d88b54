// The client of a sync editor (the sync-tracker protocol over TCP, integers
// big-endian). A thread of its own connects, greets, sends what the show
// queues (track requests, the row) and reads the editor's commands into a
// queue the show's thread takes from, so that nothing the editor does (or
// fails to do) ever makes a frame wait. It connects again, at most once a
// second, whenever no editor is there.
#pragma once

#include "sync/Track.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace synctrack {

// One thing that happened on the connection, in the order it happened.
struct EditorEvent {
    enum class Kind { Connected, SetKey, DeleteKey, SetRow, Pause, Save };
    Kind kind = Kind::Connected;
    unsigned connection = 0;  // which connection it came on (1, 2, ...)
    std::uint32_t track = 0;  // SetKey, DeleteKey: the track's number
    Key key;                  // SetKey; DeleteKey: key.row
    std::uint32_t row = 0;    // SetRow
    bool paused = false;      // Pause
};

class EditorClient {
public:
    // Lines about the connection go to log.
    EditorClient(std::string host, int port, std::FILE* log = stderr);
    ~EditorClient();
    EditorClient(const EditorClient&) = delete;
    EditorClient& operator=(const EditorClient&) = delete;

    // Starts connecting, in the background.
    void Start();

    // A new track: its number is its position among the names added. Asked
    // for now when an editor is connected, and on every connection after.
    void AddTrack(const std::string& name);
    // The show's current row: sent when an editor is connected and it
    // differs from the last row sent on that connection.
    void SendRow(std::uint32_t row);
    // Ends the connection when it is still the given one (the show found the
    // editor's message at fault and has said why).
    void Drop(unsigned connection);

    // Whether events wait; cheap enough for every call of the script.
    bool HasEvents() const { return hasEvents_.load(std::memory_order_acquire); }
    // Appends the waiting events to *events.
    void TakeEvents(std::vector<EditorEvent>* events);

    bool Connected() const { return connected_.load(std::memory_order_relaxed); }
    const std::string& Address() const { return address_; }

private:
    void Run();
    // One connection attempt: the socket, greeted, or -1 with *why.
    int Connect(std::string* why);
    // Serves one connection until it ends, saying why in one line.
    void Serve(int socket);
    // Parses the whole messages at the front of input; false (and *why) at a
    // malformed one. *used: the bytes taken.
    bool Parse(const std::vector<unsigned char>& input, std::size_t* used, std::string* why);
    void Push(const EditorEvent& event);
    void Wake();
    // Sleeps up to ms, or until woken; false when stopping.
    bool Rest(int ms);

    const std::string host_;
    const int port_;
    const std::string address_;
    std::FILE* const log_;

    std::mutex lock_;
    std::vector<std::string> names_;
    std::vector<unsigned char> outbox_;
    std::vector<EditorEvent> events_;
    unsigned connection_ = 0;
    bool dropWanted_ = false;
    bool haveRow_ = false;
    std::uint32_t lastRow_ = 0;
    bool quit_ = false;
    std::atomic<bool> hasEvents_{false};
    std::atomic<bool> connected_{false};

    int wakeRead_ = -1, wakeWrite_ = -1;
    std::thread thread_;
};

}  // namespace synctrack

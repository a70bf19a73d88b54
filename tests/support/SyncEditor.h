// A sync editor's stand-in: a TCP server on 127.0.0.1 (an ephemeral port)
// that greets the player as an editor does, records what the player sends on
// each connection (track requests, rows) and sends the commands a test asks
// for, whole or in pieces.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class SyncEditor {
public:
    // Starts listening at once (the port exists before the player starts), on
    // the given port or an ephemeral one.
    explicit SyncEditor(int port = 0);
    ~SyncEditor();
    SyncEditor(const SyncEditor&) = delete;
    SyncEditor& operator=(const SyncEditor&) = delete;

    int port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

    // What the player sent on the latest connection.
    struct Seen {
        int connection = 0;              // 1 for the first greeted connection
        bool greeted = false;            // the player's greeting was right
        std::vector<std::string> tracks; // GET_TRACK names, in order
        std::vector<std::uint32_t> rows; // SET_ROW rows, in order
        bool closed = false;             // the player ended the connection
        std::string junk;                // anything else it sent
    };
    Seen Now();
    // Waits until `ready` holds for what was seen, up to seconds.
    bool WaitFor(const std::function<bool(const Seen&)>& ready, double seconds = 10.0);

    // Messages of the protocol, to send.
    static std::string SetKey(std::uint32_t track, std::uint32_t row, float value, std::uint8_t type);
    static std::string DeleteKey(std::uint32_t track, std::uint32_t row);
    static std::string SetRow(std::uint32_t row);
    static std::string PauseMusic(bool paused);
    static std::string SaveTracks();

    // Sends bytes on the latest connection; with pieces > 1, in that many
    // parts a few milliseconds apart.
    void Send(const std::string& bytes, int pieces = 1);
    // Ends the latest connection from the editor's side.
    void Hangup();

private:
    void Accept();
    void Serve(int fd);

    int listener_ = -1;
    int port_ = 0;
    std::mutex lock_;
    std::condition_variable changed_;
    Seen seen_;
    int client_ = -1;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace testing_support

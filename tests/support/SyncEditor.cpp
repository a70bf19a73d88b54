// The sync editor's stand-in: one connection served at a time, the latest.
#include "tests/support/SyncEditor.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

namespace {

std::string Be32(std::uint32_t v)
{
    const std::uint32_t n = htonl(v);
    return std::string(reinterpret_cast<const char*>(&n), 4);
}

std::uint32_t ReadBe32(const std::string& s, std::size_t at)
{
    std::uint32_t n;
    std::memcpy(&n, s.data() + at, 4);
    return ntohl(n);
}

}  // namespace

SyncEditor::SyncEditor(int port)
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 4);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Accept(); });
}

SyncEditor::~SyncEditor()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
        if (client_ >= 0)
            shutdown(client_, SHUT_RDWR);
    }
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
}

SyncEditor::Seen SyncEditor::Now()
{
    std::lock_guard<std::mutex> guard(lock_);
    return seen_;
}

bool SyncEditor::WaitFor(const std::function<bool(const Seen&)>& ready, double seconds)
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::duration<double>(seconds), [&] { return ready(seen_); });
}

std::string SyncEditor::SetKey(std::uint32_t track, std::uint32_t row, float value, std::uint8_t type)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return std::string(1, '\0') + Be32(track) + Be32(row) + Be32(bits) + std::string(1, static_cast<char>(type));
}

std::string SyncEditor::DeleteKey(std::uint32_t track, std::uint32_t row)
{
    return std::string(1, '\1') + Be32(track) + Be32(row);
}

std::string SyncEditor::SetRow(std::uint32_t row) { return std::string(1, '\3') + Be32(row); }
std::string SyncEditor::PauseMusic(bool paused) { return std::string(1, '\4') + std::string(1, paused ? '\1' : '\0'); }
std::string SyncEditor::SaveTracks() { return std::string(1, '\5'); }

void SyncEditor::Send(const std::string& bytes, int pieces)
{
    int fd;
    {
        std::lock_guard<std::mutex> guard(lock_);
        fd = client_;
    }
    if (fd < 0)
        return;
    const std::size_t step = pieces > 1 ? (bytes.size() + pieces - 1) / pieces : bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        if (send(fd, bytes.data() + at, std::min(step, bytes.size() - at), MSG_NOSIGNAL) < 0)
            return;
        if (pieces > 1)
            usleep(20000);
    }
}

void SyncEditor::Hangup()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (client_ >= 0)
        shutdown(client_, SHUT_RDWR);
}

void SyncEditor::Accept()
{
    for (;;) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (quit_) {
                close(fd);
                return;
            }
        }
        Serve(fd);
    }
}

// Greets, then records until either side ends the connection.
void SyncEditor::Serve(int fd)
{
    std::string input;
    char block[4096];
    bool greeted = false;
    for (;;) {
        const ssize_t n = recv(fd, block, sizeof block, 0);
        std::lock_guard<std::mutex> guard(lock_);
        if (n <= 0) {
            if (greeted && client_ == fd)
                seen_.closed = true;
            if (client_ == fd)
                client_ = -1;
            close(fd);
            changed_.notify_all();
            return;
        }
        input.append(block, static_cast<std::size_t>(n));
        if (!greeted) {
            if (input.size() < 19)
                continue;
            const bool right = input.compare(0, 19, "hello, synctracker!") == 0;
            input.erase(0, 19);
            greeted = true;
            const int number = seen_.connection + 1;
            seen_ = Seen();
            seen_.connection = number;
            seen_.greeted = right;
            client_ = fd;
            send(fd, "hello, demo!", 12, MSG_NOSIGNAL);
        }
        // Whole messages only; the rest waits for more.
        for (;;) {
            if (input.empty())
                break;
            if (input[0] == 2 && input.size() >= 5) {
                const std::uint32_t length = ReadBe32(input, 1);
                if (input.size() < 5 + length)
                    break;
                seen_.tracks.push_back(input.substr(5, length));
                input.erase(0, 5 + length);
            } else if (input[0] == 3 && input.size() >= 5) {
                seen_.rows.push_back(ReadBe32(input, 1));
                input.erase(0, 5);
            } else if (input[0] != 2 && input[0] != 3) {
                seen_.junk += input;
                input.clear();
            } else {
                break;
            }
        }
        changed_.notify_all();
    }
}

}  // namespace testing_support

// The sync editor's client: its thread, the greeting, and the commands.
#include "sync/Editor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace synctrack {

namespace {

constexpr char kClientGreeting[] = "hello, synctracker!";
constexpr char kEditorGreeting[] = "hello, demo!";
constexpr std::size_t kClientGreetingBytes = sizeof kClientGreeting - 1;  // 19
constexpr std::size_t kEditorGreetingBytes = sizeof kEditorGreeting - 1;  // 12

// Commands, the first byte of each message.
constexpr unsigned char kSetKey = 0;
constexpr unsigned char kDeleteKey = 1;
constexpr unsigned char kGetTrack = 2;
constexpr unsigned char kSetRow = 3;
constexpr unsigned char kPause = 4;
constexpr unsigned char kSaveTracks = 5;

constexpr int kRetryMs = 1000;
// How long an answer may take while connecting and greeting; the show does
// not wait for it, only the next attempt does.
constexpr int kGreetingTimeoutMs = 2000;

std::uint32_t ReadBe32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

void AppendBe32(std::vector<unsigned char>* out, std::uint32_t v)
{
    out->push_back(static_cast<unsigned char>(v >> 24));
    out->push_back(static_cast<unsigned char>(v >> 16));
    out->push_back(static_cast<unsigned char>(v >> 8));
    out->push_back(static_cast<unsigned char>(v));
}

void AppendGetTrack(std::vector<unsigned char>* out, const std::string& name)
{
    out->push_back(kGetTrack);
    AppendBe32(out, static_cast<std::uint32_t>(name.size()));
    out->insert(out->end(), name.begin(), name.end());
}

// Waits for fd to be ready for events, up to ms; false on timeout or error.
bool WaitFor(int fd, short events, int ms)
{
    pollfd one{fd, events, 0};
    int ready;
    do
        ready = poll(&one, 1, ms);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

EditorClient::EditorClient(std::string host, int port, std::FILE* log)
    : host_(std::move(host)), port_(port), address_(host_ + ":" + std::to_string(port)), log_(log)
{
}

EditorClient::~EditorClient()
{
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            quit_ = true;
        }
        Wake();
        thread_.join();
    }
    if (wakeRead_ >= 0)
        close(wakeRead_);
    if (wakeWrite_ >= 0)
        close(wakeWrite_);
}

void EditorClient::Start()
{
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::fprintf(log_, "sync: cannot reach an editor (%s); the show plays its track files\n",
                     std::strerror(errno));
        return;
    }
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    thread_ = std::thread([this] { Run(); });
}

void EditorClient::AddTrack(const std::string& name)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        names_.push_back(name);
        if (!connected_.load(std::memory_order_relaxed))
            return;
        AppendGetTrack(&outbox_, name);
    }
    Wake();
}

void EditorClient::SendRow(std::uint32_t row)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!connected_.load(std::memory_order_relaxed) || (haveRow_ && lastRow_ == row))
            return;
        haveRow_ = true;
        lastRow_ = row;
        outbox_.push_back(kSetRow);
        AppendBe32(&outbox_, row);
    }
    Wake();
}

void EditorClient::Drop(unsigned connection)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (connection != connection_)
            return;
        dropWanted_ = true;
    }
    Wake();
}

void EditorClient::TakeEvents(std::vector<EditorEvent>* events)
{
    std::lock_guard<std::mutex> guard(lock_);
    events->insert(events->end(), events_.begin(), events_.end());
    events_.clear();
    hasEvents_.store(false, std::memory_order_release);
}

void EditorClient::Push(const EditorEvent& event)
{
    events_.push_back(event);
    hasEvents_.store(true, std::memory_order_release);
}

void EditorClient::Wake()
{
    const char byte = 1;
    if (wakeWrite_ >= 0 && write(wakeWrite_, &byte, 1) < 0) {
        // A full pipe already wakes the thread.
    }
}

bool EditorClient::Rest(int ms)
{
    WaitFor(wakeRead_, POLLIN, ms);
    char drain[64];
    while (read(wakeRead_, drain, sizeof drain) > 0) {
    }
    std::lock_guard<std::mutex> guard(lock_);
    return !quit_;
}

void EditorClient::Run()
{
    pthread_setname_np(pthread_self(), "sync editor");
    bool told = false;  // the last failure to connect has been reported
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (quit_)
                return;
        }
        std::string why;
        const int socket = Connect(&why);
        if (socket < 0) {
            if (!told)
                std::fprintf(log_, "sync: no editor at %s (%s); the show plays its track files, trying again every second\n",
                             address_.c_str(), why.c_str());
            told = true;
            if (!Rest(kRetryMs))
                return;
            continue;
        }
        std::fprintf(log_, "sync: editor connected at %s\n", address_.c_str());
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++connection_;
            dropWanted_ = false;
            haveRow_ = false;
            outbox_.clear();
            for (const std::string& name : names_)
                AppendGetTrack(&outbox_, name);
            connected_.store(true, std::memory_order_relaxed);
            EditorEvent event;
            event.kind = EditorEvent::Kind::Connected;
            event.connection = connection_;
            Push(event);
        }
        Serve(socket);
        close(socket);
        {
            std::lock_guard<std::mutex> guard(lock_);
            connected_.store(false, std::memory_order_relaxed);
            outbox_.clear();
            if (quit_)
                return;
        }
        told = true;  // the end of the connection has been reported
        if (!Rest(kRetryMs))
            return;
    }
}

int EditorClient::Connect(std::string* why)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found);
    if (lookup != 0) {
        *why = gai_strerror(lookup);
        return -1;
    }
    int socket = -1;
    *why = "no address";
    for (addrinfo* at = found; at && socket < 0; at = at->ai_next) {
        socket = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (socket < 0) {
            *why = std::strerror(errno);
            continue;
        }
        int error = 0;
        if (connect(socket, at->ai_addr, at->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                error = ETIMEDOUT;
                if (WaitFor(socket, POLLOUT, kGreetingTimeoutMs)) {
                    socklen_t length = sizeof error;
                    getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
                }
            }
        }
        if (error != 0) {
            *why = std::strerror(error);
            close(socket);
            socket = -1;
        }
    }
    freeaddrinfo(found);
    if (socket < 0)
        return -1;

    // Small messages go out at once: a row or a track request must not wait
    // for the next one.
    const int one = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    std::size_t sent = 0;
    while (sent < kClientGreetingBytes) {
        const ssize_t n = send(socket, kClientGreeting + sent, kClientGreetingBytes - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else if (n < 0 && (errno == EAGAIN || errno == EINTR) && WaitFor(socket, POLLOUT, kGreetingTimeoutMs))
            continue;
        else
            break;
    }
    char answer[kEditorGreetingBytes];
    std::size_t got = 0;
    while (sent == kClientGreetingBytes && got < kEditorGreetingBytes) {
        const ssize_t n = recv(socket, answer + got, kEditorGreetingBytes - got, 0);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (n < 0 && (errno == EAGAIN || errno == EINTR) && WaitFor(socket, POLLIN, kGreetingTimeoutMs))
            continue;
        else
            break;
    }
    if (got != kEditorGreetingBytes || std::memcmp(answer, kEditorGreeting, kEditorGreetingBytes) != 0) {
        *why = got == kEditorGreetingBytes ? "it answered with another greeting" : "it did not greet";
        close(socket);
        return -1;
    }
    return socket;
}

void EditorClient::Serve(int socket)
{
    std::vector<unsigned char> input, output;
    unsigned char block[4096];
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (quit_ || dropWanted_)
                return;
            output.insert(output.end(), outbox_.begin(), outbox_.end());
            outbox_.clear();
        }
        pollfd fds[2] = {{socket, static_cast<short>(POLLIN | (output.empty() ? 0 : POLLOUT)), 0},
                         {wakeRead_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            std::fprintf(log_, "sync: editor at %s: %s; disconnected\n", address_.c_str(), std::strerror(errno));
            return;
        }
        if (fds[1].revents & POLLIN) {
            while (read(wakeRead_, block, sizeof block) > 0) {
            }
        }
        if (!output.empty() && (fds[0].revents & POLLOUT)) {
            const ssize_t n = send(socket, output.data(), output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                output.erase(output.begin(), output.begin() + n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::fprintf(log_, "sync: editor at %s went away (%s)\n", address_.c_str(), std::strerror(errno));
                return;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = recv(socket, block, sizeof block, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0) {
                if (!input.empty())
                    std::fprintf(log_, "sync: editor at %s sent a message cut off by the connection closing; disconnected\n",
                                 address_.c_str());
                else
                    std::fprintf(log_, "sync: editor at %s went away\n", address_.c_str());
                return;
            }
            input.insert(input.end(), block, block + n);
            std::size_t used = 0;
            std::string why;
            const bool fine = Parse(input, &used, &why);
            input.erase(input.begin(), input.begin() + static_cast<long>(used));
            if (!fine) {
                std::fprintf(log_, "sync: editor at %s sent %s; disconnected\n", address_.c_str(), why.c_str());
                return;
            }
        }
    }
}

bool EditorClient::Parse(const std::vector<unsigned char>& input, std::size_t* used, std::string* why)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t at = 0;
    char text[128];
    for (;;) {
        *used = at;
        if (at >= input.size())
            return true;
        const unsigned char* p = input.data() + at;
        const std::size_t left = input.size() - at;
        EditorEvent event;
        event.connection = connection_;
        std::size_t size;
        switch (p[0]) {
        case kSetKey:
            size = 14;
            break;
        case kDeleteKey:
            size = 9;
            break;
        case kSetRow:
            size = 5;
            break;
        case kPause:
            size = 2;
            break;
        case kSaveTracks:
            size = 1;
            break;
        default:
            std::snprintf(text, sizeof text, "an unknown command %u", p[0]);
            *why = text;
            return false;
        }
        if (left < size)
            return true;  // the rest is still on its way
        if (p[0] == kSetKey || p[0] == kDeleteKey) {
            event.track = ReadBe32(p + 1);
            event.key.row = static_cast<std::int32_t>(ReadBe32(p + 5));
            if (event.track >= names_.size()) {
                std::snprintf(text, sizeof text, "a key for track %u, which does not exist (%zu tracks)",
                              event.track, names_.size());
                *why = text;
                return false;
            }
        }
        switch (p[0]) {
        case kSetKey: {
            event.kind = EditorEvent::Kind::SetKey;
            const std::uint32_t bits = ReadBe32(p + 9);
            std::memcpy(&event.key.value, &bits, sizeof bits);
            if (p[13] > kLastKeyType) {
                std::snprintf(text, sizeof text, "a key of type %u, above 3", p[13]);
                *why = text;
                return false;
            }
            event.key.type = static_cast<KeyType>(p[13]);
            break;
        }
        case kDeleteKey:
            event.kind = EditorEvent::Kind::DeleteKey;
            break;
        case kSetRow:
            event.kind = EditorEvent::Kind::SetRow;
            event.row = ReadBe32(p + 1);
            break;
        case kPause:
            event.kind = EditorEvent::Kind::Pause;
            event.paused = p[1] != 0;
            break;
        default:
            event.kind = EditorEvent::Kind::Save;
            break;
        }
        Push(event);
        at += size;
    }
}

}  // namespace synctrack

// The real player kept running while a test edits its show folder.
#include "tests/watch/LivePlayer.h"
#include "tests/support/Display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

Display* TestDisplay()
{
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

// Standard output of a command, or "" when it fails.
std::string Output(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    return out;
}

}  // namespace

LivePlayer::LivePlayer(const TempDir& dir, const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env)
{
    HoldDisplay();
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        if (chdir(dir.path().c_str()) != 0)
            _exit(126);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        for (const auto& [name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>("showplayer")};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(SHOWPLAYER_BINARY, argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
}

LivePlayer::~LivePlayer()
{
    if (Running()) {
        kill(pid_, SIGKILL);
        WaitExit(10);
    }
    for (int fd : {outFd_, errFd_})
        if (fd >= 0)
            close(fd);
}

// Takes in whatever the player wrote within timeoutMs.
void LivePlayer::Read(int timeoutMs)
{
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0)
        return;
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
            continue;
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n <= 0) {
            close(fds[i].fd);
            (i == 0 ? outFd_ : errFd_) = -1;
            continue;
        }
        if (i == 1) {
            err_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        partial_.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
    }
}

int LivePlayer::WaitForLine(const std::function<bool(const std::string&)>& match, double seconds,
                            std::size_t from)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        for (std::size_t i = from; i < lines_.size(); ++i)
            if (match(lines_[i]))
                return static_cast<int>(i);
        from = std::max(from, lines_.size());
        if (Clock::now() >= deadline || (outFd_ < 0 && errFd_ < 0))
            return -1;
        Read(20);
        if (outFd_ < 0 && !Running())
            Read(0);
    }
}

int LivePlayer::WaitForLine(const std::string& prefix, double seconds, std::size_t from)
{
    return WaitForLine([&](const std::string& line) { return line.compare(0, prefix.size(), prefix) == 0; },
                       seconds, from);
}

void LivePlayer::Drain(double seconds)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline && (outFd_ >= 0 || errFd_ >= 0))
        Read(10);
}

bool LivePlayer::Running()
{
    if (status_ >= 0)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_)
        return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

int LivePlayer::WaitExit(double seconds)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Running() && Clock::now() < deadline)
        Read(10);
    Drain(0.05);
    return status_;
}

unsigned long LivePlayer::Window()
{
    const std::string found = Output("xdotool search --onlyvisible --pid " + std::to_string(pid_) + " 2>/dev/null");
    return found.empty() ? 0 : std::strtoul(found.c_str(), nullptr, 10);
}

void LivePlayer::PressKey(const std::string& key)
{
    const unsigned long window = Window();
    // Held for a while: a script sees a key only when it is down at one of
    // its glPumpEvents calls, and a slow frame can span a quick tap.
    const std::string command =
        "xdotool windowfocus " + std::to_string(window) + " keydown " + key + " sleep 0.25 keyup " + key;
    if (window == 0 || std::system(command.c_str()) != 0)
        throw std::runtime_error("cannot press " + key);
}

void LivePlayer::Close()
{
    Display* display = TestDisplay();
    const unsigned long window = Window();
    if (!display || window == 0)
        throw std::runtime_error("no window to close");
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

ScreenShot::ScreenShot(int width, int height) : width_(width), pixels_(static_cast<std::size_t>(width) * height)
{
    Display* display = TestDisplay();
    if (!display)
        throw std::runtime_error("no display");
    XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image)
        throw std::runtime_error("cannot read the screen");
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            pixels_[static_cast<std::size_t>(y) * width + x] =
                Rgba{static_cast<int>((p & image->red_mask) >> 16), static_cast<int>((p & image->green_mask) >> 8),
                     static_cast<int>(p & image->blue_mask), 255};
        }
    XDestroyImage(image);
}

int ScreenShot::CountUnlike(const Rgba& colour, int tolerance, int x0, int y0, int x1, int y1) const
{
    int count = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (!ColorNear(At(x, y), colour, tolerance))
                ++count;
    return count;
}

}  // namespace testing_support

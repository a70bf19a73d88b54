// Runs the real player binary on a show folder made for one test.
#include "tests/support/Player.h"
#include "tests/support/Display.h"

#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point After(double seconds)
{
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

std::string Fixture(const std::string& name) { return std::string(SHOWPLAYER_FIXTURE_DIR) + "/" + name; }

ShowDir::ShowDir(const std::string& mainPl, const std::string& music)
{
    Write("main.pl", mainPl);
    if (!music.empty())
        Copy(Fixture(music), "derure.mp3");
}

std::string FillShow(const std::string& name, const std::string& picture, const std::string& frame)
{
    const std::string source = picture.empty() ? "imagedata => \"\\x00\\x00\\xff\\xff\" x 256, width => 16, height => 16"
                                               : "image => '" + picture + "'";
    return R"(use strict; use warnings;
my $pos = -1;
sub main {
    OpenGL::boot_OpenGL();
    Image::boot_Image();
    my $fill = Image->new;
    OpenGL::glStartSound();
    for (my $frames = 0; ; ++$frames) {
        OpenGL::glPumpEvents();
        return 0 if OpenGL::glEscPressed();
        $pos = OpenGL::glGetSoundPos();
        OpenGL::glClear();
        $fill->SetParams({)" + source + R"(, x => 0, y => 0, alignh => 1, alignv => 1,
                          size => 4, alpha => 1, r => 1, g => 1, b => 1});
        $fill->Render($pos);
        OpenGL::SwapBuffers();
        print "first )" + name + R"( $pos\n" if $frames == 0;
        )" + frame + R"(
    }
}
END { print "last )" + name + R"( $pos\n" }
1;
)";
}

RunResult RunPlayer(const TempDir& dir, const RunOptions& options)
{
    LivePlayer player(dir, options.args, options);
    const bool ended = player.Drain(options.timeoutSeconds);
    if (!ended)
        kill(player.pid(), SIGKILL);
    const int status = player.WaitExit(options.timeoutSeconds);
    return {status, player.Signal(), !ended, player.Out(), player.Err()};
}

RunResult RunScript(const std::string& mainPl, RunOptions options, const std::string& music)
{
    if (options.args.empty())
        options.args = {"-w"};
    return RunPlayer(ShowDir(mainPl, music), options);
}

LivePlayer::LivePlayer(const TempDir& dir, const std::vector<std::string>& args, const RunOptions& options)
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
        for (const auto& name : options.unsetEnv)
            unsetenv(name.c_str());
        for (const auto& [name, value] : options.env)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(options.argv0.c_str())};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(SHOWPLAYER_BINARY, argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    fds_[0] = outPipe[0];
    fds_[1] = errPipe[0];
}

LivePlayer::~LivePlayer()
{
    if (Running()) {
        kill(pid_, SIGKILL);
        WaitExit(10);
    }
    for (int fd : fds_)
        if (fd >= 0)
            close(fd);
}

// Takes in whatever the player wrote within timeoutMs.
void LivePlayer::Read(int timeoutMs)
{
    pollfd polled[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (poll(polled, 2, timeoutMs) <= 0)
        return;
    for (int i = 0; i < 2; ++i) {
        if (fds_[i] < 0 || !(polled[i].revents & (POLLIN | POLLHUP)))
            continue;
        char buffer[4096];
        const ssize_t n = read(fds_[i], buffer, sizeof buffer);
        if (n <= 0) {
            close(fds_[i]);
            fds_[i] = -1;
        } else {
            (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
        }
    }
    for (std::size_t end; (end = out_.find('\n', parsed_)) != std::string::npos; parsed_ = end + 1)
        lines_.push_back(out_.substr(parsed_, end - parsed_));
}

int LivePlayer::WaitForLine(const std::string& prefix, double seconds, std::size_t from)
{
    const auto deadline = After(seconds);
    for (;;) {
        for (std::size_t i = from; i < lines_.size(); ++i)
            if (lines_[i].compare(0, prefix.size(), prefix) == 0)
                return static_cast<int>(i);
        from = std::max(from, lines_.size());
        if (Clock::now() >= deadline || fds_[0] < 0)
            return -1;
        Read(20);
    }
}

bool LivePlayer::Drain(double seconds)
{
    const auto deadline = After(seconds);
    while (Clock::now() < deadline && (fds_[0] >= 0 || fds_[1] >= 0))
        Read(10);
    return fds_[0] < 0 && fds_[1] < 0;
}

bool LivePlayer::Running()
{
    int status = 0;
    if (status_ >= 0 || waitpid(pid_, &status, WNOHANG) != pid_)
        return status_ < 0;
    signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + signal_;
    return false;
}

int LivePlayer::WaitExit(double seconds)
{
    const auto deadline = After(seconds);
    while (Running() && Clock::now() < deadline)
        Read(10);
    Drain(0.05);
    return status_;
}

unsigned long LivePlayer::Window()
{
    const std::string command = "xdotool search --onlyvisible --pid " + std::to_string(pid_) + " 2>/dev/null";
    char found[64] = "";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        if (!fgets(found, sizeof found, pipe))
            found[0] = '\0';
        pclose(pipe);
    }
    return std::strtoul(found, nullptr, 10);
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
    Display* display = HoldDisplay();
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

SilentServer::SilentServer(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return;
    path.copy(address.sun_path, path.size());
    unlink(path.c_str());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 16) != 0)) {
        close(fd_);
        fd_ = -1;
    }
}

SilentServer::~SilentServer()
{
    for (int client : clients_)
        close(client);
    if (fd_ >= 0)
        close(fd_);
}

bool SilentServer::WaitForClient(double seconds)
{
    pollfd wait{fd_, POLLIN, 0};
    if (fd_ < 0 || poll(&wait, 1, static_cast<int>(seconds * 1000)) != 1)
        return false;
    const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
        return false;
    clients_.push_back(client);
    return true;
}

}  // namespace testing_support

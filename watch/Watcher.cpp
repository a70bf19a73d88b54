// Follows a show folder with inotify and tells, once per burst of events, that
// its files changed.
#include "watch/Watcher.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace watch {

namespace {

// Events on a followed folder. IN_MODIFY and IN_CREATE only extend a burst
// that a finished write, a rename or a removal began: a file is read after
// its writer closed it, never half-written.
// The show folder's own deletion or move away is seen on its watch.
constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                   IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Events on a file that a symbolic link names, wherever it lives. An editor
// that saves by renaming a new file over it ends the watch (the old file is
// gone); it is then set up again on what the link names now.
constexpr uint32_t kFileEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

// Name endings of the files editors keep beside the one they edit.
constexpr const char* kIgnoredEndings[] = {
    "~",                              // backups
    ".swp", ".swo", ".swx", ".swpx",  // swap files
    ".kate-swp",
    "___jb_tmp___", "___jb_old___",   // safe-write temporaries and backups
};

bool EndsWith(const std::string& text, const char* ending)
{
    const std::size_t n = std::strlen(ending);
    return text.size() >= n && text.compare(text.size() - n, n, ending) == 0;
}

std::string Join(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

}  // namespace

bool IgnoredName(const std::string& name)
{
    if (name.empty() || name[0] == '.')
        return true;  // hidden files and folders: lock files, version control
    // An autosave file (#name#), and the all-digit probe file an editor
    // writes to learn whether the folder is writable.
    if (name.size() > 1 && name.front() == '#' && name.back() == '#')
        return true;
    if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return true;
    for (const char* ending : kIgnoredEndings)
        if (EndsWith(name, ending))
            return true;
    return false;
}

Watcher::~Watcher()
{
    if (fd_ >= 0)
        close(fd_);
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

bool Watcher::Start(const std::string& folder, const std::string& musicName, std::string* error)
{
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0 || wakeFd_ < 0) {
        *error = std::string("cannot follow file changes: ") + std::strerror(errno);
        return false;
    }
    root_ = folder;
    musicName_ = musicName;
    Follow("", false);
    if (folders_.empty()) {
        *error = "cannot follow " + folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Follows a folder and the folders under it. A folder that appeared while the
// show ran may have received files before its watch existed; with countFiles
// those count as a change.
void Watcher::Follow(const std::string& relative, bool countFiles)
{
    const std::string path = relative.empty() ? root_ : root_ + "/" + relative;
    const int wd = inotify_add_watch(fd_, path.c_str(), kFolderEvents);
    // The kernel gives a folder it already watches the same descriptor: a
    // symbolic link that leads back into the show (or to a folder another
    // link reaches) is followed once, and never in a loop.
    if (wd < 0 || folders_.count(wd) != 0)
        return;
    folders_[wd] = relative;
    struct stat st;
    if (relative.empty() && stat(path.c_str(), &st) == 0) {
        rootDevice_ = st.st_dev;
        rootInode_ = st.st_ino;
    }

    DIR* dir = opendir(path.c_str());
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name[0] == '.')
            continue;  // hidden folders (version control) and files
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isDir = lstat((path + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        const std::string child = Join(relative, name);
        if (isDir)
            Follow(child, countFiles);
        else if (!IgnoredName(name))
            FollowLink(child, countFiles);
    }
    closedir(dir);
}

// A file of a followed folder: when it is a symbolic link, what it names is
// followed too (a folder as a folder of the show, a file by a watch of its
// own), since edits there never show in the link's folder.
void Watcher::FollowLink(const std::string& relative, bool countFiles)
{
    const std::string path = root_ + "/" + relative;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            Follow(relative, countFiles);
            return;
        }
        const int wd = inotify_add_watch(fd_, path.c_str(), kFileEvents);
        if (wd >= 0 && folders_.count(wd) == 0)
            files_[wd] = relative;
    }
    if (countFiles)
        Count(relative == musicName_);
}

// The show folder was deleted or moved away: nothing under it can be
// followed. That is a change (the show is gone), and from now on the path
// is looked at until a folder is there again.
void Watcher::LoseRoot()
{
    for (const auto& folder : folders_)
        inotify_rm_watch(fd_, folder.first);
    for (const auto& file : files_)
        inotify_rm_watch(fd_, file.first);
    folders_.clear();
    files_.clear();
    rootGone_ = true;
    Count(true);
}

// The kernel tells that a folder is gone only once nothing holds it any
// more, and the player holds the show folder (its current folder, its
// descriptor): after events, whether the path still names the folder
// followed is looked at.
void Watcher::CheckRoot()
{
    struct stat st;
    if (rootGone_ || folders_.empty())
        return;
    if (stat(root_.c_str(), &st) != 0 || st.st_dev != rootDevice_ || st.st_ino != rootInode_)
        LoseRoot();
}

// A show folder made again under its path (a checkout, an unpack) is
// followed from the start, and what it holds is a change.
void Watcher::LookForRoot()
{
    struct stat st;
    if (!rootGone_ || stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    Follow("", true);
    if (!folders_.empty()) {
        rootGone_ = false;
        Count(true);
    }
}

// An event on a file a symbolic link names.
void Watcher::FileEvent(const inotify_event& event)
{
    const auto file = files_.find(event.wd);
    if (file == files_.end())
        return;
    const std::string relative = file->second;
    if (event.mask & IN_IGNORED) {
        // The file is gone (replaced by a rename, or deleted): follow what
        // the link names now, if anything.
        files_.erase(file);
        FollowLink(relative, false);
        Count(relative == musicName_);
        return;
    }
    if ((event.mask & (IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF)) != 0 || pending_)
        Count(relative == musicName_);
}

// Stops following a folder that moved away and every folder under it.
void Watcher::ForgetFolder(const std::string& relative)
{
    for (auto it = folders_.begin(); it != folders_.end();) {
        const std::string& path = it->second;
        if (path == relative || path.compare(0, relative.size() + 1, relative + "/") == 0) {
            inotify_rm_watch(fd_, it->first);
            it = folders_.erase(it);
        } else {
            ++it;
        }
    }
}

// What a symbolic link of that name led to is followed no more (a folder,
// with the folders under it, or a file).
void Watcher::Forget(const std::string& relative)
{
    for (auto it = files_.begin(); it != files_.end();) {
        if (it->second == relative) {
            inotify_rm_watch(fd_, it->first);
            it = files_.erase(it);
        } else {
            ++it;
        }
    }
    ForgetFolder(relative);
}

// A counted event: begins a burst or extends the one under way.
void Watcher::Count(bool music)
{
    const Clock::time_point now = Clock::now();
    if (!pending_) {
        pending_ = true;
        change_ = FolderChange{};
        burstStart_ = now;
    }
    lastEvent_ = now;
    change_.music = change_.music || music;
}

void Watcher::ReadEvents()
{
    alignas(inotify_event) char buffer[16 * 1024];
    for (bool any = false;; any = true) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            if (any)
                CheckRoot();
            return;  // EAGAIN: nothing more queued
        }
        for (const char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + event->len;

            if (event->mask & IN_Q_OVERFLOW) {
                Count(true);  // events were lost: anything may have changed
                continue;
            }
            if (files_.count(event->wd) != 0) {
                FileEvent(*event);
                continue;
            }
            const auto folder = folders_.find(event->wd);
            if (folder != folders_.end() && folder->second.empty() &&
                (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
                LoseRoot();
                continue;
            }
            if (event->mask & IN_IGNORED) {
                folders_.erase(event->wd);
                continue;
            }
            if (folder == folders_.end() || event->len == 0)
                continue;
            const std::string name = event->name;
            const std::string relative = Join(folder->second, name);

            if (event->mask & IN_ISDIR) {
                if (name[0] == '.')
                    continue;
                if (event->mask & IN_CREATE) {
                    Follow(relative, true);
                } else if (event->mask & IN_MOVED_TO) {
                    Follow(relative, false);
                    Count(musicName_.compare(0, relative.size() + 1, relative + "/") == 0);
                } else if (event->mask & (IN_MOVED_FROM | IN_DELETE)) {
                    Forget(relative);
                    Count(musicName_.compare(0, relative.size() + 1, relative + "/") == 0);
                }
                continue;
            }
            if (IgnoredName(name))
                continue;
            // A symbolic link that went or came: what it named is no longer
            // followed, what it names now is.
            if (event->mask & (IN_MOVED_FROM | IN_DELETE))
                Forget(relative);
            if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                Forget(relative);
                FollowLink(relative, false);
            }
            const bool music = relative == musicName_;
            if (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE))
                Count(music);
            else if (pending_)
                Count(music);  // IN_CREATE, IN_MODIFY: a write still going on
        }
    }
}

int Watcher::MillisecondsLeft() const
{
    const Clock::time_point due = std::min(lastEvent_ + kQuietPeriod, burstStart_ + kLongestBurst);
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(due - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

bool Watcher::Poll(FolderChange* change)
{
    if (fd_ < 0)
        return false;
    ReadEvents();
    LookForRoot();
    if (!pending_ || MillisecondsLeft() > 0)
        return false;
    // A folder deleted with all it holds: the last of its files may have
    // gone before the folder itself.
    CheckRoot();
    pending_ = false;
    *change = change_;
    return true;
}

bool Watcher::Wait(int timeoutMs, FolderChange* change)
{
    if (fd_ < 0)
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (Poll(change))
            return true;
        int wait = pending_ ? MillisecondsLeft() : -1;
        if (rootGone_ && (wait < 0 || wait > kGoneRetry.count()))
            wait = static_cast<int>(kGoneRetry.count());
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            wait = wait < 0 ? static_cast<int>(left) : std::min(wait, static_cast<int>(left));
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, wait) < 0 && errno != EINTR)
            return false;
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            (void)!read(wakeFd_, &count, sizeof count);
            return false;
        }
    }
}

void Watcher::Wake()
{
    const uint64_t one = 1;
    if (wakeFd_ >= 0)
        (void)!write(wakeFd_, &one, sizeof one);
}

// ---------------------------------------------------------------------------

BackgroundWatch::~BackgroundWatch() { Stop(); }

bool BackgroundWatch::Start(const std::string& folder, const std::string& musicName,
                            std::function<void()> onChange, std::string* error)
{
    if (!watcher_.Start(folder, musicName, error))
        return false;
    thread_ = std::thread([this, onChange = std::move(onChange)] {
        while (!stop_.load()) {
            FolderChange change;
            if (!watcher_.Wait(-1, &change))
                continue;
            if (change.music)
                music_.store(true);
            changed_.store(true);
            onChange();
        }
    });
    return true;
}

void BackgroundWatch::Stop()
{
    if (!thread_.joinable())
        return;
    stop_.store(true);
    watcher_.Wake();
    thread_.join();
}

bool BackgroundWatch::Take(FolderChange* change)
{
    if (!changed_.exchange(false))
        return false;
    change->music = music_.exchange(false);
    return true;
}

}  // namespace watch

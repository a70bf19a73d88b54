// Follows a show folder with inotify and tells, once per burst of events, that
// its files changed.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <sys/types.h>

struct inotify_event;

namespace watch {

// What one burst of file events touched.
struct FolderChange {
    bool music = false;  // the music file was written, replaced or removed
};

// True for file names that editors write beside the file being edited (swap,
// backup, lock and probe files) and for hidden names. Writing them is not a
// change; renaming one onto a followed name is (the event names the target).
// Of folders only hidden ones (version control) are left alone.
bool IgnoredName(const std::string& name);

// The show folder and every folder under it, followed through one inotify
// descriptor. Nothing is read from the disk while nothing happens.
class Watcher {
public:
    // A burst ends when no counted event came for this long. An editor's save
    // (write a temporary, rename it over, set its mode) takes well under it;
    // a reload costs it once, so it is kept short.
    static constexpr std::chrono::milliseconds kQuietPeriod{40};
    // A burst that never goes quiet (a file appended to all the time beside
    // the real change) is reported after this long all the same.
    static constexpr std::chrono::milliseconds kLongestBurst{500};

    Watcher() = default;
    ~Watcher();
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    // While the show folder itself is gone, whether it is back is looked at
    // this often.
    static constexpr std::chrono::milliseconds kGoneRetry{100};

    // Starts following folder (give an absolute path: it is looked up again
    // when the folder is deleted and made again); musicName is the music
    // file's path relative to it. Symbolic links to files and folders are
    // followed to what they name. False with *error when inotify cannot
    // follow the folder.
    bool Start(const std::string& folder, const std::string& musicName, std::string* error);

    // Reads what the kernel has queued without blocking. True once per
    // burst, when it has gone quiet; *change then says what it touched.
    bool Poll(FolderChange* change);

    // Waits up to timeoutMs (-1: without end) for a burst to end, or until
    // Wake is called from another thread. True with *change as Poll.
    bool Wait(int timeoutMs, FolderChange* change);

    // Makes a Wait in progress (or the next one) return at once.
    void Wake();

    // Number of folders followed (tests).
    std::size_t FolderCount() const { return folders_.size(); }

private:
    using Clock = std::chrono::steady_clock;

    void Follow(const std::string& relative, bool countFiles);
    void FollowLink(const std::string& relative, bool countFiles);
    void Forget(const std::string& relative);
    void ForgetFolder(const std::string& relative);
    void LoseRoot();
    void LookForRoot();
    void CheckRoot();
    void FileEvent(const struct inotify_event& event);
    void Count(bool music);
    void ReadEvents();
    int MillisecondsLeft() const;

    int fd_ = -1;
    int wakeFd_ = -1;
    std::string root_;
    std::string musicName_;
    std::map<int, std::string> folders_;  // watch descriptor -> path below root ("" for root)
    std::map<int, std::string> files_;    // the same, for files that symbolic links name
    bool rootGone_ = false;               // the show folder was deleted or moved away
    dev_t rootDevice_ = 0;                // the folder followed as the show folder
    ino_t rootInode_ = 0;

    bool pending_ = false;
    FolderChange change_;
    Clock::time_point burstStart_;
    Clock::time_point lastEvent_;
};

// Runs a Watcher on a thread of its own so that a change is noticed while the
// main thread is busy in the script. onChange runs on that thread: it must
// only set flags.
class BackgroundWatch {
public:
    BackgroundWatch() = default;
    ~BackgroundWatch();
    BackgroundWatch(const BackgroundWatch&) = delete;
    BackgroundWatch& operator=(const BackgroundWatch&) = delete;

    bool Start(const std::string& folder, const std::string& musicName, std::function<void()> onChange,
               std::string* error);
    void Stop();

    // True when a change came since the last call; *change merges all of them.
    bool Take(FolderChange* change);
    // Whether Take would return true, taking nothing.
    bool Changed() const { return changed_.load(); }

private:
    Watcher watcher_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> changed_{false};
    std::atomic<bool> music_{false};
};

}  // namespace watch

// The folder watcher on real files with real inotify: every way an editor
// saves is one change, editors' side files are none, and the music is told
// apart from the rest.
#include "watch/Watcher.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

namespace {

using testing_support::TempDir;

// Longer than a burst's quiet period by a wide margin: a machine busy with
// other tests may deliver the last event of a burst late.
constexpr int kSilenceMs = 250;

struct Count {
    int changes = 0;
    bool music = false;
};

// The changes reported until the folder has been silent for kSilenceMs.
Count Changes(watch::Watcher& watcher)
{
    Count count;
    watch::FolderChange change;
    while (watcher.Wait(kSilenceMs, &change)) {
        ++count.changes;
        count.music = count.music || change.music;
    }
    return count;
}

void Rename(const TempDir& dir, const std::string& from, const std::string& to)
{
    std::filesystem::rename(dir / from, dir / to);
}

void Remove(const TempDir& dir, const std::string& name) { std::filesystem::remove_all(dir / name); }

struct SaveCase {
    const char* name;
    std::function<void(const TempDir&)> save;
    int changes;
    bool music;
};

const SaveCase kSaves[] = {
    {"in place", [](const TempDir& d) { d.Write("main.pl", "sub main { 2 }"); }, 1, false},
    {"new file renamed over",
     [](const TempDir& d) {
         d.Write(".goutputstream-X1", "sub main { 2 }");
         Rename(d, ".goutputstream-X1", "main.pl");
     },
     1, false},
    {"delete and create",
     [](const TempDir& d) {
         Remove(d, "main.pl");
         d.Write("main.pl", "sub main { 2 }");
     },
     1, false},
    {"probe file, backup by rename, new file",
     [](const TempDir& d) {
         d.Write("4913", "");
         Remove(d, "4913");
         Rename(d, "main.pl", "main.pl~");
         d.Write("main.pl", "sub main { 2 }");
         Remove(d, "main.pl~");
     },
     1, false},
    {"editor side files only",
     [](const TempDir& d) {
         for (const char* name : {".main.pl.swp", "main.pl.swp", "main.pl.swo", "main.pl~", "#main.pl#", ".#main.pl",
                                  "main.pl.kate-swp", "x___jb_tmp___", ".git/index"})
             d.Write(name, "x");
     },
     0, false},
    {"a tilde inside a name", [](const TempDir& d) { d.Write("a~b.png", "x"); }, 1, false},
    {"picture in a subfolder", [](const TempDir& d) { d.Write("pics/a.png", "new"); }, 1, false},
    {"new subfolder with a file", [](const TempDir& d) { d.Write("scenes/deep/b.3ds", "new"); }, 1, false},
    {"subfolder removed", [](const TempDir& d) { Remove(d, "pics"); }, 1, false},
    {"music replaced",
     [](const TempDir& d) {
         d.Write("derure.new", "mp3");
         Rename(d, "derure.new", "derure.mp3");
     },
     1, true},
    {"music removed", [](const TempDir& d) { Remove(d, "derure.mp3"); }, 1, true},
};

TEST(Watcher, EachSaveIsOneChange)
{
    for (const SaveCase& c : kSaves) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.Write("main.pl", "sub main { 1 }");
        dir.Write("derure.mp3", "mp3");
        dir.Write("pics/a.png", "old");
        watch::Watcher watcher;
        std::string error;
        ASSERT_TRUE(watcher.Start(dir.path(), "derure.mp3", &error)) << error;
        c.save(dir);
        const Count count = Changes(watcher);
        EXPECT_EQ(count.changes, c.changes);
        EXPECT_EQ(count.music, c.music);
    }
}

// Folders that appear, move or go while the show runs are followed from
// then on, and the hidden ones are not followed at all.
TEST(Watcher, FollowsFoldersAsTheyMove)
{
    TempDir dir;
    dir.Write("main.pl", "sub main { 1 }");
    dir.Write("pics/a.png", "old");
    dir.Write(".git/HEAD", "x");
    watch::Watcher watcher;
    std::string error;
    ASSERT_TRUE(watcher.Start(dir.path(), "derure.mp3", &error)) << error;
    EXPECT_EQ(watcher.FolderCount(), 2u);

    Rename(dir, "pics", "art");
    EXPECT_EQ(Changes(watcher).changes, 1);
    dir.Write("art/a.png", "new");
    EXPECT_EQ(Changes(watcher).changes, 1);

    Rename(dir, "art", ".art");  // out of sight
    EXPECT_EQ(Changes(watcher).changes, 1);
    dir.Write(".art/a.png", "newer");
    EXPECT_EQ(Changes(watcher).changes, 0);
    EXPECT_EQ(watcher.FolderCount(), 1u);
}

// Symbolic links are followed to what they name, outside the folder too,
// without a loop on a link back into it; a show folder deleted and made
// again under its path is followed again.
TEST(Watcher, FollowsLinksAndAFolderMadeAgain)
{
    TempDir outside, parent;
    outside.Write("real.pl", "sub main { 1 }");
    outside.Write("music.mp3", "mp3");
    outside.Write("art/a.png", "old");
    const std::string show = parent / "show";
    parent.Write("show/pics/b.png", "old");
    std::filesystem::create_symlink(outside / "real.pl", show + "/main.pl");
    std::filesystem::create_symlink(outside / "music.mp3", show + "/derure.mp3");
    std::filesystem::create_symlink(outside / "art", show + "/art");
    std::filesystem::create_symlink("..", show + "/pics/up");  // a cycle
    watch::Watcher watcher;
    std::string error;
    ASSERT_TRUE(watcher.Start(show, "derure.mp3", &error)) << error;
    EXPECT_EQ(watcher.FolderCount(), 3u);

    const struct {
        const char* name;
        std::function<void()> change;
        bool music;
    } cases[] = {
        {"a linked script written", [&] { outside.Write("real.pl", "sub main { 2 }"); }, false},
        {"a linked script renamed over",
         [&] {
             outside.Write("real.new", "sub main { 3 }");
             Rename(outside, "real.new", "real.pl");
         },
         false},
        {"and written again after that", [&] { outside.Write("real.pl", "sub main { 4 }"); }, false},
        {"linked music", [&] { outside.Write("music.mp3", "new"); }, true},
        {"a picture in a linked folder", [&] { outside.Write("art/a.png", "new"); }, false},
        {"the folder deleted", [&] { std::filesystem::remove_all(show); }, true},
        {"the folder made again", [&] { parent.Write("show/main.pl", "sub main { 5 }"); }, true},
        {"a file of the new folder", [&] { parent.Write("show/main.pl", "sub main { 6 }"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        const Count count = Changes(watcher);
        EXPECT_EQ(count.changes, 1);
        EXPECT_EQ(count.music, c.music);
    }
}

// The watcher's thread reports while the caller is busy elsewhere, and
// merges what it saw until it is asked.
TEST(Watcher, BackgroundWatchReportsAndMerges)
{
    TempDir dir;
    dir.Write("main.pl", "sub main { 1 }");
    std::atomic<int> calls{0};
    watch::BackgroundWatch watch;
    std::string error;
    ASSERT_TRUE(watch.Start(dir.path(), "derure.mp3", [&] { ++calls; }, &error)) << error;

    watch::FolderChange change;
    EXPECT_FALSE(watch.Take(&change));
    dir.Write("derure.mp3", "mp3");
    std::this_thread::sleep_for(std::chrono::milliseconds(kSilenceMs));
    dir.Write("main.pl", "sub main { 2 }");
    std::this_thread::sleep_for(std::chrono::milliseconds(kSilenceMs));
    EXPECT_EQ(calls.load(), 2);
    ASSERT_TRUE(watch.Take(&change));
    EXPECT_TRUE(change.music);
    EXPECT_FALSE(watch.Take(&change));
    watch.Stop();  // returns although no event comes
}

}  // namespace

// The real player with a sync editor's stand-in on a real socket: the
// greeting and the track numbers (also for tracks made later and across a
// reload), keys arriving whole or in pieces, seeks and pauses checked through
// glGetSoundPos, the player's rows, saving and playing the files back, every
// malformed message, an editor that is not there yet or goes away, the
// transport keys, and recordings that take their tracks from the files.
#include "tests/support/Player.h"
#include "tests/support/SyncEditor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace testing_support;

namespace {

// A show that asks for the tracks `names` (and `later` ones at its 30th
// frame), plays the music and prints "v NAME=VALUE,VALUE... ..." (each track
// at each time of `times`) whenever that changes and "pos N" whenever the
// position does. ONCE in the environment: one frame only.
std::string Show(const std::string& names, const std::string& later = "", const std::string& times = "0")
{
    return R"(use strict; use warnings;
my @times = ()" + times + R"();
sub Values { my ($track) = @_; return join ',', map { sprintf '%.17g', $track->Value($_) } @times }
sub main {
    OpenGL::boot_OpenGL(); Sync::boot_Sync();
    my @names = ()" + names + R"();
    my @later = ()" + later + R"();
    my %t = map { ($_, Sync::Track($_)) } @names;
    OpenGL::glStartSound();
    my ($frame, $last, $lastpos) = (0, '', -1);
    for (;;) {
        OpenGL::glPumpEvents();
        if (++$frame == 30) { for my $n (@later) { $t{$n} = Sync::Track($n); push @names, $n } }
        my $pos = OpenGL::glGetSoundPos();
        my $line = join ' ', map { "$_=" . Values($t{$_}) } @names;
        if ($line ne $last) { print "v $line\n"; $last = $line }
        if ($pos != $lastpos) { print "pos $pos\n"; $lastpos = $pos }
        return 0 if $ENV{ONCE};
        OpenGL::SwapBuffers();
        select(undef, undef, undef, 0.01);
    }
}
)";
}

std::vector<std::string> Names(std::initializer_list<const char*> names) { return {names.begin(), names.end()}; }

// Waits until standard error holds text (count times).
bool WaitErr(LivePlayer& player, const std::string& text, double seconds, int count = 1)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int found = 0;
        for (std::size_t at = player.Err().find(text); at != std::string::npos; at = player.Err().find(text, at + 1))
            ++found;
        if (found >= count)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        player.Drain(0.05);
    }
}

// The last "pos" the show printed.
int LastPos(LivePlayer& player)
{
    player.Drain(0.05);
    const auto& lines = player.Lines();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->rfind("pos ", 0) == 0)
            return std::stoi(line->substr(4));
    return -1;
}

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

TEST(SyncEditorConnection, TrackNumbersKeysAndReconnect)
{
    SyncEditor editor;
    ShowDir dir(Show("'a', 'b'", "'c:x'"));
    // A track made while the editor is connected takes the editor's keys,
    // not its file's.
    dir.Write("sync_c-3Ax.track", std::string("\1\0\0\0\0\0\0\0\0\0\x10\x41\0", 13));  // row 0: 9.0
    LivePlayer player(dir, {"-w", "--editor=" + editor.Address()});
    ASSERT_TRUE(editor.WaitFor([](const SyncEditor::Seen& s) { return s.tracks == Names({"a", "b", "c:x"}); }))
        << player.Err();
    EXPECT_TRUE(editor.Now().greeted);
    EXPECT_GE(player.WaitForLine("v a=0 b=0 c:x=0", 10), 0);
    editor.Send(SyncEditor::SetKey(2, 0, 4.5f, 0));
    EXPECT_GE(player.WaitForLine("v a=0 b=0 c:x=4.5", 10), 0);
    // A message in pieces is no fault.
    editor.Send(SyncEditor::SetKey(0, 0, 1.25f, 1), 3);
    EXPECT_GE(player.WaitForLine("v a=1.25 b=0 c:x=4.5", 10), 0);
    // After a disconnect the keys stay; a new connection asks for every
    // track again, in the same order, and drops them.
    player.Drain(0.05);
    const std::size_t before = player.Lines().size();
    editor.Hangup();
    ASSERT_TRUE(WaitErr(player, "sync: editor at " + editor.Address() + " went away", 10)) << player.Err();
    ASSERT_TRUE(editor.WaitFor([](const SyncEditor::Seen& s) {
        return s.connection == 2 && s.tracks == Names({"a", "b", "c:x"});
    }));
    EXPECT_GE(player.WaitForLine("v a=0 b=0 c:x=0", 10, before), 0);
    EXPECT_TRUE(WaitErr(player, "sync: editor connected at " + editor.Address(), 5, 2));
    EXPECT_TRUE(player.Running());
}

TEST(SyncEditorConnection, PauseSeekAndThePlayersRows)
{
    SyncEditor editor;
    ShowDir dir(Show("'a'"));
    LivePlayer player(dir, {"-w", "--editor=" + editor.Address()});
    // Playing: the rows go out, each only when it changes.
    ASSERT_TRUE(editor.WaitFor([](const SyncEditor::Seen& s) { return s.rows.size() >= 5; })) << player.Err();
    editor.Send(SyncEditor::PauseMusic(true));
    Sleep(0.3);
    const int held = LastPos(player);
    const std::size_t rowsSent = editor.Now().rows.size();
    Sleep(0.5);
    EXPECT_EQ(LastPos(player), held);
    EXPECT_EQ(editor.Now().rows.size(), rowsSent);
    // Row 80 at 16 rows a second: 5000 ms; the position holds there.
    editor.Send(SyncEditor::SetRow(80));
    EXPECT_GE(player.WaitForLine("pos 5000", 10), 0);
    Sleep(0.3);
    EXPECT_EQ(LastPos(player), 5000);
    editor.Send(SyncEditor::PauseMusic(false));
    ASSERT_TRUE(editor.WaitFor([&](const SyncEditor::Seen& s) { return s.rows.size() >= rowsSent + 3; }));
    EXPECT_GT(LastPos(player), 5000);
    const auto rows = editor.Now().rows;
    EXPECT_GE(rows[rowsSent], 80u);
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_NE(rows[i], rows[i - 1]) << "row " << rows[i] << " sent twice in a row";
}

TEST(SyncEditorConnection, SavedTracksPlayBackWithoutEditor)
{
    SyncEditor editor;
    const std::string show = Show("'cam:dist', 'part/one'", "", "0, 93.75, 250, 437.5, 1000");
    ShowDir dir(show);
    std::string values;
    {
        LivePlayer player(dir, {"-w", "--editor=" + editor.Address()});
        ASSERT_TRUE(editor.WaitFor([](const SyncEditor::Seen& s) { return s.tracks.size() == 2; })) << player.Err();
        editor.Send(SyncEditor::SetKey(0, 0, 0.1f, 1) + SyncEditor::SetKey(0, 4, 0.7f, 2) +
                    SyncEditor::SetKey(0, 8, -2.0f, 3) + SyncEditor::SetKey(0, 12, 5.0f, 0) +
                    SyncEditor::SetKey(1, 2, 1.5f, 0) + SyncEditor::SetKey(1, 9, 1.0f, 0) +
                    SyncEditor::DeleteKey(1, 9) + SyncEditor::SaveTracks());
        ASSERT_TRUE(WaitErr(player, "sync: saved 2 tracks\n", 10)) << player.Err();
        player.Drain(0.2);
        for (const std::string& line : player.Lines())
            if (line.rfind("v ", 0) == 0)
                values = line;
    }
    // Row 1.5 between 0.1f and 0.7f, linear: the protocol's own number.
    EXPECT_NE(values.find("cam:dist=0.10000000149011612,0.32499998807907104,"), std::string::npos) << values;
    RunOptions once;
    once.env["ONCE"] = "1";
    once.args = {"-w"};
    const RunResult fresh = RunPlayer(dir, once);
    EXPECT_NE(fresh.out.find(values + "\n"), std::string::npos) << fresh.out << "\nwanted " << values;
    EXPECT_EQ(fresh.err, "");
}

TEST(SyncEditorFaults, EachMalformedMessageDisconnects)
{
    SyncEditor editor;
    ShowDir dir(Show("'a'"));
    LivePlayer player(dir, {"-w", "--editor=" + editor.Address()});
    struct Case {
        const char* what;
        std::string bytes;
        const char* line;
    } cases[] = {
        {"unknown command", std::string(1, '\x09'), "sent an unknown command 9; disconnected"},
        {"no such track", SyncEditor::SetKey(5, 0, 1.0f, 0), "a key for track 5, which does not exist"},
        {"type above 3", SyncEditor::SetKey(0, 0, 1.0f, 4), "a key of type 4, above 3"},
        {"missing key", SyncEditor::DeleteKey(0, 77), "deleted a key that is not there (track 0, row 77)"},
        {"cut off", SyncEditor::SetKey(0, 0, 1.0f, 0).substr(0, 6), "a message cut off by the connection closing"},
    };
    int connection = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(editor.WaitFor([&](const SyncEditor::Seen& s) { return s.connection == connection && s.tracks.size() == 1; }));
        editor.Send(c.bytes);
        if (std::string(c.what) == "cut off") {
            Sleep(0.1);
            editor.Hangup();
        }
        EXPECT_TRUE(WaitErr(player, c.line, 10)) << player.Err();
        EXPECT_TRUE(editor.WaitFor([&](const SyncEditor::Seen& s) { return s.connection == connection + 1; }, 10));
        ++connection;
    }
    EXPECT_TRUE(WaitErr(player, "sync: editor connected at", 10, connection));
    EXPECT_TRUE(player.Running());
    // One line each, nothing about the show.
    EXPECT_EQ(std::count(player.Err().begin(), player.Err().end(), '\n'), 5 + 6) << player.Err();
}

TEST(SyncEditorFaults, NoEditorYetThenOneThatIsKilled)
{
    int port;
    {
        SyncEditor gone;
        port = gone.port();
    }
    ShowDir dir(Show("'a'"));
    LivePlayer player(dir, {"-w", "--editor=127.0.0.1:" + std::to_string(port)});
    const std::string address = "127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(WaitErr(player, "sync: no editor at " + address + " (Connection refused)", 10)) << player.Err();
    EXPECT_GE(player.WaitForLine("pos ", 10), 0);
    Sleep(1.5);
    {
        SyncEditor editor(port);
        EXPECT_TRUE(editor.WaitFor([](const SyncEditor::Seen& s) { return s.tracks.size() == 1; }, 10));
        EXPECT_TRUE(WaitErr(player, "sync: editor connected at " + address, 5));
    }
    EXPECT_TRUE(WaitErr(player, "sync: editor at " + address + " went away", 10)) << player.Err();
    EXPECT_TRUE(player.Running());
    // The failed attempts said so once.
    const std::string& err = player.Err();
    EXPECT_EQ(err.find("no editor"), err.rfind("no editor")) << err;
}

TEST(SyncEditorReload, AReloadKeepsNumbersAndKeys)
{
    SyncEditor editor;
    ShowDir dir(Show("'a', 'b'"));
    LivePlayer player(dir, {"-w", "--watch", "--editor=" + editor.Address()});
    ASSERT_TRUE(editor.WaitFor([](const SyncEditor::Seen& s) { return s.tracks.size() == 2; })) << player.Err();
    editor.Send(SyncEditor::SetKey(1, 0, 2.0f, 0));
    ASSERT_GE(player.WaitForLine("v a=0 b=2", 10), 0);
    // Held by the editor: the new script's glStartSound does not start it.
    editor.Send(SyncEditor::PauseMusic(true));
    Sleep(0.2);
    dir.Write("main.pl", Show("'b', 'd'"));
    EXPECT_GE(player.WaitForLine("v b=2 d=0", 15), 0) << player.Err();
    const int held = LastPos(player);
    Sleep(0.4);
    EXPECT_EQ(LastPos(player), held);
    EXPECT_TRUE(editor.WaitFor([](const SyncEditor::Seen& s) { return s.tracks == Names({"a", "b", "d"}); }));
    EXPECT_EQ(editor.Now().connection, 1);
    // Numbers still hold: track 2 is the new one.
    editor.Send(SyncEditor::SetKey(2, 0, 3.0f, 0));
    EXPECT_GE(player.WaitForLine("v b=2 d=3", 10), 0);
}

TEST(SyncEditorTransport, F2HoldsTheMusicAndF3F4Loop)
{
    ShowDir dir(Show("'a'"));
    LivePlayer player(dir, {"-w", "--editor=127.0.0.1:1"});
    ASSERT_GE(player.WaitForLine("pos ", 10), 0);
    Sleep(0.3);
    player.PressKey("F2");
    Sleep(0.3);
    const int held = LastPos(player);
    Sleep(0.4);
    EXPECT_EQ(LastPos(player), held);
    player.PressKey("F2");
    Sleep(0.3);
    EXPECT_GT(LastPos(player), held);
    // A loop of about half a second: the position keeps coming back.
    player.Drain(0.05);
    const std::size_t from = player.Lines().size();
    const int before = LastPos(player);
    player.PressKey("F3");
    Sleep(0.3);
    player.PressKey("F4");
    player.Drain(1.5);
    const auto& lines = player.Lines();
    int backs = 0, previous = -1;
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (lines[i].rfind("pos ", 0) != 0)
            continue;
        const int pos = std::stoi(lines[i].substr(4));
        if (previous >= 0 && pos < previous - 200) {
            ++backs;
            EXPECT_GE(pos, before);
        }
        previous = pos;
    }
    EXPECT_GE(backs, 2);
}

TEST(SyncEditorRecord, RecordingsTakeTheFiles)
{
    RunOptions refused;
    refused.args = {"--record", "out.mkv", "--editor"};
    const RunResult run = RunScript(Show("'a'"), refused);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "showplayer: --editor cannot be used with --record (a recording takes its sync tracks from the files)\n");

    ShowDir dir(Show("'a'"));
    dir.Write("sync_a.track", std::string("\1\0\0\0\0\0\0\0\0\0\xe0\x40\0", 13));  // row 0: 7.0
    RunOptions record;
    record.args = {"-x", "160", "--record", "out.mkv", "--duration", "0.1"};
    const RunResult recorded = RunPlayer(dir, record);
    EXPECT_EQ(recorded.status, 0) << recorded.err;
    EXPECT_NE(recorded.out.find("v a=7\n"), std::string::npos) << recorded.out;
}

}  // namespace

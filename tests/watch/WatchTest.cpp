// Watch mode through the real player on real files. Each test runs on an X
// server of its own whose screen is the player's window.
#include "tests/support/Display.h"
#include "tests/support/Pictures.h"
#include "tests/support/Player.h"
#include "tools/Scene3ds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

namespace {

using namespace testing_support;

constexpr int kWidth = 800;
constexpr int kHeight = 600;
// Seconds to wait for something the player does within a fraction of one: a
// machine busy with other tests may be slow, never this slow.
constexpr double kPatience = 15;
// Seconds to go on watching for a second reload that must not come.
constexpr double kAfterglow = 0.6;

const std::vector<std::string> kWatching = {"-w", "--watch"};

// The number at the end of the player's line.
int Number(const LivePlayer& player, int line)
{
    const std::string& text = player.Lines()[static_cast<std::size_t>(line)];
    return std::atoi(text.c_str() + text.rfind(' ') + 1);
}

long CountLines(const LivePlayer& player, const std::string& prefix)
{
    const auto& lines = player.Lines();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// Waits until the screen satisfies the check (a frame takes a moment to get
// there after the line that announced it).
bool ScreenBecomes(const std::function<bool(const ScreenShot&)>& check)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kPatience);
    while (std::chrono::steady_clock::now() < deadline) {
        if (check(ScreenShot(kWidth, kHeight)))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool CentreIs(const ScreenShot& shot, const Rgba& colour) { return ColorNear(shot.At(kWidth / 2, kHeight / 2), colour, 8); }

// The error screen: its dark background in the corner, and text (pixels far
// from the background) in the top part.
bool ShowsError(const ScreenShot& shot)
{
    const Rgba background{41, 8, 8, 255};
    return ColorNear(shot.At(kWidth - 2, kHeight - 2), background, 4) &&
           shot.CountUnlike(background, 60, 0, 0, kWidth, kHeight / 3) > 200;
}

// Every way an editor saves reloads the show once: the old script's END block
// runs, then the new script goes on from the music position the old one read.
// A new picture in a subfolder reloads the show and is seen, new music heard.
TEST(Watch, EachSaveReloadsOnceWithTheMusicGoingOn)
{
    const struct {
        const char* name;
        std::function<void(const TempDir&, const std::string&)> save;
    } saves[] = {
        {"in place", [](const TempDir& d, const std::string& text) { d.Write("main.pl", text); }},
        {"new file renamed over",
         [](const TempDir& d, const std::string& text) {
             d.Write(".main.pl.new", text);
             std::filesystem::rename(d / ".main.pl.new", d / "main.pl");
         }},
        {"delete and create",
         [](const TempDir& d, const std::string& text) {
             std::filesystem::remove(d / "main.pl");
             d.Write("main.pl", text);
         }},
    };
    ShowDir dir(FillShow("v0", "pics/fill.bmp"));
    ASSERT_TRUE(WriteBmp(dir / "pics/fill.bmp", 16, 16, SolidPixels(16, 16, kRed)));
    LivePlayer player(dir, kWatching);
    ASSERT_GE(player.WaitForLine("first v0", kPatience), 0) << player.Err();
    EXPECT_TRUE(ScreenBecomes([](const ScreenShot& s) { return CentreIs(s, kRed); }));
    player.Drain(kAfterglow);
    int version = 0;
    for (const auto& s : saves) {
        SCOPED_TRACE(s.name);
        const std::string old = "v" + std::to_string(version), name = "v" + std::to_string(++version);
        s.save(dir, FillShow(name, "pics/fill.bmp"));
        const int first = player.WaitForLine("first " + name, kPatience);
        ASSERT_GE(first, 0) << player.Err();
        const int last = player.WaitForLine("last " + old, 0);
        ASSERT_GE(last, 0) << "the old script's END block did not run";
        EXPECT_LT(last, first);
        EXPECT_GT(Number(player, last), 0) << "the music did not play";
        EXPECT_GE(Number(player, first), Number(player, last));
        player.Drain(kAfterglow);
        EXPECT_EQ(CountLines(player, "first "), version + 1);
    }
    // A change while a run is torn down (here its own DESTROY touches a
    // file, then calls into the player) cuts nothing short, ends nothing and
    // belongs to the reload under way: the next script runs once.
    dir.Write("main.pl", FillShow("v4", "pics/fill.bmp") + R"(package Keeper;
sub DESTROY {
    open my $f, '>', 'touched' or die; close $f;
    for (1 .. 30) { OpenGL::glGetSoundPos(); select(undef, undef, undef, 0.01) }
    print "destroyed\n";
}
our $keeper = bless {}, 'Keeper';
)");
    ASSERT_GE(player.WaitForLine("first v4", kPatience), 0) << player.Err();
    dir.Write("main.pl", FillShow("v5", "pics/fill.bmp"));
    ASSERT_GE(player.WaitForLine("first v5", kPatience), 0) << player.Err();
    EXPECT_GE(player.WaitForLine("destroyed", 0), 0);
    player.Drain(kAfterglow);
    EXPECT_EQ(CountLines(player, "first v5"), 1);
    EXPECT_EQ(CountLines(player, "last v5"), 0);

    ASSERT_TRUE(WriteBmp(dir / "pics/fill.bmp", 16, 16, SolidPixels(16, 16, kGreen)));
    ASSERT_GE(player.WaitForLine("last v5", kPatience), 0) << player.Err();
    EXPECT_TRUE(ScreenBecomes([](const ScreenShot& s) { return CentreIs(s, kGreen); }));

    // New music is opened again: a position past the end of the shorter file
    // lands at the end of the file that is there now.
    dir.Copy(Fixture("mono22.mp3"), ".derure.mp3.new");
    std::filesystem::rename(dir / ".derure.mp3.new", dir / "derure.mp3");
    dir.Write("main.pl", "sub main { OpenGL::boot_OpenGL(); OpenGL::glSetSoundPos(30000);"
                         " print 'seek ', OpenGL::glGetSoundPos(), \"\\n\"; return 0 }");
    const int seek = player.WaitForLine("seek ", kPatience);
    ASSERT_GE(seek, 0) << player.Err();
    EXPECT_LE(Number(player, seek), 10000);
    EXPECT_EQ(player.WaitExit(kPatience), 0);
}

// An error shows in the window while the player (and its music) goes on; the
// next save runs the show again, also in a show folder made anew; Escape ends
// the player with status 1.
TEST(Watch, ErrorScreenUntilTheNextSave)
{
    ShowDir dir("sub main {\n    my $x = ;\n}\n");
    LivePlayer player(dir, kWatching);
    EXPECT_TRUE(ScreenBecomes(ShowsError)) << player.Err();
    player.Drain(0.2);
    EXPECT_NE(player.Err().find("syntax error at main.pl line 2"), std::string::npos) << player.Err();
    EXPECT_TRUE(player.Running());

    dir.Write("main.pl", FillShow("fixed"));
    ASSERT_GE(player.WaitForLine("first fixed", kPatience), 0) << player.Err();
    EXPECT_TRUE(ScreenBecomes([](const ScreenShot& s) { return CentreIs(s, kBlue); }));

    // The show folder deleted and made again (a checkout, an unpack): the
    // show runs from the new folder.
    std::filesystem::remove_all(dir.path());
    EXPECT_TRUE(ScreenBecomes(ShowsError));
    dir.Copy(Fixture("tone.mp3"), "derure.mp3");
    dir.Write("main.pl", FillShow("again"));
    ASSERT_GE(player.WaitForLine("first again", kPatience), 0) << player.Err();

    dir.Write("main.pl", FillShow("dying", "", "die \"no frame two\\n\";"));
    ASSERT_GE(player.WaitForLine("first dying", kPatience), 0) << player.Err();
    EXPECT_TRUE(ScreenBecomes(ShowsError));
    player.Drain(0.2);
    EXPECT_NE(player.Err().find("no frame two"), std::string::npos) << player.Err();
    player.PressKey("Escape");
    EXPECT_EQ(player.WaitExit(kPatience), 1);
}

// The old script's GL objects, error handlers and END blocks are gone after a
// reload, and so are its current folder and standard output. The names of GL objects come from a preloaded library that watches
// the player's glGenTextures and glGenLists and tells, at each swap, which of
// those names GL still knows.
TEST(Watch, OldScriptsObjectsAndHandlersAreGoneAfterAReload)
{
    std::string scene, error;
    ASSERT_TRUE(scene3ds::BuildScene("camera C pos 0 -20 0 target 0 0 0\nlight L pos 0 -20 0\n"
                                     "material W texture wood.bmp\nbox B 2 material W uv\nobject B\n",
                                     &scene, &error))
        << error;
    ShowDir dir(R"(
sub main {
    OpenGL::boot_OpenGL(); Image::boot_Image(); Model::boot_Model(); BalTrap::boot_BalTrap();
    InkStain::boot_InkStain();
    my @objects = (Image->new, Image->new, Model->new, BalTrap->new, InkStain->new);
    $objects[0]->SetParams({image => 'images/wood.bmp', size => 1, alpha => 1});
    $objects[1]->SetParams({imagedata => "\xff" x 16, width => 2, height => 2, size => 1, alpha => 1});
    $objects[2]->SetParams({fname => 'models/box.3ds', fps => 25});
    $objects[3]->SetParams({bal => 'images/wood.bmp', zoom => 1, trap_alpha => 1});
    $objects[4]->SetParams({frontimage => 'images/wood.bmp', stainsize => 1, openangle => 30});
    for (my $frame = 0; ; ++$frame) {
        OpenGL::glPumpEvents();
        $_->Render(10 * $frame) for @objects;
        OpenGL::SwapBuffers();
        print "drawn\n" if $frame == 2;
        select(undef, undef, undef, 0.01);
    }
}
)");
    dir.Write("models/box.3ds", scene);
    ASSERT_TRUE(WriteBmp(dir / "images/wood.bmp", 8, 8, QuadrantPixels(8, 8)));
    const char* preload = std::getenv("LD_PRELOAD");
    const char* asan = std::getenv("ASAN_OPTIONS");
    RunOptions options;
    options.env = {{"LD_PRELOAD", std::string(preload ? preload : "") + " " + GL_NAMES_LIBRARY},
                   {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};
    LivePlayer player(dir, kWatching, options);
    const int drawn = player.WaitForLine("drawn", kPatience);
    ASSERT_GE(drawn, 0) << player.Err();
    // The last report before a line, from line `from` on.
    const auto report = [&](int from, int before) {
        std::string last;
        for (int i = from; i < before; ++i)
            if (player.Lines()[static_cast<std::size_t>(i)].rfind("gl-names ", 0) == 0)
                last = player.Lines()[static_cast<std::size_t>(i)];
        return last;
    };
    // Every kind of object made names, or the probe sees nothing.
    EXPECT_TRUE(std::regex_match(report(0, drawn), std::regex("gl-names textures( \\d+){4,} lists( \\d+){3,}")))
        << report(0, drawn);

    // The next script swaps before it makes anything: every name GL still
    // knows then is the old script's. It catches every error and never pumps
    // events, yet stops at its next call into the player.
    dir.Write("main.pl", R"(
$SIG{__DIE__} = sub { print "die handler\n" };
sub main {
    OpenGL::boot_OpenGL();
    for (my $frame = 0; ; ++$frame) {
        eval { eval { OpenGL::SwapBuffers(); 1 } or print "caught: $@"; 1 } or print "caught outside: $@";
        print "frame\n" if $frame == 0;
        select(undef, undef, undef, 0.01);
    }
}
END { print "end of the catcher\n"; chdir '/'; open STDOUT, '>', '/dev/null' }
)");
    const int first = player.WaitForLine("frame", kPatience);
    ASSERT_GE(first, 0) << player.Err();
    EXPECT_EQ(report(drawn, first), "gl-names textures lists");
    dir.Write("main.pl", "sub main { print \"next\\n\"; die \"at once\\n\" }");
    ASSERT_GE(player.WaitForLine("next", kPatience), 0) << player.Err();
    EXPECT_EQ(CountLines(player, "caught"), 0);
    EXPECT_EQ(CountLines(player, "die handler"), 0);
    EXPECT_EQ(CountLines(player, "end of the catcher"), 1);

    // The close button ends the error screen with status 1.
    ASSERT_TRUE(ScreenBecomes(ShowsError)) << player.Err();
    player.Close();
    EXPECT_EQ(player.WaitExit(kPatience), 1);
}

// F1 lays the overlay over the top-left corner of the show and takes it away
// again, in watch mode only.
TEST(Watch, F1TogglesTheOverlay)
{
    const auto cornerIsShow = [](const ScreenShot& s) { return s.CountUnlike(kBlue, 8, 0, 0, 200, 40) == 0; };
    for (const bool watching : {true, false}) {
        SCOPED_TRACE(watching ? "watching" : "playing");
        ShowDir dir(FillShow("blue"));
        LivePlayer player(dir, watching ? kWatching : std::vector<std::string>{"-w"});
        ASSERT_GE(player.WaitForLine("first blue", kPatience), 0) << player.Err();
        ASSERT_TRUE(ScreenBecomes(cornerIsShow));
        player.PressKey("F1");
        if (watching) {
            EXPECT_TRUE(ScreenBecomes([&](const ScreenShot& s) { return !cornerIsShow(s) && CentreIs(s, kBlue); }));
            player.PressKey("F1");
            EXPECT_TRUE(ScreenBecomes(cornerIsShow));
        } else {
            player.Drain(kAfterglow);
            EXPECT_TRUE(cornerIsShow(ScreenShot(kWidth, kHeight)));
        }
        player.PressKey("Escape");
        EXPECT_EQ(player.WaitExit(kPatience), 0);
    }
}

}  // namespace

// Start-up sequence through the real binary: the resolution line, the stage
// messages, the script host's contract with main.pl and the exit status.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <signal.h>

using namespace testing_support;

namespace {

// Where the player under test says the bundled show is: the build's show
// folder beside it, or (a build without the show) the installed one.
std::string BundledShow()
{
    const std::filesystem::path built = std::filesystem::path(SHOWPLAYER_BINARY).parent_path() / "show";
    if (std::filesystem::exists(built / "main.pl"))
        return std::filesystem::canonical(built).string();
    return SHOWPLAYER_INSTALLED_SHOW;
}

}  // namespace

// The options end to end (the line printed before any SDL call and the
// diagnostics), and the video stage: without any display or with a mode the
// display refuses it fails cleanly, with nothing but its line on standard
// output (no text-mode driver writing terminal codes), no script and status 1.
TEST(StartupStages, ResolutionLineDiagnosticsAndVideo)
{
    const std::string failed = "SDL is GORT!\n";
    const struct {
        std::vector<std::string> args;
        const char* env;  // "POSIXLY_CORRECT", "no display" or ""
        std::string out;
        const char* err;
    } cases[] = {
        {{"-w", "-y", "600"}, "", "using resolution 801x600 32bpp\n", ""},
        {{"-w", "-q", "-x"}, "", "using resolution 800x600 32bpp\n",
         "showplayer: illegal option -- q\nshowplayer: option requires an argument -- x\n"},
        {{"show", "-w"}, "POSIXLY_CORRECT", "using resolution 800x600 32bpp [fs]\n", ""},
        {{"-w"}, "no display", "using resolution 800x600 32bpp\n" + failed, ""},
        {{"-f"}, "no display", "using resolution 800x600 32bpp [fs]\n" + failed, ""},
        {{"-w", "-x", "0", "-b", "-8"}, "", "using resolution 0x0 -8bpp\n" + failed, ""},
    };
    for (const auto& c : cases) {
        RunOptions options;
        options.args = c.args;
        options.unsetEnv = {"POSIXLY_CORRECT"};
        if (c.env == std::string("POSIXLY_CORRECT"))
            options.env["POSIXLY_CORRECT"] = "1";
        else if (c.env == std::string("no display"))
            options.unsetEnv = {"DISPLAY", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY"};
        // The show's top level leaves a file behind: the script stage ran.
        ShowDir dir("open my $f, '>', 'script-ran' or die; close $f;\nsub main { return 0; }\n");
        const RunResult run = RunPlayer(dir, options);
        const bool started = c.out.find(failed) == std::string::npos;
        SCOPED_TRACE(::testing::PrintToString(c.args) + " " + c.env);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.status, started ? 0 : 1) << run.err;
        EXPECT_EQ(std::filesystem::exists(dir / "script-ran"), started);
    }
}

// main gets width, height and a reference to 1, never the depth; the script
// sees main.pl as its name and no arguments whatever the command line held.
// Perl's prints and the player's own lines keep their order on a pipe, and END
// blocks run after main has returned.
TEST(StartupScript, MainsArgumentsAndOutputOrder)
{
    const char* show = R"(use strict; use warnings;
BEGIN { print "begin\n" }
print "top $0 ", scalar(@ARGV), "\n";
sub main {
    my ($w, $h, $ready) = @_;
    print "main ", scalar(@_), " $w $h ", ref($ready), " $$ready ", (defined(blessed($ready)) ? 'blessed' : 'plain'), "\n";
    print "driver ", ($ENV{SDL_VIDEODRIVER} // 'unset'), "\n";
    print "partial ";
    print "line\n";
    $main::returned = 1;
    return 5;
}
sub blessed { my $r = shift; ref($r) =~ /^(SCALAR|ARRAY|HASH|CODE|REF)$/ ? undef : ref($r) }
END { print "end ", ($main::returned // 0), "\n"; print "last words" }
)";
    RunOptions options;
    options.args = {"-w", "-x", "1024", "-b", "24", "extra", "words"};
    options.unsetEnv = {"SDL_VIDEODRIVER"};  // the player picks X11 for itself, unseen by the script
    const RunResult run = RunScript(show, options);
    EXPECT_EQ(run.out,
              "using resolution 1024x768 24bpp\n"
              "begin\n"
              "top main.pl 0\n"
              "main 3 1024 768 SCALAR 1 plain\n"
              "driver unset\n"
              "partial line\n"
              "end 1\n"
              "last words");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 5);
}

// The exit status is main's result, low eight bits, or exit's. Errors are the
// runtime's: its message on standard error, a non-zero status, and what the
// script had printed still comes out.
TEST(StartupScript, ExitStatusAndErrors)
{
    const struct {
        const char* script;  // null: no main.pl at all
        const char* out;     // after the resolution line
        const char* err;
        int status = -1;     // -1: any but 0
    } cases[] = {
        {"sub main { return 259; } 1;", "", "", 3},
        {"sub main { return -1; } 1;", "", "", 255},
        {"sub main { return '7.9'; } 1;", "", "", 7},
        {"sub main { return undef; } 1;", "", "", 0},
        {"sub main { exit 9; }", "", "", 9},
        {nullptr, "", "Can't open perl script \"main.pl\": No such file or directory\n"
                      "Undefined subroutine &main::main called.\n"
                      "showplayer: no main.pl here: run the player inside a show folder (main.pl and its music "
                      "derure.mp3), such as the bundled show in BUNDLED\n"},
        {"print \"before\\n\";\nsub main {\n  print \"in main\";\n  die \"broken show\";\n}\nEND { print \"end\\n\" }",
         "before\nin main", "broken show at main.pl line 4.\n"},
        {"sub main {\n  my $x = ;\n}\n", "",
         "syntax error at main.pl line 2, near \"= ;\"\nExecution of main.pl aborted due to compilation errors.\n"
         "Undefined subroutine &main::main called at main.pl line 3.\n"},
    };
    for (const auto& c : cases) {
        ShowDir dir;
        dir.Copy(Fixture("tone.mp3"), "derure.mp3");
        if (c.script)
            dir.Write("main.pl", c.script);
        RunOptions options;
        options.args = {"-w"};
        const RunResult run = RunPlayer(dir, options);
        SCOPED_TRACE(c.script ? c.script : "no main.pl");
        EXPECT_EQ(run.out, std::string("using resolution 800x600 32bpp\n") + c.out);
        std::string err = c.err;
        const std::size_t bundled = err.find("BUNDLED");
        if (bundled != std::string::npos)
            err.replace(bundled, 7, BundledShow());
        EXPECT_EQ(run.err, err);
        EXPECT_TRUE(c.status < 0 ? run.status != 0 : run.status == c.status) << run.status;
        EXPECT_EQ(run.signal, 0);
    }
}

// --help and --version answer on standard output and end with status 0 before
// anything opens: no display is needed and the folder's script never runs.
// Whichever comes, --help wins; the short options around them still parse.
TEST(StartupStages, HelpAndVersionEndBeforeAnyWindow)
{
    const struct {
        std::vector<std::string> args;
        std::string first;  // the first line of standard output
        const char* err;
    } cases[] = {
        {{"--help"}, "Usage: showplayer [OPTION]...", ""},
        {{"--version"}, std::string("showplayer ") + SHOWPLAYER_VERSION, ""},
        {{"-q", "--version", "-x", "1024", "--help"}, "Usage: showplayer [OPTION]...", "showplayer: illegal option -- q\n"},
    };
    for (const auto& c : cases) {
        ShowDir dir("open my $f, '>', 'script-ran' or die; close $f;\nsub main { return 3; }\n");
        RunOptions options;
        options.args = c.args;
        options.unsetEnv = {"DISPLAY", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY"};
        const RunResult run = RunPlayer(dir, options);
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')), c.first);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.status, 0);
        EXPECT_FALSE(std::filesystem::exists(dir / "script-ran"));
        if (c.first.rfind("Usage", 0) == 0) {
            EXPECT_NE(run.out.find("\n  --record FILE "), std::string::npos) << run.out;
            EXPECT_NE(run.out.find("The bundled show is in " + BundledShow() + ";"), std::string::npos) << run.out;
        }
    }
}

// Ctrl-C and kill end a running show (and a sound stage that waits on its
// server) at once, by the signal, as they end any command; the window's close
// button ends it as `exit 0` would, with its END blocks, also from inside an
// eval.
TEST(StartupScript, SignalsAndTheCloseButtonEndTheShow)
{
    for (const int signal : {SIGTERM, SIGINT, 0}) {
        ShowDir dir(R"(
sub main {
    OpenGL::boot_OpenGL();
    OpenGL::glPumpEvents();
    print "ready\n";
    eval { for (1 .. 500) { OpenGL::glPumpEvents(); select(undef, undef, undef, 0.01); } };
    print "still running\n";
    return 3;
}
END { print "end\n" }
)");
        LivePlayer player(dir, {"-w"});
        ASSERT_GE(player.WaitForLine("ready", 15), 0) << player.Err();
        if (signal)
            kill(player.pid(), signal);
        else
            player.Close();
        EXPECT_EQ(player.WaitExit(15), signal ? 128 + signal : 0) << signal << ": " << player.Err();
        EXPECT_EQ(player.Signal(), signal);
        EXPECT_EQ(player.Out(), std::string("using resolution 800x600 32bpp\nready\n") + (signal ? "" : "end\n"));
    }

    // Ctrl-C also while the sound output starts, held up by a sound server
    // that takes the connection and never answers.
    ShowDir dir("sub main { print \"script\\n\"; 0 }");
    SilentServer server(dir / "pulse");
    ASSERT_TRUE(server.Listening());
    RunOptions options;
    options.env = {{"PULSE_SERVER", "unix:" + dir / "pulse"}};
    options.unsetEnv = {"SDL_AUDIODRIVER"};
    LivePlayer player(dir, {"-w"}, options);
    ASSERT_TRUE(server.WaitForClient(15)) << player.Err();
    kill(player.pid(), SIGINT);
    EXPECT_EQ(player.WaitExit(1.5), 128 + SIGINT) << player.Err();
}

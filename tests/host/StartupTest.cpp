// Start-up sequence through the real binary: the resolution line, the stage
// messages, the script host's contract with main.pl and the exit status.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace testing_support;

namespace {

// A show whose top level leaves a file behind, so a test can tell whether the
// script stage ran at all.
const char* kMarkingShow = R"(open my $f, '>', 'script-ran' or die; close $f;
sub main { return 0; }
1;
)";

bool Exists(const ShowDir& dir, const std::string& name)
{
    struct stat info;
    return stat((dir.path() + "/" + name).c_str(), &info) == 0;
}

struct MarkedRun {
    RunResult result;
    bool scriptRan;
};

MarkedRun RunMarkingShow(RunOptions options)
{
    ShowDir dir;
    dir.Write("main.pl", kMarkingShow);
    dir.Copy(Fixture("tone.mp3"), "derure.mp3");
    MarkedRun run;
    run.result = RunPlayer(dir, options);
    run.scriptRan = Exists(dir, "script-ran");
    return run;
}

}  // namespace

// The options end to end: the line printed before any SDL call, the
// diagnostics, and a successful start (the script ran, status from main).
TEST(StartupOptions, ResolutionLineAndDiagnostics)
{
    struct Case {
        std::vector<std::string> args;
        bool posixlyCorrect;
        const char* line;
        const char* err;
    } cases[] = {
        {{"-w", "-y", "600"}, false, "using resolution 801x600 32bpp\n", ""},
        {{"-w", "-q", "-x"}, false, "using resolution 800x600 32bpp\n",
         "showplayer: illegal option -- q\nshowplayer: option requires an argument -- x\n"},
        {{"show", "-w"}, true, "using resolution 800x600 32bpp [fs]\n", ""},
    };
    for (const Case& c : cases) {
        RunOptions options;
        options.args = c.args;
        if (c.posixlyCorrect)
            options.env["POSIXLY_CORRECT"] = "1";
        else
            options.unsetEnv.push_back("POSIXLY_CORRECT");
        const MarkedRun run = RunMarkingShow(options);
        std::string what;
        for (const auto& a : c.args)
            what += a + " ";
        EXPECT_EQ(run.result.out, c.line) << what;
        EXPECT_EQ(run.result.err, c.err) << what;
        EXPECT_EQ(run.result.status, 0) << what << run.result.err;
        EXPECT_TRUE(run.scriptRan) << what;
    }
}

// Without any display the video stage fails cleanly: nothing but the two
// lines on standard output (no text-mode driver writing terminal codes), no
// sound, no script, status 1.
TEST(StartupStages, NoDisplay)
{
    for (const char* mode : {"-w", "-f"}) {
        RunOptions options;
        options.args = {mode};
        options.unsetEnv = {"DISPLAY", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY"};
        const MarkedRun run = RunMarkingShow(options);
        const std::string line = std::string("using resolution 800x600 32bpp") + (mode[1] == 'f' ? " [fs]" : "");
        EXPECT_EQ(run.result.out, line + "\nSDL is GORT!\n") << mode;
        EXPECT_EQ(run.result.err, "") << mode;
        EXPECT_EQ(run.result.status, 1) << mode;
        EXPECT_FALSE(run.scriptRan) << mode;
    }
}

// A video mode that the display refuses even without multisampling.
TEST(StartupStages, RefusedVideoMode)
{
    RunOptions options;
    options.args = {"-w", "-x", "0", "-b", "-8"};
    const MarkedRun run = RunMarkingShow(options);
    EXPECT_EQ(run.result.out, "using resolution 0x0 -8bpp\nSDL is GORT!\n");
    EXPECT_EQ(run.result.status, 1);
    EXPECT_FALSE(run.scriptRan);
}

TEST(StartupScript, ExitStatusIsMainsResultLowEightBits)
{
    struct Case { const char* value; int status; } cases[] = {
        {"259", 3}, {"-1", 255}, {"'7.9'", 7}, {"undef", 0},
    };
    for (const auto& c : cases) {
        const RunResult run = RunScript(std::string("sub main { return ") + c.value + "; } 1;");
        EXPECT_EQ(run.status, c.status) << c.value << "\n" << run.err;
        EXPECT_EQ(run.out, "using resolution 800x600 32bpp\n") << c.value;
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

// Errors are the runtime's: its message on standard error, a non-zero status,
// and what the script had printed still comes out.
TEST(StartupScript, ScriptErrors)
{
    {
        ShowDir dir;  // no main.pl at all
        dir.Copy(Fixture("tone.mp3"), "derure.mp3");
        RunOptions options;
        options.args = {"-w"};
        const RunResult run = RunPlayer(dir, options);
        EXPECT_EQ(run.out, "using resolution 800x600 32bpp\n");
        EXPECT_EQ(run.err,
                  "Can't open perl script \"main.pl\": No such file or directory\n"
                  "Undefined subroutine &main::main called.\n");
        EXPECT_NE(run.status, 0);
        EXPECT_EQ(run.signal, 0);
    }
    {
        const RunResult run = RunScript("print \"before\\n\";\nsub main {\n  print \"in main\";\n  die \"broken show\";\n}\nEND { print \"end\\n\" }\n");
        EXPECT_EQ(run.out, "using resolution 800x600 32bpp\nbefore\nin main");
        EXPECT_EQ(run.err, "broken show at main.pl line 4.\n");
        EXPECT_NE(run.status, 0);
        EXPECT_EQ(run.signal, 0);
    }
    {
        const RunResult run = RunScript("sub main {\n  my $x = ;\n}\n");
        EXPECT_NE(run.err.find("syntax error at main.pl line 2"), std::string::npos) << run.err;
        EXPECT_NE(run.status, 0);
    }
    {
        const RunResult run = RunScript("sub main { exit 9; }\n");
        EXPECT_EQ(run.status, 9);
    }
}

// Ctrl-C and kill end a running show at once, by the signal, as they end any
// command; the window's close button ends it as `exit 0` would, with its END
// blocks, also from inside an eval.
TEST(StartupScript, SignalsAndTheCloseButtonEndTheShow)
{
    const struct {
        const char* action;  // Perl, run while the show pumps events
        int signal;
        const char* out;
    } cases[] = {
        {"kill 'TERM', $$", SIGTERM, "using resolution 800x600 32bpp\n"},
        {"kill 'INT', $$", SIGINT, "using resolution 800x600 32bpp\n"},
        {"system($ENV{CLOSE_WINDOW}, $$) == 0 or die 'no close request sent'", 0,
         "using resolution 800x600 32bpp\nend\n"},
    };
    for (const auto& c : cases) {
        RunOptions options;
        options.env["CLOSE_WINDOW"] = CLOSE_WINDOW_TOOL;
        const RunResult run = RunScript(std::string(R"(
sub main {
    OpenGL::boot_OpenGL();
    OpenGL::glPumpEvents();
    )") + c.action + R"(;
    eval { for (1 .. 300) { OpenGL::glPumpEvents(); select(undef, undef, undef, 0.01); } };
    print "still running\n";
    return 3;
}
END { print "end\n" }
)",
                                        options);
        EXPECT_EQ(run.signal, c.signal) << c.action << ": " << run.err;
        EXPECT_EQ(run.status, c.signal ? 128 + c.signal : 0) << c.action << ": " << run.err;
        EXPECT_EQ(run.out, c.out) << c.action;
    }
}

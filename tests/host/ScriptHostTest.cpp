// The script host in this process: runs one after another against one show
// context, each with its own interpreter and its own effect objects, and the
// ways a run can end short of main's return.
// gtest and the test helpers before perl.h, whose macros clash with them.
#include <gtest/gtest.h>

#include "tests/support/Player.h"

#include "host/LiveFrontEnd.h"
#include "host/ScriptHost.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TEST(ScriptHostRuns, EachRunHasItsOwnInterpreterAndObjects)
{
    int argc = 0;
    char** argv = nullptr;
    char** env = nullptr;
    host::ScriptRuntime runtime(&argc, &argv, &env);
    testing_support::ShowDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    show::Context context;
    context.width = 320;
    context.height = 240;
    context.windowReady = 1;
    context.frontEnd = std::make_unique<host::LiveFrontEnd>();
    // Runs main.pl (none when script is null) once; what it printed goes to *out.
    const auto Run = [&](const char* script, std::string* out, const host::RunRules& rules = {}) {
        if (script)
            dir.Write("main.pl", script);
        else
            std::filesystem::remove(dir / "main.pl");
        testing::internal::CaptureStdout();
        const host::RunResult result = host::RunScript(context, rules);
        *out = testing::internal::GetCapturedStdout();
        return result;
    };
    const char* show = R"(Image::boot_Image();
our @made = (Image->new, Image->new, Image->new);
our $runs++;
sub main { print "run $runs of ", scalar(@made), " at $_[0]x$_[1] ${$_[2]}\n"; return 40 + @made; }
END { print "end\n" }
)";
    for (int round = 0; round < 2; ++round) {
        std::string out;
        const host::RunResult run = Run(show, &out);
        EXPECT_EQ(run.end, host::RunEnd::Returned);
        EXPECT_EQ(run.status, 43);
        EXPECT_EQ(out, "run 1 of 3 at 320x240 1\nend\n") << "round " << round;
        EXPECT_EQ(context.effects.Count(), 0u) << "round " << round;
    }

    // An error in main, when it may not end the process and is not reported:
    // the run ends with Perl's status and its END blocks.
    host::RunRules keepGoing;
    keepGoing.exitEndsProcess = false;
    std::string out;
    const host::RunResult died =
        Run("sub main { $! = 0; die 'broken'; return 1 } END { print \"end\\n\" }", &out, keepGoing);
    EXPECT_EQ(died.end, host::RunEnd::Exited);
    EXPECT_EQ(died.status, 255);
    EXPECT_EQ(out, "end\n");

    // An interrupt from another thread, with StopScript as the hook, stops
    // the script at its next binding call, through an eval.
    context.interruptHook = host::StopScript;
    context.interruptData = &context;
    std::thread requester([&context] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        context.RequestInterrupt();
    });
    const host::RunResult stopped = Run(R"(OpenGL::boot_OpenGL();
sub main { my $t0 = time; eval { OpenGL::glGetTime() while time - $t0 < 10 }; print "not stopped\n"; 2 }
END { print "end\n" }
)",
                                        &out);
    requester.join();
    EXPECT_EQ(stopped.end, host::RunEnd::Stopped);
    EXPECT_EQ(stopped.status, 0);
    EXPECT_EQ(out, "end\n");

    // Already requested: the script's top level stops, main is not called.
    context.RequestInterrupt();
    const host::RunResult early = Run(R"(OpenGL::boot_OpenGL(); OpenGL::glGetTime(); print "top\n";
sub main { print "main\n"; 2 }
END { print "end\n" }
)",
                                      &out);
    EXPECT_EQ(early.end, host::RunEnd::Stopped);
    EXPECT_EQ(out, "end\n");

    // Errors reported instead of ending the script: the run fails with
    // Perl's message; what does not end the script is no failure, and an
    // exit ends the run with its status and END blocks.
    host::RunRules report;
    report.exitEndsProcess = false;
    report.reportErrors = true;
    const struct {
        const char* script;  // null: no main.pl at all
        host::RunEnd end;
        const char* error;   // a part of the message
        const char* out;
        int status = 0;  // checked unless the run failed
    } errors[] = {
        {"sub main {\n    my $x = ;\n}\nEND { print \"end\\n\" }", host::RunEnd::Failed,
         "syntax error at main.pl line 2, near \"= ;\"", ""},
        {"use NoSuchModuleHere;\nsub main { 1 }", host::RunEnd::Failed,
         "BEGIN failed--compilation aborted at main.pl line 1.", ""},
        {nullptr, host::RunEnd::Failed, "Can't open perl script \"main.pl\": No such file", ""},
        {"print \"top\\n\";\ndie \"at the top\\n\";\nsub main { print \"main\\n\" }", host::RunEnd::Failed,
         "at the top\n", "top\n"},
        {"sub main { die { code => 3 } if $_[0]; 1 }\nEND { print \"end\\n\" }", host::RunEnd::Failed, "HASH(0x",
         "end\n"},
        {"sub main {\n    die \"in main\";\n}", host::RunEnd::Failed, "in main at main.pl line 2.\n", ""},
        {"eval { die \"caught\\n\" };\nsub main { eval { die \"caught too\\n\" }; print \"main\\n\"; 3 }",
         host::RunEnd::Returned, "", "main\n", 3},
        {"sub main { exit 7; 1 }\nEND { print \"end\\n\" }", host::RunEnd::Exited, "", "end\n", 7},
    };
    for (const auto& e : errors) {
        SCOPED_TRACE(e.script ? e.script : "no main.pl");
        const host::RunResult run = Run(e.script, &out, report);
        EXPECT_EQ(run.end, e.end);
        EXPECT_TRUE(run.end == host::RunEnd::Failed || run.status == e.status) << run.status;
        EXPECT_NE(run.error.find(e.error), std::string::npos) << run.error;
        EXPECT_EQ(run.error.empty(), e.end != host::RunEnd::Failed) << run.error;
        EXPECT_EQ(out, e.out);
    }

    // An interrupt during the teardown (every glGetTime asks for one here)
    // neither cuts an END block short nor ends the run: it stays pending.
    struct Interrupting : host::LiveFrontEnd {
        explicit Interrupting(show::Context& c) : context(c) {}
        std::uint32_t WallMs() override { return context.RequestInterrupt(), 0; }
        show::Context& context;
    };
    std::unique_ptr<show::FrontEnd> live = std::move(context.frontEnd);
    context.frontEnd = std::make_unique<Interrupting>(context);
    const host::RunResult ending = Run(R"(OpenGL::boot_OpenGL();
sub main { 2 }
END { OpenGL::glGetTime() for 1 .. 3; print "end\n" }
)",
                                       &out);
    EXPECT_EQ(ending.end, host::RunEnd::Returned);
    EXPECT_EQ(ending.status, 2);
    EXPECT_EQ(out, "end\n");
    EXPECT_TRUE(context.interruptRequested.exchange(false));
    context.frontEnd = std::move(live);

    // What a script changes of the process is given back after its run:
    // signal handlers, standard streams, environment, umask, current folder.
    context.folder = open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const auto Handler = [](int signalNumber) {
        struct sigaction action;
        sigaction(signalNumber, nullptr, &action);
        return action.sa_handler;
    };
    const auto Stream = [](int fd) {
        struct stat st;
        return fstat(fd, &st) == 0 ? st.st_ino : 0;
    };
    // (Handlers of the player's own, such as a recording's, and ignored
    // signals: Perl would leave its own or the default in their place.)
    struct sigaction own {};
    own.sa_handler = [](int) {};
    sigaction(SIGINT, &own, nullptr);
    signal(SIGUSR1, SIG_IGN);
    setenv("SHOWPLAYER_KEPT", "kept", 1);
    const mode_t mask = umask(022);
    const auto intHandler = Handler(SIGINT), usr1Handler = Handler(SIGUSR1);
    const auto stderrFile = Stream(2);
    dir.Write("main.pl", R"($SIG{INT} = sub { print "caught\n" }; $SIG{USR1} = 'DEFAULT';
$ENV{SHOWPLAYER_KEPT} = 'changed'; $ENV{SHOWPLAYER_NEW} = 1;
umask 0777;
chdir '/' or die;
open STDERR, '>', '/dev/null' or die;
sub main { 1 }
)");
    const host::RunResult changing = host::RunScript(context);
    EXPECT_EQ(changing.status, 1);
    EXPECT_EQ(Handler(SIGINT), intHandler);
    EXPECT_EQ(Handler(SIGUSR1), usr1Handler);
    EXPECT_EQ(Stream(2), stderrFile);
    EXPECT_STREQ(std::getenv("SHOWPLAYER_KEPT"), "kept");
    EXPECT_EQ(std::getenv("SHOWPLAYER_NEW"), nullptr);
    EXPECT_EQ(umask(mask), 022u);
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), dir.path()));
    close(context.folder);
    context.folder = -1;
    signal(SIGINT, SIG_DFL);
    signal(SIGUSR1, SIG_DFL);
    unsetenv("SHOWPLAYER_KEPT");
    std::filesystem::current_path(previous);
}

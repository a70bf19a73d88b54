// The OpenGL package through real scripts run by the player under Xvfb.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using namespace testing_support;

namespace {

// Output lines of the script, without the player's resolution line.
std::vector<std::string> ScriptLines(const RunResult& run)
{
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    std::string line;
    std::getline(in, line);  // using resolution ...
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// One value per "name=value" line.
std::string Value(const std::vector<std::string>& lines, const std::string& name)
{
    for (const auto& line : lines)
        if (line.compare(0, name.size() + 1, name + "=") == 0)
            return line.substr(name.size() + 1);
    return "<missing " + name + ">";
}

long Number(const std::vector<std::string>& lines, const std::string& name)
{
    return std::stol(Value(lines, name));
}

}  // namespace

// One show for the package's subs: they exist only after the boot sub, and a
// second boot redefines them and returns true again; results are the empty
// list (undef in scalar context) or one integer. glGetTime is epoch
// milliseconds wrapped to 32 signed bits, following a real 300 ms sleep.
// Seeks on the paused stream land exactly; on the playing stream the position
// continues from the target. Positions are converted by the integer rules.
TEST(OpenGL, PackageThroughAShow)
{
    const char* show = R"(use strict; use warnings; use Time::HiRes ();
my @names = qw(SwapBuffers glClear glStartSound glGetSoundPos glSetSoundPos glGetTime glPumpEvents
               glSpacePressed glEscPressed glRightPressed glLeftPressed);
sub defined_count { no strict 'refs'; scalar grep { defined &{"OpenGL::$_"} } @names }
print "before=", defined_count(), "\n";
eval { OpenGL::glGetTime() }; print "undefined=$@";
sub wrapped { my ($s, $us) = @_; my $ms = ($s * 1000 + int($us / 1000)) % 4294967296; $ms >= 2147483648 ? $ms - 4294967296 : $ms }
sub main {
    print "boot1=", (OpenGL::boot_OpenGL() ? 1 : 0), "\n";
    print "after=", defined_count(), "\n";
    my $first = \&OpenGL::glGetTime;
    my $boot2;
    { no warnings 'redefine'; $boot2 = OpenGL::boot_OpenGL('ignored', 'arguments'); }
    print "boot2=", ($boot2 ? 1 : 0), "\n";
    print "redefined=", ($first != \&OpenGL::glGetTime ? 1 : 0), "\n";
    my $swap = OpenGL::SwapBuffers();
    my @swap = OpenGL::SwapBuffers();
    print "swap=", (defined $swap ? 'defined' : 'undef'), " ", scalar(@swap), "\n";
    print "start=", OpenGL::glGetSoundPos(), "\n";

    my $expected = wrapped(Time::HiRes::gettimeofday());
    my $t0 = OpenGL::glGetTime();
    Time::HiRes::sleep(0.3);
    my $t1 = OpenGL::glGetTime();
    my $d = $t0 - $expected; $d += 4294967296 if $d < -2147483648; $d -= 4294967296 if $d > 2147483647;
    print "epoch_offset=$d\nslept=", $t1 - $t0, "\n";

    print "set=", OpenGL::glSetSoundPos(60000), "\n";
    print "paused60000=", OpenGL::glGetSoundPos(), "\n";
    Time::HiRes::sleep(0.1);
    print "stillpaused=", OpenGL::glGetSoundPos(), "\n";
    OpenGL::glSetSoundPos(1500.7);
    print "fraction=", OpenGL::glGetSoundPos(), "\n";
    OpenGL::glSetSoundPos("2000");
    print "string=", OpenGL::glGetSoundPos(), "\n";
    my @none = (OpenGL::glClear(), OpenGL::glPumpEvents(), OpenGL::glStartSound());
    print "empty=", scalar(@none), "\n";
    my @one = (OpenGL::glGetTime(), OpenGL::glGetSoundPos(), OpenGL::glSpacePressed());
    print "one=", scalar(@one), "\n";
    print "seekplaying=", OpenGL::glSetSoundPos(30000), "\n";
    $t0 = Time::HiRes::time();
    my $p0 = OpenGL::glGetSoundPos();
    Time::HiRes::sleep(0.25);
    my $p1 = OpenGL::glGetSoundPos();
    my $elapsed = int((Time::HiRes::time() - $t0) * 1000);
    print "playing0=$p0\nplaying1=$p1\nelapsed=$elapsed\n";
    return 0;
}
)";
    const RunResult run = RunScript(show);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto lines = ScriptLines(run);
    ASSERT_GE(lines.size(), 8u) << run.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 8),
              (std::vector<std::string>{"before=0",
                                        "undefined=Undefined subroutine &OpenGL::glGetTime called at main.pl line 6.",
                                        "boot1=1", "after=11", "boot2=1", "redefined=1", "swap=undef 0", "start=0"}));
    EXPECT_GE(Number(lines, "epoch_offset"), 0);
    EXPECT_LE(Number(lines, "epoch_offset"), 50);
    EXPECT_GE(Number(lines, "slept"), 299);
    EXPECT_LE(Number(lines, "slept"), 450);
    const struct { const char* name; const char* value; } values[] = {
        {"set", "1"}, {"paused60000", "60000"}, {"stillpaused", "60000"}, {"fraction", "1500"},
        {"string", "2000"}, {"empty", "0"}, {"one", "3"}, {"seekplaying", "1"}};
    for (const auto& v : values)
        EXPECT_EQ(Value(lines, v.name), v.value) << v.name;
    // Right after the seek the heard position is at the target; 250 ms later
    // it has moved on by about the time that passed (device latency aside).
    const long p0 = Number(lines, "playing0"), p1 = Number(lines, "playing1"), elapsed = Number(lines, "elapsed");
    EXPECT_GE(p0, 30000);
    EXPECT_LE(p0, 30050);
    EXPECT_GE(p1, p0 + 150);
    EXPECT_LE(p1, 30000 + elapsed + 50);
}

// Real key events on the test display (XTEST through xdotool), seen only after
// glPumpEvents. The script focuses its own window first; the test runs alone
// so that no other window takes the focus meanwhile.
TEST(OpenGLKeys, KeyStateAfterPumping)
{
    const char* show = R"(use strict; use warnings; use Time::HiRes ();
sub keys_now { join ",", OpenGL::glSpacePressed(), OpenGL::glEscPressed(), OpenGL::glLeftPressed(), OpenGL::glRightPressed() }
# Pumps until the key state differs from $from (or 2 s pass).
sub pump_until_not { my ($from) = @_; my $s;
    for (1 .. 200) { OpenGL::glPumpEvents(); $s = keys_now(); return $s if $s ne $from; Time::HiRes::sleep(0.01) }
    return $s }
sub main {
    OpenGL::boot_OpenGL();
    OpenGL::glClear(); OpenGL::SwapBuffers();
    my ($window) = split /\n/, `xdotool search --sync --pid $$`;
    system("xdotool windowfocus --sync $window") == 0 or die "cannot focus $window";
    OpenGL::glPumpEvents();
    print "idle=", keys_now(), "\n";
    for my $key (qw(space Escape Left Right KP_4 KP_6)) {
        system("xdotool keydown $key") == 0 or die;
        print "unpumped_$key=", keys_now(), "\n";
        my $down = pump_until_not("0,0,0,0");
        print "again_$key=", keys_now(), "\n";
        system("xdotool keyup $key") == 0 or die;
        my $up = pump_until_not($down);
        print "down_$key=$down\nup_$key=$up\n";
    }
    return 0;
}
)";
    const RunResult run = RunScript(show);
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    const auto lines = ScriptLines(run);
    EXPECT_EQ(Value(lines, "idle"), "0,0,0,0");
    const struct { const char* key; const char* down; } keys[] = {
        {"space", "1,0,0,0"}, {"Escape", "0,1,0,0"}, {"Left", "0,0,1,0"},
        {"Right", "0,0,0,1"}, {"KP_4", "0,0,1,0"},   {"KP_6", "0,0,0,1"},
    };
    for (const auto& k : keys) {
        const std::string key = k.key;
        EXPECT_EQ(Value(lines, "unpumped_" + key), "0,0,0,0") << key;  // nothing changes without a pump
        EXPECT_EQ(Value(lines, "down_" + key), k.down) << key;
        EXPECT_EQ(Value(lines, "again_" + key), k.down) << key;
        EXPECT_EQ(Value(lines, "up_" + key), "0,0,0,0") << key;
    }
}

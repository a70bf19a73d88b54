// The BalTrap and InkStain packages as a show sees them, through the real
// player binary: boot, new, SetParams and Render results, usage messages.
#include "tests/baltrap-inkstain/Support.h"
#include "tests/support/Player.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Line numbers matter: the usage messages carry them.
const char* kScript = R"(sub main {
    print((PKG::boot_PKG() ? "booted" : "not booted"), "\n");
    my $o = PKG->new;
    print ref($o), "\n";
    my $same = $o->SetParams({KEY => 'picture.bmp', NUMBER => 0.5});
    print(($same == $o ? "same" : "other"), "\n");
    print "render ", $o->Render(1000), " ", $o->Render(-5), "\n";
    OpenGL::boot_OpenGL();
    OpenGL::glClear();
    OpenGL::SwapBuffers();
    my $foo = PKG::new("Foo");
    print ref($foo), " ", PKG::Render($foo, 7), " ", ref(PKG::SetParams($foo, {})), "\n";
    eval { PKG::new() }; print $@;
    eval { PKG::new('PKG', 1) }; print $@;
    eval { $o->SetParams() }; print $@;
    eval { PKG::SetParams($o, {}, 1) }; print $@;
    eval { PKG::Render($o) }; print $@;
    eval { PKG::Render($o, 1, 2) }; print $@;
    return 3;
}
1;
)";

const char* kExpected = R"(booted
PKG
same
render 0 0
Foo 0 Foo
Usage: PKG::new(CLASS) at main.pl line 13.
Usage: PKG::new(CLASS) at main.pl line 14.
Usage: PKG::SetParams(THIS, sv) at main.pl line 15.
Usage: PKG::SetParams(THIS, sv) at main.pl line 16.
Usage: PKG::Render(THIS, msec) at main.pl line 17.
Usage: PKG::Render(THIS, msec) at main.pl line 18.
)";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Fill(const std::string& text, const std::string& package, const std::string& key,
                 const std::string& number)
{
    return ReplaceAll(ReplaceAll(ReplaceAll(text, "PKG", package), "KEY", key), "NUMBER", number);
}

void RunPackage(const std::string& package, const std::string& key, const std::string& number)
{
    ShowDir dir;
    dir.Write("main.pl", Fill(kScript, package, key, number));
    dir.Copy(Fixture("tone.mp3"), "derure.mp3");
    dir.Copy(baltrap_inkstain::WriteQuadrants("script.bmp", 16, 16, {255, 0, 0, 255}, {0, 255, 0, 255},
                                        {0, 0, 255, 255}, {255, 255, 0, 255}),
             "picture.bmp");
    RunOptions options;
    options.args = {"-w"};
    const RunResult run = RunPlayer(dir, options);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.out, "using resolution 800x600 32bpp\n" + Fill(kExpected, package, key, number)) << run.err;
}

TEST(BalTrapInkStainScript, BalTrapPackage)
{
    RunPackage("BalTrap", "bal", "zoom");
}

TEST(BalTrapInkStainScript, InkStainPackage)
{
    RunPackage("InkStain", "frontimage", "openangle");
}

}  // namespace

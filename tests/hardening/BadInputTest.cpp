// The bad-input table: what scripts, pictures and scenes can throw at the
// effect packages, each answered by a Perl error with a clear message or by
// the documented no-op, never by a crash, a GL error left behind, or a later
// frame that comes out wrong. Runs through an embedded interpreter with the
// player's own packages, drawing into a real GL window.
// gtest and the standard headers come before perl.h, whose macros clash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "effects/BalTrap.h"
#include "effects/Image.h"
#include "effects/InkStain.h"
#include "effects/Model.h"
#include "tests/support/GlWindow.h"
#include "tests/support/Player.h"
#include "tests/support/perl/EmbeddedPerl.h"
#include "tools/Scene3ds.h"

#include <GL/gl.h>
#include <SDL.h>

using testing_support::EmbeddedPerl;
using testing_support::Rgba;

namespace {

// A show folder holding a picture, a scene and a textured scene; the test
// runs with it as working directory, as a show does.
class BadInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testing_support::OpenGlWindow())
            GTEST_SKIP() << "no display";
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        previous_ = here;
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        WritePicture("pic.bmp");
        WriteScene("scene.3ds", kScene);
        perl = std::make_unique<EmbeddedPerl>();
        perl->Eval("Image::boot_Image(); Model::boot_Model(); BalTrap::boot_BalTrap(); InkStain::boot_InkStain();"
                   "$red = qq(\\xff\\0\\0\\xff) x 16; 1;");
        ASSERT_EQ(perl->error(), "");
        // The reference picture drawn after every bad call: a red square,
        // centred, half the view high.
        perl->Eval("$ref = Image->new; $ref->SetParams({imagedata => $red, width => 4, height => 4, size => 1,"
                   " alpha => 1, r => 1, g => 1, b => 1, alignh => 1, alignv => 1}); 1;");
        ASSERT_EQ(perl->error(), "");
    }
    void TearDown() override
    {
        perl.reset();
        if (!previous_.empty()) {
            EXPECT_EQ(chdir(previous_.c_str()), 0);
        }
    }

    static constexpr const char* kScene =
        "quad Q 2\nobject Q\ncamera C pos 0 -10 0 target 0 0 0\nlight L pos 0 -5 0\n";

    void WritePicture(const std::string& path)
    {
        SDL_Surface* s = SDL_CreateRGBSurface(0, 8, 8, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
        ASSERT_NE(s, nullptr);
        SDL_FillRect(s, nullptr, 0xFF00FF00);
        ASSERT_EQ(SDL_SaveBMP(s, path.c_str()), 0);
        SDL_FreeSurface(s);
    }
    void WriteScene(const std::string& path, const std::string& description)
    {
        std::string error;
        ASSERT_TRUE(scene3ds::WriteScene(description, path, &error)) << error;
    }
    void WriteBytes(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    // After whatever came before: no GL error is pending, and the next effect
    // of the frame draws as it should.
    void ExpectLaterFramesFine(const std::string& what)
    {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << what;
        testing_support::ClearFrame(0, 0, 0);
        EXPECT_EQ(perl->EvalInteger("$ref->Render(0)"), 0) << what;
        const Rgba corner = testing_support::ReadPixelNdc(-0.9, 0.9);
        EXPECT_TRUE(IsRedAtCentre()) << what << ": reference centre";
        EXPECT_TRUE(corner.r < 5 && corner.g < 5 && corner.b < 5)
            << what << ": reference corner " << testing_support::ToString(corner);
    }

    // Whether the centre of the view is red (the Image's 4 x 4 red picture).
    static bool IsRedAtCentre()
    {
        const Rgba c = testing_support::ReadPixelNdc(0.0, 0.0);
        return c.r > 250 && c.g < 5 && c.b < 5;
    }
    // Draws $i (an Image that must still hold the red picture) alone.
    void ExpectImageStillRed(const std::string& what)
    {
        testing_support::ClearFrame(0, 0, 0);
        perl->EvalInteger("$i->Render(0)");
        EXPECT_TRUE(IsRedAtCentre()) << what << ": picture lost, centre "
                                     << testing_support::ToString(testing_support::ReadPixelNdc(0.0, 0.0));
    }

    // Whether anything but black is on screen, on a coarse grid.
    bool DrewSomething()
    {
        for (double x = -0.95; x < 1.0; x += 0.1)
            for (double y = -0.95; y < 1.0; y += 0.1) {
                const Rgba c = testing_support::ReadPixelNdc(x, y);
                if (c.r > 8 || c.g > 8 || c.b > 8)
                    return true;
            }
        return false;
    }

    testing_support::ShowDir dir_;
    std::string previous_;
    std::unique_ptr<EmbeddedPerl> perl;
};

// The CRC of PNG chunks (type and data).
std::uint32_t Crc32(const std::string& bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

}  // namespace

// NaN, infinities and 1e300 (an infinity once narrowed to float) in every
// number key of every effect: the effect draws what GL makes of the
// non-finite transform (Mesa drops such vertices; nothing crashes), leaves no
// GL error, and the next effect of the frame draws correctly.
TEST_F(BadInput, NonFiniteNumbersInEveryKeyLeaveLaterFramesIntact)
{
    const struct {
        const char* package;
        const char* baseline;  // a hash that draws something
        std::vector<const char*> keys;
    } effects[] = {
        {"Image",
         "imagedata => $red, width => 4, height => 4, x => 0, y => 0, wsize => 1, hsize => 1, rot => 0,"
         " alpha => 1, r => 1, g => 1, b => 1",
         {"x", "y", "size", "wsize", "hsize", "rot", "alpha", "r", "g", "b", "width", "height", "alignh"}},
        {"BalTrap", "bal => 'pic.bmp', x => 0, y => 0, zoom => 1, turn => 0, trap_alpha => 1",
         {"x", "y", "zoom", "turn", "trap_alpha"}},
        {"InkStain", "frontimage => 'pic.bmp', openangle => 30, stainsize => 1", {"openangle", "stainsize"}},
        {"Model", "fname => 'scene.3ds', fps => 25, xoff => 0, yoff => 0, zoff => 0", {"xoff", "yoff", "zoff", "fps"}},
    };
    const char* const values[] = {"$inf - $inf", "$inf", "-$inf", "1e300", "-1e300"};
    for (const auto& e : effects) {
        const std::string package = e.package;
        perl->Eval("$o = " + package + "->new; $o->SetParams({" + e.baseline + "}); 1;");
        ASSERT_EQ(perl->error(), "") << package;
        for (const char* key : e.keys) {
            for (const char* value : values) {
                const std::string what = package + " " + key + " = " + value;
                perl->Eval("my $inf = 9**9**9; my %h = (" + std::string(e.baseline) + "); $h{'" + key + "'} = " +
                           value + "; $o->SetParams(\\%h); 1;");
                EXPECT_EQ(perl->error(), "") << what;
                testing_support::ClearFrame(0, 0, 0);
                for (int msec : {0, 40, 1000})
                    EXPECT_EQ(perl->EvalInteger("$o->Render(" + std::to_string(msec) + ")"), 0) << what;
                ExpectLaterFramesFine(what);
            }
        }
    }
}

// Reading a later key can run script code: an overloaded or tied value, or a
// warning handler (a number key holding text). That code deletes the string
// read before it, or drops the hash itself, and churns memory; the effect must
// still get what the hash held when it was read. (An ASan build reports a use
// after free.)
TEST_F(BadInput, ScriptCodeInAReaderCannotPullAStringAway)
{
    // $h: the hash under test, its strings built at run time. $pull deletes
    // $h->{KEY} (or, for '*', drops the hash) and fills memory with text.
    const std::string prelude =
        "use warnings; our $h = {}; our @junk;"
        " our $pull = sub { $_[0] eq '*' ? ($h = undef) : delete $h->{$_[0]}; @junk = map { 'x' x $_ } 1 .. 200; };"
        " { package Pull; use overload '0+' => sub { $main::pull->($_[0]{key}); $_[0]{value} },"
        " fallback => 1; sub TIESCALAR { bless $_[1] } sub FETCH { $main::pull->($_[0]{key}); $_[0]{value} } }";
    const struct {
        const char* package;
        const char* setup;  // fills $h
        std::function<bool(void*)> holds;  // whether the effect took the string
    } cases[] = {
        // The pixel string pulled away by an overloaded, a tied width, or
        // the whole hash dropped (the rest of $h is set by %image below).
        {"Image", "$h->{width} = bless {key => 'imagedata', value => 4}, 'Pull';", [](void*) { return IsRedAtCentre(); }},
        {"Image", "tie $h->{width}, 'Pull', {key => 'imagedata', value => 4};", [](void*) { return IsRedAtCentre(); }},
        {"Image", "$h->{width} = bless {key => '*', value => 4}, 'Pull';", [](void*) { return IsRedAtCentre(); }},
        {"Image", "$h->{image} = sprintf('%s', 'pic.bmp'); $h->{width} = bless {key => 'image', value => 1}, 'Pull';",
         [](void* o) { return static_cast<Image*>(o)->pictureWidth() == 8; }},
        {"Model", "$h->{fname} = sprintf('%s', 'scene.3ds'); $h->{fps} = bless {key => 'fname', value => 25}, 'Pull';",
         [](void* o) { return static_cast<Model*>(o)->scene != nullptr; }},
        {"BalTrap", "$h->{bal} = sprintf('%s', 'pic.bmp'); $h->{x} = 0.5; $h->{x} = 'text';"
                    " local $SIG{__WARN__} = sub { $pull->('bal') };",
         [](void* o) { return static_cast<BalTrap*>(o)->ballTexture.has_value(); }},
        {"InkStain", "$h->{frontimage} = sprintf('%s', 'pic.bmp'); $h->{openangle} = 0.5; $h->{openangle} = 'text';"
                     " local $SIG{__WARN__} = sub { $pull->('frontimage') };",
         [](void* o) { return static_cast<InkStain*>(o)->frontTexture.has_value(); }},
    };
    perl->Eval(prelude);
    ASSERT_EQ(perl->error(), "");
    for (const auto& c : cases) {
        const std::string package = c.package;
        const bool pixels = std::string(c.setup).find("value => 4") != std::string::npos;
        const std::string image = pixels ? "%$h = (imagedata => $red . '', height => 4, size => 1, alpha => 1, r => 1,"
                                           " g => 1, b => 1, alignh => 1, alignv => 1); " : "";
        const long address = perl->EvalInteger("use warnings; $h = {}; our $o = " + package + "->new; " + image + c.setup +
                                               " $o->SetParams($h) == $o or die 'no THIS'; $$o");
        ASSERT_EQ(perl->error(), "") << c.setup;
        testing_support::ClearFrame(0, 0, 0);
        EXPECT_EQ(perl->EvalInteger("$o->Render(0)"), 0) << c.setup;
        EXPECT_TRUE(c.holds(reinterpret_cast<void*>(address))) << c.setup;
        ExpectLaterFramesFine(c.setup);
    }
}

// Sizes GL cannot hold and pixel strings of the wrong length keep the
// current picture: no gigabyte buffer, no texture left empty.
TEST_F(BadInput, HugeSizesAndShortPixelDataKeepThePicture)
{
    perl->Eval("$i = Image->new; 1;");
    const struct {
        const char* what;
        const char* hash;
    } cases[] = {
        {"2^28 x 0 pixels", "imagedata => 'x' x 64, width => 2**28, height => 0"},
        {"0 x 2^28 pixels", "imagedata => 'x' x 64, width => 0, height => 2**28"},
        {"wider than GL holds", "imagedata => qq(\\0) x (4 * 40000), width => 40000, height => 1"},
        {"taller than GL holds", "imagedata => qq(\\0) x (4 * 40000), width => 1, height => 40000"},
        {"width 1e300", "imagedata => $red, width => 1e300, height => 4"},
        {"width -2^31", "imagedata => $red, width => -2**31, height => 4"},
        {"one byte short", "imagedata => substr($red, 1), width => 4, height => 4"},
        {"no data, size given", "width => 4, height => 4"},
        {"data is a reference", "imagedata => [1, 2, 3], width => 4, height => 4"},
    };
    for (const auto& c : cases) {
        perl->Eval("$i->SetParams({" + std::string(c.hash) + ", size => 1, alpha => 1, r => 1, g => 1, b => 1,"
                   " alignh => 1, alignv => 1}); 1;");
        EXPECT_EQ(perl->error(), "") << c.what;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << c.what;
    }
    // Still no picture after all of that: the first usable one is taken.
    perl->Eval("$i->SetParams({imagedata => $red, width => 4, height => 4, size => 1, alpha => 1, r => 1,"
               " alignh => 1, alignv => 1}); 1;");
    for (const auto& c : cases) {
        perl->Eval("$i->SetParams({" + std::string(c.hash) + ", size => 1, alpha => 1, r => 1, g => 1, b => 1,"
                   " alignh => 1, alignv => 1}); 1;");
        ExpectImageStillRed(c.what);
    }
    ExpectLaterFramesFine("after huge sizes");
}

// Image files that are cut short, corrupt or claim absurd sizes are refused
// like missing ones by every effect that loads pictures, and by the Model's
// texture search.
TEST_F(BadInput, BrokenPictureFilesAreRefusedLikeMissingOnes)
{
    std::ifstream in(SHOWPLAYER_FIXTURE_DIR "/hardening-64.png", std::ios::binary);
    const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(png.size(), 100u);
    std::string corrupt = png;
    for (std::size_t i = png.size() / 2; i < png.size() / 2 + 16; ++i)
        corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
    // IHDR claims 20000 x 20000, with its CRC made right so that the decoder
    // believes it.
    std::string huge = png;
    const char wide[4] = {0, 0, 0x4E, 0x20};
    huge.replace(16, 4, wide, 4);
    huge.replace(20, 4, wide, 4);
    const std::uint32_t crc = Crc32(huge.substr(12, 17));
    for (int i = 0; i < 4; ++i)
        huge[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    const struct {
        const char* name;
        std::string bytes;
    } files[] = {
        {"half.png", png.substr(0, png.size() / 2)},
        {"header.png", png.substr(0, 33)},
        {"signature.png", png.substr(0, 8)},
        {"empty.png", ""},
        {"corrupt.png", corrupt},
        {"huge.png", huge},
        {"text.png", "this is no picture\n"},
    };
    ASSERT_EQ(mkdir("models", 0755), 0);
    for (const auto& f : files) {
        WriteBytes(f.name, f.bytes);
        WriteBytes(std::string("models/") + f.name, f.bytes);
        const std::string name = f.name;
        perl->Eval("$i = Image->new; $i->SetParams({imagedata => $red, width => 4, height => 4, size => 1,"
                   " alpha => 1, r => 1, alignh => 1, alignv => 1});"
                   "$i->SetParams({image => '" + name + "', size => 1, alpha => 1, r => 1, alignh => 1, alignv => 1});"
                   "$b = BalTrap->new; $b->SetParams({bal => '" + name + "', zoom => 1, trap_alpha => 1});"
                   "$k = InkStain->new; $k->SetParams({frontimage => '" + name + "', openangle => 20, stainsize => 1});"
                   "1;");
        ASSERT_EQ(perl->error(), "") << name;
        WriteScene("textured.3ds", "material M texture " + name + "\nquad Q 2 material M uv\nobject Q\n"
                                   "camera C pos 0 -10 0 target 0 0 0\n");
        perl->Eval("$m = Model->new; $m->SetParams({fname => 'textured.3ds', fps => 25}); 1;");
        EXPECT_EQ(perl->EvalInteger("$m->Render(0) + $b->Render(0) + $k->Render(0)"), 0) << name;
        ExpectImageStillRed(name);
        ExpectLaterFramesFine(name);
    }
}

// Texture names with directories, "..", the longest name a 3DS file holds,
// and shows without "models" or "images": the Model draws, with the texture
// when the path leads to a picture and untextured otherwise.
TEST_F(BadInput, OddTextureNamesAndMissingFolders)
{
    const std::string longName(59, 'n');
    const struct {
        const char* what;
        std::string texture;
        bool makeFolders;
    } cases[] = {
        {"no folders at all", "pic.bmp", false},
        {"directory part", "sub/pic.bmp", true},
        {"parent directory", "../pic.bmp", true},
        {"only dots", "..", true},
        {"a folder", "sub", true},
        {"longest name", longName + ".bmp", true},
        {"absolute", "/nonexistent/pic.bmp", true},
    };
    for (const auto& c : cases) {
        if (c.makeFolders) {
            mkdir("models", 0755);
            mkdir("images", 0755);
            mkdir("images/sub", 0755);
            WritePicture("images/sub/pic.bmp");
        }
        WriteScene("t.3ds", "material M texture " + c.texture + "\nquad Q 4 material M uv\nobject Q\n"
                             "camera C pos 0 -10 0 target 0 0 0\nlight L pos 0 -5 0\n");
        perl->Eval("$m = Model->new; $m->SetParams({fname => 't.3ds', fps => 25}); 1;");
        EXPECT_EQ(perl->error(), "") << c.what;
        testing_support::ClearFrame(0, 0, 0);
        EXPECT_EQ(perl->EvalInteger("$m->Render(0) + $m->Render(500)"), 0) << c.what;
        EXPECT_TRUE(DrewSomething()) << c.what;
        ExpectLaterFramesFine(c.what);
    }
    // The Image effect takes its path as given: very long names and folders
    // fail like missing files, and the picture stays.
    perl->Eval("$i = Image->new; $i->SetParams({imagedata => $red, width => 4, height => 4, size => 1, alpha => 1,"
               " r => 1, alignh => 1, alignv => 1}); for my $n ('x' x 100000, 'images', 'images/', '', '/', '..') {"
               " $i->SetParams({image => $n, size => 1, alpha => 1, r => 1, alignh => 1, alignv => 1}) } 1;");
    EXPECT_EQ(perl->error(), "");
    ExpectImageStillRed("odd image names");
}

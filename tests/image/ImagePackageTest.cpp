// The Image package as scripts use it: hash keys and their readers, handles,
// results and usage messages, through an embedded interpreter drawing into a
// real GL window.
// gtest and the standard headers come before perl.h, whose macros clash.
#include <gtest/gtest.h>
#include <memory>

#include "effects/Image.h"
#include "tests/support/GlWindow.h"
#include "tests/support/perl/EmbeddedPerl.h"

#include <GL/gl.h>

using testing_support::EmbeddedPerl;
using testing_support::Rgba;

namespace {

constexpr int kTolerance = 4;

Rgba At(double x, double y) { return testing_support::ReadPixelNdc(x / kViewAspect, y); }

bool IsBackground(const Rgba& c) { return c.r < 5 && c.g < 5 && c.b < 5; }
bool IsRed(const Rgba& c) { return c.r > 250 && c.g < 5 && c.b < 5; }

class ImagePackage : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testing_support::OpenGlWindow())
            GTEST_SKIP() << "no display";
        perl = std::make_unique<EmbeddedPerl>();
        perl->Eval("Image::boot_Image(); $red = qq(\\xff\\0\\0\\xff) x 8; 1;");
        ASSERT_EQ(perl->error(), "");
    }

    // Runs code with $i a fresh Image handle, then draws it on black.
    Image* DrawWith(const std::string& code)
    {
        perl->Eval("$i = Image->new; " + code + "; 1;");
        EXPECT_EQ(perl->error(), "") << code;
        testing_support::ClearFrame(0, 0, 0);
        EXPECT_EQ(perl->EvalInteger("$i->Render(0)"), 0);
        return reinterpret_cast<Image*>(perl->EvalInteger("$$i"));
    }

    std::unique_ptr<EmbeddedPerl> perl;
};

}  // namespace

TEST_F(ImagePackage, KeysAreReadWithTheirOwnReaders)
{
    // Quoted "width" and "alignh" read as integers, so the 4 x 2 picture is
    // built and centred; a quoted "x" reads 0, not 0.5.
    Image* image = DrawWith(
        "$i->SetParams({imagedata => $red, width => '4', height => '2', x => '0.5', size => 1, alpha => 1,"
        " r => 1, g => 1, b => 1, alignh => '1'})");
    EXPECT_EQ(image->pictureWidth(), 4);
    EXPECT_TRUE(IsRed(At(-0.3, -0.25)));
    EXPECT_TRUE(IsBackground(At(0.7, -0.25)));

    // The same hash with numbers moves it; an integer that has been printed
    // reads 0 again.
    DrawWith("$i->SetParams({imagedata => $red, width => 4, height => 2, x => 0.5, size => 1, alpha => 1,"
             " r => 1, g => 1, b => 1, alignh => 1})");
    EXPECT_TRUE(IsRed(At(0.7, -0.25)));
    EXPECT_TRUE(IsBackground(At(-0.3, -0.25)));
    DrawWith("my $one = 1; my $text = \"$one\"; $i->SetParams({imagedata => $red, width => 4, height => 2,"
             " x => 0.5, size => $one, alpha => 1, r => 1, g => 1, b => 1, alignh => 1})");
    EXPECT_TRUE(IsBackground(At(-0.3, -0.25)));
    EXPECT_TRUE(IsBackground(At(0.7, -0.25)));

    // "size" wins whenever the key is there, even undefined.
    DrawWith("$i->SetParams({imagedata => $red, width => 4, height => 2, size => undef, wsize => 1, hsize => 1,"
             " alpha => 1, r => 1, g => 1, b => 1})");
    EXPECT_TRUE(IsBackground(At(0.5, -0.25)));
    DrawWith("$i->SetParams({imagedata => $red, width => 4, height => 2, wsize => 1, hsize => 1,"
             " alpha => 1, r => 1, g => 1, b => 1})");
    EXPECT_TRUE(IsRed(At(0.5, -0.25)));

    // "image" must be a string to name anything; "imagedata" takes any value
    // in its string form.
    image = DrawWith("$i->SetParams({image => 5, imagedata => 12345678, width => 2, height => 1})");
    EXPECT_EQ(image->sourceName(), nullptr);
    EXPECT_EQ(image->pictureWidth(), 2);
    image = DrawWith("$i->SetParams({image => 'key', imagedata => $red, width => 2, height => 1})");
    EXPECT_STREQ(image->sourceName(), "key");

    // Pixel data held as UTF-8 inside the runtime still means its bytes.
    DrawWith("my $wide = $red; utf8::upgrade($wide); $i->SetParams({imagedata => $wide, width => 4, height => 2,"
             " x => -0.5, size => 1, alpha => 1, r => 1, g => 1, b => 1}); utf8::is_utf8($wide) or die");
    EXPECT_TRUE(IsRed(At(0.0, -0.25)));
}

TEST_F(ImagePackage, HandlesResultsAndUsageMessages)
{
    EXPECT_EQ(perl->EvalString("my $i = Image->new; ref $i"), "Image");
    EXPECT_EQ(perl->EvalString("my $i = Image::new('Foo'); Image::SetParams($i, {}) == $i"
                               " && Image::Render($i, 1000) == 0 ? ref $i : 'no'"),
              "Foo");
    EXPECT_EQ(perl->EvalString("my $i = Image->new; $i->SetParams({imagedata => $red, width => 2, height => 1,"
                               " alpha => 1}) == $i ? 'same' : 'other'"),
              "same");

    perl->Eval("$i = Image->new; 1;");
    const struct { const char* code; const char* message; } usages[] = {
        {"Image::new()", "Usage: Image::new(CLASS) at (eval "},
        {"Image::new('Image', 1)", "Usage: Image::new(CLASS) at (eval "},
        {"Image::SetParams($i)", "Usage: Image::SetParams(THIS, sv) at (eval "},
        {"$i->SetParams({}, 1)", "Usage: Image::SetParams(THIS, sv) at (eval "},
        {"Image::Render($i)", "Usage: Image::Render(THIS, msec) at (eval "},
        {"$i->Render(1, 2)", "Usage: Image::Render(THIS, msec) at (eval "},
        {"Image::Render(\\5, 0)", "Image::Render: THIS is not an Image object at (eval "},
    };
    for (const auto& u : usages) {
        perl->Eval(u.code);
        EXPECT_EQ(perl->error().rfind(u.message, 0), 0u) << u.code << " raised: " << perl->error();
        EXPECT_EQ(perl->error().back(), '\n');
    }
}

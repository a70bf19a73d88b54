// Every key of every effect package, sent through the real binding with a
// value of its own, lands on its own parameter and is read with the reader
// its type needs. Image is checked on the pixels it draws, the others on the
// parameters their objects hold.
// gtest and the test helpers before perl.h, whose macros clash with them.
#include <gtest/gtest.h>

#include "effects/BalTrap.h"
#include "effects/InkStain.h"
#include "effects/Model.h"
#include "tests/model/ModelScenes.h"
#include "tests/support/Pictures.h"

#include <GL/gl.h>
#include <cmath>
#include <memory>

#include "tests/support/perl/EmbeddedPerl.h"

using namespace testing_support;

namespace {

// The 2D view is 1.33 units wide per unit of height, whatever the code says.
constexpr double kView = 1.33;
const Rgba kBlack{0, 0, 0, 255};

// Where Image draws a point of a picture twice as wide as high: fu from its
// left, fv from its top, both 0..1; the longer side is one unit at scale 1,
// the anchor is its top-left corner, its centre or its right/bottom edge
// (align 0, 1, 2), and rot turns counter-clockwise about the anchor.
struct Placement {
    double x, y, wsize, hsize, rot;
    int alignh, alignv;
};

// The colour the window shows at that point of the picture.
Rgba ImagePixel(const Placement& p, double fu, double fv)
{
    const double lx = (fu - 0.5 * p.alignh) * p.wsize;
    const double ly = -(fv - 0.5 * p.alignv) * 0.5 * p.hsize;
    const double turn = p.rot * M_PI / 180.0;
    const double vx = p.x + lx * std::cos(turn) - ly * std::sin(turn);
    const double vy = p.y + lx * std::sin(turn) + ly * std::cos(turn);
    Rgba c = ReadPixelNdc(vx / kView, vy);
    c.a = 255;  // the window may have no alpha channel: colours only
    return c;
}

class Packages : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(OpenGlWindow(800, 600) || OpenGlWindow(800, 600)) << "needs a display";
        perl.Eval("Image::boot_Image(); BalTrap::boot_BalTrap(); InkStain::boot_InkStain(); Model::boot_Model();"
                  " $white = qq(\\xff\\xff\\xff\\xff) x 8; 1;");
        ASSERT_EQ(perl.error(), "");
        ASSERT_TRUE(WriteBmp(dir / "pic.bmp", 8, 8, SolidPixels(8, 8, kRed)));
    }

    // Makes $o a new object of the package, calls SetParams with the hash
    // text, and returns the object.
    template <class T>
    T* Set(const std::string& package, const std::string& hash)
    {
        perl.Eval("our $o = " + package + "->new; $o->SetParams({" + hash + "}) == $o or die 'not THIS'; 1;");
        EXPECT_EQ(perl.error(), "") << hash;
        return reinterpret_cast<T*>(perl.EvalInteger("$$o"));
    }

    model_test::ScratchDir dir;  // the working directory meanwhile
    EmbeddedPerl perl;
};

TEST_F(Packages, ImageKeysPlaceScaleTurnAnchorAndTintThePicture)
{
    // A white 4 x 2 picture on black; each case says where it must be and in
    // what colour. Quoted numbers: the integer keys read them, the number
    // keys read 0.
    const struct {
        const char* hash;
        Placement at;
        Rgba colour;
    } cases[] = {
        {"x => 0.3, y => 0.2, wsize => 0.9, hsize => 0.5, rot => 90, alignh => 2, alignv => 1,"
         " r => 0.9, g => 0.5, b => 0.2, alpha => 0.8",
         {0.3, 0.2, 0.9, 0.5, 90, 2, 1}, {184, 102, 41, 255}},
        {"x => -0.6, y => 0.5, wsize => 1.4, hsize => 0.3, rot => -30, alignv => 2, r => 0.1, g => 0.6, b => 1,"
         " alpha => 1",
         {-0.6, 0.5, 1.4, 0.3, -30, 0, 2}, {26, 153, 255, 255}},
        {"size => 0.6, wsize => 2, hsize => 2, x => 0.2, y => 0.1, r => 1, g => 1, b => 1, alpha => 0.5",
         {0.2, 0.1, 0.6, 0.6, 0, 0, 0}, {128, 128, 128, 255}},
        {"width => '4', height => '2', x => '0.5', y => 0.4, size => 1, alignh => '1', alignv => '2',"
         " rot => '90', r => 1, g => 1, b => 1, alpha => 1",
         {0, 0.4, 1, 1, 0, 1, 2}, {255, 255, 255, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hash);
        Set<void>("Image", std::string("imagedata => $white, width => 4, height => 2, ") + c.hash);
        ClearFrame();
        EXPECT_EQ(perl.EvalInteger("$o->Render(0)"), 0);
        // Inside, half a texel clear of the edges (linear filtering blends
        // them with the transparent border), and outside each edge.
        for (double fu : {0.2, 0.8})
            for (double fv : {0.3, 0.7})
                EXPECT_PIXEL(ImagePixel(c.at, fu, fv), c.colour, 4);
        for (const auto& [fu, fv] : {std::pair{-0.15, 0.5}, {1.15, 0.5}, {0.5, -0.15}, {0.5, 1.15}})
            EXPECT_PIXEL(ImagePixel(c.at, fu, fv), kBlack, 4);
    }

    // "size" present but undefined still wins: scale 0, nothing drawn.
    Set<void>("Image", "imagedata => $white, width => 4, height => 2, size => undef, wsize => 1, hsize => 1,"
                       " r => 1, g => 1, b => 1, alpha => 1");
    ClearFrame();
    perl.EvalInteger("$o->Render(0)");
    EXPECT_PIXEL(ImagePixel({0, 0, 1, 1, 0, 0, 0}, 0.5, 0.5), kBlack, 4);

    // The view is 1.33 units wide: a picture whose right edge is at x = 1.33
    // reaches the window's last column, and no further.
    Set<void>("Image", "imagedata => $white, width => 4, height => 2, x => 1.33, size => 1, alignh => 2,"
                       " alignv => 1, r => 1, g => 1, b => 1, alpha => 1");
    ClearFrame();
    perl.EvalInteger("$o->Render(0)");
    EXPECT_GT(ReadPixel(799, 300).r, 32) << "the last column";
    EXPECT_GT(ReadPixel(560, 300).r, 250);
    EXPECT_LT(ReadPixel(497, 300).r, 8) << "left of the picture";
}

TEST_F(Packages, BalTrapInkStainAndModelKeysReachTheirParameters)
{
    // A number is no file name to the string reader, and a quoted number no
    // number to the number reader.
    BalTrap* trap = Set<BalTrap>("BalTrap", "bal => 5, x => '0.5', zoom => 3");
    EXPECT_FALSE(trap->ballTexture);
    EXPECT_EQ(trap->x, 0.0f);
    EXPECT_EQ(trap->zoom, 3.0f);
    trap = Set<BalTrap>("BalTrap", "bal => 'pic.bmp', x => 0.1, y => -0.3, zoom => 2.5, turn => 33.3,"
                                   " trap_alpha => 0.7, alpha => 9");
    EXPECT_TRUE(trap->ballTexture);
    EXPECT_EQ(trap->x, 0.1f);
    EXPECT_EQ(trap->y, -0.3f);
    EXPECT_EQ(trap->zoom, 2.5f);
    EXPECT_EQ(trap->turn, 33.3f);
    EXPECT_EQ(trap->trap_alpha, 0.7f);

    InkStain* stain = Set<InkStain>("InkStain", "frontimage => 7, openangle => '45', stainsize => 0.3");
    EXPECT_FALSE(stain->frontTexture);
    EXPECT_EQ(stain->openangle, 0.0f);
    EXPECT_EQ(stain->stainsize, 0.3f);
    stain = Set<InkStain>("InkStain", "frontimage => 'pic.bmp', openangle => 123.4, stainsize => 1.1");
    EXPECT_TRUE(stain->frontTexture);
    EXPECT_EQ(stain->openangle, 123.4f);
    EXPECT_EQ(stain->stainsize, 1.1f);

    dir.Scene("scene.3ds", "quad Q 1\nobject Q\ncamera C pos 0 -10 0 target 0 0 0\n");
    Model* model = Set<Model>("Model", "fname => 'scene.3ds', fps => '30', xoff => 0.5, yoff => -1.5, zoff => 2.5");
    EXPECT_NE(model->scene, nullptr);
    EXPECT_EQ(model->fps, 30);
    EXPECT_EQ(model->xoff, 0.5);
    EXPECT_EQ(model->yoff, -1.5);
    EXPECT_EQ(model->zoff, 2.5);
    model = Set<Model>("Model", "fname => 'scene.3ds', fps => 12.9, xoff => '1'");
    EXPECT_EQ(model->fps, 12);
    EXPECT_EQ(model->xoff, 0.0);
}

// OpenGL::glClear clears colour and depth with the values the context holds
// and sets none of them itself.
TEST_F(Packages, OpenGLClearUsesTheContextsClearValues)
{
    perl.Eval("OpenGL::boot_OpenGL();");
    glClearColor(1, 0, 0, 1);  // something drawn first: red everywhere, depth 0.25
    glClearDepth(0.25);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClearDepth(0.75);
    perl.Eval("OpenGL::glClear(); 1");
    ASSERT_EQ(perl.error(), "");
    EXPECT_PIXEL(ReadPixel(1, 1), (Rgba{51, 102, 153, 255}), 2);
    EXPECT_PIXEL(ReadPixel(400, 300), (Rgba{51, 102, 153, 255}), 2);
    GLfloat value[4] = {0};
    glReadPixels(10, 10, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, value);
    EXPECT_NEAR(value[0], 0.75, 0.001);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, value);
    EXPECT_FLOAT_EQ(value[2], 0.6f);
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, value);
    EXPECT_FLOAT_EQ(value[0], 0.75f);
}

}  // namespace

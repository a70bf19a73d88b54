// The Image effect drawn into a real GL window: proportions, scales, anchors (odd sizes too), the state it
// leaves, the picture cache and the rejected inputs, all checked on the pixels of the frame.
#include "effects/Image.h"
#include "tests/support/Pictures.h"

#include <GL/gl.h>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// The clear colour behind every picture, and how it reads back.
constexpr float kBackground[3] = {0.2f, 0.4f, 0.6f};
const Rgba kBackgroundRgb{51, 102, 153, 255};
constexpr int kTolerance = 4;
constexpr double kView = 1.33;  // the view is 1.33 units wide per unit of height

// A point of the 2D view (x from -1.33 to 1.33, y up) as it reads back; the window may have no alpha channel.
Rgba At(double x, double y)
{
    Rgba c = ReadPixelNdc(x / kView, y);
    c.a = 255;
    return c;
}

struct Params {
    float x = 0, y = 0, wsize = 1, hsize = 1;
    int alignh = 0, alignv = 0;
};

void Set(Image& image, const char* name, const std::string* data, int width, int height, const Params& p)
{
    image.SetParams({name, data ? reinterpret_cast<const unsigned char*>(data->data()) : nullptr,
                     data ? data->size() : 0, width, height, p.x, p.y, p.wsize, p.hsize, 1, 0, p.alignh,
                     p.alignv, 1, 1, 1});
}

void Draw(Image& image)
{
    ClearFrame(kBackground[0], kBackground[1], kBackground[2]);
    EXPECT_EQ(image.Render(1000), 0);
}

// Probes a quadrant picture drawn upright as the rectangle with top-left corner (left, top), w wide and h
// high: each quadrant's centre and, inside the view, a point just outside each side.
void ExpectQuadrants(double left, double top, double w, double h)
{
    SCOPED_TRACE("picture from (" + std::to_string(left) + ", " + std::to_string(top) + ")");
    const Rgba quadrants[4] = {kRed, kGreen, kBlue, kWhite};
    for (int q = 0; q < 4; ++q)
        EXPECT_PIXEL(At(left + (q % 2 ? 0.75 : 0.25) * w, top - (q < 2 ? 0.25 : 0.75) * h), quadrants[q], kTolerance);
    const double m = 0.05, outside[4][2] = {{left - m, top - h / 2}, {left + w + m, top - h / 2},
                                             {left + w / 2, top + m}, {left + w / 2, top - h - m}};
    for (const auto& at : outside)
        if (std::abs(at[0]) < kView && std::abs(at[1]) < 1)
            EXPECT_PIXEL(At(at[0], at[1]), kBackgroundRgb, kTolerance);
}

class ImageDraw : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OpenGlWindow()) << "no display"; }
    TempDir dir;
};

}  // namespace

TEST_F(ImageDraw, LongerSideIsOneUnitAndProportionsKept)
{
    const struct { const char* what; int width, height; Params at; double left, top, w, h; } cases[] = {
        {"landscape", 300, 200, {-0.5f, 0.5f}, -0.5, 0.5, 1.0, 2.0 / 3.0},
        {"portrait", 200, 300, {-0.5f, 0.5f}, -0.5, 0.5, 2.0 / 3.0, 1.0},
        {"size 2 fills the height", 256, 256, {-1.0f, 1.0f, 2, 2}, -1.0, 1.0, 2.0, 2.0},
        {"separate scales", 256, 256, {-1.0f, 0.5f, 2, 1}, -1.0, 0.5, 2.0, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string pixels = QuadrantPixels(c.width, c.height);
        Image image;
        Set(image, nullptr, &pixels, c.width, c.height, c.at);
        Draw(image);
        ExpectQuadrants(c.left, c.top, c.w, c.h);
    }
}

TEST_F(ImageDraw, AnchorsPlaceTheNamedPointOnThePosition)
{
    const std::string pixels = QuadrantPixels(200, 100);  // 1 x 0.5 units at size 1
    for (int alignh : {0, 1, 2, 5, -1}) {
        for (int alignv : {0, 1, 2, -1, 7}) {
            SCOPED_TRACE("alignh " + std::to_string(alignh) + ", alignv " + std::to_string(alignv));
            Image image;
            Set(image, nullptr, &pixels, 200, 100, {0.1f, 0.2f, 1, 1, alignh, alignv});
            Draw(image);
            ExpectQuadrants(0.1 - (alignh == 1 ? 0.5 : alignh == 2 ? 1.0 : 0.0),
                            0.2 + (alignv == 1 ? 0.25 : alignv == 2 ? 0.5 : 0.0), 1.0, 0.5);
        }
    }
}

// A centred picture of 5 x 3 pixels lies half a pixel either side of the middle column and row: its edges,
// blended with the transparent border, read the same on opposite sides.
TEST_F(ImageDraw, OddSizesCentreOnTheMiddlePixel)
{
    const std::string white = SolidPixels(5, 3, kWhite);
    Image image;
    Set(image, nullptr, &white, 5, 3, {0, 0, 1, 1, 1, 1});
    ClearFrame();
    image.Render(0);
    // 1 x 0.6 units: the edges at x = +-0.5 and y = +-0.3, a pixel 0.2 wide.
    const Rgba left = At(-0.45, 0), right = At(0.45, 0), top = At(0, 0.25), bottom = At(0, -0.25);
    EXPECT_GT(left.r, 64);
    EXPECT_NEAR(left.r, right.r, 8) << ToString(left) << " " << ToString(right);
    EXPECT_GT(top.r, 64);
    EXPECT_NEAR(top.r, bottom.r, 8) << ToString(top) << " " << ToString(bottom);
}

TEST_F(ImageDraw, LeavesTheStateTheNextEffectExpects)
{
    const std::string pixels = QuadrantPixels(8, 8);
    Image image;
    Set(image, nullptr, &pixels, 8, 8, {-0.5f, 0.5f});
    ClearFrame(kBackground[0], kBackground[1], kBackground[2]);
    const struct { GLenum flag; bool on; } state[] = {
        {GL_DEPTH_TEST, true}, {GL_BLEND, false}, {GL_TEXTURE_2D, false}, {GL_LIGHTING, true}};
    for (const auto& s : state)
        s.on ? glEnable(s.flag) : glDisable(s.flag);
    // What a textured Model leaves behind: the texture matrix flipped in t.
    glMatrixMode(GL_TEXTURE);
    glScalef(1, -1, 1);
    for (int frame = 0; frame < 20; ++frame)
        image.Render(0);

    for (const auto& s : state) {
        EXPECT_EQ(glIsEnabled(s.flag), s.on) << std::hex << s.flag;
        glDisable(s.flag);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[0], 1.0 / kView, 1e-6);
    EXPECT_NEAR(projection[5], 1.0, 1e-6);
    ExpectQuadrants(-0.5, 0.5, 1.0, 1.0);  // upright all the same
}

TEST_F(ImageDraw, SourceNameDecidesWhenAPictureIsBuiltAgain)
{
    const std::string lower = dir / "pic.bmp", upper = dir / "PIC.bmp", later = dir / "later.bmp";
    ASSERT_TRUE(WriteBmp(lower, 16, 16, SolidPixels(16, 16, kRed)));
    ASSERT_TRUE(WriteBmp(upper, 16, 16, SolidPixels(16, 16, kBlue)));
    Params p{-0.5f, 0.5f};
    Image image;
    Set(image, lower.c_str(), nullptr, 0, 0, p);
    const GLuint first = image.textureName();
    ASSERT_NE(first, 0u);

    // Same name: not read again, even though the file changed.
    ASSERT_TRUE(WriteBmp(lower, 16, 16, SolidPixels(16, 16, kGreen)));
    Set(image, lower.c_str(), nullptr, 0, 0, p);
    Draw(image);
    EXPECT_PIXEL(At(0.0, 0.0), kRed, kTolerance);

    // The same name in other case is another picture; the old texture goes.
    Set(image, upper.c_str(), nullptr, 0, 0, p);
    EXPECT_FALSE(glIsTexture(first));
    Draw(image);
    EXPECT_PIXEL(At(0.0, 0.0), kBlue, kTolerance);

    // Pixel data without a name does not replace a file's picture, and a
    // call with no source keeps it while taking the new parameters.
    const std::string green = SolidPixels(4, 4, kGreen), red = SolidPixels(4, 4, kRed);
    Set(image, nullptr, &green, 4, 4, p);
    p.x = 0.3f;
    Set(image, nullptr, nullptr, 0, 0, p);
    Draw(image);
    EXPECT_PIXEL(At(0.8, 0.0), kBlue, kTolerance);
    EXPECT_PIXEL(At(0.0, 0.0), kBackgroundRgb, kTolerance);

    // A file that cannot be loaded changes nothing, not even the parameters,
    // and is forgotten, so that the same name is tried again.
    Set(image, later.c_str(), nullptr, 0, 0, Params{-0.5f, 0.5f});
    Draw(image);
    EXPECT_PIXEL(At(0.8, 0.0), kBlue, kTolerance);
    ASSERT_TRUE(WriteBmp(later, 16, 16, SolidPixels(16, 16, kGreen)));
    Set(image, later.c_str(), nullptr, 0, 0, Params{-0.5f, 0.5f});
    Draw(image);
    EXPECT_PIXEL(At(0.0, 0.0), kGreen, kTolerance);

    // Pixel data with a name is built once; without one at every call.
    Image named, unnamed;
    Set(named, "key", &green, 4, 4, p);
    Set(named, "key", &red, 4, 4, p);
    Set(named, nullptr, &red, 4, 4, p);
    Draw(named);
    EXPECT_PIXEL(At(0.8, 0.0), kGreen, kTolerance);
    Set(unnamed, nullptr, &green, 4, 4, p);
    const GLuint previous = unnamed.textureName();
    Set(unnamed, nullptr, &red, 4, 4, p);
    EXPECT_FALSE(glIsTexture(previous));
    Draw(unnamed);
    EXPECT_PIXEL(At(0.8, 0.0), kRed, kTolerance);
}

// A fresh object draws nothing and touches no GL state, and parameters without any picture make no texture.
// Then unusable pixel data keeps the picture held while the parameters are applied, and takes no name.
TEST_F(ImageDraw, UnusablePixelDataKeepsThePictureAndAppliesTheParameters)
{
    Image image;
    ClearFrame(kBackground[0], kBackground[1], kBackground[2]);
    glMatrixMode(GL_PROJECTION);
    EXPECT_EQ(image.Render(-5), 0);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    Params p{-0.5f, 0.5f};
    Set(image, nullptr, nullptr, 8, 8, p);
    EXPECT_EQ(image.textureName(), 0u);
    // An empty picture (no data, 0 x 0) is a 1 x 1 transparent texture.
    Set(image, nullptr, nullptr, 0, 0, p);
    EXPECT_EQ(image.textureWidth(), 1);
    Draw(image);
    EXPECT_PIXEL(At(0.0, 0.0), kBackgroundRgb, kTolerance);

    const std::string red = SolidPixels(4, 4, kRed);
    Set(image, nullptr, &red, 4, 4, p);
    const std::string shortData(4 * 4 * 4 - 1, '\x7f');
    const std::string someBytes(64, '\x7f');
    const struct { const char* what; const std::string* data; int width, height; } rejected[] = {
        {"one byte short", &shortData, 4, 4},
        {"negative width", &someBytes, -4, 4},
        {"byte count overflows", &someBytes, 65536, 65536},
        {"largest sizes", &someBytes, INT_MAX, INT_MAX},
        {"no pixel data", nullptr, 4, 4},
    };
    for (const auto& c : rejected) {
        SCOPED_TRACE(c.what);
        p.x = -p.x;
        Set(image, nullptr, c.data, c.width, c.height, p);
        Draw(image);
        EXPECT_PIXEL(At(p.x + 0.5, 0.0), kRed, kTolerance);
        EXPECT_PIXEL(At(-p.x + 0.5, 0.0), kBackgroundRgb, kTolerance);
    }

    Set(image, "pixels", &shortData, 4, 4, p);
    const std::string green = SolidPixels(4, 4, kGreen);
    Set(image, "pixels", &green, 4, 4, p);
    Draw(image);
    EXPECT_PIXEL(At(p.x + 0.5, 0.0), kGreen, kTolerance);
}

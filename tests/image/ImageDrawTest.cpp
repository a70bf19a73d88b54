// The Image effect drawn into a real GL window: proportions, scales, anchors,
// rotation, tint and opacity, the picture cache and the rejected inputs,
// all checked on the pixels of the frame.
#include "effects/Image.h"
#include "tests/support/Pictures.h"
#include "tests/support/GlWindow.h"

#include <GL/gl.h>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// The clear colour behind every picture, and how it reads back.
constexpr float kBackground[3] = {0.2f, 0.4f, 0.6f};
const Rgba kBackgroundRgb{51, 102, 153, 0};
constexpr int kTolerance = 4;

// The window may have no alpha channel: compare colours only.
#define EXPECT_RGB_AT(vx, vy, want)                                                                  \
    do {                                                                                             \
        SCOPED_TRACE("at view (" + std::to_string(vx) + ", " + std::to_string(vy) + ")");          \
        const Rgba seenRgb_ = At((vx), (vy));                                                        \
        Rgba wantRgb_ = (want);                                                                      \
        wantRgb_.a = seenRgb_.a;                                                                     \
        EXPECT_PIXEL(seenRgb_, wantRgb_, kTolerance);                                                \
    } while (0)

// A point of the 2D view (x from -1.33 to 1.33, y up) as it reads back.
Rgba At(double x, double y) { return ReadPixelNdc(x / kViewAspect, y); }

struct Params {
    float x = 0, y = 0, wsize = 1, hsize = 1, alpha = 1, rot = 0;
    int alignh = 0, alignv = 0;
    float r = 1, g = 1, b = 1;
};

// Parameters with the picture's anchor point at (x, y).
Params Placed(float x, float y)
{
    Params p;
    p.x = x;
    p.y = y;
    return p;
}

int Set(Image& image, const char* name, const std::string* data, int width, int height, const Params& p)
{
    return image.SetParams({name, data ? reinterpret_cast<const unsigned char*>(data->data()) : nullptr,
                           data ? data->size() : 0, width, height, p.x, p.y, p.wsize, p.hsize, p.alpha, p.rot,
                           p.alignh, p.alignv, p.r, p.g, p.b});
}

void Draw(Image& image)
{
    ClearFrame(kBackground[0], kBackground[1], kBackground[2]);
    EXPECT_EQ(image.Render(1000), 0);
}

// Probes a quadrant picture drawn upright as the rectangle with top-left
// corner (left, top), w wide and h high: each quadrant's centre and a point
// just outside each side.
void ExpectQuadrants(double left, double top, double w, double h)
{
    EXPECT_RGB_AT(left + w / 4, top - h / 4, kRed);
    EXPECT_RGB_AT(left + 3 * w / 4, top - h / 4, kGreen);
    EXPECT_RGB_AT(left + w / 4, top - 3 * h / 4, kBlue);
    EXPECT_RGB_AT(left + 3 * w / 4, top - 3 * h / 4, kWhite);
    const double margin = 0.05;
    if (left - margin > -kViewAspect)
        EXPECT_RGB_AT(left - margin, top - h / 2, kBackgroundRgb);
    if (left + w + margin < kViewAspect)
        EXPECT_RGB_AT(left + w + margin, top - h / 2, kBackgroundRgb);
    if (top + margin < 1.0)
        EXPECT_RGB_AT(left + w / 2, top + margin, kBackgroundRgb);
    if (top - h - margin > -1.0)
        EXPECT_RGB_AT(left + w / 2, top - h - margin, kBackgroundRgb);
}

class ImageDraw : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!OpenGlWindow())
            GTEST_SKIP() << "no display";
    }
    TempDir dir;
};

}  // namespace

TEST_F(ImageDraw, LongerSideIsOneUnitAndProportionsKept)
{
    const std::string wide = QuadrantPixels(300, 200), tall = QuadrantPixels(200, 300);
    Params p = Placed(-0.5f, 0.5f);
    Image landscape, portrait;
    Set(landscape, nullptr, &wide, 300, 200, p);
    EXPECT_EQ(landscape.textureWidth(), 512);
    EXPECT_EQ(landscape.textureHeight(), 256);
    Draw(landscape);
    ExpectQuadrants(-0.5, 0.5, 1.0, 2.0 / 3.0);

    Set(portrait, nullptr, &tall, 200, 300, p);
    EXPECT_EQ(portrait.textureWidth(), 256);
    EXPECT_EQ(portrait.textureHeight(), 512);
    Draw(portrait);
    ExpectQuadrants(-0.5, 0.5, 2.0 / 3.0, 1.0);

    // Size 2 on a square picture fills the view from top to bottom.
    const std::string square = QuadrantPixels(256, 256);
    Image full;
    p = Placed(-1.0f, 1.0f);
    p.wsize = p.hsize = 2.0f;
    Set(full, nullptr, &square, 256, 256, p);
    Draw(full);
    ExpectQuadrants(-1.0, 1.0, 2.0, 2.0);
    // Two pixels from the top and bottom rows (the outermost row blends with
    // the transparent border under linear filtering).
    const Rgba top = ReadPixel(250, 2), bottom = ReadPixel(450, 597);
    EXPECT_PIXEL(top, (Rgba{255, 0, 0, top.a}), kTolerance);
    EXPECT_PIXEL(bottom, (Rgba{255, 255, 255, bottom.a}), kTolerance);

    // Separate scales stretch each direction: twice as wide as high here.
    Image stretched;
    p = Placed(-1.0f, 0.5f);
    p.wsize = 2.0f;
    p.hsize = 1.0f;
    Set(stretched, nullptr, &square, 256, 256, p);
    Draw(stretched);
    ExpectQuadrants(-1.0, 0.5, 2.0, 1.0);
}

TEST_F(ImageDraw, AnchorsPlaceTheNamedPointOnThePosition)
{
    const std::string pixels = QuadrantPixels(200, 100);  // 1 x 0.5 units at size 1
    const int horizontal[] = {0, 1, 2, 5, -1};
    const int vertical[] = {0, 1, 2, -1, 7};
    for (int alignh : horizontal) {
        for (int alignv : vertical) {
            SCOPED_TRACE("alignh " + std::to_string(alignh) + ", alignv " + std::to_string(alignv));
            Image image;
            Params p = Placed(0.1f, 0.2f);
            p.alignh = alignh;
            p.alignv = alignv;
            Set(image, nullptr, &pixels, 200, 100, p);
            Draw(image);
            const double left = 0.1 - (alignh == 1 ? 0.5 : alignh == 2 ? 1.0 : 0.0);
            const double top = 0.2 + (alignv == 1 ? 0.25 : alignv == 2 ? 0.5 : 0.0);
            ExpectQuadrants(left, top, 1.0, 0.5);
        }
    }
}

TEST_F(ImageDraw, RotationTurnsCounterClockwiseAboutTheAnchor)
{
    const std::string pixels = QuadrantPixels(200, 100);
    Image image;
    Params p;
    p.rot = 90.0f;
    Set(image, nullptr, &pixels, 200, 100, p);
    Draw(image);
    // The top edge now runs upwards from the anchor; the picture lies right
    // of the vertical line through it.
    EXPECT_RGB_AT(0.125, 0.25, kRed);
    EXPECT_RGB_AT(0.125, 0.75, kGreen);
    EXPECT_RGB_AT(0.375, 0.25, kBlue);
    EXPECT_RGB_AT(0.375, 0.75, kWhite);
    EXPECT_RGB_AT(-0.1, 0.5, kBackgroundRgb);
    EXPECT_RGB_AT(0.6, 0.5, kBackgroundRgb);
    EXPECT_RGB_AT(0.25, -0.1, kBackgroundRgb);
    EXPECT_RGB_AT(0.125, 0.97, kGreen);

    // About a centred anchor the picture turns in place.
    p.alignh = p.alignv = 1;
    Set(image, nullptr, &pixels, 200, 100, p);
    Draw(image);
    EXPECT_RGB_AT(-0.125, -0.25, kRed);
    EXPECT_RGB_AT(0.125, 0.25, kWhite);
    EXPECT_RGB_AT(-0.35, 0.0, kBackgroundRgb);
    EXPECT_RGB_AT(0.0, 0.6, kBackgroundRgb);
}

TEST_F(ImageDraw, TintAndOpacityBlendOverTheBackground)
{
    const std::string white = SolidPixels(64, 64, kWhite);
    Image image;
    Params p = Placed(-0.5f, 0.5f);
    p.r = 1.0f;
    p.g = 0.5f;
    p.b = 0.25f;
    p.alpha = 0.5f;
    Set(image, nullptr, &white, 64, 64, p);
    Draw(image);
    auto mix = [](double picture, double factor, double alpha, double background) {
        return static_cast<int>(std::lround((picture * factor * alpha + background * (1 - alpha))));
    };
    EXPECT_RGB_AT(0.0, 0.0, (Rgba{mix(255, 1.0, 0.5, 51), mix(255, 0.5, 0.5, 102), mix(255, 0.25, 0.5, 153), 0}));
    EXPECT_RGB_AT(0.6, 0.0, kBackgroundRgb);

    // The picture's own alpha multiplies with the opacity factor.
    const std::string halfRed = SolidPixels(64, 64, Rgba{255, 0, 0, 128});
    p = Placed(-0.5f, 0.5f);
    Set(image, nullptr, &halfRed, 64, 64, p);
    Draw(image);
    const double a = 128.0 / 255.0;
    EXPECT_RGB_AT(0.0, 0.0, (Rgba{mix(255, 1, a, 51), mix(0, 1, a, 102), mix(0, 1, a, 153), 0}));

    // Colour factors 0 and opacity 0 (what a hash with only "image" gives):
    // nothing shows.
    p = Placed(-0.5f, 0.5f);
    p.alpha = p.r = p.g = p.b = 0.0f;
    Set(image, nullptr, &white, 64, 64, p);
    Draw(image);
    EXPECT_RGB_AT(0.0, 0.0, kBackgroundRgb);
}

TEST_F(ImageDraw, LeavesTheStateTheNextEffectExpects)
{
    const std::string pixels = QuadrantPixels(8, 8);
    Image image;
    Params p;
    p.r = 0.25f;
    p.g = 0.5f;
    p.b = 0.75f;
    p.alpha = 0.125f;
    Set(image, nullptr, &pixels, 8, 8, p);
    ClearFrame(0, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_LIGHTING);
    glMatrixMode(GL_PROJECTION);
    image.Render(0);

    // Enable flags restored.
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    // Everything else stays as drawn.
    GLint mode = 0, bound = 0, source = 0, destination = 0, wrapS = 0, wrapT = 0, minFilter = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_BLEND_SRC, &source);
    glGetIntegerv(GL_BLEND_DST, &destination);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_EQ(static_cast<GLuint>(bound), image.textureName());
    EXPECT_EQ(source, GL_SRC_ALPHA);
    EXPECT_EQ(destination, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(wrapS, GL_CLAMP);
    EXPECT_EQ(wrapT, GL_CLAMP);
    EXPECT_EQ(minFilter, GL_LINEAR);
    GLfloat colour[4], projection[16];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_FLOAT_EQ(colour[0], 0.25f);
    EXPECT_FLOAT_EQ(colour[3], 0.125f);
    EXPECT_NEAR(projection[0], 1.0 / kViewAspect, 1e-6);
    EXPECT_NEAR(projection[5], 1.0, 1e-6);
}

TEST_F(ImageDraw, SourceNameDecidesWhenAPictureIsBuiltAgain)
{
    ASSERT_TRUE(WriteBmp(dir / "pic.bmp", 16, 16, SolidPixels(16, 16, kRed)));
    ASSERT_TRUE(WriteBmp(dir / "PIC.bmp", 16, 16, SolidPixels(16, 16, kBlue)));
    const std::string lower = dir / "pic.bmp", upper = dir / "PIC.bmp";
    Params p = Placed(-0.5f, 0.5f);
    Image image;
    Set(image, lower.c_str(), nullptr, 0, 0, p);
    const GLuint first = image.textureName();
    ASSERT_NE(first, 0u);
    EXPECT_EQ(image.pictureWidth(), 16);
    EXPECT_STREQ(image.sourceName(), lower.c_str());

    // Same name: not read again, even though the file changed.
    ASSERT_TRUE(WriteBmp(lower, 16, 16, SolidPixels(16, 16, kGreen)));
    Set(image, lower.c_str(), nullptr, 0, 0, p);
    EXPECT_EQ(image.textureName(), first);
    Draw(image);
    EXPECT_RGB_AT(0.0, 0.0, kRed);

    // The same name in other case is another picture.
    Set(image, upper.c_str(), nullptr, 0, 0, p);
    EXPECT_NE(image.textureName(), first);
    EXPECT_FALSE(glIsTexture(first));
    Draw(image);
    EXPECT_RGB_AT(0.0, 0.0, kBlue);

    // Pixel data without a name does not replace a file's picture, and a
    // call with no source keeps it while taking the new parameters.
    const GLuint fromFile = image.textureName();
    const std::string green = SolidPixels(4, 4, kGreen);
    Set(image, nullptr, &green, 4, 4, p);
    EXPECT_EQ(image.textureName(), fromFile);
    p.x = 0.3f;
    Set(image, nullptr, nullptr, 0, 0, p);
    EXPECT_EQ(image.textureName(), fromFile);
    Draw(image);
    EXPECT_RGB_AT(0.8, 0.0, kBlue);
    EXPECT_RGB_AT(0.0, 0.0, kBackgroundRgb);

    // Pixel data with a name is built once; without one at every call, and
    // the previous texture goes each time.
    Image named, unnamed;
    Set(named, "key", &green, 4, 4, p);
    const GLuint namedTexture = named.textureName();
    const std::string red = SolidPixels(4, 4, kRed);
    Set(named, "key", &red, 4, 4, p);
    EXPECT_EQ(named.textureName(), namedTexture);
    Set(named, nullptr, &red, 4, 4, p);
    EXPECT_EQ(named.textureName(), namedTexture);
    Draw(named);
    EXPECT_RGB_AT(0.8, 0.0, kGreen);

    Set(unnamed, nullptr, &green, 4, 4, p);
    GLuint previous = unnamed.textureName();
    for (int call = 0; call < 3; ++call) {
        Set(unnamed, nullptr, &red, 4, 4, p);
        EXPECT_NE(unnamed.textureName(), previous);
        EXPECT_FALSE(glIsTexture(previous));
        EXPECT_TRUE(glIsTexture(unnamed.textureName()));
        previous = unnamed.textureName();
    }
    Draw(unnamed);
    EXPECT_RGB_AT(0.8, 0.0, kRed);
}

TEST_F(ImageDraw, FailedFileLoadKeepsEverythingButTheName)
{
    ASSERT_TRUE(WriteBmp(dir / "first.bmp", 16, 16, SolidPixels(16, 16, kRed)));
    const std::string first = dir / "first.bmp", later = dir / "later.bmp";
    Params p = Placed(-0.5f, 0.5f);
    Image image;
    Set(image, first.c_str(), nullptr, 0, 0, p);
    const GLuint texture = image.textureName();

    Params moved = p;
    moved.x = 0.3f;
    Set(image, later.c_str(), nullptr, 0, 0, moved);
    EXPECT_EQ(image.textureName(), texture);
    EXPECT_EQ(image.sourceName(), nullptr);
    Draw(image);
    EXPECT_RGB_AT(0.0, 0.0, kRed);  // parameters unchanged too

    // Once the file exists, the same name loads it.
    ASSERT_TRUE(WriteBmp(later, 16, 16, SolidPixels(16, 16, kGreen)));
    Set(image, later.c_str(), nullptr, 0, 0, moved);
    EXPECT_NE(image.textureName(), texture);
    EXPECT_STREQ(image.sourceName(), later.c_str());
    Draw(image);
    EXPECT_RGB_AT(0.8, 0.0, kGreen);
}

TEST_F(ImageDraw, UnusablePixelDataKeepsThePictureAndAppliesTheParameters)
{
    const std::string red = SolidPixels(4, 4, kRed);
    Params p = Placed(-0.5f, 0.5f);
    Image image;
    Set(image, nullptr, &red, 4, 4, p);
    const GLuint texture = image.textureName();
    ASSERT_NE(texture, 0u);

    const std::string shortData(4 * 4 * 4 - 1, '\x7f');
    const std::string someBytes(64, '\x7f');
    const struct { const char* what; const std::string* data; int width, height; } rejected[] = {
        {"short data", &shortData, 4, 4},
        {"negative width", &someBytes, -4, 4},
        {"negative height", &someBytes, 4, -4},
        {"byte count overflows", &someBytes, 65536, 65536},
        {"largest sizes", &someBytes, INT_MAX, INT_MAX},
        {"no pixel data", nullptr, 4, 4},
    };
    float x = -0.5f;
    for (const auto& c : rejected) {
        SCOPED_TRACE(c.what);
        x = -x;
        p.x = x;
        Set(image, nullptr, c.data, c.width, c.height, p);
        EXPECT_EQ(image.textureName(), texture);
        EXPECT_EQ(image.pictureWidth(), 4);
        EXPECT_TRUE(glIsTexture(texture));
        Draw(image);
        EXPECT_RGB_AT(x + 0.5, 0.0, kRed);
        EXPECT_RGB_AT(-x + 0.5, 0.0, kBackgroundRgb);
    }

    // A rejected request under a new name does not take that name, so the
    // same name with good data builds the picture afterwards.
    Set(image, "pixels", &shortData, 4, 4, p);
    EXPECT_EQ(image.sourceName(), nullptr);
    const std::string green = SolidPixels(4, 4, kGreen);
    Set(image, "pixels", &green, 4, 4, p);
    EXPECT_STREQ(image.sourceName(), "pixels");
    Draw(image);
    EXPECT_RGB_AT(x + 0.5, 0.0, kGreen);
}

TEST_F(ImageDraw, NoPictureDrawsNothing)
{
    // A fresh object starts with every parameter and the size at 0.
    Image fresh;
    EXPECT_EQ(fresh.textureName(), 0u);
    EXPECT_EQ(fresh.pictureWidth(), 0);
    ClearFrame(kBackground[0], kBackground[1], kBackground[2]);
    glMatrixMode(GL_PROJECTION);
    EXPECT_EQ(fresh.Render(-5), 0);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION) << "an object without a picture touches no GL state";

    // Parameters without any picture: still nothing, and no texture made.
    Params p = Placed(-0.5f, 0.5f);
    Set(fresh, nullptr, nullptr, 8, 8, p);
    EXPECT_EQ(fresh.textureName(), 0u);
    Draw(fresh);
    EXPECT_RGB_AT(0.0, 0.0, kBackgroundRgb);

    // An empty picture (no data, size 0 x 0) is a 1 x 1 transparent texture
    // that draws nothing.
    Set(fresh, nullptr, nullptr, 0, 0, p);
    EXPECT_NE(fresh.textureName(), 0u);
    EXPECT_EQ(fresh.textureWidth(), 1);
    EXPECT_EQ(fresh.pictureWidth(), 0);
    Draw(fresh);
    EXPECT_RGB_AT(0.0, 0.0, kBackgroundRgb);
    EXPECT_RGB_AT(-1.0, 0.9, kBackgroundRgb);
}

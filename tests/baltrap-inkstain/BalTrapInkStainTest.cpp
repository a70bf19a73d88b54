// BalTrap and InkStain drawn into a real GL window. BalTrap: the staircase, the picture square's placement, turn
// and mirroring, the picture kept and upright after a Model. InkStain: the page at several opening angles, the
// blot's shape and size, when the stain is recompiled, and what happens without a picture or list names.
#include "effects/BalTrap.h"
#include "effects/InkStain.h"
#include "effects/Model.h"
#include "tests/model/ModelScenes.h"
#include "tests/support/Pictures.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <cmath>
#include <limits>

using namespace testing_support;

namespace {

constexpr int kTolerance = 4;
const Rgba kBackground{64, 64, 64, 255};  // the clear colour, 0.25 grey
// A quadrant picture's top left, top right, bottom left and bottom right, and the same seen from behind.
const Rgba kUpright[4] = {kRed, kGreen, kBlue, kYellow}, kMirrored[4] = {kGreen, kRed, kYellow, kBlue};

// Writes a BMP in four quadrants into a folder removed at exit; returns its path.
std::string WriteQuadrants(const std::string& name, int width, int height, const Rgba (&c)[4] = kUpright)
{
    static TempDir dir;
    WriteBmp(dir / name, width, height, QuadrantPixels(width, height, c[0], c[1], c[2], c[3]));
    return dir / name;
}

// Xvfb visuals may have no alpha channel: probes compare colour only.
Rgba Ndc(double x, double y)
{
    Rgba c = ReadPixelNdc(x, y);
    c.a = 255;
    return c;
}

// Probes a quadrant picture of half-sizes (w, h) centred on (x, y) as `at` reads it: each quadrant's centre
// and, given an outside colour, a point beyond the middle of each side.
template <class Probe>
void ExpectPicture(Probe at, double x, double y, double w, double h, const Rgba (&quadrants)[4],
                   const Rgba* outside = nullptr)
{
    const int sx[4] = {-1, 1, -1, 1}, sy[4] = {1, 1, -1, -1};
    const double ox[4] = {-1.2, 1.2, 0, 0}, oy[4] = {0, 0, 1.2, -1.2};  // left, right, top, bottom
    for (int q = 0; q < 4; ++q) {
        SCOPED_TRACE("quadrant " + std::to_string(q + 1) + " around " + std::to_string(x) + ", " + std::to_string(y));
        EXPECT_PIXEL(at(x + sx[q] * w / 2, y + sy[q] * h / 2), quadrants[q], kTolerance);
        if (outside)
            EXPECT_PIXEL(at(x + ox[q] * w, y + oy[q] * h), *outside, kTolerance);
    }
}

// Opens the 800 x 600 window: an Xvfb without -noreset resets when its last client leaves and refuses a
// connection made meanwhile; a second try gets through. Draw clears to kBackground and renders.
class EffectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OpenGlWindow(800, 600) || OpenGlWindow(800, 600)) << "needs a display"; }

    template <class Effect>
    void Draw(Effect& effect)
    {
        ClearFrame(0.25f, 0.25f, 0.25f, 1.0f);
        EXPECT_EQ(effect.Render(1000), 0);
    }

    const std::string quadrants_ = WriteQuadrants("quadrants.bmp", 64, 64);
    // Not a power of two: only the picture's share of the texture may show.
    const std::string card_ = WriteQuadrants("card.bmp", 48, 40);
};

// BalTrap

const Rgba kStairRed{148, 26, 26, 255};  // (0.58, 0.1, 0.1) opaque

// The staircase's bars in drawing order, treads and risers in turn.
struct Bar { double left, right, bottom, top; };
const Bar kBars[] = {
    {-1.0, -0.6, -0.49, -0.48},     {-0.605, -0.595, -0.49, -0.29}, {-0.6, -0.2, -0.30, -0.29},
    {-0.205, -0.195, -0.30, -0.10}, {-0.2, 0.2, -0.11, -0.10},      {0.195, 0.205, -0.11, 0.09},
    {0.2, 0.6, 0.08, 0.09},         {0.595, 0.605, 0.08, 0.28},     {0.6, 1.0, 0.27, 0.28},
};

class BalTrapTest : public EffectTest {};

TEST_F(BalTrapTest, StaircaseOpacityFollowsTrapAlpha)
{
    BalTrap effect;
    const Rgba halfRed{(148 + 64) / 2, (26 + 64) / 2, (26 + 64) / 2, 255};
    const struct { float alpha; Rgba bar; } cases[] = {{1.0f, kStairRed}, {0.5f, halfRed}, {0.0f, kBackground}};
    for (const auto& c : cases) {
        SCOPED_TRACE("trap_alpha " + std::to_string(c.alpha));
        effect.SetParams({nullptr, 0, 0, 1, 0, c.alpha});
        Draw(effect);
        for (int bar = 0; bar < 9; ++bar) {
            const Bar& b = kBars[bar];
            const double middle = (b.left + b.right) / 2;
            EXPECT_PIXEL(Ndc(middle, (b.bottom + b.top) / 2), c.bar, kTolerance);
            if (bar % 2 == 0) {  // open space above and below each tread
                EXPECT_PIXEL(Ndc(middle, b.top + 0.05), kBackground, kTolerance);
                EXPECT_PIXEL(Ndc(middle, b.bottom - 0.05), kBackground, kTolerance);
            }
        }
        EXPECT_PIXEL(Ndc(-0.9, 0.9), kBackground, kTolerance);
        EXPECT_PIXEL(Ndc(0.9, -0.9), kBackground, kTolerance);
    }
}

TEST_F(BalTrapTest, SquareIsScaledAndPlacedUprightWithItsOffsets)
{
    BalTrap effect;
    // zoom 1 at the origin: -0.1 to 0.1 on both axes.
    effect.SetParams({quadrants_.c_str(), 0, 0, 1, 0, 0});
    Draw(effect);
    ExpectPicture(Ndc, 0, 0, 0.1, 0.1, kUpright, &kBackground);

    // zoom 2 scales the offsets too: centre (0.5, -0.4), half-size 0.2.
    effect.SetParams({nullptr, 0.25f, -0.2f, 2, 0, 0});
    Draw(effect);
    ExpectPicture(Ndc, 0.5, -0.4, 0.2, 0.2, kUpright, &kBackground);
    EXPECT_PIXEL(Ndc(0, 0), kBackground, kTolerance);

    // Drawn over an opaque staircase the picture is opaque. Centre (-0.7,
    // -0.385): the lower left quadrant lies over the first tread.
    effect.SetParams({nullptr, -0.35f, -0.1925f, 2, 0, 1});
    Draw(effect);
    EXPECT_PIXEL(Ndc(-0.8, -0.485), kBlue, kTolerance);
    EXPECT_PIXEL(Ndc(-0.95, -0.485), kStairRed, kTolerance);
}

TEST_F(BalTrapTest, TurnNarrowsByCosineHidesAtNinetyAndMirrorsAtHalfTurn)
{
    BalTrap effect;
    // zoom 2 at the origin, turned 60 degrees: half-width 0.2 * cos 60 = 0.1.
    effect.SetParams({quadrants_.c_str(), 0, 0, 2, 60, 0});
    Draw(effect);
    ExpectPicture(Ndc, 0, 0, 0.1, 0.2, kUpright, &kBackground);

    effect.SetParams({nullptr, 0, 0, 2, 90, 0});
    Draw(effect);
    for (double x : {-0.15, -0.05, -0.003, 0.003, 0.05, 0.15}) {
        SCOPED_TRACE("x " + std::to_string(x));
        EXPECT_PIXEL(Ndc(x, 0.1), kBackground, kTolerance);
    }

    // From behind: left and right swap, top and bottom stay.
    effect.SetParams({nullptr, 0, 0, 2, 180, 0});
    Draw(effect);
    ExpectPicture(Ndc, 0, 0, 0.2, 0.2, kMirrored);
}

// Loading the picture inside SetParams (both effects) leaves texturing as the caller had it.
TEST_F(BalTrapTest, SetParamsLeavesTexturingAlone)
{
    auto expectUntouched = [] {
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(bound, 0);
    };
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    BalTrap trap;
    trap.SetParams({quadrants_.c_str(), 0, 0, 1, 0, 1});
    ASSERT_TRUE(trap.ballTexture);
    expectUntouched();
    InkStain stain;
    stain.SetParams({quadrants_.c_str(), 0, 1});
    ASSERT_TRUE(stain.frontTexture);
    expectUntouched();
}

// Until a picture is held the staircase is drawn alone and every call with a file name tries the load again (a
// picture one texel taller than GL holds is refused like a missing file); the first picture loaded is kept.
TEST_F(BalTrapTest, WithoutPictureOnlyTheStaircaseIsDrawnAndTheLoadIsRetried)
{
    BalTrap effect;
    Draw(effect);  // before any SetParams: an opaque staircase
    EXPECT_PIXEL(Ndc(0, -0.105), kStairRed, kTolerance);
    EXPECT_PIXEL(Ndc(0, 0), kBackground, kTolerance);

    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    const std::string tooTall = WriteQuadrants("too-tall.bmp", 1, largest + 1);
    for (const char* name : {static_cast<const char*>(nullptr), "/nonexistent/picture.bmp", tooTall.c_str()}) {
        SCOPED_TRACE(name ? name : "no name");
        effect.SetParams({name, 0, 0, 2, 0, 1});
        EXPECT_FALSE(effect.ballTexture);
        Draw(effect);
        EXPECT_PIXEL(Ndc(0, -0.105), kStairRed, kTolerance);
        EXPECT_PIXEL(Ndc(-0.1, 0.1), kBackground, kTolerance);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }

    effect.SetParams({quadrants_.c_str(), 0, 0, 2, 0, 1});
    ASSERT_TRUE(effect.ballTexture);
    const GLuint first = effect.ballTexture->glName();
    const std::string white = WriteQuadrants("white.bmp", 32, 32, {kWhite, kWhite, kWhite, kWhite});
    effect.SetParams({white.c_str(), 0, 0, 2, 0, 1});
    EXPECT_EQ(effect.ballTexture->glName(), first);
    Draw(effect);
    ExpectPicture(Ndc, 0, 0, 0.2, 0.2, kUpright);  // the lower half over the staircase's middle tread
}

// A textured Model material leaves the texture matrix flipped in t (no attribute group saves it): the picture
// must stay upright after a Model, in that frame and in the next one drawn without it.
TEST_F(BalTrapTest, PictureStaysUprightAfterATexturedModel)
{
    model_test::ScratchDir scratch;  // the Model finds its texture in images/ here
    ASSERT_TRUE(WriteBmp(scratch / "images/wood.bmp", 2, 2, SolidPixels(2, 2, kWhite)));
    const std::string scene = scratch.Scene("scene.3ds",
                                            "camera Cam pos 0 -20 0 target 0 0 0\n"
                                            "material Wood texture wood.bmp\n"
                                            "quad Floor 4 material Wood uv\nobject Floor\n");
    Model model;
    ASSERT_EQ(model.SetParams({scene.c_str(), 25, 0, 0, 0}), 0);
    BalTrap effect;
    effect.SetParams({quadrants_.c_str(), 0, 0, 2, 0, 1});

    ClearFrame(0.25f, 0.25f, 0.25f, 1.0f);
    model.Render(0);
    ASSERT_EQ(model.textures.Count(), 1);
    for (const char* frame : {"after the Model", "the frame after, BalTrap alone"}) {
        SCOPED_TRACE(frame);
        effect.Render(1000);
        ExpectPicture(Ndc, 0, 0, 0.2, 0.2, kUpright);
        // Not ClearFrame: it would reset the texture matrix itself.
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
}

// With no list names to be had nothing may be drawn while compiling (GL runs the commands meant for a list it
// refused), and list 0 is never called.
TEST_F(BalTrapTest, ListNameZeroIsNoList)
{
    ClearFrame(0.25f, 0.25f, 0.25f, 1.0f);
    glGetError();
    FailNextListAllocations(2);
    BalTrap effect;
    FailNextListAllocations(0);
    EXPECT_EQ(effect.ballList, 0u);
    EXPECT_EQ(effect.trapList, 0u);
    EXPECT_PIXEL(Ndc(0, -0.105), kBackground, kTolerance);  // nothing drawn by the constructor

    effect.SetParams({quadrants_.c_str(), 0, 0, 2, 0, 1});
    Draw(effect);
    EXPECT_PIXEL(Ndc(0, -0.105), kBackground, kTolerance);
    EXPECT_PIXEL(Ndc(-0.1, 0.1), kBackground, kTolerance);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// InkStain

constexpr double kDegree = M_PI / 180.0;
const Rgba kCard{166, 168, 151, 255};
const Rgba kBlack{0, 0, 0, 255};
// The picture's quadrants tinted by the card colour; the page shows them mirrored.
const Rgba kTintedRed{166, 0, 0, 255}, kTintedGreen{0, 168, 0, 255}, kTintedBlue{0, 0, 151, 255},
    kTintedYellow{166, 168, 0, 255};
const Rgba kPage[4] = {kTintedGreen, kTintedRed, kTintedYellow, kTintedBlue};

// The camera as the show's maker sees it: 10 units in front of the card's plane, level with y = 2.2, a 30 degree
// vertical field and the 1.33 ratio. Gives the window pixel that shows the scene point (x, y, z).
Rgba Seen(double x, double y, double z)
{
    const double halfHeight = (10.0 - z) * std::tan(15.0 * kDegree);
    return Ndc(x / (halfHeight * 1.33), (y - 2.2) / halfHeight);
}

// The probe of the front page opened by `angle` degrees, at page point (u, v).
auto Page(double angle)
{
    const double c = std::cos(angle * kDegree), s = std::sin(angle * kDegree);
    return [c, s](double u, double v) { return Seen(u * c, v, u * s); };
}

// A point of the stain at `reach` from its centre, `theta` degrees counter-clockwise from straight up.
Rgba SeenOnStain(double theta, double reach)
{
    return Seen(1.5 - reach * std::sin(theta * kDegree), 2.2 + reach * std::cos(theta * kDegree), -0.1);
}

// The picture closed over the 3 x 4.4 card: upright, mirrored, tinted, nothing around it, and no black along
// the hinge and the bottom edge, where a texture stretched over its transparent border shows.
void ExpectClosedPage()
{
    ExpectPicture(Page(0), 1.5, 2.2, 1.5, 2.2, kPage, &kBackground);
    EXPECT_PIXEL(Page(0)(0.1, 0.1), kTintedYellow, kTolerance);
    EXPECT_PIXEL(Page(0)(2.9, 4.3), kTintedRed, kTolerance);
}

class InkStainTest : public EffectTest {};

TEST_F(InkStainTest, BlotReachesFourThirdsAtTipsAndTwoThirdsAtTroughs)
{
    constexpr double kSize = 0.6;
    InkStain effect;
    effect.SetParams({nullptr, 90, static_cast<float>(kSize)});
    Draw(effect);
    for (int i = 0; i < 10; ++i) {  // lobe tips at 18, 90, 162, 234 and 306 degrees, troughs half-way
        const bool tip = i % 2 == 0;
        const double theta = 18 + 36 * i, reach = kSize * (tip ? 4.0 : 2.0) / 3;
        SCOPED_TRACE((tip ? "tip at " : "trough at ") + std::to_string(theta));
        EXPECT_PIXEL(SeenOnStain(theta, (tip ? 0.9 : 0.85) * reach), kBlack, kTolerance);
        EXPECT_PIXEL(SeenOnStain(theta, (tip ? 1.1 : 1.15) * reach), kCard, kTolerance);
    }
    // The lobe at 90 degrees reaches left, towards the hinge; right of the
    // centre the blot ends at a trough.
    EXPECT_PIXEL(Seen(1.5 - 0.75, 2.2, -0.1), kBlack, kTolerance);
    EXPECT_PIXEL(Seen(1.5 + 0.5, 2.2, -0.1), kCard, kTolerance);
}

// Swung away from the viewer (negative angle) the page looks narrower and uncovers the card's right part;
// swung towards the viewer it looks wider and covers it; at a half turn its plain reverse lies left of the hinge.
TEST_F(InkStainTest, NegativeAngleSwingsThePageAwayPositiveTowardsTheViewer)
{
    InkStain effect;
    effect.SetParams({card_.c_str(), -40, 0});
    Draw(effect);
    ExpectPicture(Page(-40), 1.5, 2.2, 2.6, 2.2, kPage);
    EXPECT_PIXEL(Seen(2.6, 3.3, 0), kCard, kTolerance);
    EXPECT_PIXEL(Seen(2.6, 1.1, 0), kCard, kTolerance);

    effect.SetParams({nullptr, 40, 0});
    Draw(effect);
    EXPECT_PIXEL(Seen(2.6, 3.3, 0), kTintedRed, kTolerance);
    EXPECT_PIXEL(Seen(2.6, 1.1, 0), kTintedBlue, kTolerance);

    effect.SetParams({nullptr, 180, 0.5f});
    Draw(effect);
    for (const auto& [u, v] : {std::pair{1.5, 2.2}, {0.3, 4.1}, {2.8, 0.3}})
        EXPECT_PIXEL(Page(180)(u, v), kCard, kTolerance);
    EXPECT_PIXEL(Seen(-3.3, 2.2, 0), kBackground, kTolerance);
    EXPECT_PIXEL(Seen(1.5, 2.2, -0.1), kBlack, kTolerance);
    EXPECT_PIXEL(Seen(2.8, 0.3, 0), kCard, kTolerance);
}

// The stain is compiled only when its size changes: contents planted in its list by the test survive a call with the
// same size and go with a new one.
TEST_F(InkStainTest, StainListIsRecompiledOnlyWhenTheSizeChanges)
{
    InkStain effect;
    effect.SetParams({nullptr, 90, 0.5f});
    ASSERT_NE(effect.stainList, 0u);
    glNewList(effect.stainList, GL_COMPILE);
    glEndList();
    effect.SetParams({nullptr, 90, 0.5f});
    Draw(effect);
    EXPECT_PIXEL(Seen(1.5, 2.2, -0.1), kCard, kTolerance);

    effect.SetParams({nullptr, 90, 0.6f});
    Draw(effect);
    EXPECT_PIXEL(Seen(1.5, 2.2, -0.1), kBlack, kTolerance);

    // NaN never compares equal, so it recompiles (into a blot that covers
    // nothing) every time.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    effect.SetParams({nullptr, 90, nan});
    glNewList(effect.stainList, GL_COMPILE);
    glColor3f(0, 0, 0);
    glRectd(-0.5, -0.5, 0.5, 0.5);
    glEndList();
    effect.SetParams({nullptr, 90, nan});
    Draw(effect);
    EXPECT_PIXEL(Seen(1.5, 2.2, -0.1), kCard, kTolerance);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Without a picture there is no front page; every later call with a file name tries again, and once a
// picture is held it is kept, the closed page covering the card and the blot.
TEST_F(InkStainTest, WithoutPictureNoPageIsDrawnAndTheLoadIsRetried)
{
    InkStain effect;
    Draw(effect);  // before any SetParams: the backing card alone
    EXPECT_PIXEL(Seen(0.75, 3.3, 0), kCard, kTolerance);
    EXPECT_PIXEL(Seen(1.5, 2.2, 0), kCard, kTolerance);

    for (const char* name : {static_cast<const char*>(nullptr), "/nonexistent/card.bmp"}) {
        effect.SetParams({name, 0, 0});
        EXPECT_FALSE(effect.frontTexture);
        EXPECT_EQ(effect.frontList, InkStain::kNoList);
        Draw(effect);
        EXPECT_PIXEL(Seen(0.75, 3.3, 0), kCard, kTolerance);
        EXPECT_PIXEL(Seen(2.25, 1.1, 0), kCard, kTolerance);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }

    effect.SetParams({card_.c_str(), 0, 1});
    ASSERT_TRUE(effect.frontTexture);
    EXPECT_NE(effect.frontList, InkStain::kNoList);
    Draw(effect);
    ExpectClosedPage();
    EXPECT_PIXEL(Page(0)(1.2, 2.6), kTintedGreen, kTolerance);  // over the blot

    const GLuint first = effect.frontTexture->glName(), firstList = effect.frontList;
    effect.SetParams({WriteQuadrants("other.bmp", 16, 16, {kBlue, kBlue, kBlue, kBlue}).c_str(), 0, 0});
    EXPECT_EQ(effect.frontTexture->glName(), first);
    EXPECT_EQ(effect.frontList, firstList);
    Draw(effect);
    ExpectClosedPage();
}

// With no list names to be had nothing may be drawn while compiling, and list 0 is never called.
TEST_F(InkStainTest, ListNameZeroIsNoList)
{
    ClearFrame(0.25f, 0.25f, 0.25f, 1.0f);
    glGetError();
    FailNextListAllocations(3);  // backing card, stain, front page
    InkStain effect;
    effect.SetParams({card_.c_str(), 0, 1});
    FailNextListAllocations(0);
    EXPECT_EQ(effect.backList, 0u);
    EXPECT_EQ(effect.stainList, 0u);
    EXPECT_EQ(effect.frontList, 0u);
    effect.SetParams({nullptr, 90, 0.5f});  // would recompile the stain
    EXPECT_PIXEL(Seen(1.5, 2.2, 0), kBackground, kTolerance);
    Draw(effect);
    EXPECT_PIXEL(Seen(1.5, 2.2, 0), kBackground, kTolerance);
    EXPECT_PIXEL(Seen(0.3, 4.1, 0), kBackground, kTolerance);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Only the backing card's name refused: the blot alone.
    FailNextListAllocations(1);
    InkStain cardless;
    FailNextListAllocations(0);
    cardless.SetParams({nullptr, 90, 0.5f});
    Draw(cardless);
    EXPECT_PIXEL(Seen(1.5, 2.2, -0.1), kBlack, kTolerance);
    EXPECT_PIXEL(Seen(0.3, 4.1, 0), kBackground, kTolerance);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

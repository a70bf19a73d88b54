// InkStain drawn into a real GL window: the page at several opening angles, the blot's shape and size, when
// the stain is recompiled, and what happens without a picture or without list names.
#include "effects/InkStain.h"
#include "render/Texture.h"
#include "tests/baltrap-inkstain/Support.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <cmath>
#include <limits>

using namespace baltrap_inkstain;

namespace {

constexpr double kDegree = M_PI / 180.0;
const Rgba kCard{166, 168, 151, 255};
const Rgba kBlack{0, 0, 0, 255};
// The picture's quadrants tinted by the card colour; the page shows them mirrored.
const Rgba kTintedRed{166, 0, 0, 255}, kTintedGreen{0, 168, 0, 255}, kTintedBlue{0, 0, 151, 255},
    kTintedYellow{166, 168, 0, 255};
const Rgba kPage[4] = {kTintedGreen, kTintedRed, kTintedYellow, kTintedBlue};

// The camera as the show's maker sees it: 10 units in front of the card's
// plane, level with y = 2.2, a 30 degree vertical field and the 1.33 ratio.
// Gives the window pixel that shows the scene point (x, y, z).
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

// A point of the stain at `reach` from its centre, `theta` degrees
// counter-clockwise from straight up.
Rgba SeenOnStain(double theta, double reach)
{
    return Seen(1.5 - reach * std::sin(theta * kDegree), 2.2 + reach * std::cos(theta * kDegree), -0.1);
}

class InkStainTest : public EffectTest {
protected:
    // The picture closed over the 3 x 4.4 card: upright, mirrored, tinted, nothing around it, and no black
    // along the hinge and the bottom edge, where a texture stretched over its transparent border shows.
    static void ExpectClosedPage()
    {
        ExpectPicture(Page(0), 1.5, 2.2, 1.5, 2.2, kPage, &kBackground);
        EXPECT_PIXEL(Page(0)(0.1, 0.1), kTintedYellow, kTolerance);
        EXPECT_PIXEL(Page(0)(2.9, 4.3), kTintedRed, kTolerance);
    }

    // Not a power of two: only the picture's share of the texture may show.
    const std::string picture_ = WriteQuadrants("card.bmp", 48, 40);
};

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
    effect.SetParams({picture_.c_str(), -40, 0});
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

// The stain is compiled only when its size changes: contents planted in its
// list by the test survive a call with the same size and go with a new one.
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

    effect.SetParams({picture_.c_str(), 0, 1});
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
    effect.SetParams({picture_.c_str(), 0, 1});
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

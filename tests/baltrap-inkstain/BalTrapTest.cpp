// BalTrap drawn into a real GL window: the staircase's colour, the picture square's placement, turn and
// mirroring, the picture kept, and the picture upright whatever was drawn before.
#include "effects/BalTrap.h"
#include "effects/InkStain.h"
#include "effects/Model.h"
#include "tests/baltrap-inkstain/Support.h"
#include "tests/model/ModelScenes.h"

#include <GL/gl.h>

using namespace baltrap_inkstain;

namespace {

const Rgba kStairRed{148, 26, 26, 255};  // (0.58, 0.1, 0.1) opaque

// The staircase's bars in drawing order, treads and risers in turn.
struct Bar { double left, right, bottom, top; };
const Bar kBars[] = {
    {-1.0, -0.6, -0.49, -0.48},     {-0.605, -0.595, -0.49, -0.29}, {-0.6, -0.2, -0.30, -0.29},
    {-0.205, -0.195, -0.30, -0.10}, {-0.2, 0.2, -0.11, -0.10},      {0.195, 0.205, -0.11, 0.09},
    {0.2, 0.6, 0.08, 0.09},         {0.595, 0.605, 0.08, 0.28},     {0.6, 1.0, 0.27, 0.28},
};

class BalTrapTest : public EffectTest {
protected:
    const std::string quadrants_ = WriteQuadrants("quadrants.bmp", 64, 64);
};

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

// Until a picture is held the staircase is drawn alone and every call with a
// file name tries the load again (a picture one texel taller than GL holds is
// refused like a missing file); the first picture loaded is kept.
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

}  // namespace

// BalTrap drawn into a real GL window: the staircase's geometry and colour,
// the picture square's placement, turn and mirroring, the picture kept, and
// the picture upright whatever was drawn before.
#include "effects/BalTrap.h"
#include "effects/InkStain.h"
#include "effects/Model.h"
#include "tests/baltrap-inkstain/Support.h"
#include "tests/model/ModelScenes.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

using namespace baltrap_inkstain;

namespace {

constexpr int kTolerance = 3;
const Rgba kBackground{64, 64, 64, 255};  // the clear colour, 0.25 grey
const Rgba kStairRed{148, 26, 26, 255};   // (0.58, 0.1, 0.1) opaque

// The staircase as the bars' nominal extents, in drawing order.
struct Bar {
    double left, right, bottom, top;
};
const Bar kBars[BalTrap::kBarCount] = {
    {-1.0, -0.6, -0.49, -0.48},     {-0.605, -0.595, -0.49, -0.29}, {-0.6, -0.2, -0.30, -0.29},
    {-0.205, -0.195, -0.30, -0.10}, {-0.2, 0.2, -0.11, -0.10},      {0.195, 0.205, -0.11, 0.09},
    {0.2, 0.6, 0.08, 0.09},         {0.595, 0.605, 0.08, 0.28},     {0.6, 1.0, 0.27, 0.28},
};

class BalTrapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(OpenWindow()) << "needs a display (run under xvfb-run)";
        quadrants_ = WriteQuadrants("quadrants.bmp", 64, 64, kRed, kGreen, kBlue, kYellow);
    }

    void Draw(BalTrap& effect)
    {
        ClearFrame(0.25f, 0.25f, 0.25f, 1.0f);
        EXPECT_EQ(effect.Render(1000), 0);
    }

    Rgba At(double x, double y) { return Rgb(ReadPixelNdc(x, y)); }

    std::string quadrants_;
};

TEST_F(BalTrapTest, StaircaseWalkMatchesTheBarTable)
{
    const BalTrap::Staircase corners = BalTrap::StaircaseVertices();
    for (int bar = 0; bar < BalTrap::kBarCount; ++bar) {
        const Bar& b = kBars[bar];
        const double want[4][2] = {{b.left, b.bottom}, {b.right, b.bottom}, {b.right, b.top}, {b.left, b.top}};
        for (int corner = 0; corner < 4; ++corner) {
            const BalTrap::Vertex& v = corners[static_cast<std::size_t>(bar * 4 + corner)];
            EXPECT_NEAR(v.x, want[corner][0], 1e-7) << "bar " << bar + 1 << " corner " << corner + 1;
            EXPECT_NEAR(v.y, want[corner][1], 1e-7) << "bar " << bar + 1 << " corner " << corner + 1;
        }
    }
}

TEST_F(BalTrapTest, StaircaseOpacityFollowsTrapAlpha)
{
    BalTrap effect;
    const Rgba halfRed{(148 + 64) / 2, (26 + 64) / 2, (26 + 64) / 2, 255};
    const struct {
        float alpha;
        Rgba bar;
    } cases[] = {{1.0f, kStairRed}, {0.5f, halfRed}, {0.0f, kBackground}};
    for (const auto& c : cases) {
        SCOPED_TRACE("trap_alpha " + std::to_string(c.alpha));
        effect.SetParams({nullptr, 0, 0, 1, 0, c.alpha});
        Draw(effect);
        for (const Bar& b : kBars)
            EXPECT_PIXEL(At((b.left + b.right) / 2, (b.bottom + b.top) / 2), c.bar, kTolerance);
        // Open space above and below each tread, and the corners of the view.
        for (int tread = 0; tread < BalTrap::kBarCount; tread += 2) {
            const Bar& b = kBars[tread];
            const double middle = (b.left + b.right) / 2;
            EXPECT_PIXEL(At(middle, b.top + 0.05), kBackground, kTolerance);
            EXPECT_PIXEL(At(middle, b.bottom - 0.05), kBackground, kTolerance);
        }
        EXPECT_PIXEL(At(-0.9, 0.9), kBackground, kTolerance);
        EXPECT_PIXEL(At(0.9, -0.9), kBackground, kTolerance);
    }
}

TEST_F(BalTrapTest, SquareIsScaledAndPlacedUprightWithItsOffsets)
{
    BalTrap effect;
    // zoom 1 at the origin: -0.1 to 0.1 on both axes.
    effect.SetParams({quadrants_.c_str(), 0, 0, 1, 0, 0});
    Draw(effect);
    EXPECT_PIXEL(At(-0.05, 0.05), kRed, kTolerance);
    EXPECT_PIXEL(At(0.05, 0.05), kGreen, kTolerance);
    EXPECT_PIXEL(At(-0.05, -0.05), kBlue, kTolerance);
    EXPECT_PIXEL(At(0.05, -0.05), kYellow, kTolerance);
    EXPECT_PIXEL(At(0.12, 0), kBackground, kTolerance);
    EXPECT_PIXEL(At(0, -0.12), kBackground, kTolerance);

    // zoom 2 scales the offsets too: centre (0.5, -0.4), half-size 0.2.
    effect.SetParams({nullptr, 0.25f, -0.2f, 2, 0, 0});
    Draw(effect);
    EXPECT_PIXEL(At(0.4, -0.3), kRed, kTolerance);
    EXPECT_PIXEL(At(0.6, -0.3), kGreen, kTolerance);
    EXPECT_PIXEL(At(0.4, -0.5), kBlue, kTolerance);
    EXPECT_PIXEL(At(0.6, -0.5), kYellow, kTolerance);
    EXPECT_PIXEL(At(0.5, -0.4 + 0.22), kBackground, kTolerance);
    EXPECT_PIXEL(At(0.5, -0.4 - 0.22), kBackground, kTolerance);
    EXPECT_PIXEL(At(0.5 - 0.22, -0.4), kBackground, kTolerance);
    EXPECT_PIXEL(At(0.5 + 0.22, -0.4), kBackground, kTolerance);
    EXPECT_PIXEL(At(0, 0), kBackground, kTolerance);

    // Drawn over an opaque staircase: the picture is opaque.
    // Centre (-0.7, -0.385): the lower left quadrant lies over the first tread.
    effect.SetParams({nullptr, -0.35f, -0.1925f, 2, 0, 1});
    Draw(effect);
    EXPECT_PIXEL(At(-0.8, -0.485), kBlue, kTolerance);
    EXPECT_PIXEL(At(-0.95, -0.485), kStairRed, kTolerance);
}

TEST_F(BalTrapTest, TurnNarrowsByCosineHidesAtNinetyAndMirrorsAtHalfTurn)
{
    BalTrap effect;
    // zoom 2 at the origin, turned 60 degrees: half-width 0.2 * cos 60 = 0.1.
    effect.SetParams({quadrants_.c_str(), 0, 0, 2, 60, 0});
    Draw(effect);
    EXPECT_PIXEL(At(-0.08, 0.15), kRed, kTolerance);
    EXPECT_PIXEL(At(0.08, 0.15), kGreen, kTolerance);
    EXPECT_PIXEL(At(-0.08, -0.15), kBlue, kTolerance);
    EXPECT_PIXEL(At(0.08, -0.15), kYellow, kTolerance);
    EXPECT_PIXEL(At(-0.12, 0), kBackground, kTolerance);
    EXPECT_PIXEL(At(0.12, 0), kBackground, kTolerance);

    effect.SetParams({nullptr, 0, 0, 2, 90, 0});
    Draw(effect);
    for (double x : {-0.15, -0.05, -0.003, 0.003, 0.05, 0.15}) {
        SCOPED_TRACE("x " + std::to_string(x));
        EXPECT_PIXEL(At(x, 0.1), kBackground, kTolerance);
    }

    // From behind: left and right swap, top and bottom stay.
    effect.SetParams({nullptr, 0, 0, 2, 180, 0});
    Draw(effect);
    EXPECT_PIXEL(At(-0.1, 0.1), kGreen, kTolerance);
    EXPECT_PIXEL(At(0.1, 0.1), kRed, kTolerance);
    EXPECT_PIXEL(At(-0.1, -0.1), kYellow, kTolerance);
    EXPECT_PIXEL(At(0.1, -0.1), kBlue, kTolerance);
}

TEST_F(BalTrapTest, FirstLoadedPictureIsKept)
{
    const std::string white = WriteQuadrants("white.bmp", 32, 32, {255, 255, 255, 255}, {255, 255, 255, 255},
                                             {255, 255, 255, 255}, {255, 255, 255, 255});
    BalTrap effect;
    effect.SetParams({quadrants_.c_str(), 0, 0, 2, 0, 0});
    ASSERT_TRUE(effect.ballTexture);
    const GLuint first = effect.ballTexture->glName();
    effect.SetParams({white.c_str(), 0, 0, 2, 0, 0});
    EXPECT_EQ(effect.ballTexture->glName(), first);
    Draw(effect);
    EXPECT_PIXEL(At(-0.1, 0.1), kRed, kTolerance);
    EXPECT_PIXEL(At(0.1, -0.1), kYellow, kTolerance);
}

// Loading the picture inside SetParams (both effects) leaves texturing as the
// caller had it.
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

// Until a picture is held the staircase is drawn alone, and every call with a
// file name tries the load again. A picture one texel taller than GL holds is
// refused like a missing file (GL itself would shrink it to fit).
TEST_F(BalTrapTest, WithoutPictureOnlyTheStaircaseIsDrawnAndTheLoadIsRetried)
{
    BalTrap effect;
    Draw(effect);  // before any SetParams: an opaque staircase
    EXPECT_PIXEL(At(0, -0.105), kStairRed, kTolerance);
    EXPECT_PIXEL(At(0, 0), kBackground, kTolerance);

    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    const std::string tooTall = WriteQuadrants("too-tall.bmp", 1, largest + 1, kRed, kGreen, kBlue, kYellow);
    for (const char* name : {static_cast<const char*>(nullptr), "/nonexistent/picture.bmp", tooTall.c_str()}) {
        SCOPED_TRACE(name ? name : "no name");
        effect.SetParams({name, 0, 0, 2, 0, 1});
        EXPECT_FALSE(effect.ballTexture);
        Draw(effect);
        EXPECT_PIXEL(At(0, -0.105), kStairRed, kTolerance);
        EXPECT_PIXEL(At(-0.1, 0.1), kBackground, kTolerance);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }

    effect.SetParams({quadrants_.c_str(), 0, 0, 2, 0, 1});
    ASSERT_TRUE(effect.ballTexture);
    Draw(effect);
    EXPECT_PIXEL(At(-0.1, 0.1), kRed, kTolerance);
    EXPECT_PIXEL(At(0.1, -0.15), kYellow, kTolerance);  // over the staircase's middle tread
}

// A textured Model material leaves the texture matrix flipped in t (no
// attribute group saves it): the picture must stay upright after a Model, in
// that frame and in the next one drawn without it.
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
        EXPECT_PIXEL(At(-0.1, 0.1), kRed, kTolerance);
        EXPECT_PIXEL(At(0.1, -0.1), kYellow, kTolerance);
        // Not ClearFrame: it would reset the texture matrix itself.
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
}

// With no list names to be had the effect must neither draw while compiling
// (which is what GL does with commands meant for a list it refused) nor call
// list 0.
TEST_F(BalTrapTest, ListNameZeroIsNoList)
{
    ClearFrame(0.25f, 0.25f, 0.25f, 1.0f);
    glGetError();
    FailNextListAllocations(2);
    BalTrap effect;
    FailNextListAllocations(0);
    EXPECT_EQ(effect.ballList, 0u);
    EXPECT_EQ(effect.trapList, 0u);
    EXPECT_PIXEL(At(0, -0.105), kBackground, kTolerance);  // nothing drawn by the constructor

    effect.SetParams({quadrants_.c_str(), 0, 0, 2, 0, 1});
    Draw(effect);
    EXPECT_PIXEL(At(0, -0.105), kBackground, kTolerance);
    EXPECT_PIXEL(At(-0.1, 0.1), kBackground, kTolerance);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

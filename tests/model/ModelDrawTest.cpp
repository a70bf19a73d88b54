// The Model effect drawn into a real GL window: camera and target, the time base, object tracks, skipped nodes,
// offsets, lights, materials, textures.
#include "effects/Model.h"
#include "tests/model/ModelScenes.h"
#include "tests/support/Pictures.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace testing_support;
using model_test::ScratchDir;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kTolerance = 4;
const Rgba kBlack{0, 0, 0, 255};

// Camera on -Y looking at the origin (x to the right, z up on screen) and a white omni light at the camera.
const char kStage[] =
    "camera Cam pos 0 -20 0 target 0 0 0\n"
    "light Sun pos 0 -20 0 color 1 1 1\n";

// What fixed-function lighting gives a face turned straight at the stage's light, 20 units away on the face's
// normal, with the player's attenuations and GL's default global ambient. The view transform lives in the
// projection matrix, so the viewer direction used for the highlight is the scene's +Z, at 45 degrees to the light.
Rgba Lit(const float ambient[3], const float diffuse[3], const float specular[3], float shininess)
{
    const double d = 20, attenuation = 1.0 / (0.1 * d + 0.005 * d * d);
    const double highlight = std::pow(std::sqrt(0.5), shininess);
    auto channel = [&](int i) {
        const double value = 0.2 * ambient[i] + attenuation * (ambient[i] + diffuse[i] + specular[i] * highlight);
        return static_cast<int>(std::lround(std::min(1.0, value) * 255));
    };
    return Rgba{channel(0), channel(1), channel(2), 255};
}

class ModelDraw : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!OpenGlWindow(kWidth, kHeight))
            GTEST_SKIP() << "no display";
        ClearFrame();
    }

    // Loads a scene at 25 frames a second without offsets: the stage plus the extra description.
    void Load(Model& model, const std::string& extra, const char* stage = kStage)
    {
        const std::string file = dir_.Scene("scene" + std::to_string(++scenes_) + ".3ds", stage + extra);
        ASSERT_EQ(model.SetParams({file.c_str(), 25, 0, 0, 0}), 0);
    }

    // Window pixel (x from the left, y from the top) of a scene point, under
    // the matrices in GL now (the last Render leaves its own behind).
    static void Project(double x, double y, double z, int* px, int* py)
    {
        GLdouble modelview[16], projection[16];
        GLint viewport[4];
        glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        GLdouble wx, wy, wz;
        gluProject(x, y, z, modelview, projection, viewport, &wx, &wy, &wz);
        *px = static_cast<int>(std::lround(wx));
        *py = viewport[3] - 1 - static_cast<int>(std::lround(wy));
    }
    static Rgba At(double x, double y, double z)
    {
        int px, py;
        Project(x, y, z, &px, &py);
        return ReadPixel(px, py);
    }
    static bool Shows(const Rgba& c) { return c.r + c.g + c.b > 60; }
    void Frame(Model& model, int msec)
    {
        ClearFrame();
        EXPECT_EQ(model.Render(msec), 0);
    }

    ScratchDir dir_;
    int scenes_ = 0;
};

TEST_F(ModelDraw, CameraTrackMovesThePictureWhileLookingAtTheFrameZeroTarget)
{
    Model model;
    // The target's track moves it to x = 10 by frame 50; the camera must not
    // follow it: target nodes keep their frame-0 position.
    Load(model,
         "quad Q 1\nobject Q\nquad R 1 at 3 0 0\nobject R\n",
         "camera Cam pos 0 -20 0 target 0 0 0\n"
         "pos 50 20 -20 0\n"
         "target 50 10 0 0\n"
         "light Sun pos 0 -20 10 color 1 1 1\n");
    Frame(model, 0);
    int before, row;
    Project(3, 0, 0, &before, &row);
    EXPECT_TRUE(Shows(ReadPixel(before, row)));
    EXPECT_TRUE(Shows(ReadPixelNdc(0, 0)));

    Frame(model, 2000);  // frame 50: camera at (20, -20, 0)
    EXPECT_TRUE(Shows(ReadPixelNdc(0, 0))) << "the origin must stay in the centre";
    // Where R must be now, from a camera at (20, -20, 0) looking at the origin.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, 1.33, 1.0, 200.0);
    gluLookAt(20, -20, 0, 0, 0, 0, 0, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    int after, afterRow;
    Project(3, 0, 0, &after, &afterRow);
    EXPECT_GT(before - after, 8) << "R should have moved left on screen";
    EXPECT_TRUE(Shows(ReadPixel(after, afterRow))) << ToString(ReadPixel(after, afterRow));
    EXPECT_PIXEL(ReadPixel(before, row), kBlack, 0);
}

// No scene, no camera, or a camera without its target node: nothing drawn, no GL state touched. A failed
// first load may be followed by one that succeeds.
TEST_F(ModelDraw, NoSceneNoCameraOrNoTargetLeavesGlAlone)
{
    Model empty, noCamera, noTarget;
    EXPECT_EQ(empty.SetParams({"missing.3ds", 25, 0, 0, 0}), -1);
    Load(noCamera, "quad Q 2\nobject Q\n", "light Sun pos 0 -20 0\n");
    Load(noTarget, "quad Q 2\nobject Q\n", "camera Cam pos 0 -20 0 target 0 0 0 notarget\n");
    for (Model* model : {&empty, &noCamera, &noTarget}) {
        ClearFrame();
        glClearColor(0.5f, 0.25f, 0.125f, 1.0f);
        glMatrixMode(GL_TEXTURE);
        GLfloat projection[16], after[16];
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        EXPECT_EQ(model->Render(1000), 0);
        GLint mode;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_TEXTURE);
        GLfloat clear[4];
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        EXPECT_FLOAT_EQ(clear[0], 0.5f);
        glGetFloatv(GL_PROJECTION_MATRIX, after);
        EXPECT_TRUE(std::equal(projection, projection + 16, after));
        glMatrixMode(GL_MODELVIEW);
        EXPECT_PIXEL(ReadPixelNdc(0, 0), kBlack, 0);
    }
    Load(empty, "quad Q 2\nobject Q\n");
    Frame(empty, 0);
    EXPECT_TRUE(Shows(ReadPixelNdc(0, 0)));
}

// Object tracks move, turn and scale a mesh; the time base turns milliseconds into frames.
TEST_F(ModelDraw, ObjectTracksMoveTurnAndScaleAMesh)
{
    Model model;
    Load(model,
         // An arm from x = 1 to 3, turning about the view axis.
         "mesh Arm\npoint 1 0 -0.25\npoint 3 0 -0.25\npoint 3 0 0.25\npoint 1 0 0.25\n"
         "face 0 1 2\nface 0 2 3\nend\n"
         "object Arm\nrot 50 90 0 1 0\n"
         // A small square growing three times.
         "quad S 0.6 at 0 0 -3\nobject S\nscl 50 3 3 3\n"
         // A square travelling up.
         "quad M 0.6 at -4 0 0\nobject M\npos 50 -4 0 3\n");
    Frame(model, 0);
    EXPECT_TRUE(Shows(At(2, 0, 0)));
    EXPECT_TRUE(Shows(At(0, 0, -3)));
    EXPECT_PIXEL(At(0.7, 0, -3), kBlack, 0);
    EXPECT_TRUE(Shows(At(-4, 0, 0)));

    Frame(model, 2000);  // frame 50
    EXPECT_PIXEL(At(2, 0, 0), kBlack, 0);
    // A positive angle turns clockwise seen from the axis tip (+Y, behind
    // the scene): counter-clockwise on screen, so the arm now points up.
    EXPECT_TRUE(Shows(At(0, 0, 2)));
    EXPECT_PIXEL(At(0, 0, -2), kBlack, 0);
    EXPECT_TRUE(Shows(At(0.7, 0, -3)));
    EXPECT_TRUE(Shows(At(-4, 0, 3)));

    Frame(model, 1000);  // frame 25: the travelling square half-way
    EXPECT_TRUE(Shows(At(-4, 0, 1.5)));
    EXPECT_PIXEL(At(-4, 0, 3), kBlack, 0);
    // A hash without "fps" gives rate 0: frame 0 at every time.
    ASSERT_EQ(model.SetParams({nullptr, 0, 0, 0, 0}), 0);
    Frame(model, 1000);
    EXPECT_TRUE(Shows(At(-4, 0, 0)));
    EXPECT_PIXEL(At(-4, 0, 1.5), kBlack, 0);
}

// Nodes under a camera or a $$$DUMMY are not drawn. The offsets move a top-level node once and its child
// twice, and come from every SetParams (an absent one is 0), which keeps the first scene.
TEST_F(ModelDraw, HiddenNodesOffsetsAndTheFirstSceneKept)
{
    Model model;
    Load(model,
         "quad A 1 at -3 0 0\nobject A parent Cam\n"
         "quad B 1 at 0 0 -3\nobject $$$DUMMY instance Helper\nobject B parent $$$DUMMY\n"
         "quad P 0.8\nobject P\nquad C 0.8 at 0 0 2.5\nobject C parent P\n");
    Frame(model, 0);
    EXPECT_PIXEL(At(-3, 0, 0), kBlack, 0);
    EXPECT_PIXEL(At(0, 0, -3), kBlack, 0);
    EXPECT_TRUE(Shows(At(0, 0, 0)));

    const std::string other = dir_.Scene("other.3ds", std::string(kStage) + "quad Z 2 at 4 0 0\nobject Z\n");
    ASSERT_EQ(model.SetParams({other.c_str(), 25, 2, 0, 0}), 0);
    Frame(model, 0);
    EXPECT_TRUE(Shows(At(2, 0, 0)));
    EXPECT_PIXEL(At(2, 0, 2.5), kBlack, 0);
    EXPECT_TRUE(Shows(At(4, 0, 2.5)));
    EXPECT_PIXEL(At(4, 0, 0), kBlack, 0);  // nothing of the other scene

    ASSERT_EQ(model.SetParams({nullptr, 25, 0, 0, 1}), 0);
    Frame(model, 0);
    EXPECT_TRUE(Shows(At(0, 0, 1)));
    EXPECT_TRUE(Shows(At(0, 0, 4.5)));
    EXPECT_PIXEL(At(0, 0, 3.5), kBlack, 0);
}

TEST_F(ModelDraw, ListNameZeroSkipsTheNodeForThatFrame)
{
    Model model;
    Load(model, "quad Q 2\nobject Q\n");
    FailNextListAllocations(1);
    Frame(model, 0);
    FailNextListAllocations(0);
    EXPECT_PIXEL(ReadPixelNdc(0, 0), kBlack, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    Frame(model, 0);
    EXPECT_TRUE(Shows(ReadPixelNdc(0, 0)));
}

TEST_F(ModelDraw, LightsAreOnDuringRenderAndOffAfterWithTheirValuesKept)
{
    Model model;
    Load(model, "quad Q 2\nobject Q\n",
         "camera Cam pos 0 -20 0 target 0 0 0\n"
         // lib3ds keeps lights in name order: L1, L2, L3.
         "light L1 pos 0 -20 0 color 1 0 0\n"
         "light L2 pos 0 -20 0 color 0 1 0\n"
         "light L3 pos 3 -20 4 color 0 0 1 spot 0 0 0\n"
         "color 50 0 0 0.5\n");
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    Frame(model, 2000);
    // All three lit the square while Render ran.
    const Rgba centre = ReadPixelNdc(0, 0);
    EXPECT_GT(centre.r, 40);
    EXPECT_GT(centre.g, 40);
    EXPECT_GT(centre.b, 20);
    for (GLenum flag : {GL_LIGHTING, GL_LIGHT0, GL_LIGHT1, GL_LIGHT2, GL_DEPTH_TEST, GL_CULL_FACE, GL_TEXTURE_2D})
        EXPECT_FALSE(glIsEnabled(flag)) << std::hex << flag;

    // Values kept after Render: colours (the colour track at frame 50 for L3's specular) and position.
    const struct { GLenum light, name; GLfloat want[4]; } kept[] = {
        {GL_LIGHT1, GL_DIFFUSE, {0, 1, 0, 0}}, {GL_LIGHT1, GL_AMBIENT, {0, 1, 0, 0}},
        {GL_LIGHT2, GL_SPECULAR, {0, 0, 0.5f, 0}}, {GL_LIGHT2, GL_POSITION, {3, -20, 4, 1}}};
    for (const auto& k : kept) {
        GLfloat value[4];
        glGetLightfv(k.light, k.name, value);
        for (int i = 0; i < 4; ++i)
            EXPECT_FLOAT_EQ(value[i], k.want[i]) << "light " << k.light - GL_LIGHT0 << std::hex << " 0x" << k.name;
    }
}

TEST_F(ModelDraw, LightsBeyondTheGlLimitOrWithoutNodeAreSkipped)
{
    // Lights come in name order: "A" first, without a node, then L01, L02...
    std::string stage = "camera Cam pos 0 -20 0 target 0 0 0\nlight A pos 0 -20 0 color 1 1 1 nonode\n";
    GLint limit = 0;
    glGetIntegerv(GL_MAX_LIGHTS, &limit);
    for (int i = 1; i <= limit + 2; ++i)
        stage += (i < 10 ? "light L0" : "light L") + std::to_string(i) + " pos 0 -20 0 color 0 0 " +
                 std::to_string(i / 100.0) + "\n";
    Model model;
    Load(model, "quad Q 2\nobject Q\n", stage.c_str());
    const GLfloat sentinel[4] = {0.25f, 0.5f, 0.75f, 1.0f};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, sentinel);
    glGetError();
    Frame(model, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLfloat value[4];
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, value);  // "A" has no node
    EXPECT_FLOAT_EQ(value[0], 0.25f);
    glGetLightfv(static_cast<GLenum>(GL_LIGHT0 + limit - 1), GL_DIFFUSE, value);
    EXPECT_FLOAT_EQ(value[2], (limit - 1) / 100.0f);
}

TEST_F(ModelDraw, MaterialColoursAndShininess)
{
    const float ambient[3] = {0.1f, 0.1f, 0.1f}, diffuse[3] = {0.9f, 0.2f, 0.1f}, specular[3] = {0.3f, 0.4f, 0.5f};
    const struct { const char* shininess; float expected; } cases[] = {{"0", 1.0f}, {"0.2", 32.0f}, {"0.5", 128.0f}};
    for (const auto& c : cases) {
        Model model;
        Load(model, std::string("material M diffuse 0.9 0.2 0.1 specular 0.3 0.4 0.5 shininess ") + c.shininess +
                        "\nquad Q 2 material M\nobject Q\n");
        Frame(model, 0);
        GLfloat value[4];
        glGetMaterialfv(GL_FRONT, GL_SHININESS, value);
        EXPECT_FLOAT_EQ(value[0], c.expected) << c.shininess;
        glGetMaterialfv(GL_BACK, GL_DIFFUSE, value);  // back faces too
        EXPECT_FLOAT_EQ(value[1], 0.2f);
        EXPECT_PIXEL(ReadPixelNdc(0, 0), Lit(ambient, diffuse, specular, c.expected), kTolerance);
    }
}

// First face M, second without material, third M again: the third emits no material (M is still remembered), so it
// keeps the default colours the second set, and M's shininess.
TEST_F(ModelDraw, ThreeFaceMaterialExample)
{
    Model model;
    Load(model,
         "material M diffuse 1 0 0 specular 0 0 0 shininess 0.5\n"
         "mesh T\n"
         "point -4 0 -1\npoint -2 0 -1\npoint -3 0 1\n"
         "point -1 0 -1\npoint 1 0 -1\npoint 0 0 1\n"
         "point 2 0 -1\npoint 4 0 -1\npoint 3 0 1\n"
         "face 0 1 2 M\nface 3 4 5\nface 6 7 8 M\nend\n"
         "object T\n");
    Frame(model, 0);
    const float black[3] = {0, 0, 0}, red[3] = {1, 0, 0}, materialAmbient[3] = {0.1f, 0.1f, 0.1f};
    const float defaultAmbient[3] = {0.2f, 0.2f, 0.2f}, defaultDiffuse[3] = {0.8f, 0.8f, 0.8f}, white[3] = {1, 1, 1};
    const Rgba first = Lit(materialAmbient, red, black, 128);
    const Rgba plain = Lit(defaultAmbient, defaultDiffuse, white, 128);
    EXPECT_PIXEL(At(-3, 0, -0.5), first, kTolerance);
    EXPECT_PIXEL(At(0, 0, -0.5), plain, kTolerance);
    EXPECT_PIXEL(At(3, 0, -0.5), plain, kTolerance);
    GLfloat shininess;
    glGetMaterialfv(GL_FRONT, GL_SHININESS, &shininess);
    EXPECT_FLOAT_EQ(shininess, 128.0f);
}

// A material's picture is looked for in models/ before images/, loaded once whatever the name's case, shown
// upright; a missing one is not kept and its faces are drawn with whatever colours were set.
TEST_F(ModelDraw, TexturesFoundInModelsThenImagesAndLoadedOnceWhateverTheCase)
{
    // Top row red, bottom row blue; only in "images".
    ASSERT_TRUE(WriteBmp("images/Stripes.bmp", 2, 2, QuadrantPixels(2, 2, kRed, kRed, kBlue, kBlue)));
    ASSERT_TRUE(WriteBmp("models/pic.bmp", 2, 2, SolidPixels(2, 2, kGreen)));
    ASSERT_TRUE(WriteBmp("images/pic.bmp", 2, 2, SolidPixels(2, 2, kRed)));
    Model model;
    Load(model,
         "material W texture Stripes.bmp\nmaterial W2 texture STRIPES.BMP\n"
         "material P texture pic.bmp\nmaterial Gone texture none.bmp\n"
         "quad A 3 at -2 0 0 material W uv\nobject A\n"
         "quad B 3 at 2 0 0 material W2 uv\nobject B\n"
         "quad C 1 at 0 0 2.5 material W\nobject C\n"  // no texture coordinates
         "quad D 1 at 0 0 -2.5 material P uv\nobject D\n"
         "quad E 1 at 4.5 0 0 material Gone uv\nobject E\n");
    Frame(model, 0);
    EXPECT_EQ(model.textures.Count(), 2);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    // v = 1 at the top of the square shows the picture's top row.
    for (double x : {-2.0, 2.0}) {
        const Rgba top = At(x, 0, 0.75);
        const Rgba bottom = At(x, 0, -0.75);
        EXPECT_GT(top.r, 90) << x << " " << ToString(top);
        EXPECT_LT(top.b, 20) << x << " " << ToString(top);
        EXPECT_GT(bottom.b, 90) << x << " " << ToString(bottom);
        EXPECT_LT(bottom.r, 20) << x << " " << ToString(bottom);
    }
    const Rgba seen = At(0, 0, -2.5);
    EXPECT_GT(seen.g, 90) << ToString(seen);
    EXPECT_LT(seen.r, 20) << ToString(seen);
    EXPECT_TRUE(Shows(At(4.5, 0, 0)));
    Frame(model, 40);
    EXPECT_EQ(model.textures.Count(), 2);
    EXPECT_TRUE(Shows(At(-2, 0, 0.75)));
}

}  // namespace

// The Model effect drawn into a real GL window: camera and target, the time
// base, object tracks, skipped nodes, offsets, lights, materials, textures.
#include "effects/Model.h"
#include "tests/model/ModelScenes.h"
#include "tests/support/GlWindow.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace testing_support;
using model_test::ScratchDir;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kTolerance = 6;
const Rgba kBlack{0, 0, 0, 255};

// Camera on -Y looking at the origin (x to the right, z up on screen), a white
// omni light at the camera, and whatever the test adds.
const char kStage[] =
    "camera Cam pos 0 -20 0 target 0 0 0\n"
    "light Sun pos 0 -20 0 color 1 1 1\n";

class ModelDraw : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!OpenGlWindow(kWidth, kHeight))
            GTEST_SKIP() << "no display";
        ClearFrame();
    }

    // Loads a scene made of the stage and the extra description.
    void Load(Model& model, const std::string& extra, int fps = 25, double xoff = 0, double yoff = 0,
              double zoff = 0)
    {
        const std::string file = dir_.Scene("scene.3ds", std::string(kStage) + extra);
        ASSERT_EQ(model.SetParams(file.c_str(), fps, xoff, yoff, zoff), 0);
    }

    // Window pixel (x from the left, y from the top) of a scene point, under
    // the projection the last Render left behind.
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
    static bool Lit(const Rgba& c) { return c.r + c.g + c.b > 60; }

    ScratchDir dir_;
};

TEST_F(ModelDraw, ObjectAtTheTargetShowsAtTheScreenCentre)
{
    Model model;
    Load(model, "quad Q 2\nobject Q\n");
    EXPECT_EQ(model.Render(0), 0);
    EXPECT_TRUE(Lit(ReadPixelNdc(0, 0))) << ToString(ReadPixelNdc(0, 0));
    EXPECT_PIXEL(ReadPixelNdc(0.9, 0.9), kBlack, 0);
    EXPECT_PIXEL(ReadPixelNdc(-0.9, -0.9), kBlack, 0);
    SaveFrame("/tmp/model-centre.bmp");
}

}  // namespace

// OpenGL::glClear on a real GL context: it clears colour and depth with the
// values the context holds and sets none of them itself.
#include <gtest/gtest.h>

#include "tests/support/GlWindow.h"

#include <GL/gl.h>

// perl.h after the GL and test headers: its macros clash with them.
#include "tests/support/perl/EmbeddedPerl.h"

using namespace testing_support;

TEST(OpenGLClear, UsesTheContextsClearValues)
{
    ASSERT_TRUE(OpenGlWindow(64, 64));
    EmbeddedPerl perl;
    perl.Eval("OpenGL::boot_OpenGL();");
    ASSERT_EQ(perl.error(), "");

    // Something drawn first: red everywhere, depth 0.25.
    glClearColor(1, 0, 0, 1);
    glClearDepth(0.25);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClearDepth(0.75);
    perl.Eval("OpenGL::glClear(); 1");
    ASSERT_EQ(perl.error(), "");
    EXPECT_PIXEL(ReadPixel(1, 1), (Rgba{51, 102, 153, 255}), 2);
    EXPECT_PIXEL(ReadPixel(40, 30), (Rgba{51, 102, 153, 255}), 2);
    GLfloat depth = 0;
    glReadPixels(10, 10, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_NEAR(depth, 0.75, 0.001);

    GLfloat clearColor[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColor);
    EXPECT_FLOAT_EQ(clearColor[0], 0.2f);
    EXPECT_FLOAT_EQ(clearColor[2], 0.6f);
    GLfloat clearDepth = 0;
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &clearDepth);
    EXPECT_FLOAT_EQ(clearDepth, 0.75f);
}

// The player's own text: wrapping that loses nothing and never overflows,
// an error screen whose text stays inside the window however long, and
// drawing that leaves the show's GL state as it found it.
#include "render/TextPainter.h"
#include "tests/support/GlWindow.h"

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <regex>
#include <vector>

namespace {

using testing_support::Rgba;

std::string WithoutSpaces(const std::string& text) { return std::regex_replace(text, std::regex("[ \n\t]"), ""); }

class Text : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(painter.Open(render::kFontFile, &error)) << error;
    }
    int Width(const std::string& line, int size)
    {
        int w = 0, h = 0;
        TTF_Font* font = TTF_OpenFont(render::kFontFile, size);
        TTF_SizeUTF8(font, line.c_str(), &w, &h);
        TTF_CloseFont(font);
        return w;
    }
    render::TextPainter painter;
};

// Whatever the text, no line is wider than the room, no character is lost,
// doubled or cut in two, and each of the text's own lines starts a line.
TEST_F(Text, WrapKeepsEveryCharacterWithinTheRoom)
{
    const std::string word50(50, 'w');
    const struct {
        const char* name;
        std::string text;
        int room;
    } cases[] = {
        {"perl message",
         "Global symbol \"$frame\" requires explicit package name (did you forget to declare \"my $frame\"?) at "
         "main.pl line 12.\nExecution of main.pl aborted due to compilation errors.\n",
         300},
        {"word longer than a line", "x " + word50 + " y", 120},
        {"multi-byte characters in a long word", "caf\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xb5" + word50, 90},
        {"tabs and indentation", "\t(Might be a runaway multi-line \"\" string starting on line 3)", 200},
        {"blank lines", "one\n\n\nfour", 500},
        {"room for one character", "abc def", 1},
    };
    const int size = render::kErrorPointSize;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> lines = painter.Wrap(c.text, size, c.room);
        std::string joined;
        for (const std::string& line : lines) {
            // The pieces join up to the text: a piece starting inside a character cut it.
            EXPECT_FALSE(!line.empty() && (line[0] & 0xC0) == 0x80) << "a character cut in two: " << line;
            if (c.room > 1 || line.size() > 1) {  // one character always goes on a line
                EXPECT_LE(Width(line, size), c.room) << line;
            }
            joined += line;
        }
        EXPECT_EQ(WithoutSpaces(joined), WithoutSpaces(c.text));
        const std::size_t ownLines = static_cast<std::size_t>(std::count(c.text.begin(), c.text.end(), '\n'));
        EXPECT_GE(lines.size(), ownLines + (c.text.back() == '\n' ? 0 : 1));
    }
}

// Words move to the next line whole; the indentation of a line is kept.
TEST_F(Text, WrapBreaksBetweenWords)
{
    const int size = render::kErrorPointSize;
    const int sevenColumns = Width("aaa bbb", size);
    EXPECT_EQ(painter.Wrap("aaa bbb ccc", size, sevenColumns), (std::vector<std::string>{"aaa bbb", "ccc"}));
    EXPECT_EQ(painter.Wrap("  aa\nbb", size, sevenColumns), (std::vector<std::string>{"  aa", "bb"}));
}

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// Rows [top, bottom) and columns [left, right) holding a bright pixel.
struct Extent {
    int top = kHeight, bottom = 0, left = kWidth, right = 0;
};

Extent BrightExtent()
{
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    Extent e;
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x < kWidth; ++x) {
            const unsigned char* p = &pixels[(static_cast<std::size_t>(row) * kWidth + x) * 4];
            if (p[0] > 128 && p[1] > 128 && p[2] > 128) {
                const int y = kHeight - 1 - row;
                e.top = std::min(e.top, y);
                e.bottom = std::max(e.bottom, y + 1);
                e.left = std::min(e.left, x);
                e.right = std::max(e.right, x + 1);
            }
        }
    return e;
}

// Short or long, the message lies inside the margins with room to spare
// below it for the hint, and a long one fills the screen at a smaller size.
// The overlay covers the top-left corner only, on a panel that darkens the
// show; the show stays visible elsewhere.
TEST_F(Text, ErrorScreenAndOverlayStayInTheirPlace)
{
    ASSERT_TRUE(testing_support::OpenGlWindow(kWidth, kHeight));
    std::string many;
    for (int i = 1; i <= 60; ++i)
        many += "syntax error at main.pl line " + std::to_string(i) + ", near \"frame(\"\n";
    const int margin = kWidth / 32;
    for (const std::string& message :
         {std::string("Undefined subroutine &main::main called at main.pl line 3.\n"), many, std::string(3000, 'X')}) {
        SCOPED_TRACE(message.substr(0, 40));
        testing_support::ClearFrame(1, 1, 1, 1);
        painter.DrawErrorScreen(message, "", kWidth, kHeight);
        const Extent e = BrightExtent();
        EXPECT_GE(e.left, margin);
        EXPECT_GE(e.top, margin);
        EXPECT_LE(e.right, kWidth - margin);
        EXPECT_LE(e.bottom, kHeight - margin);
        EXPECT_LT(e.top, e.bottom) << "no text drawn";
        // Background where no text can be: the bottom-right corner.
        EXPECT_PIXEL(testing_support::ReadPixel(kWidth - 2, kHeight - 2), (Rgba{41, 8, 8, 255}), 2);
    }
    // The long message goes down to the bottom margin: it was made smaller,
    // not cut after the first screenful at the large size.
    painter.DrawErrorScreen(many, "", kWidth, kHeight);
    EXPECT_GT(BrightExtent().bottom, kHeight * 3 / 4);
    EXPECT_LT(painter.FitSize(many, render::kErrorPointSize, kWidth, kHeight), render::kErrorPointSize);

    testing_support::ClearFrame(0, 0, 1, 1);
    painter.DrawOverlay("0:00.000  60.0 fps  reload 0", kWidth, kHeight);
    const Extent e = BrightExtent();
    EXPECT_LT(e.top, e.bottom) << "no text drawn";
    EXPECT_LT(e.bottom, kHeight / 10);
    EXPECT_LT(e.right, kWidth / 2);
    EXPECT_PIXEL(testing_support::ReadPixel(kWidth / 2, kHeight / 2), (Rgba{0, 0, 255, 255}), 0);
    EXPECT_LT(testing_support::ReadPixel(9, 9).b, 128);
}

// Every piece of state the drawing changes, as the show can observe it.
std::vector<double> GlState()
{
    static const struct {
        GLenum name;
        int count;
    } queries[] = {
        {GL_CURRENT_COLOR, 4},      {GL_VIEWPORT, 4},           {GL_MATRIX_MODE, 1},
        {GL_PROJECTION_MATRIX, 16}, {GL_MODELVIEW_MATRIX, 16},  {GL_TEXTURE_MATRIX, 16},
        {GL_TEXTURE_BINDING_2D, 1}, {GL_TEXTURE_2D, 1},         {GL_BLEND, 1},
        {GL_BLEND_SRC, 1},          {GL_BLEND_DST, 1},          {GL_DEPTH_TEST, 1},
        {GL_LIGHTING, 1},           {GL_CULL_FACE, 1},          {GL_COLOR_CLEAR_VALUE, 4},
        {GL_UNPACK_ALIGNMENT, 1},   {GL_POLYGON_MODE, 2},       {GL_COLOR_WRITEMASK, 4},
        {GL_SCISSOR_TEST, 1},       {GL_PROJECTION_STACK_DEPTH, 1}, {GL_MODELVIEW_STACK_DEPTH, 1},
        {GL_ATTRIB_STACK_DEPTH, 1}, {GL_CLIENT_ATTRIB_STACK_DEPTH, 1},
    };
    std::vector<double> state;
    for (const auto& q : queries) {
        GLdouble values[16];
        glGetDoublev(q.name, values);
        state.insert(state.end(), values, values + q.count);
    }
    GLint env = 0, filter = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    state.push_back(env);
    state.push_back(filter);
    return state;
}

// A show's state unlike the drawing's own: the next frame must find it.
void SetShowState(GLuint texture)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    for (const GLenum capability : {GL_TEXTURE_2D, GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE, GL_SCISSOR_TEST})
        glEnable(capability);
    glScissor(0, 0, 10, 10);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glColor4f(0.25f, 0.5f, 0.75f, 0.125f);
    glViewport(10, 20, 300, 200);
    glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glMatrixMode(GL_PROJECTION);  // ClearFrame reset the matrices
    glFrustum(-1, 1, -1, 1, 1, 10);
    glMatrixMode(GL_TEXTURE);
    glScalef(1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(0.5f, 0.25f, -3);
    glPushMatrix();
    glRotatef(30, 0, 0, 1);
}

TEST_F(Text, DrawingLeavesTheShowsStateAlone)
{
    ASSERT_TRUE(testing_support::OpenGlWindow(kWidth, kHeight));
    GLuint texture = 0;
    glGenTextures(1, &texture);
    for (const bool overlay : {true, false}) {
        SCOPED_TRACE(overlay ? "overlay" : "error screen");
        testing_support::ClearFrame(0, 0, 1, 1);
        SetShowState(texture);
        const std::vector<double> before = GlState();
        if (overlay)
            painter.DrawOverlay("1:02.345  60.0 fps  reload 2", kWidth, kHeight);
        else
            painter.DrawErrorScreen("died at main.pl line 1.\n", "hint", kWidth, kHeight);
        EXPECT_EQ(GlState(), before);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        glMatrixMode(GL_MODELVIEW);
        glPopMatrix();
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    }
    glDeleteTextures(1, &texture);
}

}  // namespace

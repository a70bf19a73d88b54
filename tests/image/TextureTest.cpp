// The texture loader: power-of-two sizes, the picture in the top-left corner
// of a zeroed RGBA texture, alpha handling, mipmaps and base names.
#include "render/Texture.h"
#include "tests/support/Pictures.h"
#include "tests/support/GlWindow.h"

#include <GL/gl.h>
#include <climits>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>
#include <vector>

using namespace testing_support;

namespace {

// The texture's level-0 texels, RGBA, row 0 first.
std::vector<unsigned char> Texels(const Texture& texture)
{
    std::vector<unsigned char> texels(static_cast<std::size_t>(texture.texWidth()) * texture.texHeight() * 4);
    glBindTexture(GL_TEXTURE_2D, texture.glName());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!OpenGlWindow())
            GTEST_SKIP() << "no display";
    }
    TempDir dir;
};

}  // namespace

TEST(NextPowerOfTwo, ExactIntegerRule)
{
    const struct { int n, want; } table[] = {
        {INT_MIN, 1}, {-5, 1}, {-1, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {100, 128}, {255, 256},
        {256, 256}, {257, 512}, {1023, 1024}, {(1 << 29) + 1, 1 << 30}, {1 << 30, 1 << 30},
    };
    for (const auto& row : table)
        EXPECT_EQ(NextPowerOfTwo(row.n), row.want) << "n = " << row.n;
    for (int shift = 0; shift <= 30; ++shift)
        ASSERT_EQ(NextPowerOfTwo(1 << shift), 1 << shift) << shift;
    // Beyond 2^30 no power of two fits an int: the largest one, never garbage.
    EXPECT_EQ(NextPowerOfTwo(INT_MAX), 1 << 30);
}

TEST(TextureName, BaseNameAfterLastSlash)
{
    EXPECT_STREQ(Texture::BaseName("models/wood.png"), "wood.png");
    EXPECT_STREQ(Texture::BaseName("wood.png"), "wood.png");
    EXPECT_STREQ(Texture::BaseName("/abs/dir/a.b.png"), "a.b.png");
    EXPECT_STREQ(Texture::BaseName("models/"), "");
}

TEST_F(TextureTest, PictureSitsTopLeftOfZeroedPowerOfTwoTexture)
{
    // 100 x 50, a plain RGB file: every picture texel comes out opaque.
    ASSERT_TRUE(WriteBmp(dir / "wide.bmp", 100, 50, QuadrantPixels(100, 50)));
    std::optional<Texture> texture = Texture::Load((dir / "wide.bmp").c_str());
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->width(), 100);
    EXPECT_EQ(texture->height(), 50);
    EXPECT_EQ(texture->texWidth(), 128);
    EXPECT_EQ(texture->texHeight(), 64);
    EXPECT_FLOAT_EQ(texture->maxS(), 0.78125f);
    EXPECT_FLOAT_EQ(texture->maxT(), 0.78125f);
    EXPECT_EQ(texture->name(), "wide.bmp");
    EXPECT_TRUE(glIsTexture(texture->glName()));

    const std::vector<unsigned char> texels = Texels(*texture);
    int wrongOutside = 0, wrongInside = 0;
    for (int row = 0; row < 64; ++row) {
        for (int column = 0; column < 128; ++column) {
            const unsigned char* t = &texels[(row * 128 + column) * 4];
            if (column >= 100 || row >= 50) {
                wrongOutside += t[0] != 0 || t[1] != 0 || t[2] != 0 || t[3] != 0;
            } else {
                const Rgba c = row >= 25 ? (column >= 50 ? kWhite : kBlue) : (column >= 50 ? kGreen : kRed);
                wrongInside += t[0] != c.r || t[1] != c.g || t[2] != c.b || t[3] != 255;
            }
        }
    }
    EXPECT_EQ(wrongOutside, 0) << "texels outside the picture must be transparent black";
    EXPECT_EQ(wrongInside, 0) << "picture texels must be the file's colours, upright, alpha 255";

    // Mipmapped, default parameters, left bound and enabled.
    GLint level1 = 0, minFilter = 0, wrap = 0, bound = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    EXPECT_EQ(level1, 64);
    EXPECT_EQ(minFilter, GL_NEAREST_MIPMAP_LINEAR);
    EXPECT_EQ(wrap, GL_REPEAT);

    // One owner at a time: a move hands the GL texture over, the record left
    // behind deletes nothing, and the last owner deletes it.
    const GLuint name = texture->glName();
    Texture moved = std::move(*texture);
    EXPECT_EQ(moved.glName(), name);
    EXPECT_EQ(moved.name(), "wide.bmp");
    EXPECT_EQ(texture->glName(), 0u);
    texture.reset();
    EXPECT_TRUE(glIsTexture(name));
    Texture assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(glIsTexture(name));
    assigned = Texture();
    EXPECT_FALSE(glIsTexture(name));

    std::optional<Texture> again = Texture::Load((dir / "wide.bmp").c_str());
    ASSERT_TRUE(again);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), again->glName());
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(TextureTest, AlphaChannelKeptAndSizesExact)
{
    // Made by the build: 100 x 50, every pixel (255, 0, 0, 128).
    std::optional<Texture> translucent = Texture::Load(SHOWPLAYER_FIXTURE_DIR "/translucent.png");
    ASSERT_TRUE(translucent);
    const std::vector<unsigned char> texels = Texels(*translucent);
    EXPECT_EQ(texels[0], 255);
    EXPECT_NEAR(texels[3], 128, 1);
    EXPECT_NEAR(texels[(49 * 128 + 99) * 4 + 3], 128, 1);
    EXPECT_EQ(texels[(49 * 128 + 100) * 4 + 3], 0);

    ASSERT_TRUE(WriteBmp(dir / "square.bmp", 256, 256, SolidPixels(256, 256, kGreen)));
    ASSERT_TRUE(WriteBmp(dir / "dot.bmp", 1, 1, SolidPixels(1, 1, kBlue)));
    std::optional<Texture> square = Texture::Load((dir / "square.bmp").c_str());
    std::optional<Texture> dot = Texture::Load((dir / "dot.bmp").c_str());
    ASSERT_TRUE(square && dot);
    EXPECT_EQ(square->texWidth(), 256);
    EXPECT_EQ(square->texHeight(), 256);
    EXPECT_FLOAT_EQ(square->maxS(), 1.0f);
    EXPECT_FLOAT_EQ(square->maxT(), 1.0f);
    EXPECT_EQ(dot->texWidth(), 1);
    EXPECT_EQ(dot->texHeight(), 1);
}

TEST_F(TextureTest, NamesAndFailures)
{
    ASSERT_TRUE(WriteBmp(dir / "models/wood.png", 4, 4, SolidPixels(4, 4, kRed)));  // BMP bytes, PNG name
    ASSERT_TRUE(WriteBmp(dir / "wood.png", 4, 4, SolidPixels(4, 4, kRed)));
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    std::optional<Texture> nested = Texture::Load("models/wood.png");
    std::optional<Texture> plain = Texture::Load("wood.png");
    std::optional<Texture> directory = Texture::Load("models/");
    std::optional<Texture> missing = Texture::Load("models/none.png");
    ASSERT_EQ(chdir(previous), 0);

    ASSERT_TRUE(nested && plain);
    EXPECT_EQ(nested->name(), "wood.png");
    EXPECT_EQ(plain->name(), "wood.png");
    EXPECT_FALSE(directory);
    EXPECT_FALSE(missing);
    EXPECT_FALSE(Texture::Load(nullptr));

    // A file that is no picture fails silently too.
    FILE* junk = std::fopen((dir / "junk.png").c_str(), "w");
    ASSERT_NE(junk, nullptr);
    std::fputs("not a picture", junk);
    std::fclose(junk);
    EXPECT_FALSE(Texture::Load((dir / "junk.png").c_str()));
}

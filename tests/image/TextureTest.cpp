// The texture loader: power-of-two sizes, the picture in the top-left corner of a zeroed RGBA texture, alpha
// kept, mipmaps, base names, one owner.
#include "render/Texture.h"
#include "tests/support/Pictures.h"

#include <GL/gl.h>
#include <climits>
#include <gtest/gtest.h>
#include <optional>

using namespace testing_support;

namespace {

// The texture's level-0 texels, RGBA, row 0 first.
std::string Texels(const Texture& texture)
{
    std::string texels(static_cast<std::size_t>(texture.texWidth()) * texture.texHeight() * 4, '\0');
    glBindTexture(GL_TEXTURE_2D, texture.glName());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

}  // namespace

TEST(NextPowerOfTwo, ExactIntegerRule)
{
    const struct { int n, want; } table[] = {
        {INT_MIN, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {255, 256}, {256, 256}, {257, 512},
        {(1 << 29) + 1, 1 << 30}, {1 << 30, 1 << 30}, {INT_MAX, 1 << 30},
    };
    for (const auto& row : table)
        EXPECT_EQ(NextPowerOfTwo(row.n), row.want) << "n = " << row.n;
}

TEST(TextureName, BaseNameAfterLastSlash)
{
    EXPECT_STREQ(Texture::BaseName("models/wood.png"), "wood.png");
    EXPECT_STREQ(Texture::BaseName("wood.png"), "wood.png");
    EXPECT_STREQ(Texture::BaseName("/abs/dir/a.b.png"), "a.b.png");
    EXPECT_STREQ(Texture::BaseName("models/"), "");
}

TEST(TextureTest, PictureSitsTopLeftOfZeroedPowerOfTwoTexture)
{
    ASSERT_TRUE(OpenGlWindow()) << "no display";
    TempDir dir;
    // 100 x 50, a plain RGB file: every picture texel comes out opaque.
    ASSERT_TRUE(WriteBmp(dir / "wide.bmp", 100, 50, QuadrantPixels(100, 50)));
    std::optional<Texture> texture = Texture::Load((dir / "wide.bmp").c_str());
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->width(), 100);
    EXPECT_EQ(texture->height(), 50);
    EXPECT_FLOAT_EQ(texture->maxS(), 100.0f / 128);
    EXPECT_FLOAT_EQ(texture->maxT(), 50.0f / 64);
    EXPECT_EQ(texture->name(), "wide.bmp");

    std::string want(128 * 64 * 4, '\0');
    const std::string picture = QuadrantPixels(100, 50);  // opaque
    for (int row = 0; row < 50; ++row)
        want.replace(row * 128 * 4, 100 * 4, picture, row * 100 * 4, 100 * 4);
    EXPECT_TRUE(Texels(*texture) == want) << "the file's colours upright and opaque, transparent black around";

    // Mipmapped, left bound and enabled.
    GLint level1 = 0, bound = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
    EXPECT_EQ(level1, 64);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), texture->glName());
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));

    // One owner at a time: a move hands the GL texture over, the record left
    // behind deletes nothing, and the last owner deletes it.
    const GLuint name = texture->glName();
    Texture moved = std::move(*texture);
    EXPECT_EQ(moved.glName(), name);
    texture.reset();
    EXPECT_TRUE(glIsTexture(name));
    Texture assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(glIsTexture(name));
    assigned = Texture();
    EXPECT_FALSE(glIsTexture(name));

    // The picture's own alpha is kept: made by the build, 100 x 50, every
    // pixel (255, 0, 0, 128).
    std::optional<Texture> translucent = Texture::Load(SHOWPLAYER_FIXTURE_DIR "/translucent.png");
    ASSERT_TRUE(translucent);
    const std::string half = Texels(*translucent);
    EXPECT_EQ(static_cast<unsigned char>(half[0]), 255);
    EXPECT_NEAR(static_cast<unsigned char>(half[(49 * 128 + 99) * 4 + 3]), 128, 1);
    EXPECT_EQ(half[(49 * 128 + 100) * 4 + 3], 0);

    // Nothing for no name, a folder, a missing file or one that is no picture.
    dir.Write("junk.png", "not a picture");
    for (const std::string& bad : {dir.path(), dir / "none.png", dir / "junk.png"})
        EXPECT_FALSE(Texture::Load(bad.c_str())) << bad;
    EXPECT_FALSE(Texture::Load(nullptr));
}

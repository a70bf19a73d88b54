// Pictures decoded into power-of-two RGBA buffers ready for a GL upload.
#include "render/Picture.h"

#include <GL/gl.h>
#include <SDL.h>
#include <SDL_image.h>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Masks that lay each pixel out in memory as the bytes R, G, B, A.
constexpr Uint32 kRedMask = 0x000000FF;
constexpr Uint32 kGreenMask = 0x0000FF00;
constexpr Uint32 kBlueMask = 0x00FF0000;
constexpr Uint32 kAlphaMask = 0xFF000000;
constexpr int kBytesPerPixel = 4;

// Largest pixel buffer we build: its byte count must fit an int, which is what
// SDL and GL count sizes in.
constexpr std::uint64_t kMaxBufferBytes = INT_MAX;

// SDL 1.2 keeps a surface's row length in 16 bits and makes no 32-bit surface
// wider than this.
constexpr int kMaxSurfaceWidth = 0xFFFF / kBytesPerPixel;

// GL keeps at most one error flag per kind; more reads than that only spin.
constexpr int kGlErrorFlags = 8;

std::uint64_t BufferBytes(int pixelsWide, int pixelsHigh)
{
    return static_cast<std::uint64_t>(pixelsWide) * static_cast<std::uint64_t>(pixelsHigh) * kBytesPerPixel;
}

// A zeroed buffer for a width x height picture, or nothing when it must not be
// built. Checked before any allocation: an absurd size (say 2^28 x 1 pixels)
// would otherwise take a gigabyte only to be refused by GL afterwards.
std::optional<Picture> EmptyPicture(int width, int height)
{
    if (width < 0 || height < 0)
        return std::nullopt;
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.texWidth = NextPowerOfTwo(width);
    picture.texHeight = NextPowerOfTwo(height);
    const std::uint64_t bytes = BufferBytes(picture.texWidth, picture.texHeight);
    if (bytes > kMaxBufferBytes || !GlCanHold(picture.texWidth, picture.texHeight))
        return std::nullopt;
    try {
        picture.pixels.assign(static_cast<std::size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;  // out of memory: refused like a picture too large
    }
    return picture;
}

struct SurfaceFree {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceFree>;

}  // namespace

int NextPowerOfTwo(int n)
{
    if (n <= 1)
        return 1;
    if (n > (1 << 30))
        return 1 << 30;  // the largest power of two an int holds
    unsigned int power = 1;
    while (power < static_cast<unsigned int>(n))
        power <<= 1;
    return static_cast<int>(power);
}

// NOTE: an upload GL refuses would leave an empty texture behind, so the
// question is asked before; the proxy query answers without storing anything.
bool GlCanHold(int texWidth, int texHeight)
{
    // Sides past the largest GL admits never reach GL at all: Mesa's
    // software driver overruns its stack on a proxy query 2^28 texels wide.
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    if (texWidth > largest || texHeight > largest)
        return false;
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, GL_RGBA, texWidth, texHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLint heldWidth = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &heldWidth);
    // A size GL cannot even consider raises an error instead of clearing the
    // proxy; it must not stay behind for the script's next GL call.
    for (int flag = 0; flag < kGlErrorFlags && glGetError() != GL_NO_ERROR; ++flag) {
    }
    return heldWidth != 0;
}

std::optional<Picture> DecodePicture(const char* path)
{
    if (!path)
        return std::nullopt;
    const Surface decoded(IMG_Load(path));
    if (!decoded || decoded->w > kMaxSurfaceWidth)
        return std::nullopt;
    std::optional<Picture> picture = EmptyPicture(decoded->w, decoded->h);
    if (!picture)
        return std::nullopt;
    // The blit converts any pixel format into RGBA bytes, copying pixels
    // instead of blending them. It goes through a surface of the picture's own
    // size: a row of the power-of-two buffer can be longer than SDL allows.
    const Surface rgba(SDL_CreateRGBSurface(0, decoded->w, decoded->h, 32, kRedMask, kGreenMask, kBlueMask,
                                            kAlphaMask));
    if (!rgba)
        return std::nullopt;
    SDL_SetAlpha(decoded.get(), 0, 0);
    SDL_SetAlpha(rgba.get(), 0, 0);
    SDL_UpperBlit(decoded.get(), nullptr, rgba.get(), nullptr);
    const std::size_t rowBytes = static_cast<std::size_t>(picture->width) * kBytesPerPixel;
    const std::size_t texRowBytes = static_cast<std::size_t>(picture->texWidth) * kBytesPerPixel;
    SDL_LockSurface(rgba.get());
    for (int row = 0; row < picture->height; ++row)
        std::memcpy(picture->pixels.data() + row * texRowBytes,
                    static_cast<const unsigned char*>(rgba->pixels) + row * rgba->pitch, rowBytes);
    SDL_UnlockSurface(rgba.get());
    return picture;
}

std::optional<Picture> PictureFromPixels(const unsigned char* data, std::size_t length, int width, int height)
{
    if (width < 0 || height < 0)
        return std::nullopt;
    const std::uint64_t pictureBytes = BufferBytes(width, height);
    if (pictureBytes > 0 && (!data || length < pictureBytes))
        return std::nullopt;
    std::optional<Picture> picture = EmptyPicture(width, height);
    if (!picture)
        return std::nullopt;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * kBytesPerPixel;
    const std::size_t texRowBytes = static_cast<std::size_t>(picture->texWidth) * kBytesPerPixel;
    for (int row = 0; pictureBytes > 0 && row < height; ++row)
        std::memcpy(picture->pixels.data() + row * texRowBytes, data + row * rowBytes, rowBytes);
    return picture;
}

// The Image effect: one picture drawn flat in the 2D view as a textured,
// alpha-blended rectangle, placed, anchored, scaled, rotated, tinted and faded.
#include "effects/Image.h"

#include "render/Texture.h"

#include <GL/glu.h>
#include <SDL.h>
#include <SDL_image.h>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------------------
// Defines

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

// GL keeps at most one error flag per kind; more reads than that only spin.
constexpr int kGlErrorFlags = 8;

std::uint64_t BufferBytes(int pixelsWide, int pixelsHigh)
{
    return static_cast<std::uint64_t>(pixelsWide) * static_cast<std::uint64_t>(pixelsHigh) * kBytesPerPixel;
}

// Whether GL can hold a texture of this size, asked through the proxy target
// before any buffer is made: an upload GL refuses would leave the object with
// an empty texture, and an absurd size (say 2^28 x 1 pixels) would first
// allocate a gigabyte for nothing.
bool GlCanHold(int potWidth, int potHeight)
{
    // Sides past the largest GL admits never reach GL at all: Mesa's
    // software driver overruns its stack on a proxy query 2^28 texels wide.
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    if (potWidth > largest || potHeight > largest)
        return false;
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, GL_RGBA, potWidth, potHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLint heldWidth = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &heldWidth);
    // A size GL cannot even consider raises an error instead of clearing the
    // proxy; it must not stay behind for the script's next GL call.
    for (int flag = 0; flag < kGlErrorFlags && glGetError() != GL_NO_ERROR; ++flag) {
    }
    return heldWidth != 0;
}

char* CopyString(const char* text)
{
    const std::size_t length = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(length));
    if (copy)
        std::memcpy(copy, text, length);
    return copy;
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle

// Every drawing parameter and the picture size start at 0, so an object that
// has not been given a picture yet is invisible rather than undefined.
Image::Image() = default;

Image::~Image()
{
    std::free(name);
    if (texture != 0)
        glDeleteTextures(1, &texture);
}

void Image::ForgetName()
{
    std::free(name);
    name = nullptr;
}

// ---------------------------------------------------------------------------
// Pictures

// Gives the object a new texture made of a potWidth x potHeight RGBA buffer.
// The new name is reserved before the old texture goes, so the two never share
// a GL name and a stale copy of the old one can be told apart.
void Image::Upload(const void* pixels, int potWidth, int potHeight, int pixelsWide, int pixelsHigh)
{
    GLuint created = 0;
    glGenTextures(1, &created);
    glBindTexture(GL_TEXTURE_2D, created);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, potWidth, potHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    if (texture != 0)
        glDeleteTextures(1, &texture);
    texture = created;
    texWidth = potWidth;
    texHeight = potHeight;
    width = pixelsWide;
    height = pixelsHigh;
}

// The picture of an image file, in the top-left corner of a zeroed
// power-of-two buffer. False (nothing changed) when the file cannot be decoded
// or the buffer cannot be made.
bool Image::LoadFile(const char* path)
{
    SDL_Surface* picture = IMG_Load(path);
    if (!picture)
        return false;
    // Copy pixels instead of blending them: alpha stays, pictures without
    // alpha become opaque, colour-keyed pixels stay transparent.
    SDL_SetAlpha(picture, 0, 0);
    const int potWidth = NextPowerOfTwo(picture->w);
    const int potHeight = NextPowerOfTwo(picture->h);
    SDL_Surface* rgba = nullptr;
    if (BufferBytes(potWidth, potHeight) <= kMaxBufferBytes && GlCanHold(potWidth, potHeight))
        rgba = SDL_CreateRGBSurface(0, potWidth, potHeight, 32, kRedMask, kGreenMask, kBlueMask, kAlphaMask);
    if (!rgba) {
        SDL_FreeSurface(picture);
        return false;
    }
    SDL_SetAlpha(rgba, 0, 0);
    SDL_UpperBlit(picture, nullptr, rgba, nullptr);
    SDL_LockSurface(rgba);
    Upload(rgba->pixels, potWidth, potHeight, picture->w, picture->h);
    SDL_UnlockSurface(rgba);
    SDL_FreeSurface(rgba);
    SDL_FreeSurface(picture);
    return true;
}

// A picture of raw RGBA pixels. The pixels are copied as they are (no
// blending), row by row, into a zeroed power-of-two buffer. False (nothing
// changed) for a negative size, a size whose buffer would not fit, pixel data
// shorter than the size asks for, no pixel data for a non-empty size, or a
// texture larger than GL can hold.
bool Image::LoadPixels(const unsigned char* data, std::size_t dataLength, int pixelsWide, int pixelsHigh)
{
    if (pixelsWide < 0 || pixelsHigh < 0)
        return false;
    const int potWidth = NextPowerOfTwo(pixelsWide);
    const int potHeight = NextPowerOfTwo(pixelsHigh);
    const std::uint64_t pictureBytes = BufferBytes(pixelsWide, pixelsHigh);
    if (BufferBytes(potWidth, potHeight) > kMaxBufferBytes || pictureBytes > kMaxBufferBytes)
        return false;
    if (pictureBytes > 0 && (!data || dataLength < pictureBytes))
        return false;
    if (!GlCanHold(potWidth, potHeight))
        return false;
    unsigned char* buffer = static_cast<unsigned char*>(std::calloc(BufferBytes(potWidth, potHeight), 1));
    if (!buffer)
        return false;
    const std::size_t rowBytes = static_cast<std::size_t>(pixelsWide) * kBytesPerPixel;
    const std::size_t potRowBytes = static_cast<std::size_t>(potWidth) * kBytesPerPixel;
    for (int row = 0; pictureBytes > 0 && row < pixelsHigh; ++row)
        std::memcpy(buffer + row * potRowBytes, data + row * rowBytes, rowBytes);
    Upload(buffer, potWidth, potHeight, pixelsWide, pixelsHigh);
    std::free(buffer);
    return true;
}

// ---------------------------------------------------------------------------
// Parameters

int Image::SetParams(const Params& params)
{
    const char* newName = params.name;
    const unsigned char* data = params.data;
    // The source name is the cache key: a picture is only built again when
    // the request names another one.
    bool remember = newName != nullptr;
    if (newName && !data) {
        if (!name || std::strcmp(name, newName) != 0) {
            if (!LoadFile(newName)) {
                // Nothing changes but the remembered name, which goes so that
                // the next call with this name tries the file again.
                ForgetName();
                return 0;
            }
            ForgetName();
        }
    } else if (!name || (newName && std::strcmp(name, newName) != 0)) {
        // Pixel data, or no source at all. Unusable pixel data keeps the
        // current picture and its name; only the parameters change.
        if (LoadPixels(data, params.dataLength, params.width, params.height))
            ForgetName();
        else
            remember = false;
    }

    x = params.x;
    y = params.y;
    wsize = params.wsize;
    hsize = params.hsize;
    alpha = params.alpha;
    rot = params.rot;
    alignh = params.alignh;
    alignv = params.alignv;
    r = params.r;
    g = params.g;
    b = params.b;
    if (remember && (!name || std::strcmp(name, newName) != 0)) {
        std::free(name);
        name = CopyString(newName);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Drawing

int Image::Render(int msec)
{
    Renderer::Render(msec);
    // Nothing to show: no texture yet, or an empty picture whose ratios would
    // be 0/0. Drawing would only bind texture 0 and fill the view with NaNs.
    if (texture == 0 || width <= 0 || height <= 0)
        return 0;

    glPushAttrib(GL_ENABLE_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(-aspect, aspect, -1.0, 1.0);

    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);

    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);

    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    const float pictureRatio = static_cast<float>(static_cast<double>(width) / height);
    const float textureRatio = static_cast<float>(static_cast<double>(texWidth) / texHeight);

    glTranslatef(x, y, 0.0f);
    glRotatef(rot, 0.0f, 0.0f, 1.0f);
    // Negative vertical scale: texture row 0 (the picture's top) hangs
    // downwards from the anchor, so the picture stays upright.
    glScalef(wsize, -hsize, 0.0f);
    // The picture's longer side becomes one view unit...
    const float fit = pictureRatio > 1.0f ? static_cast<float>(texWidth) / width
                                          : static_cast<float>(texHeight) / height;
    glScalef(fit, fit, 0.0f);
    // ...once the square quad takes the texture's proportions.
    if (textureRatio > 1.0f)
        glScalef(1.0f, 1.0f / textureRatio, 1.0f);
    else
        glScalef(textureRatio, 1.0f, 1.0f);

    if (alignh == kAlignCentre)
        glTranslatef(-(width / 2.0f) / texWidth, 0.0f, 0.0f);
    else if (alignh == kAlignRight)
        glTranslatef(-static_cast<float>(width) / texWidth, 0.0f, 0.0f);
    if (alignv == kAlignMiddle)
        glTranslatef(0.0f, -(height / 2.0f) / texHeight, 0.0f);
    else if (alignv == kAlignBottom)
        glTranslatef(0.0f, -static_cast<float>(height) / texHeight, 0.0f);

    // Modulated by the texture: tint and opacity multiply the picture.
    glColor4f(r, g, b, alpha);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(0.0f, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(1.0f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(0.0f, 1.0f);
    glEnd();

    glPopAttrib();
    return 0;
}

// The Image effect: one picture drawn flat in the 2D view as a textured,
// alpha-blended rectangle, placed, anchored, scaled, rotated, tinted and faded.
#include "effects/Image.h"

#include "render/Picture.h"

#include <GL/glu.h>
#include <cstdlib>
#include <cstring>
#include <optional>

// ---------------------------------------------------------------------------
// Defines

namespace {

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

// The picture of an image file. False (nothing changed) when the file cannot
// be decoded or the picture is larger than GL can hold (see DecodePicture).
bool Image::LoadFile(const char* path)
{
    const std::optional<Picture> picture = DecodePicture(path);
    if (!picture)
        return false;
    Upload(picture->pixels.data(), picture->texWidth, picture->texHeight, picture->width, picture->height);
    return true;
}

// A picture of raw RGBA pixels. False (nothing changed) for a negative size,
// pixel data shorter than the size asks for, no pixel data for a non-empty
// size, or a picture larger than GL can hold (see PictureFromPixels).
bool Image::LoadPixels(const unsigned char* data, std::size_t dataLength, int pixelsWide, int pixelsHigh)
{
    const std::optional<Picture> picture = PictureFromPixels(data, dataLength, pixelsWide, pixelsHigh);
    if (!picture)
        return false;
    Upload(picture->pixels.data(), picture->texWidth, picture->texHeight, picture->width, picture->height);
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

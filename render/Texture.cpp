// Image files turned into power-of-two RGBA textures with mipmaps.
#include "render/Texture.h"

#include <GL/glu.h>
#include <SDL.h>
#include <SDL_image.h>
#include <cstdlib>
#include <cstring>

namespace {

// Masks that lay each pixel out in memory as the bytes R, G, B, A.
constexpr Uint32 kRedMask = 0x000000FF;
constexpr Uint32 kGreenMask = 0x0000FF00;
constexpr Uint32 kBlueMask = 0x00FF0000;
constexpr Uint32 kAlphaMask = 0xFF000000;

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

const char* Texture::BaseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

Texture* Texture::Create(const char* path)
{
    if (!path)
        return nullptr;
    Texture* texture = new Texture();
    glGenTextures(1, &texture->glName);
    if (!texture->Load(path)) {
        glDeleteTextures(1, &texture->glName);
        delete texture;
        return nullptr;
    }
    return texture;
}

bool Texture::Load(const char* path)
{
    SDL_Surface* picture = IMG_Load(path);
    if (!picture)
        return false;
    // Copy pixels instead of blending them: alpha stays, pictures without
    // alpha become opaque, colour-keyed pixels stay transparent.
    SDL_SetAlpha(picture, 0, 0);

    const int pictureWidth = picture->w;
    const int pictureHeight = picture->h;
    const int potWidth = NextPowerOfTwo(pictureWidth);
    const int potHeight = NextPowerOfTwo(pictureHeight);

    SDL_Surface* rgba = SDL_CreateRGBSurface(0, potWidth, potHeight, 32, kRedMask, kGreenMask, kBlueMask, kAlphaMask);
    if (!rgba) {
        // Out of memory for the conversion: fail like a missing file.
        SDL_FreeSurface(picture);
        return false;
    }
    SDL_SetAlpha(rgba, 0, 0);
    SDL_UpperBlit(picture, nullptr, rgba, nullptr);

    width = pictureWidth;
    height = pictureHeight;
    texWidth = potWidth;
    texHeight = potHeight;
    maxS = static_cast<float>(static_cast<double>(width) / texWidth);
    maxT = static_cast<float>(static_cast<double>(height) / texHeight);

    glBindTexture(GL_TEXTURE_2D, glName);
    glEnable(GL_TEXTURE_2D);
    SDL_LockSurface(rgba);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, texWidth, texHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba->pixels);
    SDL_UnlockSurface(rgba);

    const char* base = BaseName(path);
    std::free(name);
    name = static_cast<char*>(std::malloc(std::strlen(base) + 1));
    if (name)
        std::strcpy(name, base);

    SDL_FreeSurface(rgba);
    SDL_FreeSurface(picture);
    return true;
}

void Texture::Destroy(Texture* texture)
{
    if (!texture)
        return;
    std::free(texture->name);
    if (texture->glName != 0)
        glDeleteTextures(1, &texture->glName);
    delete texture;
}

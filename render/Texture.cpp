// Image files turned into power-of-two RGBA textures with mipmaps.
#include "render/Texture.h"

#include <GL/glu.h>
#include <cstring>
#include <utility>

const char* Texture::BaseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

std::optional<Texture> Texture::Load(const char* path)
{
    const std::optional<Picture> picture = DecodePicture(path);
    if (!picture)
        return std::nullopt;
    Texture texture;
    texture.width_ = picture->width;
    texture.height_ = picture->height;
    texture.texWidth_ = picture->texWidth;
    texture.texHeight_ = picture->texHeight;
    texture.maxS_ = static_cast<float>(static_cast<double>(picture->width) / picture->texWidth);
    texture.maxT_ = static_cast<float>(static_cast<double>(picture->height) / picture->texHeight);
    texture.name_ = BaseName(path);
    glGenTextures(1, &texture.glName_);
    glBindTexture(GL_TEXTURE_2D, texture.glName_);
    glEnable(GL_TEXTURE_2D);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, picture->texWidth, picture->texHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                      picture->pixels.data());
    return texture;
}

Texture::~Texture()
{
    Release();
}

Texture::Texture(Texture&& other) noexcept
    : width_(other.width_), height_(other.height_), texWidth_(other.texWidth_), texHeight_(other.texHeight_),
      maxS_(other.maxS_), maxT_(other.maxT_), glName_(std::exchange(other.glName_, 0)),
      name_(std::move(other.name_))
{
}

Texture& Texture::operator=(Texture&& other) noexcept
{
    if (this != &other) {
        Release();
        width_ = other.width_;
        height_ = other.height_;
        texWidth_ = other.texWidth_;
        texHeight_ = other.texHeight_;
        maxS_ = other.maxS_;
        maxT_ = other.maxT_;
        glName_ = std::exchange(other.glName_, 0);
        name_ = std::move(other.name_);
    }
    return *this;
}

void Texture::Release()
{
    if (glName_ != 0)
        glDeleteTextures(1, &glName_);
    glName_ = 0;
}

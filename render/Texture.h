// Image files turned into power-of-two RGBA textures with mipmaps.
#pragma once

#include "render/Picture.h"

#include <GL/gl.h>
#include <optional>
#include <string>

// A GL texture made from an image file: the picture sits in the top-left
// corner of a power-of-two RGBA texture whose other texels are transparent
// black. It owns its GL texture, which goes with it; moving hands the texture
// over, and there are no copies (two owners would delete it twice).
class Texture {
public:
    Texture() = default;
    ~Texture();
    Texture(Texture&& other) noexcept;
    Texture& operator=(Texture&& other) noexcept;
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // A texture from the image file at path, decoded by DecodePicture (so a
    // picture larger than GL can hold is refused before any buffer is made);
    // nothing (no message) when path is null or the file cannot be used.
    // Leaves the new texture bound and GL_TEXTURE_2D enabled.
    static std::optional<Texture> Load(const char* path);

    // The part of path after its last '/' (the whole path when it has none;
    // empty when path ends in '/'): what name() holds, extension included.
    static const char* BaseName(const char* path);

    int width() const { return width_; }  // picture size in pixels
    int height() const { return height_; }
    int texWidth() const { return texWidth_; }  // texture size in texels
    int texHeight() const { return texHeight_; }
    float maxS() const { return maxS_; }  // the picture's share of the texture
    float maxT() const { return maxT_; }
    GLuint glName() const { return glName_; }  // 0: none (moved from)
    const std::string& name() const { return name_; }

private:
    void Release();

    int width_ = 0;
    int height_ = 0;
    int texWidth_ = 0;
    int texHeight_ = 0;
    float maxS_ = 0.0f;
    float maxT_ = 0.0f;
    GLuint glName_ = 0;
    std::string name_;
};

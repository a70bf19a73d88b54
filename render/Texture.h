// Image files turned into power-of-two RGBA textures with mipmaps.
#pragma once

#include <GL/gl.h>

// The smallest power of two not below n; 1 for n <= 0. An int holds no power
// of two above 2^30, so larger n give 2^30 (no picture gets that big).
int NextPowerOfTwo(int n);

// A GL texture made from an image file: the picture sits in the top-left
// corner of a power-of-two RGBA texture whose other texels are transparent
// black. A copy of the record takes over its GL texture and name.
struct Texture {
    int width = 0;        // picture size in pixels
    int height = 0;
    int texWidth = 0;     // texture size: NextPowerOfTwo of the picture size
    int texHeight = 0;
    float maxS = 0.0f;    // the picture's share of the texture
    float maxT = 0.0f;
    GLuint glName = 0;    // 0: none
    char* name = nullptr; // base name of the file (after the last '/'), owned

    // A texture from the image file at path, or null (no message) when path
    // is null or the file cannot be decoded. The caller owns the result.
    static Texture* Create(const char* path);

    // Fills this record from the file; the GL name must be reserved already.
    bool Load(const char* path);

    // Releases the name, the GL texture and the record itself.
    static void Destroy(Texture* texture);

    // The part of path after its last '/' (the whole path when it has none;
    // empty when path ends in '/'): what name holds, extension included.
    static const char* BaseName(const char* path);
};

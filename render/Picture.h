// Pictures decoded into power-of-two RGBA buffers ready for a GL upload: the
// one way image files and raw pixels become texture data, with the size guard
// that keeps what GL cannot hold from being allocated at all.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

// The smallest power of two not below n; 1 for n <= 0. An int holds no power
// of two above 2^30, so larger n give 2^30 (no picture gets that big).
int NextPowerOfTwo(int n);

// A picture in the top-left corner of a texWidth x texHeight RGBA buffer (R, G,
// B, A bytes per pixel, top row first); the other texels are transparent black.
struct Picture {
    int width = 0;  // picture size in pixels
    int height = 0;
    int texWidth = 0;  // buffer size: NextPowerOfTwo of the picture size
    int texHeight = 0;
    std::vector<unsigned char> pixels;
};

// Whether GL can hold a texWidth x texHeight RGBA texture, asked of the
// current context through the proxy target; leaves no GL error behind.
bool GlCanHold(int texWidth, int texHeight);

// The picture in an image file (any format SDL_image reads), pixels copied
// without blending: alpha stays, pictures without alpha become opaque,
// colour-keyed pixels transparent. Nothing when the file cannot be decoded,
// is wider than SDL 1.2 can convert (16383 pixels), or its buffer would not
// fit an int's byte count or a GL texture.
std::optional<Picture> DecodePicture(const char* path);

// A picture of raw RGBA pixels (top row first, length bytes at data). Nothing
// for a negative size, too few bytes, or a buffer too large as above.
std::optional<Picture> PictureFromPixels(const unsigned char* data, std::size_t length, int width, int height);

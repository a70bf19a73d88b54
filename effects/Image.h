// The Image effect: one picture drawn flat in the 2D view as a textured,
// alpha-blended rectangle, placed, anchored, scaled, rotated, tinted and faded.
#pragma once

#include "render/Renderer.h"

#include <GL/gl.h>
#include <cstddef>

class Image : public Renderer {
public:
    // Horizontal anchors (alignh); any other value anchors the left edge.
    static constexpr int kAlignLeft = 0;
    static constexpr int kAlignCentre = 1;
    static constexpr int kAlignRight = 2;
    // Vertical anchors (alignv); any other value anchors the top edge.
    static constexpr int kAlignTop = 0;
    static constexpr int kAlignMiddle = 1;
    static constexpr int kAlignBottom = 2;

    Image();
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // One SetParams request: the picture and the eleven drawing parameters.
    struct Params {
        // An image file (relative to the working directory) or, together
        // with data, the cache key of raw pixels; null: none.
        const char* name = nullptr;
        // width x height RGBA pixels, top row first, dataLength bytes.
        const unsigned char* data = nullptr;
        std::size_t dataLength = 0;
        int width = 0;
        int height = 0;
        float x = 0.0f;
        float y = 0.0f;
        float wsize = 0.0f;
        float hsize = 0.0f;
        float alpha = 0.0f;
        float rot = 0.0f;
        int alignh = 0;
        int alignv = 0;
        float r = 0.0f;
        float g = 0.0f;
        float b = 0.0f;
    };

    // Loads the picture when the request names a different one, then stores
    // the eleven drawing parameters. Always 0.
    int SetParams(const Params& params);

    // Draws the picture; an object without a picture draws nothing. Always 0.
    int Render(int msec);

    // Read-only views for tests and tools.
    const char* sourceName() const { return name; }
    GLuint textureName() const { return texture; }
    int pictureWidth() const { return width; }
    int pictureHeight() const { return height; }
    int textureWidth() const { return texWidth; }
    int textureHeight() const { return texHeight; }

private:
    bool LoadFile(const char* path);
    bool LoadPixels(const unsigned char* data, std::size_t dataLength, int pixelsWide, int pixelsHigh);
    void Upload(const void* pixels, int potWidth, int potHeight, int pixelsWide, int pixelsHigh);
    void ForgetName();

    char* name = nullptr;  // source name last given through "image", owned
    GLuint texture = 0;    // 0: no picture
    int texWidth = 0;
    int texHeight = 0;
    int width = 0;
    int height = 0;
    float x = 0.0f;
    float y = 0.0f;
    float wsize = 0.0f;
    float hsize = 0.0f;
    float alpha = 0.0f;
    float rot = 0.0f;
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    int alignh = 0;
    int alignv = 0;
};

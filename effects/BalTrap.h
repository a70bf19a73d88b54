// The BalTrap effect: a picture moving, scaling and turning about its vertical
// axis in front of a fixed dark-red staircase whose opacity the script sets.
#pragma once

#include "render/Renderer.h"
#include "render/Texture.h"

#include <GL/gl.h>
#include <array>
#include <optional>

class BalTrap : public Renderer {
public:
    // Nine bars of four corners each: five treads and four risers.
    static constexpr int kBarCount = 9;
    static constexpr int kStaircaseVertexCount = 4 * kBarCount;

    struct Vertex {
        float x;
        float y;
    };
    using Staircase = std::array<Vertex, kStaircaseVertexCount>;

    // Compiles the picture square and the staircase; needs a current GL context.
    BalTrap();
    virtual ~BalTrap();
    BalTrap(const BalTrap&) = delete;
    BalTrap& operator=(const BalTrap&) = delete;

    // One SetParams request, as the package reads it from the script's hash.
    struct Params {
        const char* bal = nullptr;  // picture file; null: none
        float x = 0.0f;
        float y = 0.0f;
        float zoom = 0.0f;
        float turn = 0.0f;
        float trap_alpha = 0.0f;
    };
    // Loads the picture on the first call that names a loadable file (later
    // names are ignored) and stores the five numbers every time. Returns 0.
    int SetParams(const Params& params);

    // Draws the staircase, then the picture square over it when a picture is
    // held. msec is not used. Returns 0.
    int Render(int msec);

    // The staircase's corners in drawing order, counter-clockwise per bar from
    // the lower left, in normalised device coordinates: the pen walk that
    // fills trapList.
    static Staircase StaircaseVertices();

    GLuint ballList = 0;                 // the textured picture square; 0: none
    GLuint trapList = 0;                 // the staircase; 0: none
    std::optional<Texture> ballTexture;  // the "bal" picture; none until loaded
    float x = 0.0f;                      // square offset, scaled by zoom
    float y = 0.0f;
    float zoom = 1.0f;                   // uniform scale of the square and its offsets
    float trap_alpha = 1.0f;             // staircase opacity
    float turn = 0.0f;                   // degrees about the vertical axis

private:
    static GLuint CompileSquare();
    static GLuint CompileStaircase();
};

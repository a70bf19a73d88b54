// The InkStain effect: a card seen in perspective whose picture page swings
// open on its left-hand hinge to uncover a five-lobed black blot.
#pragma once

#include "render/Renderer.h"
#include "render/Texture.h"

#include <GL/gl.h>
#include <vector>


class InkStain : public Renderer {
public:
    // frontList before a picture is loaded: no front page.
    static constexpr GLuint kNoList = static_cast<GLuint>(-1);
    // Points on the stain's rim: every pi/100 from the top round to the top again.
    static constexpr int kStainRimPointCount = 201;

    struct Point {
        double x;
        double y;
    };

    // Compiles the backing card and reserves the stain's list name; needs a
    // current GL context.
    InkStain();
    ~InkStain();
    InkStain(const InkStain&) = delete;
    InkStain& operator=(const InkStain&) = delete;

    // One SetParams request, as the package reads it from the script's hash.
    struct Params {
        const char* frontimage = nullptr;  // picture file; null: none
        float openangle = 0.0f;
        float stainsize = 0.0f;
    };
    // Loads the picture and compiles the front page on the first call that
    // names a loadable file (later names are ignored; a failed load is tried
    // again on the next call), stores the opening angle every time and
    // recompiles the stain when its size changes. Returns 0.
    int SetParams(const Params& params);

    // Draws the backing card, the stain and the front page, in that order,
    // from the fixed camera. Returns 0.
    int Render(int msec);

    // The display lists. The builders return a new list name, or 0 (having
    // compiled nothing) when GL hands out none; BuildFrontList needs the
    // picture. BuildStainList recompiles stainList, if there is one.
    GLuint BuildBackList();
    GLuint BuildFrontList();
    void BuildStainList(float size);

    // The stain's rim in the card's plane, around its centre: 201 points from
    // the top, counter-clockwise as the camera sees it, the first and last
    // coinciding. Five lobes reach 4/3 of size, the troughs between them 2/3.
    static std::vector<Point> StainRim(float size);

    float openangle = 0.0f;            // degrees the front page is open
    float stainsize = 0.0f;            // size the stain list was last compiled for
    std::optional<Texture> frontTexture;  // the "frontimage" picture
    GLuint frontList = kNoList;        // front page, both faces
    GLuint backList = 0;               // backing card; 0: none
    GLuint stainList = 0;              // the stain; 0: none
};

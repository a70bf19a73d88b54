// The Model effect: an animated 3DS keyframe scene played through its first
// camera, with its lights, meshes, materials and textures.
#pragma once

#include <vector>

#include <lib3ds/file.h>
#include <lib3ds/node.h>
#include <lib3ds/material.h>

#include "effects/model/TextureCache.h"
#include "render/Renderer.h"

// Keyframes per second until a SetParams says otherwise.
constexpr int kModelDefaultFps = 25;

class Model : public Renderer {
public:
    Model();
    // Releases the scene, the meshes' display lists and the materials'
    // textures; needs the GL context that made them.
    ~Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // One SetParams request, as the package reads it from the script's hash.
    struct Params {
        const char* path = nullptr;  // the scene file; null: none
        int fps = 0;
        double xoff = 0.0;
        double yoff = 0.0;
        double zoff = 0.0;
    };
    // Loads the scene at path the first time one loads (later paths are
    // ignored), then takes the frame rate and offsets. 0, or -1 (and nothing
    // changed) when no scene is loaded and this one cannot be: missing,
    // unreadable, not a 3DS scene, or failing the loader's safety checks.
    int SetParams(const Params& params);

    // Plays the scene at msec. Always 0; without a scene, a camera, or the
    // camera's camera and target nodes it draws nothing and leaves GL alone.
    int Render(int msec);

    // Evaluates the node's subtree (children first), then the node's own
    // tracks, at the frame for msec.
    void EvalNode(Lib3dsNode* node, int msec);

    // Draws an object node and its subtree under the current modelview
    // matrix, compiling the node's display list on first reach.
    void DrawNode(Lib3dsNode* node);

    // The frame for a time: msec * fps / 1000, in double, then float.
    float FrameAt(int msec) const;

    Lib3dsFile* scene = nullptr;
    int fps = kModelDefaultFps;
    TextureCache textures;
    double xoff = 0.0, yoff = 0.0, zoff = 0.0;

private:
    bool BuildList(Lib3dsNode* node);
    void PreloadTextures(Lib3dsMesh* mesh);
    void ApplyMaterial(Lib3dsMaterial* material);

    // Name of the material last applied while compiling a list.
    char remembered_[64] = {};
    int maxLights_ = 0;  // GL_MAX_LIGHTS, read on the first lit frame
    std::vector<unsigned> switchedOn_;  // GL lights Render turned on (kept to avoid reallocating)
    std::vector<unsigned> lists_;       // the meshes' display lists, as compiled
};

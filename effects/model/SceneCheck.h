// Loading 3DS scenes safely: lib3ds 1.3 trusts its input, so a file is checked
// before lib3ds parses it and the parsed scene is checked before it is drawn.
#pragma once

#include <string>

#include <lib3ds/file.h>

namespace scene_check {

// Limits on what a scene may hold. They keep lib3ds's quadratic list inserts
// and recursive tree walks bounded; real scenes stay far below them.
constexpr int kMaxChunkDepth = 16;
constexpr int kMaxNodeDepth = 64;
constexpr unsigned kMaxNodes = 8192;
constexpr unsigned kMaxNamedObjects = 8192;
constexpr unsigned kMaxMaterials = 4096;
constexpr unsigned kMaxTrackKeys = 20000;
constexpr long kMaxFileBytes = 256L * 1024 * 1024;
// lib3ds_mesh_calculate_normals gathers, for each face corner, the distinct
// normals of the smoothed faces around the vertex in a fixed array of 128.
constexpr unsigned kMaxSmoothedCornersPerVertex = 128;

// Checks the chunk tree of a 3DS file held in memory: every chunk lies within
// its parent, nesting is bounded, counts fit their chunks, face and material
// group indices are in range, and the node hierarchy has no cycle. Returns an
// empty string when the file is sound, otherwise what is wrong with it.
std::string CheckChunks(const unsigned char* data, std::size_t size);

// Checks a parsed scene: face indices below the point count, texture
// coordinates either absent or one per point, no vertex shared by more
// smoothed faces than the normal calculation holds, a node tree without
// cycles or excessive depth. Empty string when sound.
std::string CheckScene(Lib3dsFile* file);

// Reads, checks and parses the file at path (as given, relative to the
// working directory). Null when it cannot be read or fails a check; *why
// (optional) then says what went wrong.
Lib3dsFile* LoadScene(const char* path, std::string* why = nullptr);

}  // namespace scene_check

// Writes 3DS keyframe scenes from a small text description (the make3ds tool
// and the tests that build their scenes on the fly share this writer).
//
// The description is read line by line; '#' starts a comment, words are
// separated by blanks, names contain no blanks. Angles are in degrees, frames
// are integers, colours and shininess run from 0 to 1.
//
//   frames N                       animation length (default 100)
//
//   material NAME [ambient R G B] [diffuse R G B] [specular R G B]
//                 [shininess S] [texture FILE]
//
//   Meshes. Vertices are stored in scene coordinates: "at X Y Z" moves the
//   shape there and records the move as the mesh matrix (default 0 0 0).
//   "material M" gives every face material M (default: faces without
//   material), "uv" adds texture coordinates, "smooth" puts every face in
//   smoothing group 1 (default: flat faces).
//   quad NAME SIZE [options]        square in the XZ plane facing -Y; uv (0,0)
//                                   at its lower-left corner, (1,1) upper-right
//   box  NAME SIZE [options]        cube centred on its position
//   grid NAME SIZE CELLS [options]  CELLS x CELLS squares in the XZ plane
//                                   facing -Y (2 * CELLS^2 triangles)
//   mesh NAME [options]             points and faces listed one per line:
//     point X Y Z [U V]             (either every point has U V or none)
//     face A B C [MATERIAL]         corner indices, counter-clockwise from the
//                                   front; no MATERIAL: face without material
//   end
//
//   Nodes (written in the order given, ids counted from 0 in that order):
//   object NAME [parent P] [pivot X Y Z] [instance I] [id N] [parentid N]
//       an object node showing the mesh of the same name ("$$$DUMMY" makes a
//       dummy). Its frame-0 keys are pos = the mesh's "at", no rotation,
//       scale 1. P names an earlier node (the first declared with that name;
//       "target:P" picks a camera's or spot's target). id/parentid override
//       the numbers written to the file (to craft broken hierarchies).
//   camera NAME pos X Y Z target X Y Z [fov DEG] [roll DEG] [notarget]
//       a camera, its camera node and its target node ("notarget": none).
//   light NAME pos X Y Z [color R G B] [spot TX TY TZ] [nonode]
//       an omni light (or a spot light aimed at T) and its light node (plus
//       the spot's target node); "nonode" leaves the keyframer nodes out.
//
//   Keys, for the last node declared (a key at an existing frame replaces it):
//   pos FRAME X Y Z                 position (object, camera, light)
//   rot FRAME DEG AX AY AZ          object rotation: each key turns by DEG
//                                   about the axis FROM THE PREVIOUS KEY, as
//                                   3DS stores it; seen from the axis tip a
//                                   positive angle turns clockwise
//   scl FRAME X Y Z                 object scale
//   target FRAME X Y Z              camera or spot target position
//   color FRAME R G B               light colour
//   fov FRAME DEG / roll FRAME DEG  camera field of view and roll
//
// Example: a show scene with an animated camera, two lights and a textured
// material ("wood.png" is looked up by the player in models/ then images/):
//
//   frames 250
//   material Wood texture wood.png shininess 0.2
//   material Red diffuse 0.9 0.1 0.1 specular 1 1 1 shininess 0.5
//   box Crate 2 material Wood uv smooth
//   quad Floor 20 material Red at 0 0 -1
//   object Crate
//   rot 250 360 0 0 1
//   object Floor
//   camera Cam pos 0 -12 4 target 0 0 0
//   pos 125 8 -8 6
//   pos 250 0 -12 4
//   light Key pos 5 -5 8 color 1 1 0.9
//   light Fill pos -6 -3 2 color 0.3 0.3 0.5 spot 0 0 0
#pragma once

#include <string>

namespace scene3ds {

// Ways to spoil a written file, for tests of the loader's defences.
enum class Damage {
    None,
    ZeroSizeChunk,   // the first point array chunk claims size 0
    MatGroupIndex,   // the first material group names a face past the faces
    Truncate,        // the file is cut in half
};

// Writes the scene described by `description` to `path`. On failure returns
// false and says why in *error ("line N: ...").
bool WriteScene(const std::string& description, const std::string& path, std::string* error,
                Damage damage = Damage::None);

// Same, into a byte string.
bool BuildScene(const std::string& description, std::string* bytes, std::string* error,
                Damage damage = Damage::None);

}  // namespace scene3ds

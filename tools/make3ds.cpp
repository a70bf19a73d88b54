// make3ds: writes a 3DS keyframe scene from a text description.
//
//   make3ds SCENE.txt OUT.3ds [--damage zero-size|mat-group|truncate]
//   make3ds - OUT.3ds          (description read from standard input)
//   make3ds --help
//
// The description language is documented in tools/Scene3ds.h and by --help.
// In CMake, make3ds_scene(<out.3ds> <description.txt>) (tools/scenes.cmake)
// adds a build rule that writes a scene.
// --damage spoils the written file on purpose, for tests of the player's
// loader: a point array chunk of size 0, a material group naming a face past
// the mesh's faces, or a file cut in half.
#include "tools/Scene3ds.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

const char kHelp[] =
    "usage: make3ds SCENE.txt|- OUT.3ds [--damage zero-size|mat-group|truncate]\n"
    "\n"
    "Writes a 3DS keyframe scene. The description has one statement per line;\n"
    "'#' starts a comment; angles in degrees; colours and shininess 0..1.\n"
    "\n"
    "  frames N                               animation length (default 100)\n"
    "  material NAME [ambient R G B] [diffuse R G B] [specular R G B]\n"
    "                [shininess S] [texture FILE]\n"
    "  quad NAME SIZE [opts]                  square in the XZ plane facing -Y\n"
    "  box  NAME SIZE [opts]                  cube\n"
    "  grid NAME SIZE CELLS [opts]            CELLS x CELLS squares, facing -Y\n"
    "  mesh NAME [opts] / point X Y Z [U V] / face A B C [MATERIAL] / end\n"
    "       opts: at X Y Z, material M, uv, smooth (no material: faces without one)\n"
    "  object NAME [parent P] [pivot X Y Z] [instance I] [id N] [parentid N]\n"
    "       node showing mesh NAME (\"$$$DUMMY\": a dummy); P: earlier node\n"
    "       (\"target:P\" for a camera's or spot's target)\n"
    "  camera NAME pos X Y Z target X Y Z [fov DEG] [roll DEG] [notarget]\n"
    "  light NAME pos X Y Z [color R G B] [spot TX TY TZ] [nonode]\n"
    "  keys for the last node:  pos F X Y Z | rot F DEG AX AY AZ (relative to the\n"
    "       previous key) | scl F X Y Z | target F X Y Z | color F R G B |\n"
    "       fov F DEG | roll F DEG\n"
    "\n"
    "Example (animated camera, two lights, a textured material):\n"
    "  frames 250\n"
    "  material Wood texture wood.png shininess 0.2\n"
    "  box Crate 2 material Wood uv\n"
    "  object Crate\n"
    "  rot 250 360 0 0 1\n"
    "  camera Cam pos 0 -12 4 target 0 0 0\n"
    "  pos 125 8 -8 6\n"
    "  pos 250 0 -12 4\n"
    "  light Key pos 5 -5 8 color 1 1 0.9\n"
    "  light Fill pos -6 -3 2 color 0.3 0.3 0.5 spot 0 0 0\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    scene3ds::Damage damage = scene3ds::Damage::None;
    if (argc == 5 && std::strcmp(argv[3], "--damage") == 0) {
        const std::string kind = argv[4];
        if (kind == "zero-size")
            damage = scene3ds::Damage::ZeroSizeChunk;
        else if (kind == "mat-group")
            damage = scene3ds::Damage::MatGroupIndex;
        else if (kind == "truncate")
            damage = scene3ds::Damage::Truncate;
        else {
            std::fprintf(stderr, "make3ds: unknown damage '%s'\n", argv[4]);
            return 2;
        }
    } else if (argc != 3) {
        std::fputs(kHelp, stderr);
        return 2;
    }

    std::stringstream text;
    if (std::strcmp(argv[1], "-") == 0) {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(argv[1]);
        if (!in) {
            std::fprintf(stderr, "make3ds: cannot read %s\n", argv[1]);
            return 1;
        }
        text << in.rdbuf();
    }
    std::string error;
    if (!scene3ds::WriteScene(text.str(), argv[2], &error, damage)) {
        std::fprintf(stderr, "make3ds: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    return 0;
}

// Helpers shared by the BalTrap and InkStain tests.
#include "tests/baltrap-inkstain/Support.h"

namespace baltrap_inkstain {

bool OpenWindow()
{
    return OpenGlWindow(800, 600) || OpenGlWindow(800, 600);
}

std::string WriteQuadrants(const std::string& name, int width, int height, Rgba topLeft, Rgba topRight,
                           Rgba bottomLeft, Rgba bottomRight)
{
    static TempDir dir;
    const std::string path = dir / name;
    WriteBmp(path, width, height, QuadrantPixels(width, height, topLeft, topRight, bottomLeft, bottomRight));
    return path;
}

}  // namespace baltrap_inkstain

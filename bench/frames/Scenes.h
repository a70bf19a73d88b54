// Scenes of the plain frame benchmark: what one effect's show script does per
// frame, done by C++ calling the effect classes with the same values.
#pragma once

#include <memory>
#include <string>

namespace frame_bench {

class Scene {
public:
    virtual ~Scene() = default;
    // Sets every object's parameters for time msec and draws them in order.
    virtual void Frame(int msec) = 0;
};

std::unique_ptr<Scene> MakeImageScene(int objects);
std::unique_ptr<Scene> MakeBalTrapScene(int objects);
std::unique_ptr<Scene> MakeInkStainScene(int objects);

}  // namespace frame_bench

// Helpers for the Model tests: scenes written by the scene tool's writer into
// a scratch folder that is the working directory while a test runs (the
// texture cache looks in "models" and "images" relative to it).
#pragma once

#include <string>

#include "tools/Scene3ds.h"

namespace model_test {

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes a scene from its description under the relative name; fails the
    // test when the description is refused.
    std::string Scene(const std::string& name, const std::string& description,
                      scene3ds::Damage damage = scene3ds::Damage::None) const;
    // Writes a file with the given bytes (creating sub-folders).
    void Write(const std::string& relative, const std::string& bytes) const;

private:
    std::string path_;
    std::string previous_;
};

}  // namespace model_test

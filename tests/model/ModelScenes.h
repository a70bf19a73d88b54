// Helpers for the Model tests: scenes written by the scene tool's writer into a scratch folder that is the working
// directory while a test runs (the texture cache looks in "models" and "images" relative to it).
#pragma once

#include <string>

#include "tests/support/TempDir.h"
#include "tools/Scene3ds.h"

namespace model_test {

class ScratchDir : public testing_support::TempDir {
public:
    ScratchDir();
    ~ScratchDir();

    // Writes a scene from its description under the relative name; fails the
    // test when the description is refused.
    std::string Scene(const std::string& name, const std::string& description,
                      scene3ds::Damage damage = scene3ds::Damage::None) const;

private:
    std::string previous_;
};

}  // namespace model_test

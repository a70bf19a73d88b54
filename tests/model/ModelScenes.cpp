// Helpers for the Model tests: scratch folders and generated scenes.
#include "tests/model/ModelScenes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace model_test {

ScratchDir::ScratchDir()
{
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd))
        previous_ = cwd;
    if (chdir(path().c_str()) != 0)
        ADD_FAILURE() << "cannot enter " << path();
}

ScratchDir::~ScratchDir()
{
    if (!previous_.empty() && chdir(previous_.c_str()) != 0)
        std::perror("chdir");
}

std::string ScratchDir::Scene(const std::string& name, const std::string& description, scene3ds::Damage damage) const
{
    std::string error;
    const std::string file = *this / name;
    EXPECT_TRUE(scene3ds::WriteScene(description, file, &error, damage)) << error;
    return file;
}

}  // namespace model_test

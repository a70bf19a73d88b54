// Helpers for the Model tests: scratch folders and generated scenes.
#include "tests/model/ModelScenes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace model_test {

ScratchDir::ScratchDir()
{
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd))
        previous_ = cwd;
    char pattern[] = "/tmp/model-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
    if (chdir(path_.c_str()) != 0)
        ADD_FAILURE() << "cannot enter " << path_;
}

ScratchDir::~ScratchDir()
{
    if (!previous_.empty() && chdir(previous_.c_str()) != 0)
        std::perror("chdir");
    const std::string remove = "rm -rf '" + path_ + "'";
    if (path_.rfind("/tmp/model-test-", 0) == 0 && std::system(remove.c_str()) != 0)
        std::perror("rm");
}

std::string ScratchDir::Scene(const std::string& name, const std::string& description, scene3ds::Damage damage) const
{
    std::string error;
    const std::string file = path_ + "/" + name;
    EXPECT_TRUE(scene3ds::WriteScene(description, file, &error, damage)) << error;
    return file;
}

void ScratchDir::Write(const std::string& relative, const std::string& bytes) const
{
    const std::size_t slash = relative.rfind('/');
    if (slash != std::string::npos)
        mkdir((path_ + "/" + relative.substr(0, slash)).c_str(), 0755);
    std::ofstream out(path_ + "/" + relative, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace model_test

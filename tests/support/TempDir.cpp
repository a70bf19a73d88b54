// A fresh temporary folder for one test.
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace testing_support {

namespace {

void MakeParents(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
}

}  // namespace

TempDir::TempDir()
{
    char pattern[] = "/tmp/showplayer-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& relative, const std::string& contents) const
{
    const std::string full = *this / relative;
    MakeParents(full);
    std::ofstream(full, std::ios::binary) << contents;
}

void TempDir::Copy(const std::string& source, const std::string& relative) const
{
    std::ifstream in(source, std::ios::binary);
    if (!in)
        throw std::runtime_error("missing fixture " + source);
    const std::string full = *this / relative;
    MakeParents(full);
    std::ofstream(full, std::ios::binary) << in.rdbuf();
}

}  // namespace testing_support

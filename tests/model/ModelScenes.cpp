// Helpers for the Model tests: scratch folders and generated scenes.
#include "tests/model/ModelScenes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

std::string Bmp2x2(unsigned topLeft, unsigned topRight, unsigned bottomLeft, unsigned bottomRight)
{
    // 24-bit BMP, rows bottom-up, each row padded to 4 bytes.
    std::vector<unsigned char> b(54 + 16, 0);
    auto put32 = [&b](std::size_t at, unsigned v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<unsigned>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, 2);
    put32(22, 2);
    b[26] = 1;
    b[28] = 24;
    put32(34, 16);
    auto pixel = [&b](std::size_t at, unsigned rgb) {
        b[at] = static_cast<unsigned char>(rgb & 0xFF);
        b[at + 1] = static_cast<unsigned char>((rgb >> 8) & 0xFF);
        b[at + 2] = static_cast<unsigned char>((rgb >> 16) & 0xFF);
    };
    pixel(54, bottomLeft);
    pixel(57, bottomRight);
    pixel(62, topLeft);
    pixel(65, topRight);
    return std::string(b.begin(), b.end());
}

}  // namespace model_test

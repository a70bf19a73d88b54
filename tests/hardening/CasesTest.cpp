// Regression cases: every input that once crashed, hung or upset a sanitizer
// (found by scripts/fuzz or by hand) is kept under tests/hardening/cases and
// replayed here. Names say what is expected:
//   refuse-*.3ds  the Model's checks refuse the scene (SetParams gives -1),
//                 so lib3ds never parses it
//   play-*.3ds    the scene may load or not; playing it must be harmless
//   image-*       an input of the raw-pixel fuzz harness (its layout is in
//                 tests/fuzz/ImageFuzz.cpp), replayed through Image
//   options-*     words separated by NUL bytes, replayed through ParseOptions
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "effects/Image.h"
#include "effects/Model.h"
#include "host/Options.h"
#include "tests/support/GlWindow.h"

#include <GL/gl.h>
#include <lib3ds/file.h>

namespace {

const std::string kCases = SHOWPLAYER_SOURCE_DIR "/tests/hardening/cases/";

std::vector<std::string> CasesStartingWith(const std::string& prefix)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(kCases.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

std::string Bytes(const std::string& name)
{
    std::ifstream in(kCases + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Cases : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testing_support::OpenGlWindow())
            GTEST_SKIP() << "no display";
    }
};

}  // namespace

TEST_F(Cases, HostileScenesAreRefusedBeforeLib3dsSeesThem)
{
    const std::vector<std::string> names = CasesStartingWith("refuse-");
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        Model model;
        EXPECT_EQ(model.SetParams({(kCases + name).c_str(), 25, 0, 0, 0}), -1) << name;
        EXPECT_EQ(model.scene, nullptr) << name;
        EXPECT_EQ(model.Render(1000), 0) << name;
    }
}

// The material group case is what it claims: handed to lib3ds directly it
// writes past the face array, which only a sanitizer build sees for sure.
// The test above shows the Model never lets lib3ds read it.
#if defined(__SANITIZE_ADDRESS__)
TEST(CasesLib3ds, MaterialGroupPastTheFacesWritesOutOfBoundsInLib3ds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string path = kCases + "refuse-material-group-past-faces.3ds";
    EXPECT_DEATH(lib3ds_file_load(path.c_str()), "AddressSanitizer");
}
#endif

TEST_F(Cases, ScenesThatPassTheChecksPlayHarmlessly)
{
    for (const std::string& name : CasesStartingWith("play-")) {
        Model model;
        model.SetParams({(kCases + name).c_str(), 25, 0, 0, 0});
        testing_support::ClearFrame(0, 0, 0);
        for (int msec : {0, 1000, -1000, 1 << 30})
            EXPECT_EQ(model.Render(msec), 0) << name;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << name;
    }
}

TEST_F(Cases, PixelInputsAreHarmless)
{
    for (const std::string& name : CasesStartingWith("image-")) {
        const std::string bytes = Bytes(name);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        std::size_t pos = 0;
        auto take = [&](void* out, std::size_t n) {
            std::memset(out, 0, n);
            if (bytes.size() - pos >= n) {
                std::memcpy(out, data + pos, n);
                pos += n;
            } else {
                pos = bytes.size();
            }
        };
        std::int32_t size[2];
        std::uint8_t flags;
        float p[9];
        std::int32_t align[2];
        take(size, sizeof size);
        take(&flags, 1);
        take(p, sizeof p);
        take(align, sizeof align);
        auto fold = [](std::int32_t raw) { return (raw & 0x40000000) ? raw : raw % 80; };
        Image image;
        for (int call = 0; call < ((flags & 2) ? 2 : 1); ++call) {
            image.SetParams({(flags & 1) ? "case" : nullptr, pos < bytes.size() ? data + pos : nullptr,
                            bytes.size() - pos, fold(size[0]), fold(size[1]), p[0], p[1], p[2], p[3], p[4], p[5],
                            align[0], align[1], p[6], p[7], p[8]});
            EXPECT_EQ(image.Render(0), 0) << name;
            EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << name;
        }
    }
}

TEST(CasesOptions, CommandLinesAreHarmless)
{
    for (const std::string& name : CasesStartingWith("options-")) {
        const std::string bytes = Bytes(name);
        std::vector<std::string> words{"showplayer"};
        std::string word;
        for (char c : bytes.substr(bytes.empty() ? 0 : 1)) {
            if (c == '\0') {
                words.push_back(word);
                word.clear();
            } else {
                word += c;
            }
        }
        words.push_back(word);
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        std::FILE* sink = std::fopen("/dev/null", "w");
        host::ParseOptions(static_cast<int>(words.size()), argv.data(), !bytes.empty() && (bytes[0] & 1), sink);
        std::fclose(sink);
    }
}

// Regression cases: every input that once crashed, hung or upset a sanitizer
// (found by scripts/fuzz or by hand) is kept under tests/hardening/cases and
// replayed here. Names say what is expected:
//   refuse-*.3ds  the Model's checks refuse the scene (SetParams gives -1),
//                 so lib3ds never parses it
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

#include "effects/Model.h"
#include "tests/support/GlWindow.h"

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

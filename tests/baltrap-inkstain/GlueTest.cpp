// The BalTrap and InkStain packages through an embedded interpreter: each key
// reaches its own parameter, read with the reader its type needs (the readers
// themselves are tested once in the bindings tests).
// gtest before the interpreter's headers, whose macros clash with its names.
#include <gtest/gtest.h>

#include "effects/BalTrap.h"
#include "effects/InkStain.h"
#include "tests/baltrap-inkstain/Support.h"
#include "tests/support/perl/EmbeddedPerl.h"

using namespace baltrap_inkstain;

namespace {

class BalTrapInkStainGlue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(OpenWindow()) << "needs a display (run under xvfb-run)";
        picture_ = WriteQuadrants("glue.bmp", 8, 8, kRed, kGreen, kBlue, kYellow);
    }

    // Boots the package, makes $o and runs each SetParams call on it.
    template <class T>
    T* Run(const std::string& package, std::initializer_list<std::string> calls)
    {
        perl_.Eval(package + "::boot_" + package + "(); our $o = " + package + "->new;");
        for (const std::string& call : calls) {
            perl_.Eval("$o->SetParams({" + call + "})");
            EXPECT_EQ(perl_.error(), "") << call;
        }
        return reinterpret_cast<T*>(perl_.EvalInteger("$$o"));
    }

    EmbeddedPerl perl_;
    std::string picture_;
};

TEST_F(BalTrapInkStainGlue, BalTrapKeysReachTheirParameters)
{
    // A number is no file name to the string reader, and a string that is a
    // number no number to the number reader.
    BalTrap* effect = Run<BalTrap>("BalTrap", {"bal => 5, x => '0.5', zoom => 3"});
    EXPECT_FALSE(effect->ballTexture);
    EXPECT_EQ(effect->x, 0.0f);
    EXPECT_EQ(effect->zoom, 3.0f);

    effect = Run<BalTrap>("BalTrap", {"bal => '" + picture_ + "', x => 0.1, y => -0.3, zoom => 2.5, turn => 33.3,"
                                      " trap_alpha => 0.7, unknown => 9"});
    EXPECT_TRUE(effect->ballTexture);
    EXPECT_EQ(effect->x, 0.1f);
    EXPECT_EQ(effect->y, -0.3f);
    EXPECT_EQ(effect->zoom, 2.5f);
    EXPECT_EQ(effect->turn, 33.3f);
    EXPECT_EQ(effect->trap_alpha, 0.7f);
}

TEST_F(BalTrapInkStainGlue, InkStainKeysReachTheirParameters)
{
    InkStain* effect = Run<InkStain>("InkStain", {"frontimage => 7, openangle => '45', stainsize => 0.3"});
    EXPECT_FALSE(effect->frontTexture);
    EXPECT_EQ(effect->openangle, 0.0f);
    EXPECT_EQ(effect->stainsize, 0.3f);

    effect = Run<InkStain>("InkStain", {"frontimage => '" + picture_ + "', openangle => 123.4, stainsize => 1.1"});
    EXPECT_TRUE(effect->frontTexture);
    EXPECT_NE(effect->frontList, InkStain::kNoList);
    EXPECT_EQ(effect->openangle, 123.4f);
    EXPECT_EQ(effect->stainsize, 1.1f);
}

}  // namespace

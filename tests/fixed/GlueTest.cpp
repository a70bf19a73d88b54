// The BalTrap and InkStain packages through an embedded interpreter: each key
// reaches its own parameter, read with the right reader and narrowed to float.
// gtest before the interpreter's headers, whose macros clash with its names.
#include <gtest/gtest.h>

#include "effects/BalTrap.h"
#include "effects/InkStain.h"
#include "tests/fixed/FixedSupport.h"
#include "tests/support/perl/EmbeddedPerl.h"

using namespace fixed_test;
using testing_support::EmbeddedPerl;

namespace {

class FixedGlueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(OpenWindow()) << "needs a display (run under xvfb-run)";
        picture_ = WriteQuadrants("glue.bmp", 8, 8, {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255},
                                  {255, 255, 0, 255});
    }

    template <class T>
    T* Object(EmbeddedPerl& perl, const std::string& handle)
    {
        return reinterpret_cast<T*>(perl.EvalInteger("$$" + handle));
    }

    std::string picture_;
};

TEST_F(FixedGlueTest, BalTrapKeysReachTheirParameters)
{
    EmbeddedPerl perl;
    perl.Eval("BalTrap::boot_BalTrap(); our $b = BalTrap->new;");
    ASSERT_EQ(perl.error(), "");
    BalTrap* effect = Object<BalTrap>(perl, "b");

    // A string that is a number is no number to the number reader, and a
    // number is no file name to the string reader.
    perl.Eval("$b->SetParams({bal => 5, x => '0.5', y => 0.2, zoom => 3, turn => 40, trap_alpha => 0.1})");
    ASSERT_EQ(perl.error(), "");
    EXPECT_EQ(effect->ballTexture, nullptr);
    EXPECT_EQ(effect->x, 0.0f);

    perl.Eval("$b->SetParams({bal => '" + picture_ +
              "', x => 0.1, y => -0.3, zoom => 2.5, turn => 33.3, trap_alpha => 0.7, unknown => 9})");
    ASSERT_EQ(perl.error(), "");
    EXPECT_NE(effect->ballTexture, nullptr);
    EXPECT_EQ(effect->x, 0.1f);
    EXPECT_EQ(effect->y, -0.3f);
    EXPECT_EQ(effect->zoom, 2.5f);
    EXPECT_EQ(effect->turn, 33.3f);
    EXPECT_EQ(effect->trap_alpha, 0.7f);

    // Not a hash reference: nothing changes.
    EXPECT_EQ(perl.EvalString("defined($b->SetParams([1])) ? 'defined' : 'undef'"), "undef");
    EXPECT_EQ(effect->zoom, 2.5f);

    // Missing keys read as 0.
    perl.Eval("$b->SetParams({})");
    EXPECT_EQ(effect->zoom, 0.0f);
    EXPECT_EQ(effect->trap_alpha, 0.0f);
}

TEST_F(FixedGlueTest, InkStainKeysReachTheirParameters)
{
    EmbeddedPerl perl;
    perl.Eval("InkStain::boot_InkStain(); our $i = InkStain->new;");
    ASSERT_EQ(perl.error(), "");
    InkStain* effect = Object<InkStain>(perl, "i");

    perl.Eval("$i->SetParams({frontimage => 7, openangle => '45', stainsize => 0.3})");
    ASSERT_EQ(perl.error(), "");
    EXPECT_EQ(effect->frontTexture, nullptr);
    EXPECT_EQ(effect->openangle, 0.0f);
    EXPECT_EQ(effect->stainsize, 0.3f);

    perl.Eval("$i->SetParams({frontimage => '" + picture_ + "', openangle => 123.4, stainsize => 1.1, x => 5})");
    ASSERT_EQ(perl.error(), "");
    EXPECT_NE(effect->frontTexture, nullptr);
    EXPECT_NE(effect->frontList, InkStain::kNoList);
    EXPECT_EQ(effect->openangle, 123.4f);
    EXPECT_EQ(effect->stainsize, 1.1f);

    EXPECT_EQ(perl.EvalString("defined($i->SetParams(5)) ? 'defined' : 'undef'"), "undef");
    EXPECT_EQ(effect->openangle, 123.4f);
}

}  // namespace

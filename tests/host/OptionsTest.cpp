// The option rules, table-driven, on the parser itself.
#include "host/Options.h"

#include <gtest/gtest.h>

TEST(Options, Defaults)
{
    char name[] = "showplayer";
    char* argv[] = {name, nullptr};
    const host::Settings s = host::ParseOptions(1, argv, false, stderr);
    EXPECT_EQ(s.width, 800);
    EXPECT_EQ(s.height, 600);
    EXPECT_EQ(s.depth, 32);
    EXPECT_TRUE(s.fullscreen);
}

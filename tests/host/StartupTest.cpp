// Start-up sequence through the real binary: the resolution line, the stage
// messages and the exit status.
#include "tests/support/Player.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char* kReturns = R"(sub main { return $ENV{RESULT}; } 1;)";

}  // namespace

TEST(Startup, ExitStatusIsMainsResultLowEightBits)
{
    struct Case { const char* value; int status; } cases[] = {{"3", 3}, {"256", 0}, {"'7'", 7}, {"undef", 0}};
    for (const auto& c : cases) {
        const RunResult run = RunScript(std::string("sub main { return ") + c.value + "; } 1;");
        EXPECT_EQ(run.status, c.status) << c.value << "\n" << run.err;
        EXPECT_EQ(run.out, "using resolution 800x600 32bpp\n") << c.value;
    }
    (void)kReturns;
}

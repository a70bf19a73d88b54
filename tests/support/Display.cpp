// Keeps one connection to the test display open for the life of the process.
#include "tests/support/Display.h"

#include <X11/Xlib.h>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace testing_support {

namespace {
constexpr auto kConnectPatience = std::chrono::seconds(3);
constexpr auto kRetryPause = std::chrono::milliseconds(20);
}  // namespace

bool HoldDisplay()
{
    static Display* held = nullptr;
    if (held)
        return true;
    if (!std::getenv("DISPLAY"))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + kConnectPatience;
    while (!(held = XOpenDisplay(nullptr)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kRetryPause);
    return held != nullptr;
}

}  // namespace testing_support

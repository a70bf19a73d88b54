// The test's X display: one connection held for the life of the process, and
// the screen read back through it.
#include "tests/support/Display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testing_support {

_XDisplay* HoldDisplay()
{
    static Display* held = nullptr;
    if (held || !std::getenv("DISPLAY"))
        return held;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!(held = XOpenDisplay(nullptr)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return held;
}

ScreenShot::ScreenShot(int width, int height) : width_(width), pixels_(static_cast<std::size_t>(width) * height)
{
    Display* display = HoldDisplay();
    XImage* image = display ? XGetImage(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                                        static_cast<unsigned>(height), AllPlanes, ZPixmap)
                            : nullptr;
    if (!image)
        throw std::runtime_error("cannot read the screen");
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            pixels_[static_cast<std::size_t>(y) * width + x] =
                Rgba{static_cast<int>((p & image->red_mask) >> 16), static_cast<int>((p & image->green_mask) >> 8),
                     static_cast<int>(p & image->blue_mask), 255};
        }
    XDestroyImage(image);
}

int ScreenShot::CountUnlike(const Rgba& colour, int tolerance, int x0, int y0, int x1, int y1) const
{
    int count = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            count += !ColorNear(At(x, y), colour, tolerance);
    return count;
}

}  // namespace testing_support

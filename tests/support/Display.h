// The test's X display: one connection held for the life of the process, and
// the screen read back through it.
#pragma once

#include "tests/support/GlWindow.h"

#include <vector>

struct _XDisplay;

namespace testing_support {

// Xvfb resets itself whenever its last client disconnects, and a client that
// connects during the reset is refused ("Couldn't open X11 display"). Tests
// start and stop many short-lived players, so the test process holds a
// connection of its own before it starts any; it retries while a reset from
// an earlier process is under way. Null when there is no display at all.
_XDisplay* HoldDisplay();

// The top-left corner of the display's screen, read back (a player's window
// sits there).
class ScreenShot {
public:
    ScreenShot(int width, int height);
    Rgba At(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
    // Pixels in the rectangle that differ from colour by more than tolerance.
    int CountUnlike(const Rgba& colour, int tolerance, int x0, int y0, int x1, int y1) const;

private:
    int width_;
    std::vector<Rgba> pixels_;
};

}  // namespace testing_support

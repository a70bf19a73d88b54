// Keeps one connection to the test display open for the life of the process.
#pragma once

namespace testing_support {

// Xvfb resets itself whenever its last client disconnects, and a client that
// connects during the reset is refused ("Couldn't open X11 display"). Tests
// start and stop many short-lived players, so the test process holds a
// connection of its own before it starts any; it retries while a reset from
// an earlier process is under way. False when there is no display at all.
bool HoldDisplay();

}  // namespace testing_support

// Watch mode: the show runs again whenever a file of its folder changes, and
// an error shows in the window until the next change.
#pragma once

#include "bindings/Context.h"

namespace watch {

// Runs "main.pl" against context again after every change to the show folder
// (context.folder, else the working directory) until the show ends: main returns or the script
// exits (their status), the window is closed while the show runs (0), or the
// author leaves the error screen with Escape or the close button (1). The
// window and the music stay across runs; musicFile is opened again when it
// changes.
int RunWatching(show::Context& context, const char* musicFile);

}  // namespace watch

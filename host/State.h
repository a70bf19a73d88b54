// Process-wide values that the start-up stages leave behind for the bindings.
#pragma once

namespace music { class Stream; }

namespace state {

// The music stream and the channel it was started on (paused) by InitSound.
extern music::Stream* musicStream;
extern int musicChannel;

// 1 once InitVideo has opened the window; handed to the script's main.
extern int windowReady;

// main's own arguments, which the embedded Perl runtime's process-level
// initialisation takes by address.
extern int* processArgc;
extern char*** processArgv;
extern char*** processEnv;

}  // namespace state

// Process-wide values that the start-up stages leave behind for the bindings.
#include "host/State.h"

namespace state {

music::Stream* musicStream = nullptr;
int musicChannel = 0;
int windowReady = 0;
int* processArgc = nullptr;
char*** processArgv = nullptr;
char*** processEnv = nullptr;

}  // namespace state

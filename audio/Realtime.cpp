// Real-time scheduling for the device thread.
#include "audio/Realtime.h"

#include <pthread.h>
#include <sched.h>

namespace music {

namespace {

// Below the sound server's own threads (PulseAudio uses 5 and up), so the
// server always comes first; above every normal thread.
constexpr int kPriority = 3;

}  // namespace

void RaiseToRealtime()
{
    sched_param param{};
    param.sched_priority = kPriority;
    // SCHED_RESET_ON_FORK: a child the script starts does not inherit it.
    pthread_setschedparam(pthread_self(), SCHED_RR | SCHED_RESET_ON_FORK, &param);
}

}  // namespace music

// Real-time scheduling for the device thread.
#include "audio/Realtime.h"

#include <pthread.h>
#include <sched.h>

namespace music {

void RaiseToRealtime(int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    // SCHED_RESET_ON_FORK: a child the script starts does not inherit it.
    pthread_setschedparam(pthread_self(), SCHED_RR | SCHED_RESET_ON_FORK, &param);
}

}  // namespace music

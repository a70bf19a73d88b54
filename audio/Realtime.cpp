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

PriorityMutex::PriorityMutex()
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    // Kernels without priority-inheriting futexes: a plain lock.
    if (pthread_mutex_init(&mutex_, &attributes) != 0)
        pthread_mutex_init(&mutex_, nullptr);
    pthread_mutexattr_destroy(&attributes);
}

PriorityMutex::~PriorityMutex() { pthread_mutex_destroy(&mutex_); }

}  // namespace music

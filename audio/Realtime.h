// Real-time scheduling for the thread that hands music to the device.
#pragma once

#include <pthread.h>

namespace music {

// Priorities: the thread that hands music to the device, and the decoder
// below it; both under the sound server's own threads (PulseAudio uses 5 and
// up), so the server always comes first, and above every normal thread.
constexpr int kDevicePriority = 3;
constexpr int kDecoderPriority = 2;

// Asks for round-robin real-time scheduling at a low priority for the calling
// thread, as sound servers give their own device threads. A process without
// the right (no root, no RLIMIT_RTPRIO) keeps normal scheduling; nothing is
// reported, the music only becomes more prone to dropouts on a busy machine.
void RaiseToRealtime(int priority);

// A lock that a real-time device thread shares with a normal thread (the
// script's). It inherits priority: while the device thread waits, whoever
// holds it runs at the device thread's priority, so that a busy normal
// thread cannot hold up the music with the lock held. For std::lock_guard.
class PriorityMutex {
public:
    PriorityMutex();
    ~PriorityMutex();
    PriorityMutex(const PriorityMutex&) = delete;
    PriorityMutex& operator=(const PriorityMutex&) = delete;

    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }

private:
    pthread_mutex_t mutex_;
};

}  // namespace music

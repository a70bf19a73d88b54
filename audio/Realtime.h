// Real-time scheduling for the thread that hands music to the device.
#pragma once

namespace music {

// Asks for round-robin real-time scheduling at a low priority for the calling
// thread, as sound servers give their own device threads. A process without
// the right (no root, no RLIMIT_RTPRIO) keeps normal scheduling; nothing is
// reported, the music only becomes more prone to dropouts on a busy machine.
void RaiseToRealtime();

}  // namespace music

// Real-time scheduling for the thread that hands music to the device.
#pragma once

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

}  // namespace music

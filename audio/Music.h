// Music component: one streamed MP3 played through SDL audio, with a position
// clock that follows what the listener hears, to the millisecond.
//
// It offers the operations the player needs of a sound library: initialise the
// output, open a file stream with sample-exact seeking, start it paused on a
// channel, unpause it, and read and set its position in milliseconds.
// All functions are called from the main thread; the SDL audio callback runs on
// SDL's own thread and decodes the music as the device asks for it.
//
// The position is what the listener hears: the frames the device has consumed,
// less the device buffer still waiting to be played, interpolated on the
// monotonic clock between device callbacks. It never goes backwards while
// playing, and it reads exactly the value set by a seek or held by a pause.
// At the end of the music it stops at the length (no wrap, no loop) and the
// output is silence.
#pragma once

#include "audio/Player.h"

#include <vector>

namespace music {

class Stream;

// Opens SDL audio output at mixRate Hz (stereo, 16-bit) and keeps it running
// (silent until a stream plays). SDL chooses the driver (SDL_AUDIODRIVER
// selects one). False when the output cannot start, also for a driver name SDL
// does not know.
bool Init(int mixRate);

// Closes the output and releases every stream. Safe after a failed Init.
void Close();

// Opens a music file for streaming with accurate (sample-exact) seeking.
// Never null once Init succeeded: a file that cannot be opened or decoded gives
// a silent clock stream (0 until unpaused, then real time; seeks work), and one
// line on standard error names the file and the reason.
Stream* StreamOpen(const char* path);

// Binds the stream to the music channel, paused. Returns the channel number
// (0), or -1 for a null stream.
int StreamPlayPaused(Stream* stream);

// Pauses or resumes a channel. False for an unknown channel.
bool SetPaused(int channel, bool paused);

// The position the listener hears now, in milliseconds. 0 for a null stream.
int StreamGetTime(Stream* stream);

// Moves the position to ms (negative values clamp to 0, values past the end
// land at the end). True on success, false for a null stream.
bool StreamSetTime(Stream* stream, int ms);

// Length of the music in milliseconds; -1 for a silent clock or null stream.
int StreamGetLength(Stream* stream);

// ---------------------------------------------------------------------------
// Measurement (tests and benchmarks).

// The position in fractional milliseconds, as StreamGetTime before rounding.
double StreamGetTimeExact(Stream* stream);


// Latency the clock subtracts: the device buffer, in frames. 0 before Init.
int DeviceLatencyFrames();

// Starts recording the buffers the device takes into *sink (appended from the
// audio thread; reserve room beforehand), or stops with null. Read *sink only
// after stopping.
void TraceDevice(std::vector<DeviceBuffer>* sink);

}  // namespace music

// Music component: one streamed MP3 played through SDL audio, with a position
// clock that follows what the listener hears, to the millisecond.
//
// It offers the operations the player needs of a sound library: initialise the
// output, open a file stream with sample-exact seeking, start it paused on a
// channel, unpause it, and read and set its position in milliseconds.
// All functions are called from the main thread; the SDL audio callback runs on
// SDL's own thread.
#pragma once

namespace music {

class Stream;

// Opens SDL audio output at mixRate Hz (stereo, 16-bit). SDL chooses the
// driver (SDL_AUDIODRIVER selects one). False when the output cannot start.
bool Init(int mixRate);

// Closes the output and releases every stream.
void Close();

// Opens a music file for streaming with accurate (sample-exact) seeking.
// Never null once Init succeeded: a file that cannot be opened or decoded gives
// a silent clock stream (0 until unpaused, then real time; seeks work), and one
// line on standard error names the file and the reason.
Stream* StreamOpen(const char* path);

// Binds the stream to a channel, paused. Returns the channel number (>= 0).
int StreamPlayPaused(Stream* stream);

// Pauses or resumes a channel. False for an unknown channel.
bool SetPaused(int channel, bool paused);

// The position the listener hears now, in milliseconds. 0 for a null stream.
int StreamGetTime(Stream* stream);

// Moves the position to ms (negative values clamp to 0, values past the end
// land at the end). True on success, false for a null stream.
bool StreamSetTime(Stream* stream, int ms);

}  // namespace music

// The start-up stage's and the OpenGL package's old entry points into the
// music, kept only until the host holds its own Player: each call forwards to
// the one Player this adapter owns. New code uses Player.h.
#pragma once

namespace music {

class Stream;

// Creates the player (see Player::Create). False when no output can start.
bool Init(int mixRate);
// Destroys the player.
void Close();
// Opens the music file on the player (see Player::Open); never null after Init.
Stream* StreamOpen(const char* path);
// The music channel (0), or -1 for a null stream.
int StreamPlayPaused(Stream* stream);
// Starts (false) or pauses (true) the music. False for an unknown channel.
bool SetPaused(int channel, bool paused);
// The position in ms; 0 for a null stream.
int StreamGetTime(Stream* stream);
// Moves the position (see Player::Seek); false for a null stream.
bool StreamSetTime(Stream* stream, int ms);

}  // namespace music

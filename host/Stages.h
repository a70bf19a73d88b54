// The three start-up stages, run in order by the entry point.
#pragma once

namespace host {

// Opens SDL video and a double-buffered OpenGL window, hides the cursor.
// 0 on success, 1 on failure (silent; the entry point prints the message).
int InitVideo(int width, int height, int depth, bool fullscreen);

// Starts the sound output and opens the music file as a paused stream.
// 0 on success; 1 after printing "Sound error!" when the output cannot start.
int InitSound(const char* fileName);

// Runs "main.pl" in an embedded Perl interpreter and calls its main.
// Returns the integer that main returned.
int RunScript(int width, int height, int depth);

}  // namespace host

// The three start-up stages, run in order by the entry point; each fills in
// its part of the show context.
#pragma once

#include "bindings/Context.h"

#include <string>

namespace host {

// Multisampling of the window, and of a recording's window-less frames, so
// that a recorded show looks as it does live.
constexpr int kMultisampleSamples = 6;

// Opens SDL video and a double-buffered OpenGL window, hides the cursor, and
// gives the context the window's size, its ready flag and the live front end.
// 0 on success, 1 on failure (silent; the entry point prints the message).
int InitVideo(int width, int height, int depth, bool fullscreen, show::Context& context);

// Starts the sound output and opens the music file paused at 0, as the
// context's player and clock. 0 on success; 1 after printing "Sound error!"
// when the output cannot start.
int InitSound(const char* fileName, show::Context& context);

// The author's tools for a live run: the transport keys (F2 to F4) when
// `keys`, and with `editor` the connection to the sync editor at host:port,
// made in the background.
void StartAuthoring(bool keys, bool editor, const std::string& host, int port, show::Context& context);

// Gives SIGINT and SIGTERM back their default action (ending the process),
// which SDL takes over; called once every stage that sets SDL up has run.
void RestoreTerminationSignals();

// Ends the music, then the window, whose SDL_Quit also ends the sound
// output. The entry point's last step, also before an exit ends the process.
void CloseStages(show::Context& context);

}  // namespace host

// What the player says about itself: --help, --version, and the hint that
// points a user outside a show folder to the bundled show.
#pragma once

#include <cstdio>
#include <string>

namespace host {

// The player's version, set once in the build (the top CMakeLists.txt).
extern const char* const kVersion;

// The usage summary: every option on a line of its own and where the bundled
// show lies.
void PrintUsage(std::FILE* out);

// "showplayer VERSION".
void PrintVersion(std::FILE* out);

// The folder the running player lies in (bin/ once installed, the build
// folder otherwise): its bundled show and recording module are found from it.
std::string PlayerFolder();

// The bundled show's folder: share/showplayer/show beside bin/ once
// installed, show/ beside the player in a build folder; where the install
// puts it when neither holds a main.pl.
std::string BundledShowFolder();

// One line for a folder without "main.pl": what a show folder is and where
// the bundled one lies. Prints nothing when "main.pl" is there.
void PrintShowFolderHint(std::FILE* out);

}  // namespace host

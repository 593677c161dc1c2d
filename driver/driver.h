// The demo driver: start-up, the show's order, shutdown and the closing banner.
#pragma once

#include <climits>
#include <cstddef>

// The remembered working directory: filled at start-up, refilled by the texture loader and the
// effect scenes, the fallback of the song search and the loaders, the capture's target.
// The 1990s 260-character buffer is the platform's own path limit here.
constexpr std::size_t kStartDirectorySize = PATH_MAX;
extern char startDirectory[kStartDirectorySize];

// The whole program: start-up, the show, shutdown. Ends the process through hostExit with the
// show's exit status (0, 255 for the -1 of a fatal start-up error, 1 without a working
// directory).
[[noreturn]] void runDemo();

// The song search: moves the working directory through the song directories in order and
// returns true once "Zudavez.xm" opens, leaving the working directory there.
bool findSong();

// Writes the sixteen-line closing banner to standard output.
void printBanner();

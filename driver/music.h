// Music synchronisation: the sync callback, the start and end cues, and the music fade-out.
#pragma once

#include <atomic>
#include <cstdint>

#include "midas.h"

// One-byte latches raised by the playback thread (value 2: start, value 1: end) and taken and
// cleared by the pages and scenes on the main thread.
extern std::atomic<std::uint8_t> startCue;
extern std::atomic<std::uint8_t> endCue;

// The play handle of the song, used for the volume calls.
extern MIDASmodulePlayHandle playHandle;

// The sync callback registered with the sound library.
void MIDAS_CALL onMusicSync(unsigned syncInfo, unsigned position, unsigned row);

// The page way of taking a cue: spin until raised, clear it, then sleep 350 ms.
void takeCueAtPage(std::atomic<std::uint8_t>& cue);
// The scene way of taking the start cue: spin until raised, clear it; no sleep.
void takeStartCueAtScene();

// Fades the music from volume 64 to 0 in 65 steps, 150 ms before each.
void fadeOutMusic();

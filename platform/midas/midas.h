// The 1990s sound-system API the show calls, played by libopenmpt through SDL2 audio (live)
// or rendered in step with the host's virtual clock (recorder, tests).
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef std::uint32_t DWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MIDAS_CALL

struct MIDASmoduleRecord;
typedef MIDASmoduleRecord* MIDASmodule;
typedef std::uint32_t MIDASmodulePlayHandle;

// The synchronisation callback: the W command's value, the song position and the row.
typedef void(MIDAS_CALL* MIDASsyncCallback)(unsigned syncInfo, unsigned position, unsigned row);

BOOL MIDASstartup(void);
BOOL MIDASinit(void);
MIDASmodule MIDASloadModule(const char* fileName);
MIDASmodulePlayHandle MIDASplayModule(MIDASmodule module, BOOL loopSong);
BOOL MIDASsetMusicSyncCallback(MIDASmodulePlayHandle playHandle, MIDASsyncCallback callback);
BOOL MIDASsetMusicVolume(MIDASmodulePlayHandle playHandle, unsigned volume);
BOOL MIDASstartBackgroundPlay(DWORD pollRate);
BOOL MIDASstopModule(MIDASmodulePlayHandle playHandle);
BOOL MIDASfreeModule(MIDASmodule module);
BOOL MIDASstopBackgroundPlay(void);
BOOL MIDASclose(void);

// --- extensions for the recorder and tests (not part of the 1990s API) ----------------------
// Called on the playback thread with every sync value delivered, after the show's callback.
typedef void (*MIDASsyncObserver)(unsigned value, void* context);
void MIDASextSetSyncObserver(MIDASsyncObserver fn, void* context);
// In virtual mode, keep the rendered audio (interleaved stereo 16-bit at 48 kHz, from show time
// 0 on, silence before background play) so that the recorder can write it out.
void MIDASextKeepAudio(bool keep);
const std::int16_t* MIDASextAudio(std::size_t* frames);
// The last error of a failed call, in words, for our own messages.
const char* MIDASextLastError(void);
// Audio frames rendered since background play began: the playback thread's audio time, read
// from any thread (inside a sync callback it is the end of the chunk that began the row).
std::int64_t MIDASextPlayPosition(void);
// The music volume last set (0 to 64).
unsigned MIDASextMusicVolume(void);
// How many sync commands with this value the module's patterns carry (0 for no module).
unsigned MIDASextSyncCommandCount(MIDASmodule module, unsigned value);

// The host layer: clocks (live and virtual), waits, keyboard queue, window, working directory,
// and the orderly way out. The show and the other platform layers reach the machine only here.
#pragma once

#include <cstddef>
#include <cstdint>

// Show time is counted in audio sample frames at this rate; one retrace tick is 800 of them.
constexpr std::int64_t kHostSampleRate = 48000;
constexpr std::int64_t kHostTickSamples = kHostSampleRate / 60;
constexpr std::int64_t kHostMsSamples = kHostSampleRate / 1000;

// Exit statuses of the ways out that the host itself takes.
constexpr int kHostExitWindowClosed = 0;
constexpr int kHostExitInterrupted = 130;
constexpr int kHostExitTimeLimit = 3;

// --- set-up (one of the two, before anything else) ----------------------------------------
// Live: steady clock, window, audio device, keys from the window and the terminal.
void hostInitLive();
// Virtual: a clock that only moves when the show waits; keys from a script. The script is a
// list of (show time in samples, key code) pairs in time order.
struct HostKeyEvent {
    std::int64_t at;
    int key;
};
void hostInitVirtual(const HostKeyEvent* script, std::size_t count, double maxSeconds);
bool hostIsVirtual();

// --- clock and waits --------------------------------------------------------------------------
std::int64_t hostNow();           // show time in samples since start
double hostNowSeconds();          // the same in seconds
std::int64_t hostTick();          // index of the retrace tick that the clock is in
void hostRetraceWait(int ticks);  // wait for the next `ticks` retrace ticks (swap pacing)
void hostSleep(unsigned ms);
void hostIdle();  // one step of a spin wait: at most 1 ms of show time

// --- keyboard ------------------------------------------------------------------------------
bool hostKeyWaiting();
// Reads one key, blocking. `expected` is only a hint for the virtual clock's answer to a wait
// that would otherwise never end (0: any key).
int hostReadKey(int expected);
// Blocks until a key is waiting (without reading it).
void hostWaitKeyWaiting();
void hostPushKey(int code);

// --- display -------------------------------------------------------------------------------
bool hostDisplayAvailable();
bool hostOpenWindow();
// Shows a 640x480 RGB565 picture, row 0 at the top.
void hostPresent(const std::uint16_t* pixels);
void hostCloseWindow();

// --- working directory ------------------------------------------------------------------------
bool hostGetCwd(char* buffer, std::size_t size);
bool hostChdir(const char* path);

// --- bookkeeping for the recorder ---------------------------------------------------------------
// The driver names each entry of the show as it begins it.
void hostBeginEntry(const char* name);

// Listeners. Clock listeners run after every virtual clock step (at most 1 ms) with the new
// time; tick listeners run once for every retrace tick the clock leaves behind, with that
// tick's index (the picture on screen during that tick is the front buffer at that moment);
// swap listeners run at the call (before=true) and the return (before=false) of every
// retrace wait made by a buffer swap.
typedef void (*HostClockListener)(std::int64_t now, void* context);
typedef void (*HostTickListener)(std::int64_t tick, void* context);
typedef void (*HostEntryListener)(const char* name, void* context);
typedef void (*HostSwapListener)(bool before, void* context);
void hostAddClockListener(HostClockListener fn, void* context);
void hostAddTickListener(HostTickListener fn, void* context);
void hostAddEntryListener(HostEntryListener fn, void* context);
void hostAddSwapListener(HostSwapListener fn, void* context);
// Wait listeners run as each wait begins, with its kind: a retrace wait, a sleep, one step of a
// spin, or a key wait that will block (for a waiting key, or for a key to read). Tests use them
// to act in the middle of a given wait, as a viewer closing the window would.
enum class HostWait { retrace, sleep, idle, keyWaiting, keyRead };
typedef void (*HostWaitListener)(HostWait kind, void* context);
void hostAddWaitListener(HostWaitListener fn, void* context);
// Wall seconds spent inside host waits so far (sleep, idle, key waits, retrace waits): lets the
// recorder measure the cost of drawing alone.
double hostWaitWallSeconds();

// --- the way out ----------------------------------------------------------------------------
// Shutdown hooks run in reverse order of registration on every way out through hostExit
// (normal end, fatal error, window closed, Ctrl+C, time limit).
typedef void (*HostShutdownHook)(void* context);
void hostAddShutdownHook(HostShutdownHook fn, void* context);
[[noreturn]] void hostExit(int status);
// The status being exited with, for shutdown hooks (-1 before any exit began).
int hostExitStatus();
// True on the thread that called hostInit*.
bool hostOnMainThread();

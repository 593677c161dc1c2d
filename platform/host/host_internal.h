// Private glue between the host layer's core, window and terminal files.
#pragma once

// Services the window and the terminal once: events, keys, expose, fullscreen toggles.
void hostPump();
// Raw, no-echo terminal input when standard input is a terminal; restored on every way out.
void hostTerminalInit();
void hostTerminalRestore();
void hostTerminalPoll();
// A key from the window or the terminal joins the queue.
void hostKeyFromDevice(int code);
// Asks the next wait to end the show as for this signal (window-side Ctrl+C).
void hostRequestInterrupt(int signal);

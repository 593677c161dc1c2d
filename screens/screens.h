// The pages before and after the effect scenes: opening titles, closing credits, contact pages.
#pragma once

#include <cstdint>

// Five title pages, each faded in on the start cue and out on the end cue.
void showTitles();
// Sixteen credit pages; the last stays on screen through the music fade-out.
void showCredits();
// A black pause, then two contact pages closed by any key and by Escape.
void showContactPages();

// Waits for a key without echo: with `key` 0 any key, otherwise keys are read and dropped until
// one equals `key`. Returns the key that ended the wait.
std::int8_t waitForKey(std::int8_t key);

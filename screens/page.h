// What the title, credit and contact pages share: page tables, the font, the text state and
// the fades.
#pragma once

#include <cstdint>

#include "texture.h"

// One line of a page: drawn centred on x = 320 with `y` its top edge.
struct PageLine {
    const char* text;
    float y;
};

struct Page {
    const PageLine* lines;
    int count;
};
#define PAGE_OF(lines)                                 \
    Page {                                             \
        lines, int(sizeof(lines) / sizeof((lines)[0])) \
    }

// Resets texture memory and loads "font6000.3df" into `slot`; remembers whether it loaded so
// that a page without its font shows black frames instead of drawing from an unfilled slot.
void loadPageFont(TextureSlot* slot);
// Chroma key on black, the font as texture, additive blending.
void setPageTextState(TextureSlot* slot);
// Opaque drawing again: chroma key off, replace blending.
void restoreOpaqueState();

// Draws the page's lines at `brightness` without clearing or swapping.
void drawPage(const Page& page, std::uint8_t brightness);
// One whole frame: clear, the page at `brightness`, swap.
void showPageFrame(const Page& page, std::uint8_t brightness);
// Counted fades, one frame per step: in from 0 while at most 255, out from 255 while at
// least 0. The brightness is the low byte of the 16-bit counter.
void fadePageIn(const Page& page, int step);
void fadePageOut(const Page& page, int step);

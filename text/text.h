// The proportional bitmap font: string layout and glyph quads from "font6000.3df".
#pragma once

#include <cstdint>

// Right and left ink edges of each glyph cell, indexed by character code - 32.
extern const std::uint8_t glyphRightEdge[64];
extern const std::uint8_t glyphLeftEdge[64];

// Draws `text` at grey level `brightness`; its left ink edge at x - alignment * W / 2 where W is
// the string's width; y is the top edge of the line.
void drawText(std::uint8_t brightness, std::int8_t alignment, float x, float y, const char* text);
// Draws the cell of character `code` with its top-left corner at (x, y).
void drawGlyph(std::uint8_t brightness, float x, float y, int code);

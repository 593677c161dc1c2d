// Building the show's bitmap font texture from an outline font: layout of the 64 glyph cells,
// glyph fitting to the ink-edge tables, colour treatment, and the ink/black rules it keeps.
#pragma once

#include <cstdint>
#include <string>

#include "tdf_writer.h"

namespace fontatlas {

constexpr int kAtlasSide = 256;
constexpr int kCellSide = 32;
constexpr int kCellsPerRow = 8;
constexpr int kFirstCode = 32;
constexpr int kGlyphCount = 64;

// Ink edges of each cell (character code - 32): the first inked column, and the column just
// past the last inked one. The show's text layout spaces glyphs by these same numbers.
extern const std::uint8_t kRightEdge[kGlyphCount];
extern const std::uint8_t kLeftEdge[kGlyphCount];

// The outline font the generator draws from (Debian's fonts-dejavu-core).
constexpr const char* kDefaultFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// Vertical placement of the glyphs inside their cell, in texel rows from the cell's top.
constexpr int kCapTop = 5;     // first row of a capital's ink
constexpr int kBaseline = 26;  // first row below a capital's ink

// Top-left texel of the cell of character `code` (32..95).
inline int cellS0(int code) {
    return kCellSide * ((code - kFirstCode) % kCellsPerRow);
}
inline int cellT0(int code) {
    return kCellSide * ((code - kFirstCode) / kCellsPerRow);
}

// Draws the 64 glyphs of the font file at `fontPath` into a 256x256 picture (black outside the
// ink, alpha 255 everywhere). Every colour is one that 5-6-5 holds exactly, so the texture file
// keeps the picture as drawn, and every ink texel stays non-black there. Returns false and fills
// `error` when the font cannot be read or a glyph is missing from it.
bool buildFontAtlas(const std::string& fontPath, tdf::Image* atlas, std::string* error);

}  // namespace fontatlas

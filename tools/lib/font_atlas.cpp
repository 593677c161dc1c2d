// Building the show's bitmap font texture: each glyph drawn from an outline font with
// stb_truetype, fitted to its cell's ink edges, shaded with a bevelled vertical gradient.
#include "font_atlas.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "stb_truetype.h"

namespace fontatlas {

const std::uint8_t kRightEdge[kGlyphCount] = {
    8,  5,  10, 18, 15, 21, 18, 4,   // space ! " # $ % & '
    9,  9,  14, 16, 5,  11, 6,  14,  // ( ) * + , - . /
    16, 9,  15, 15, 13, 14, 16, 16,  // 0 - 7
    16, 16, 5,  5,  15, 16, 15, 12,  // 8 9 : ; < = > ?
    21, 20, 15, 17, 19, 12, 12, 18,  // @ A - G
    17, 5,  10, 17, 12, 22, 19, 21,  // H - O
    14, 21, 15, 14, 15, 18, 20, 29,  // P - W
    19, 19, 17, 7,  13, 7,  15, 17,  // X Y Z [ \ ] ^ _
};

const std::uint8_t kLeftEdge[kGlyphCount] = {
    0, 0, 0, 0, 0, 0, 0, 0,  // space ! " # $ % & '
    0, 0, 0, 0, 0, 0, 0, 1,  // ( ) * + , - . /
    0, 0, 0, 0, 0, 0, 0, 0,  // 0 - 7
    0, 0, 0, 0, 0, 0, 0, 0,  // 8 9 : ; < = > ?
    0, 1, 0, 0, 0, 0, 0, 0,  // @ A - G
    0, 0, 6, 0, 0, 0, 0, 0,  // H - O
    0, 0, 0, 0, 1, 0, 0, 1,  // P - W
    0, 0, 0, 0, 0, 0, 0, 0,  // X Y Z [ \ ] ^ _
};

namespace {

// Coverage below this (of 255) is left black: such faint fringes only blur the edge, and with
// the chroma key they would decide where a glyph's ink ends.
constexpr int kMinCoverage = 36;

// Glyphs whose outline is much wider than their cell allows are squeezed only down to
// `minRatio` of their natural width and then cut to the ink columns; `anchor` (0 left, 1
// right) says which part of the outline is kept. `dy` moves the glyph down in its cell.
// `capHigh` fits the whole outline, descender included, between cap line and baseline.
struct GlyphFit {
    int code;
    double minRatio;
    double anchor;
    int dy;
    bool capHigh;
};
constexpr GlyphFit kFits[] = {
    {'1', 0.78, 0.62, 0, false},   // keeps flag and stem, trims the foot serif's ends
    {'J', 0.70, 1.00, 0, true},    // a capital-height J: the stem and the turn of its hook
    {'_', 0.00, 0.00, -3, false},  // lifted so the bar stays inside the cell
};

const GlyphFit* fitFor(int code) {
    for (const GlyphFit& f : kFits)
        if (f.code == code) return &f;
    return nullptr;
}

struct Rgb {
    double r, g, b;
};

// Light cream at the top of the capitals, warm gold in the middle, deep amber at the baseline.
Rgb gradientAt(double t) {
    constexpr Rgb kTop{255, 250, 228}, kMid{255, 196, 72}, kBottom{196, 84, 18};
    t = std::clamp(t, 0.0, 1.0);
    auto mix = [](const Rgb& a, const Rgb& b, double u) {
        return Rgb{a.r + (b.r - a.r) * u, a.g + (b.g - a.g) * u, a.b + (b.b - a.b) * u};
    };
    return t < 0.45 ? mix(kTop, kMid, t / 0.45) : mix(kMid, kBottom, (t - 0.45) / 0.55);
}

// 8-bit channels rounded to the nearest 5-6-5 level and expanded back by bit replication, so
// any writer's 5-6-5 conversion keeps the value.
std::uint32_t quantize565(double r, double g, double b) {
    auto level = [](double v, int maxLevel) {
        return int(std::lround(std::clamp(v, 0.0, 255.0) * maxLevel / 255.0));
    };
    int r5 = level(r, 31), g6 = level(g, 63), b5 = level(b, 31);
    // An ink texel must never read as black, the chroma key's colour.
    if (r5 == 0 && g6 == 0 && b5 == 0) g6 = 1;
    const std::uint32_t r8 = std::uint32_t(r5 << 3 | r5 >> 2);
    const std::uint32_t g8 = std::uint32_t(g6 << 2 | g6 >> 4);
    const std::uint32_t b8 = std::uint32_t(b5 << 3 | b5 >> 2);
    return 0xFF000000u | r8 << 16 | g8 << 8 | b8;
}

using Cell = std::array<std::array<int, kCellSide>, kCellSide>;  // [row][column], 0..255

// Rasterises one glyph's coverage into its cell, fitted between its ink edges.
void rasterizeGlyph(const stbtt_fontinfo& font, int glyph, int code, double scaleY, Cell* cell) {
    const int left = kLeftEdge[code - kFirstCode], right = kRightEdge[code - kFirstCode];
    const int width = right - left;
    int x0, y0, x1, y1;
    stbtt_GetGlyphBox(&font, glyph, &x0, &y0, &x1, &y1);
    const GlyphFit* fit = fitFor(code);
    double baselineRow = kBaseline;
    if (fit && fit->capHigh && y0 < 0 && y1 > 0) {
        // The outline's bottom on the baseline, its top on the cap line.
        const double capRows = y1 * scaleY;
        scaleY = capRows / (y1 - y0);
        baselineRow = kBaseline + y0 * scaleY;
    }
    const double natural = (x1 - x0) * scaleY;
    double ratio = width / natural;
    double offset = 0;  // where the outline's left edge lands, relative to the left ink edge
    if (fit && ratio < fit->minRatio) {
        ratio = fit->minRatio;
        offset = -(natural * ratio - width) * fit->anchor;
    }
    const double scaleX = scaleY * ratio;
    const int dy = fit ? fit->dy : 0;

    // The outline's left edge on a whole column keeps the glyph's outer stems crisp.
    const float shiftX = float(left + offset - x0 * scaleX);
    const float shiftY = float(baselineRow + dy);
    int ix0, iy0, ix1, iy1;
    stbtt_GetGlyphBitmapBoxSubpixel(&font, glyph, float(scaleX), float(scaleY), shiftX, shiftY,
                                    &ix0, &iy0, &ix1, &iy1);
    const int w = ix1 - ix0, h = iy1 - iy0;
    if (w <= 0 || h <= 0) return;
    std::vector<unsigned char> pixels(std::size_t(w) * std::size_t(h));
    stbtt_MakeGlyphBitmapSubpixel(&font, pixels.data(), w, h, w, float(scaleX), float(scaleY),
                                  shiftX, shiftY, glyph);
    for (int j = 0; j < h; ++j) {
        const int row = iy0 + j;
        if (row < 0 || row >= kCellSide) continue;
        for (int i = 0; i < w; ++i) {
            const int col = ix0 + i;
            if (col < left || col >= right) continue;
            (*cell)[row][col] = std::max((*cell)[row][col], int(pixels[std::size_t(j * w + i)]));
        }
    }
}

// Drops faint fringes, then makes sure the ink reaches exactly the first and the last ink
// column: a pointed extreme (the tip of "<") can cover its column only faintly.
void settleInk(int code, Cell* cell) {
    const int left = kLeftEdge[code - kFirstCode], right = kRightEdge[code - kFirstCode];
    for (auto& row : *cell)
        for (int& c : row)
            if (c < kMinCoverage) c = 0;
    for (int col : {left, right - 1}) {
        int bestRow = -1, best = 0;
        for (int row = 0; row < kCellSide; ++row) {
            if ((*cell)[row][col] > best) {
                best = (*cell)[row][col];
                bestRow = row;
            }
        }
        if (bestRow >= 0) continue;  // already inked
        // Borrow the row where the neighbouring column is strongest.
        const int inner = col == left ? col + 1 : col - 1;
        bestRow = kCapTop;
        for (int row = 0, strongest = -1; row < kCellSide; ++row) {
            if ((*cell)[row][inner] > strongest) {
                strongest = (*cell)[row][inner];
                bestRow = row;
            }
        }
        (*cell)[bestRow][col] = kMinCoverage;
    }
}

// Colours one cell into the atlas: the gradient by row, scaled by coverage, with the upper and
// left edges shaded and a slightly darker rim; against black this reads as a thin outline
// that keeps the light top of the gradient from bleeding into the background.
void paintCell(int code, const Cell& cell, tdf::Image* atlas) {
    auto at = [&](int row, int col) {
        if (row < 0 || row >= kCellSide || col < 0 || col >= kCellSide) return 0.0;
        return cell[row][col] / 255.0;
    };
    const int s0 = cellS0(code), t0 = cellT0(code);
    const double capRows = kBaseline - kCapTop;
    for (int row = 0; row < kCellSide; ++row) {
        for (int col = 0; col < kCellSide; ++col) {
            const double c = at(row, col);
            std::uint32_t out = 0xFF000000u;
            if (c > 0) {
                // Coverage rising to the right and downwards marks an upper or left edge.
                const double gx = (at(row, col + 1) - at(row, col - 1)) * 0.5;
                const double gy = (at(row + 1, col) - at(row - 1, col)) * 0.5;
                const double lit = (gx + gy) * 0.7071;
                double inner = 1.0;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc)
                        inner = std::min(inner, at(row + dr, col + dc));
                const double shade =
                    std::clamp(1.0 - 0.55 * lit, 0.55, 1.35) * (0.72 + 0.28 * inner);
                const Rgb base = gradientAt((row + 0.5 - kCapTop) / capRows);
                const double k = shade * c;
                out = quantize565(base.r * k, base.g * k, base.b * k);
            }
            atlas->argb[std::size_t((t0 + row) * kAtlasSide + s0 + col)] = out;
        }
    }
}

std::uint32_t readBig32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The outline reader trusts the file's table directory; check that it describes tables that
// lie inside the file before handing it over.
bool plausibleTrueType(const std::vector<unsigned char>& data) {
    if (data.size() < 12) return false;
    const std::uint32_t tag = readBig32(data.data());
    if (tag != 0x00010000u && tag != 0x74727565u /* "true" */) return false;
    const std::size_t tables = std::size_t(data[4]) << 8 | data[5];
    if (tables == 0 || 12 + 16 * tables > data.size()) return false;
    for (std::size_t i = 0; i < tables; ++i) {
        const unsigned char* entry = data.data() + 12 + 16 * i;
        const std::uint64_t offset = readBig32(entry + 8), length = readBig32(entry + 12);
        if (offset + length > data.size()) return false;
    }
    return true;
}

}  // namespace

bool buildFontAtlas(const std::string& fontPath, tdf::Image* atlas, std::string* error) {
    std::ifstream in(fontPath, std::ios::binary);
    if (!in) {
        *error = "cannot open font file \"" + fontPath + "\"";
        return false;
    }
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    stbtt_fontinfo font;
    if (!plausibleTrueType(data) || !stbtt_InitFont(&font, data.data(), 0)) {
        *error = "\"" + fontPath + "\" is not a TrueType font";
        return false;
    }
    const int capGlyph = stbtt_FindGlyphIndex(&font, 'H');
    int hx0, hy0, hx1, hy1;
    if (capGlyph == 0 || !stbtt_GetGlyphBox(&font, capGlyph, &hx0, &hy0, &hx1, &hy1) || hy1 <= 0) {
        *error = "\"" + fontPath + "\" has no capital H to measure";
        return false;
    }
    // Capitals span exactly from kCapTop to kBaseline.
    const double scaleY = double(kBaseline - kCapTop) / hy1;

    atlas->width = kAtlasSide;
    atlas->height = kAtlasSide;
    atlas->argb.assign(std::size_t(kAtlasSide) * kAtlasSide, 0xFF000000u);
    for (int code = kFirstCode + 1; code < kFirstCode + kGlyphCount; ++code) {
        const int glyph = stbtt_FindGlyphIndex(&font, code);
        if (glyph == 0) {
            char what[64];
            std::snprintf(what, sizeof what, "has no glyph for character %d", code);
            *error = "\"" + fontPath + "\" " + what;
            return false;
        }
        Cell cell{};
        rasterizeGlyph(font, glyph, code, scaleY, &cell);
        settleInk(code, &cell);
        paintCell(code, cell, atlas);
    }
    return true;
}

}  // namespace fontatlas

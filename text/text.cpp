// The proportional bitmap font: string width, pen advance and one textured quad per glyph.
#include "text.h"

#include <cmath>

#include "glide.h"

// The cell column just past each glyph's ink.
const std::uint8_t glyphRightEdge[64] = {
    8,  5,  10, 18, 15, 21, 18, 4,   // space ! " # $ % & '
    9,  9,  14, 16, 5,  11, 6,  14,  // ( ) * + , - . /
    16, 9,  15, 15, 13, 14, 16, 16,  // 0 - 7
    16, 16, 5,  5,  15, 16, 15, 12,  // 8 9 : ; < = > ?
    21, 20, 15, 17, 19, 12, 12, 18,  // @ A - G
    17, 5,  10, 17, 12, 22, 19, 21,  // H - O
    14, 21, 15, 14, 15, 18, 20, 29,  // P - W
    19, 19, 17, 7,  13, 7,  15, 17,  // X Y Z [ \ ] ^ _
};

// The first inked column of each glyph's cell.
const std::uint8_t glyphLeftEdge[64] = {
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

constexpr int kFirstCode = 32;
constexpr int kLastCode = 95;
constexpr float kCell = 32.0f;
constexpr int kGap = 2;

// The font has cells for codes 32 to 95 only; anything else is passed over.
inline bool inFont(int code) {
    return code >= kFirstCode && code <= kLastCode;
}

inline int inkWidth(int code) {
    return glyphRightEdge[code - kFirstCode] - glyphLeftEdge[code - kFirstCode];
}

// One corner of a glyph quad: grey vertex colour, w = 1, texel coordinates as s/w and t/w.
// The fields a glyph does not use are zeroed so nothing undefined reaches the rasterizer.
void setCorner(GrVertex* v, float x, float y, float s, float t, float level) {
    *v = GrVertex{};
    v->x = x;
    v->y = y;
    v->r = level;
    v->g = level;
    v->b = level;
    v->a = 0.0f;
    v->oow = 1.0f;
    v->tmuvtx[0].sow = s;
    v->tmuvtx[0].tow = t;
}

}  // namespace

void drawText(std::uint8_t brightness, std::int8_t alignment, float x, float y, const char* text) {
    if (!text) return;
    if (-x > 640.0f || x > 1280.0f) return;
    x = std::ceil(x);
    y = std::ceil(y);

    // The width wraps as the 16-bit count it always was.
    std::uint16_t width = 0;
    int count = 0;
    for (const char* p = text; *p; ++p) {
        const int code = static_cast<unsigned char>(*p);
        if (!inFont(code)) continue;
        width = static_cast<std::uint16_t>(width + inkWidth(code));
        ++count;
    }
    if (count == 0) return;
    width = static_cast<std::uint16_t>(width + kGap * (count - 1));

    float pen = x - static_cast<float>(alignment * width) / 2.0f;
    for (const char* p = text; *p; ++p) {
        const int code = static_cast<unsigned char>(*p);
        if (!inFont(code)) continue;
        drawGlyph(brightness, pen - glyphLeftEdge[code - kFirstCode], y, code);
        pen += static_cast<float>(inkWidth(code) + kGap);
    }
}

void drawGlyph(std::uint8_t brightness, float x, float y, int code) {
    if (!inFont(code)) return;
    const int k = code - kFirstCode;
    const float s0 = kCell * static_cast<float>(k % 8);
    const float t0 = kCell * static_cast<float>(k / 8);
    const float level = static_cast<float>(brightness);

    GrVertex topLeft, bottomLeft, bottomRight, topRight;
    setCorner(&topLeft, x, y, s0, t0, level);
    setCorner(&bottomLeft, x, y - kCell, s0, t0 + kCell, level);
    setCorner(&bottomRight, x + kCell, y - kCell, s0 + kCell, t0 + kCell, level);
    setCorner(&topRight, x + kCell, y, s0 + kCell, t0, level);

    // Clockwise with y up, as the global cull mode keeps; the second half may cross the
    // screen's edge and goes through the clipping call.
    grDrawTriangle(&topLeft, &bottomRight, &bottomLeft);
    guDrawTriangleWithClip(&topLeft, &topRight, &bottomRight);
}

// The triangle pipeline of the software graphics library: setup, traversal and the per-pixel
// stage, with a plain reference path and an optimised path that must give the same pixels.
#pragma once

#include <cstdint>
#include <cstring>

#include "glide_internal.h"

namespace glide {

// --- setup ------------------------------------------------------------------------------------

// A vertex attribute as a plane over pixel centres: the value at pixel (X, Y) is
// (c0 + dy * (Y - yRef)) + dx * (X - xRef), evaluated in single precision in exactly this order
// by every path.
struct Plane {
    float c0 = 0, dx = 0, dy = 0;
};

// One edge as an integer function over pixel indices: E(X, Y) = e0 + ex * (X - xRef) +
// ey * (Y - yRef), in 1/256 pixel^2. A pixel is inside when E >= bias for all edges (bias 0 for
// top and left edges, 1 for the others: the tie rule that makes shared edges cover once).
struct Edge {
    std::int64_t e0 = 0, ex = 0, ey = 0, bias = 0;
};

struct TriangleSetup {
    int xRef = 0, yRef = 0;                      // reference pixel (lower left of the bounds)
    int minX = 0, maxX = 0, minY = 0, maxY = 0;  // pixel bounds within the clip window, half-open
    Edge edge[3];
    Plane r, g, b, a, w, s, t, z;  // colour, alpha, 1/w, s/w, t/w, z/w (ooz)
    float minOow = 0;              // the smallest 1/w of the three vertices
    int vertexX[3], vertexY[3];    // the vertices on the 1/16-pixel grid
};

// Coordinates beyond this many pixels from the origin are out of the board's range.
constexpr float kCoordinateLimit = 16777216.0f;

// Builds the setup of one triangle for the current state. False: nothing to draw (non-finite
// values, oow <= 0, out of range, culled, empty, or outside the clip window).
bool setupTriangle(const GrVertex& a, const GrVertex& b, const GrVertex& c, const RenderState& rs,
                   TriangleSetup* out);

// The covered pixels of row y: [*x0, *x1) within the setup's bounds (empty when x0 >= x1).
void rowSpan(const TriangleSetup& setup, int y, int* x0, int* x1);

// The same spans as rowSpan, row after row from setup.minY, stepped with exact integer
// arithmetic instead of a division per edge and row: each edge's bound is kept as a quotient
// and remainder that move by a fixed amount per row.
struct SpanWalker {
    // Every field is set by the constructor: default initialisers would clear the array with
    // a string store, whose start-up cost was a third of the constructor's time.
    struct Bound {
        int kind;  // +1: lower bound on x, -1: upper bound, 0: all or nothing
        std::int64_t q, r, divisor, stepQ, stepR;
        std::int64_t row, rowStep, bias;  // for kind 0
    };
    Bound bound[3];
    std::int64_t lo0, hi0;
    int xRef;

    static std::int64_t floorDivide(std::int64_t a, std::int64_t b) {  // b > 0
        // The edges of the usual on-screen triangle fit 32 bits, where division is much
        // cheaper than in 64; the quotient is the same.
        if (a == std::int32_t(a) && b == std::int32_t(b)) {
            const std::int32_t a32 = std::int32_t(a), b32 = std::int32_t(b);
            std::int32_t q = a32 / b32;
            if (a32 % b32 != 0 && a32 < 0) --q;
            return q;
        }
        std::int64_t q = a / b;
        if (a % b != 0 && a < 0) --q;
        return q;
    }

    // Left unset until start: a narrow triangle's spans come from narrowSpans instead.
    SpanWalker() = default;
    explicit SpanWalker(const TriangleSetup& s) { start(s); }

    void start(const TriangleSetup& s) {
        lo0 = s.minX - s.xRef;
        hi0 = s.maxX - s.xRef;
        xRef = s.xRef;
        const std::int64_t dy = s.minY - s.yRef;
        for (int i = 0; i < 3; ++i) {
            const Edge& e = s.edge[i];
            Bound& b = bound[i];
            const std::int64_t row = e.e0 + e.ey * dy;
            std::int64_t value, step;
            if (e.ex > 0) {  // k >= ceil((bias - row) / ex)
                b.kind = 1;
                b.divisor = e.ex;
                value = e.bias - row;
                step = -e.ey;
            } else if (e.ex < 0) {  // k <= floor((row - bias) / -ex)
                b.kind = -1;
                b.divisor = -e.ex;
                value = row - e.bias;
                step = e.ey;
            } else {
                b = Bound{0, 0, 0, 1, 0, 0, row, e.ey, e.bias};
                continue;
            }
            b.row = b.rowStep = b.bias = 0;
            b.q = floorDivide(value, b.divisor);
            b.r = value - b.q * b.divisor;
            b.stepQ = floorDivide(step, b.divisor);
            b.stepR = step - b.stepQ * b.divisor;
        }
    }

    void span(int* x0, int* x1) const {
        std::int64_t lo = lo0, hi = hi0;
        for (const Bound& b : bound) {
            if (b.kind > 0) {
                const std::int64_t k = b.q + (b.r != 0);
                if (k > lo) lo = k;
            } else if (b.kind < 0) {
                if (b.q + 1 < hi) hi = b.q + 1;
            } else if (b.row < b.bias) {
                hi = lo;
            }
        }
        if (hi < lo) hi = lo;
        *x0 = int(lo) + xRef;
        *x1 = int(hi) + xRef;
    }

    void next() {
        for (Bound& b : bound) {
            if (b.kind == 0) {
                b.row += b.rowStep;
                continue;
            }
            // The carry is taken without a branch: across a triangle's rows it comes and goes
            // with the edge's slope, which the processor cannot predict.
            const std::int64_t r = b.r + b.stepR;
            const std::int64_t carry = r >= b.divisor;
            b.r = r - (b.divisor & -carry);
            b.q += b.stepQ + carry;
        }
    }
};

// Triangles at most this many pixels wide have their spans from narrowSpans.
constexpr int kNarrowWidth = 16;

// The spans of a narrow triangle, computed without division: its edge functions are evaluated
// at the row's pixels, sixteen at a time with AVX2, and a row's covered pixels are those where
// all three edges pass (one run: the triangle is convex). span[i] receives [x0, x1) of row
// setup.minY + i, empty as x0 >= x1; they are the spans of rowSpan. Rows are worked out four at
// a time, so up to three rows past the last may be written as well: `span` has room for the
// triangle's rows and three more (kNarrowSpanRows for any triangle). False, with nothing written,
// when the triangle is wider than kNarrowWidth, the processor has no AVX2, or an edge's values
// within the bounds do not all fit 32 bits.
constexpr int kNarrowSpanRows = kHeight + 3;
bool narrowSpans(const TriangleSetup& setup, std::int16_t (*span)[2]);

// A narrow triangle's edges at the first pixel of its bounds, their steps along x and y, and
// their limits (a pixel is inside where every edge's value is above its limit), as 32-bit
// values. The fourth value of each is not used: the three can be written with one store.
struct NarrowEdges {
    int first[4], ex[4], ey[4], limit[4];
};

// --- small triangles ----------------------------------------------------------------------------

// Triangles at most kNarrowWidth pixels wide and this many rows tall can be set up as small ones.
constexpr int kSmallRows = 32;

// What the gathering of a small triangle needs, worked out straight from its vertices: its
// bounds (the reference pixel is the first, minX and minY), its edges in 32 bits and its planes
// side by side, each value the one setupTriangle gives. Plane i of c0, dx and dy is, in order,
// red, green, blue, alpha, 1/w, s/w, t/w and ooz.
struct SmallTriangle {
    int minX = 0, maxX = 0, minY = 0, maxY = 0;
    NarrowEdges edges;
    float minOow = 0;
    alignas(32) float c0[8], dx[8], dy[8];
};
enum class SmallSetup {
    nothing,  // setupTriangle would draw nothing
    small,    // set up
    other,    // not small, or a vertex far away: for setupTriangle
};
// Sets up a triangle of usable vertices (finite, in range, 1/w > 0) as a small one where it is
// one: at most kNarrowWidth by kSmallRows pixels within the clip window, with every vertex less
// than 256 pixels from its first pixel along each axis, so that every edge value over the
// bounds is far inside 32 bits.
SmallSetup setupSmallTriangle(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                              const RenderState& rs, SmallTriangle* out);
// The same as the drawing sets up a triangle to be gathered, with whether it can be
// (smallTriangleGatherable for `limit`) in `gatherable` where it is small. The processor must
// have AVX2.
SmallSetup setupSmallTriangle(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                              const RenderState& rs, double limit, SmallTriangle* out,
                              bool* gatherable);
// For a small triangle (as setupSmallTriangle takes it), a W-buffer depth that none of its
// pixels is nearer than, worked out from its vertices alone (see nearestWDepth); -1 where there
// is none: a triangle that draws nothing, one that is not small, or one whose 1/w plane's
// slopes could be so steep that the round-off would reach far from the nearest vertex's 1/w.
int smallTriangleNearestDepth(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                              const RenderState& rs);

// The spans of rows [0, height) of a small or narrow triangle from its 32-bit edges, as
// narrowSpans gives them (`span` with room for three rows more, see there); minX and width: the
// bounds along x, width at most kNarrowWidth. The processor must have AVX2.
void narrowSpansFrom(const NarrowEdges& edges, int minX, int width, int height,
                     std::int16_t (*span)[2]);

// --- textures ---------------------------------------------------------------------------------

struct TextureLevel {
    int width = 1, height = 1;
    int widthShift = 0, heightShift = 0;
    std::uint32_t memoryOffset = 0;  // bytes from the texture's start address
    // The decoded copy keeps each level as footprints: the entry of texel (x, y) holds that
    // texel and the one below it, so the two neighbouring entries of (x, y) hold the four texels
    // a bilinear filter reads there, in one 16-byte run. Entries run over x in -1..width and y in
    // -1..height - 1, over texels surrounded by a border one texel wide (the texels that
    // wrapping or clamping puts beside the first and last column and above and below the first
    // and last row), so a footprint never needs addressing of its own: the entry of (x, y) is
    // entries[decodedOffset + (y + 1) * stride + x + 1], texel (x, y) its low half.
    std::uint32_t decodedOffset = 0;  // in entries
    int stride = 3;                   // entries per row: width + 2
};

// The texture selected for unit 0, resolved once per draw.
struct TextureView {
    bool valid = false;
    int format = 0;
    int levels = 0;         // number of levels from the largest
    float texScale = 1.0f;  // texels of the largest level per coordinate unit
    TextureLevel level[9];
    const std::uint8_t* memory = nullptr;  // texture memory at the start address
    // Every level as footprint entries of two 0xAARRGGBB texels (optimised path).
    const std::uint64_t* decoded = nullptr;
};

// Resolves the unit-0 texture of the state; `decode` also provides the decoded copy (with
// borders for the state's clamp modes in s and t).
void resolveTexture(const TmuState& tmu, bool decode, TextureView* view);

// Where a level's texels differ from a key colour, for passing over what a chroma key would
// drop anyway: per level, over the level with its one-texel border (bordered column X + 1 is
// texel column X, -1..width, and likewise for rows), entry (Y, X) of a row-major table
// `width + 3` entries wide counts the texels of bordered columns below X and rows below Y whose
// red, green and blue are not `keyRgb` (0xRRGGBB). `offset[level]` is the level's first entry.
struct KeyCounts {
    const std::int32_t* counts = nullptr;
    std::int32_t offset[9] = {};
};
// The counts for the decoded copy that resolveTexture gave `view`, made once per key and kept
// with that copy (null counts: the view has no decoded copy).
KeyCounts keyCounts(const TextureView& view, std::uint32_t keyRgb);

// One texel of a level in 0xAARRGGBB, decoded from texture memory.
std::uint32_t fetchTexel(const TextureView& view, int level, int x, int y);

// --- per-pixel arithmetic shared by every path ---------------------------------------------------

// max/min that give the second operand for NaN, like the vector instructions.
inline float maxf(float v, float lo) {
    return v > lo ? v : lo;
}
inline float minf(float v, float hi) {
    return v < hi ? v : hi;
}

// An iterated colour channel: clamped to 0..255 and truncated.
inline int iteratedChannel(float v) {
    return int(minf(maxf(v, 0.0f), 255.0f));
}

inline std::uint32_t floatBits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// The W-buffer's 16-bit floating form of 1/w (see the depth notes in design): larger 1/w, smaller
// depth; 1/w >= 1 is nearest (0); 1/w below 2^-16, negative or zero is farthest (0xFFFF).
inline int wDepth(float oow) {
    const std::int32_t bits = std::int32_t(floatBits(oow));
    if (bits <= 0) return 0xFFFF;
    if (bits >= 0x3F800000) return 0;
    const int biased = bits >> 23;
    if (biased < 111) return 0xFFFF;
    const int e = 126 - biased;  // leading zero bits of the 32-bit fraction
    const int below = (bits >> 11) & 0xFFF;
    const int depth = ((e << 12) | (below ^ 0xFFF)) + 1;
    return depth > 0xFFFF ? 0xFFFF : depth;
}

// A bound of a triangle's W-buffer depths: none of its pixels is nearer than the result. Each
// pixel's 1/w comes from the triangle's plane, whose value at a covered pixel centre is at most
// the greatest vertex 1/w, `maxOow`, plus the round-off of the plane's coefficients and of its
// evaluation, far below a millionth of `extent` (the magnitudes of its c0 and of its slopes times
// the bounds, as safePlanes has them); the depth falls as 1/w grows. -1, no bound, where the
// values are not finite.
inline int nearestWDepth(float maxOow, double extent) {
    const double highest = (double(maxOow) + 1e-6 * extent) * (1.0 + 1e-6);
    // NaN fails the comparison as well.
    if (!(highest > 0.0 && highest <= 3.4e38)) return -1;
    return wDepth(float(highest));
}

// The Z-buffer's value: ooz clamped to 0..65535.
inline int zDepth(float ooz) {
    return int(minf(maxf(ooz, 0.0f), 65535.0f));
}

inline bool depthPasses(int function, int depth, int stored) {
    switch (function) {
        case GR_CMP_NEVER:
            return false;
        case GR_CMP_LESS:
            return depth < stored;
        case GR_CMP_EQUAL:
            return depth == stored;
        case GR_CMP_LEQUAL:
            return depth <= stored;
        case GR_CMP_GREATER:
            return depth > stored;
        case GR_CMP_NOTEQUAL:
            return depth != stored;
        case GR_CMP_GEQUAL:
            return depth >= stored;
        default:
            return true;
    }
}

// x * f / 255, rounded, for x and f in 0..255.
inline int mul255(int x, int f) {
    const int t = x * f + 128;
    return (t + (t >> 8)) >> 8;
}
// The same for a signed x in -255..255, symmetric about zero.
inline int mul255Signed(int x, int f) {
    return x < 0 ? -mul255(-x, f) : mul255(x, f);
}

inline int clamp255(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// Level of detail from the squared rate of change of texel coordinates: log2 of the rate
// rounded to the nearest whole level, clamped to the texture's levels. A rate that is not a
// number means no minification whatever its sign bit, which follows the order in which the
// compiler adds two such rates and so must not decide the level.
inline int lodFromRho2(float rho2, int levels) {
    if (rho2 != rho2) return 0;
    const int exponent = int((floatBits(rho2) >> 23) & 0x1FF) - 127;  // sign bit makes it huge
    int level = (exponent + 1) >> 1;
    if (exponent >= 0x100 - 127) level = 0;  // negative: no minification
    if (level < 0) level = 0;
    if (level > levels - 1) level = levels - 1;
    return level;
}

// 4x4 ordered dither from 8-bit channels to 5 or 6 bits, indexed by screen position
// m = (y & 3) * 4 + (x & 3). A channel between the expansions of k and k + 1 rounds up where
// its position in that interval passes the matrix threshold, so values that are exact
// expansions of a 5- or 6-bit value keep it everywhere (a 5-6-5 texture drawn unchanged stays
// exact) and flat areas average to the 8-bit value.
inline constexpr std::uint8_t ditherMatrix[16] = {0, 8,  2, 10, 12, 4, 14, 6,
                                                  3, 11, 1, 9,  15, 7, 13, 5};
struct DitherTables {
    std::uint8_t five[16][256];
    std::uint8_t six[16][256];
};
constexpr int expandBits(int k, int bits) {
    return bits == 5 ? (k << 3) | (k >> 2) : (k << 2) | (k >> 4);
}
constexpr DitherTables makeDitherTables() {
    DitherTables t{};
    for (int bits = 5; bits <= 6; ++bits) {
        const int top = (1 << bits) - 1;
        for (int m = 0; m < 16; ++m) {
            for (int c = 0; c < 256; ++c) {
                int k = 0;
                while (k < top && expandBits(k + 1, bits) <= c) ++k;
                int out = k;
                if (k < top) {
                    const int gap = expandBits(k + 1, bits) - expandBits(k, bits);
                    if ((c - expandBits(k, bits)) * 32 > (2 * ditherMatrix[m] + 1) * gap) ++out;
                }
                (bits == 5 ? t.five : t.six)[m][c] = std::uint8_t(out);
            }
        }
    }
    return t;
}
inline constexpr DitherTables dither = makeDitherTables();
inline int ditherIndex(int x, int y) {
    return ((y & 3) << 2) | (x & 3);
}
inline std::uint16_t ditherPixel(int r, int g, int b, int m) {
    return std::uint16_t(dither.five[m][r] << 11 | dither.six[m][g] << 5 | dither.five[m][b]);
}

// A colour value in the display's colour format (RGBA: red in the top byte) as 8-bit channels.
struct Rgba {
    int r, g, b, a;
};
inline Rgba colorComponents(std::uint32_t v, int format) {
    const int b3 = int(v >> 24), b2 = int(v >> 16) & 0xFF, b1 = int(v >> 8) & 0xFF,
              b0 = int(v & 0xFF);
    switch (format) {
        case GR_COLORFORMAT_ARGB:
            return {b2, b1, b0, b3};
        case GR_COLORFORMAT_ABGR:
            return {b0, b1, b2, b3};
        case GR_COLORFORMAT_BGRA:
            return {b1, b2, b3, b0};
        default:
            return {b3, b2, b1, b0};  // RGBA
    }
}

// Does the colour path read the texture at all?
inline bool usesTexture(const RenderState& rs) {
    auto factorUses = [](int f) {
        return f == GR_COMBINE_FACTOR_TEXTURE_ALPHA ||
               f == GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA;
    };
    return rs.color.other == GR_COMBINE_OTHER_TEXTURE ||
           rs.alpha.other == GR_COMBINE_OTHER_TEXTURE || factorUses(rs.color.factor) ||
           factorUses(rs.alpha.factor);
}

// --- the per-pixel stage --------------------------------------------------------------------

// Draws the pixels of one set-up triangle with the board's current state, one pixel at a time
// straight from the render state: the reference every optimised path is compared with.
void shadeTriangleReference(const TriangleSetup& setup);

// The optimised stage: state validated once per draw, spans in vector form where the processor
// allows. Gives the same pixels as the reference.
void shadeTriangleFast(const TriangleSetup& setup);

// The optimised stage's vector width: the widest the processor runs (16 lanes with AVX-512, 8
// with AVX2, 0 where only the reference stage runs), and the width in use, which is the widest
// unless TARNOVEL_VECTOR_LANES or setVectorLanes asks for 8 (tests and benchmarks compare the
// widths). setVectorLanes returns the width it set, at most the widest.
int widestVectorLanes();
int vectorLanes();
int setVectorLanes(int lanes);

// How the sixteen-lane kernels read the four texels of each bilinear sample: with the gather
// instruction (true), which Intel's processors run faster, or with sixteen plain loads moved
// into place (false), which AMD's run faster. The pictures are the same either way. The
// default follows the processor's maker; TARNOVEL_FOOTPRINT_FETCH=gather or =loads, or
// setFootprintGather, asks for one (tests compare the two). Eight lanes always use loads.
bool footprintGather();
void setFootprintGather(bool gather);

// Which stage the triangle calls use (tests and benchmarks compare the two).
enum class RasterPath { fast, reference };
void setRasterPath(RasterPath path);
RasterPath rasterPath();

// Draws one triangle through setup and the selected stage, limited to the clip window.
void drawTriangle(const GrVertex& a, const GrVertex& b, const GrVertex& c);

struct FastConfig;
// The optimised stage's path of its own for the small triangles it gathers. The configuration
// of the board's state where its small triangles are gathered (one drawing thread, a state whose
// kernels gather), so that they may be set up as small ones; else null.
const FastConfig* smallTriangleGathering();
// True when shadeTriangleFast would gather a small triangle as far as its planes tell: its w
// has a slope, and its texel coordinates stay in the safe range (smallTriangleSafe) for
// `limit`, the configuration's safeLimit. The processor must have AVX2.
bool smallTriangleGatherable(const SmallTriangle& t, double limit);
// Queues a triangle set up as a small one that is gatherable, as shadeTriangleFast would
// gather it, with the configuration smallTriangleGathering gave for the state it is drawn in.
// False when it is too tall: then for setupTriangle and shadeTriangleFast, as is a triangle
// that is not gatherable; they give the same pixels.
bool gatherSmallTriangle(const FastConfig& k, const SmallTriangle& t);
// True when every covered pixel's texel coordinates of a small triangle with a sloped w, times
// the largest level's scale, stay within the range of safe addressing: s/w and t/w bounded over
// the bounds by their planes, 1/w by the smallest vertex 1/w less the round-off of its plane,
// against `limit` (a configuration's 2^22 texels, less a margin). The processor must have AVX2.
bool smallTriangleSafe(const SmallTriangle& t, double limit);

}  // namespace glide

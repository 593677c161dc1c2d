// The optimised per-pixel stage: the render state is turned into a kernel choice once per state
// change, each triangle into a few per-triangle constants, and spans are shaded sixteen pixels
// at a time with AVX-512 or eight with AVX2, as the processor allows. Every step repeats the
// reference stage's arithmetic exactly, so the pictures match.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "raster_fast.h"

namespace glide {

int combineKind(const RenderState& rs) {
    const Combine& c = rs.color;
    if (c.invert) return kCombineAny;
    if (c.function == GR_COMBINE_FUNCTION_LOCAL && c.local == GR_COMBINE_LOCAL_CONSTANT)
        return kConstantColour;
    if (c.local != GR_COMBINE_LOCAL_ITERATED || c.other != GR_COMBINE_OTHER_TEXTURE)
        return kCombineAny;
    if (c.function == GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA &&
        c.factor == GR_COMBINE_FACTOR_LOCAL && rs.alpha.local == GR_COMBINE_LOCAL_ITERATED)
        return kModulateAddAlpha;
    if (c.function == GR_COMBINE_FUNCTION_SCALE_OTHER && c.factor == GR_COMBINE_FACTOR_LOCAL)
        return kModulate;
    if (c.function == GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL &&
        c.factor == GR_COMBINE_FACTOR_ONE)
        return kAddTexture;
    return kCombineAny;
}

namespace {

// The configurations of the latest states, in turn: a new one is built in the next place, so
// that the second drawing thread can still shade queued triangles with those before it. The
// ticket of the last job queued with each tells when its place is free again.
constexpr int kConfigs = 64;

FastConfig configs[kConfigs];
std::uint64_t configTicket[kConfigs] = {};
int currentPlace = 0;
std::uint64_t configSerial = ~std::uint64_t(0), configTextureSerial = ~std::uint64_t(0);

// The vector kernels use AVX2 and the fused multiply-add (every processor with AVX2 that
// this runs on has both; the check keeps the rest on the reference stage).
bool hasAvx2() {
    static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return available;
}

// The sixteen-lane kernels use AVX-512's foundation, its byte and word, doubleword and
// quadword, and vector length extensions.
bool hasAvx512() {
    static const bool available =
        hasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    return available;
}

// The width the kernels use: the widest the processor has, unless TARNOVEL_VECTOR_LANES asks
// for a narrower one (a wider one than the processor has is not used).
int chooseLanes() {
    const int widest = widestVectorLanes();
    if (const char* text = std::getenv("TARNOVEL_VECTOR_LANES")) {
        if (std::strcmp(text, "8") == 0) return std::min(widest, 8);
        if (std::strcmp(text, "16") == 0) return widest;
        std::fprintf(stderr,
                     "glide: TARNOVEL_VECTOR_LANES is \"%s\"; it can be 8 or 16, so the "
                     "widest the processor has (%d) is used\n",
                     text, widest);
    }
    return widest;
}
int lanesInUse = -1;  // not chosen yet

// How the sixteen-lane kernels read bilinear footprints: TARNOVEL_FOOTPRINT_FETCH's choice, or
// the gather instruction on Intel's processors, where it is faster than sixteen loads moved into
// place, and the loads elsewhere (on AMD's the gathers were slower).
bool chooseFootprintGather() {
    const bool byMaker = __builtin_cpu_is("intel");
    if (const char* text = std::getenv("TARNOVEL_FOOTPRINT_FETCH")) {
        if (std::strcmp(text, "gather") == 0) return true;
        if (std::strcmp(text, "loads") == 0) return false;
        std::fprintf(stderr,
                     "glide: TARNOVEL_FOOTPRINT_FETCH is \"%s\"; it can be gather or loads, so "
                     "the processor's usual one (%s) is used\n",
                     text, byMaker ? "gather" : "loads");
    }
    return byMaker;
}
int gatherInUse = -1;  // not chosen yet

bool blendUsesSrcAlpha(int f) {
    return f == GR_BLEND_SRC_ALPHA || f == GR_BLEND_ONE_MINUS_SRC_ALPHA;
}

// The kernels of the width in use.
const KernelSet* pickKernels(const RenderState& rs, const FastConfig& k) {
    if (vectorLanes() != 16) return lanes8::pickKernels(rs, k);
    return footprintGather() ? lanes16gather::pickKernels(rs, k) : lanes16::pickKernels(rs, k);
}

void buildConfig(FastConfig& k) {
    const RenderState& rs = board.state;
    k = FastConfig{};
    const TmuState& tmu = rs.tmu[0];
    // Different filters for magnification and minification would need both per pixel; the
    // reference stage serves that rare state.
    k.vector = hasAvx2() && tmu.minFilter == tmu.magFilter;

    k.depthOn = rs.depthMode != GR_DEPTHBUFFER_DISABLE;
    k.depthWBuffer = rs.depthMode == GR_DEPTHBUFFER_WBUFFER;
    k.depthWrite = k.depthOn && rs.depthMask;
    k.depthFunction = rs.depthFunction;

    k.texture = usesTexture(rs);
    if (k.texture) {
        TextureView view;
        resolveTexture(tmu, true, &view);
        k.haveTexels = view.valid;
        if (view.valid) {
            k.bilinear = tmu.magFilter == GR_TEXTUREFILTER_BILINEAR;
            k.levels = view.levels;
            k.mipmap = tmu.mipmapMode != GR_MIPMAP_DISABLE && view.levels > 1;
            k.clampS = tmu.clampS == GR_TEXTURECLAMP_CLAMP;
            k.clampT = tmu.clampT == GR_TEXTURECLAMP_CLAMP;
            // The safe addressing's fused step relies on a scale that is a power of two, as
            // every level's side is.
            int exponent = 0;
            if (std::frexp(view.texScale, &exponent) != 0.5f) k.vector = false;
            k.texScale = view.texScale;
            k.texScale2 = view.texScale * view.texScale;
            k.safeLimit = 4194304.0 / (1.001 * double(view.texScale));
            k.entries = view.decoded;
            for (int l = 0; l < 8; ++l) {
                const TextureLevel& lv = view.level[std::min(l, view.levels - 1)];
                k.widthMask[l] = lv.width - 1;
                k.heightMask[l] = lv.height - 1;
                k.stride[l] = lv.stride;
                k.base[l] = std::int32_t(lv.decodedOffset) + lv.stride + 1;
            }
            const TextureLevel& last = view.level[view.levels - 1];
            k.widthMask8 = last.width - 1;
            k.heightMask8 = last.height - 1;
            k.stride8 = last.stride;
            k.base8 = std::int32_t(last.decodedOffset) + last.stride + 1;
            if (rs.chromakeyEnabled && k.bilinear) {
                const Rgba key = colorComponents(rs.chromakeyValue, rs.colorFormat);
                k.keyCounts = keyCounts(view, std::uint32_t(key.r << 16 | key.g << 8 | key.b));
            }
        }
    }

    k.color = rs.color;
    k.alpha = rs.alpha;
    k.blendSrc = rs.blendRgbSrc;
    k.blendDst = rs.blendRgbDst;
    k.alphaNeeded = blendUsesSrcAlpha(k.blendSrc) || blendUsesSrcAlpha(k.blendDst);
    const Combine& c = rs.color;
    k.needLocalAlpha = k.alphaNeeded || c.function == GR_COMBINE_FUNCTION_LOCAL_ALPHA ||
                       c.function == GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA ||
                       c.function == GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA ||
                       c.function == GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA ||
                       c.factor == GR_COMBINE_FACTOR_LOCAL_ALPHA ||
                       c.factor == GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA;
    k.needOtherAlpha = k.alphaNeeded || c.factor == GR_COMBINE_FACTOR_OTHER_ALPHA ||
                       c.factor == GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA;
    k.needTextureAlpha = k.alphaNeeded || c.factor == GR_COMBINE_FACTOR_TEXTURE_ALPHA ||
                         c.factor == GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA;
    k.needIteratedAlpha = (k.needLocalAlpha && rs.alpha.local != GR_COMBINE_LOCAL_CONSTANT) ||
                          (k.needOtherAlpha && rs.alpha.other == GR_COMBINE_OTHER_ITERATED);
    k.constant = colorComponents(rs.constantColor, rs.colorFormat);
    k.chroma = rs.chromakeyEnabled;
    k.key = colorComponents(rs.chromakeyValue, rs.colorFormat);
    if (k.vector) k.kernels = pickKernels(rs, k);
    k.gathersSmall = k.vector && k.mipmap && k.texture && k.kernels->gatherSmall;
}

// Builds the configuration of the board's state in the next place (see currentConfig).
__attribute__((noinline)) void newConfig() {
    // Gathered triangles are shaded with the configuration they were drawn with, whose
    // place may be taken below.
    if (gatheredRuns) shadeGatheredNow();
    // With no work queued, no triangle still needs the current configuration, and its
    // place, already in the cache, is reused.
    const int place = bandJobsQueued ? (currentPlace + 1) % kConfigs : currentPlace;
    waitForBandJob(configTicket[place]);
    configTicket[place] = 0;
    buildConfig(configs[place]);
    currentPlace = place;
    configSerial = board.state.serial;
    configTextureSerial = board.textureSerial;
}

// The configuration of the board's state, built when the state or a texture has changed.
inline const FastConfig& currentConfig() {
    if (configSerial != board.state.serial || configTextureSerial != board.textureSerial)
        newConfig();
    return configs[currentPlace];
}

// --- the spans of narrow triangles, eight lanes at a time ---------------------------------------

#define AVX2 __attribute__((target("avx2,fma")))
#define INLINE inline __attribute__((always_inline))

// Row after row in blocks of four, the covered pixels among the first 8 * Halves of the bounds:
// e holds the edge values at those pixels of the first row and moves down by step; bounds marks
// the lanes within the bounds. A triangle's few rows then take one or two turns of the loop,
// whose end the processor predicts.
template <int Halves>
AVX2 INLINE void narrowRows(int minX, int height, __m256i e[3][2], const __m256i step[3],
                            const __m256i limit[3], const __m256i bounds[2],
                            std::int16_t (*span)[2]) {
    for (int r = 0; r < height; r += 4) {
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q) {
            __m256i in[2] = {bounds[0], bounds[1]};
#pragma GCC unroll 3
            for (int i = 0; i < 3; ++i)
#pragma GCC unroll 2
                for (int h = 0; h < Halves; ++h) {
                    in[h] = _mm256_and_si256(in[h], _mm256_cmpgt_epi32(e[i][h], limit[i]));
                    e[i][h] = _mm256_add_epi32(e[i][h], step[i]);
                }
            unsigned bits = unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(in[0])));
            if (Halves == 2) bits |= unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(in[1]))) << 8;
            storeSpan(minX, bits, span[r + q]);
        }
    }
}

}  // namespace

void (*gatheredRuns)() = nullptr;

void shadeGatheredNow() {
    void (*const shade)() = gatheredRuns;
    gatheredRuns = nullptr;
    if (shade) shade();
}

int widestVectorLanes() {
    return hasAvx512() ? 16 : hasAvx2() ? 8 : 0;
}

int vectorLanes() {
    if (lanesInUse < 0) lanesInUse = chooseLanes();
    return lanesInUse;
}

int setVectorLanes(int lanes) {
    finishDrawing();
    lanesInUse = std::min(lanes <= 8 ? 8 : 16, widestVectorLanes());
    // Every configuration names its kernels: the next triangle builds a new one.
    configSerial = ~std::uint64_t(0);
    return lanesInUse;
}

bool footprintGather() {
    if (gatherInUse < 0) gatherInUse = chooseFootprintGather();
    return gatherInUse != 0;
}

void setFootprintGather(bool gather) {
    finishDrawing();
    gatherInUse = gather;
    configSerial = ~std::uint64_t(0);
}

namespace {

// A narrow triangle's 32-bit edges; false where they do not fit (see below).
bool narrowEdges(const TriangleSetup& s, NarrowEdges* out) {
    const int width = s.maxX - s.minX, height = s.maxY - s.minY;
    if (width <= 0 || width > kNarrowWidth || height <= 0 || height > kHeight) return false;
    const std::int64_t dx = s.minX - s.xRef, dy = s.minY - s.yRef;
    for (int i = 0; i < 3; ++i) {
        const Edge& g = s.edge[i];
        const std::int64_t first = g.e0 + g.ex * dx + g.ey * dy;
        // An edge function is linear, so its largest magnitude within the bounds is at most
        // this. Where it fits 32 bits, arithmetic modulo 2^32 gives every in-bounds pixel's
        // value exactly, whatever the lanes beyond the bounds hold.
        const std::int64_t reach = (first < 0 ? -first : first) +
                                   (g.ex < 0 ? -g.ex : g.ex) * (width - 1) +
                                   (g.ey < 0 ? -g.ey : g.ey) * (height - 1);
        if (reach >= (std::int64_t(1) << 31) - 2) return false;
        const auto low = [](std::int64_t v) { return int(std::uint32_t(std::uint64_t(v))); };
        out->first[i] = low(first);
        out->ex[i] = low(g.ex);
        out->ey[i] = low(g.ey);
        // Inside where E >= bias, that is E > bias - 1.
        out->limit[i] = int(g.bias) - 1;
    }
    return true;
}

}  // namespace

AVX2 void narrowSpansFrom8(const NarrowEdges& n, int minX, int width, int height,
                           std::int16_t (*span)[2]) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i e[3][2], step[3], limit[3];
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        e[i][0] = _mm256_add_epi32(_mm256_set1_epi32(n.first[i]),
                                   _mm256_mullo_epi32(_mm256_set1_epi32(n.ex[i]), lanes));
        e[i][1] = _mm256_add_epi32(e[i][0], _mm256_set1_epi32(int(unsigned(n.ex[i]) * 8u)));
        step[i] = _mm256_set1_epi32(n.ey[i]);
        limit[i] = _mm256_set1_epi32(n.limit[i]);
    }
    const __m256i w = _mm256_set1_epi32(width);
    const __m256i bounds[2] = {
        _mm256_cmpgt_epi32(w, lanes),
        _mm256_cmpgt_epi32(w, _mm256_add_epi32(lanes, _mm256_set1_epi32(8)))};
    if (width <= 8)
        narrowRows<1>(minX, height, e, step, limit, bounds, span);
    else
        narrowRows<2>(minX, height, e, step, limit, bounds, span);
}

AVX2 bool narrowSpans8(const TriangleSetup& s, std::int16_t (*span)[2]) {
    NarrowEdges n;
    if (!narrowEdges(s, &n)) return false;
    narrowSpansFrom8(n, s.minX, s.maxX - s.minX, s.maxY - s.minY, span);
    return true;
}

// The same with sixteen lanes (see narrowRows16).
__attribute__((target("avx2,fma,avx512f,avx512bw,avx512dq,avx512vl"))) void narrowSpansFrom16(
    const NarrowEdges& n, int minX, int width, int height, std::int16_t (*span)[2]) {
    narrowRows16(n, minX, width, height, span);
}

bool narrowSpans16(const TriangleSetup& s, std::int16_t (*span)[2]) {
    NarrowEdges n;
    if (!narrowEdges(s, &n)) return false;
    narrowSpansFrom16(n, s.minX, s.maxX - s.minX, s.maxY - s.minY, span);
    return true;
}

// The kernels run only where the processor has fused multiply-add (their safe addressing uses
// it), so this may as well.
__attribute__((target("avx2,fma"))) bool rowKeyedOut(const FastConfig& k, const TriangleSetup& su,
                                                     const TriangleConsts& tc, int y, int x0,
                                                     int x1) {
    // The kernel's steps for one pixel: the row value c0 + dy * fy, the plane at the pixel,
    // times 1/w, then the first texel in 1/256 texels as one fused step (see sampleTexture).
    // Each step is monotonic in the pixel's x, so the first and last pixels of the run bound
    // the texels of all of them.
    const float fy = float(y - su.yRef);
    const float scale256 = tc.scale * 256.0f;
    auto first = [&](const Plane& p, int x) {
        const float v = ((p.c0 + p.dy * fy) + p.dx * float(x - su.xRef)) * tc.invW;
        return int(std::floor(std::fma(v, scale256, -128.0f))) >> 8;
    };
    const int u0 = first(su.s, x0), u1 = first(su.s, x1 - 1);
    const int v0 = first(su.t, x0), v1 = first(su.t, x1 - 1);
    const int uLo = std::min(u0, u1), uHi = std::max(u0, u1);
    const int vLo = std::min(v0, v1), vHi = std::max(v0, v1);
    // Inside the level no wrapping or clamping moves a footprint: it reads texel columns u and
    // u + 1 and rows v and v + 1, the last of each possibly from the border.
    const int width = tc.widthMask + 1, height = tc.heightMask + 1;
    if (uLo < 0 || uHi >= width || vLo < 0 || vHi >= height) return false;
    // Bordered columns uLo + 1 .. uHi + 2 and rows vLo + 1 .. vHi + 2.
    const std::size_t wide = std::size_t(width) + 3;
    const std::int32_t* c = k.keyCounts.counts + k.keyCounts.offset[tc.level];
    const std::size_t top = std::size_t(vLo + 1) * wide, bottom = std::size_t(vHi + 3) * wide;
    const std::size_t left = std::size_t(uLo + 1), right = std::size_t(uHi + 3);
    return c[bottom + right] - c[top + right] - c[bottom + left] + c[top + left] == 0;
}

namespace {

// --- per-triangle constants ---------------------------------------------------------------------

// True when 1/w is the same at every pixel: a plane with no slope gives c0 + 0 + 0 = c0
// exactly as long as c0 is a finite non-zero number.
bool flatW(const TriangleSetup& su) {
    return su.w.dx == 0.0f && su.w.dy == 0.0f && std::isfinite(su.w.c0) && su.w.c0 != 0.0f;
}

// True when s/w and t/w times 1/w stay finite over the triangle's bounds (with room for the
// lanes of the last group of a row): then every pixel's texture coordinates are finite.
bool finiteCoordinates(const TriangleSetup& su, float invW) {
    const double fx = double(su.maxX - su.xRef) + 8.0, fy = double(su.maxY - su.yRef);
    auto bound = [&](const Plane& p) {
        return (std::fabs(double(p.c0)) + std::fabs(double(p.dy)) * fy +
                std::fabs(double(p.dx)) * fx) *
               std::fabs(double(invW));
    };
    // NaN fails the comparison as well.
    return bound(su.s) < 1e30 && bound(su.t) < 1e30;
}

// The level every pixel of a flat-w triangle picks, from the same arithmetic as each pixel's:
// with no slope in w, s * w.dx and t * w.dx are zeros for finite s and t, so the rates of
// change are the planes' slopes times 1/w at every pixel.
int triangleLevel(const FastConfig& k, const TriangleSetup& su, float invW) {
    const float dsdx = (su.s.dx - 0.0f * su.w.dx) * invW;
    const float dtdx = (su.t.dx - 0.0f * su.w.dx) * invW;
    const float dsdy = (su.s.dy - 0.0f * su.w.dy) * invW;
    const float dtdy = (su.t.dy - 0.0f * su.w.dy) * invW;
    const float rx = dsdx * dsdx + dtdx * dtdx;
    const float ry = dsdy * dsdy + dtdy * dtdy;
    return lodFromRho2(maxf(rx, ry) * k.texScale2, k.levels);
}

// True when every covered pixel of a triangle with a sloped w picks the largest level, as the
// per-pixel-level kernel works it out, so that the kernel of one level gives its pixels. A
// pixel's level is 0 where its rho2, the larger squared rate of change of texel coordinates
// along x or y times texScale2, is below 2. In exact arithmetic the rate of s along x is
// (sdx W - wdx S) / W^2, whose numerator is linear in y alone (the x terms cancel), and
// likewise for t and for the rates along y (linear in x); over the triangle, which holds every
// covered pixel centre, each numerator is largest in magnitude at a vertex and W smallest at
// one. The kernel's single-precision steps (planes, 1/w, s and t, the rates, their squares) are
// allowed for with room to spare: a relative error of 1e-6 a step on the magnitudes involved,
// where each rounds by at most 6e-8.
bool largestLevelEverywhere(const FastConfig& k, const TriangleSetup& su) {
    constexpr double u = 1e-6;
    const double fx = double(su.maxX - su.xRef) + 1.0, fy = double(su.maxY - su.yRef) + 1.0;
    auto extent = [&](const Plane& p) {
        return std::fabs(double(p.c0)) + std::fabs(double(p.dy)) * fy +
               std::fabs(double(p.dx)) * fx;
    };
    // The planes' exact values at the vertices.
    double w[3], sv[3], tv[3];
    for (int i = 0; i < 3; ++i) {
        const double x = double(su.vertexX[i]) / 16.0 - (su.xRef + 0.5);
        const double y = double(su.vertexY[i]) / 16.0 - (su.yRef + 0.5);
        auto at = [x, y](const Plane& p) {
            return double(p.c0) + double(p.dy) * y + double(p.dx) * x;
        };
        w[i] = at(su.w);
        sv[i] = at(su.s);
        tv[i] = at(su.t);
    }
    const double eW = 4 * u * extent(su.w), eS = 4 * u * extent(su.s), eT = 4 * u * extent(su.t);
    const double wMin = std::min({w[0], w[1], w[2]}) - eW;
    // NaN fails the comparisons as well.
    if (!(wMin > 0.0) || !(wMin < 1e30)) return false;
    const double invMax = (1 + u) / wMin;
    // How far the computed 1/w, s and t may lie from 1/W, S/W and T/W.
    const double invError = eW / (wMin * wMin) + u * invMax;
    const double sMaxAbs = std::max({std::fabs(sv[0]), std::fabs(sv[1]), std::fabs(sv[2])}) + eS;
    const double tMaxAbs = std::max({std::fabs(tv[0]), std::fabs(tv[1]), std::fabs(tv[2])}) + eT;
    const double sMax = sMaxAbs * invMax * (1 + u), tMax = tMaxAbs * invMax * (1 + u);
    const double sError = eS * invMax + sMaxAbs * invError + u * sMax;
    const double tError = eT * invMax + tMaxAbs * invError + u * tMax;
    // The largest computed rate: (slope - value x wSlope) x 1/w.
    auto rate = [&](double slope, double wSlope, const double* value, double valueMax,
                    double valueError) {
        double n = 0;
        for (int i = 0; i < 3; ++i) n = std::max(n, std::fabs(slope * w[i] - wSlope * value[i]));
        const double difference = n / wMin + valueError * std::fabs(wSlope) +
                                  2 * u * (std::fabs(slope) + valueMax * std::fabs(wSlope));
        return difference * invMax * (1 + u);
    };
    const double dsdx = rate(su.s.dx, su.w.dx, sv, sMax, sError);
    const double dtdx = rate(su.t.dx, su.w.dx, tv, tMax, tError);
    const double dsdy = rate(su.s.dy, su.w.dy, sv, sMax, sError);
    const double dtdy = rate(su.t.dy, su.w.dy, tv, tMax, tError);
    const double rho2 = std::max(dsdx * dsdx + dtdx * dtdx, dsdy * dsdy + dtdy * dtdy) *
                        double(k.texScale2) * (1 + 4 * u);
    return rho2 < 2.0 * (1 - 4 * u);
}

// Planes that evaluate alike at every pixel (a zero of either sign adds alike here: the
// channel is clamped at zero).
bool samePlane(const Plane& p, const Plane& q) {
    return p.c0 == q.c0 && p.dx == q.dx && p.dy == q.dy;
}

// True when every covered pixel's s and t, times the largest level's scale, stay below 2^22 in
// magnitude (with room for round-off), so that safe addressing gives the reference's texels
// and weights. s/w and t/w are bounded over the triangle's bounds by their planes; 1/w at a
// covered pixel is the plane's own value for a flat w, and otherwise at least the smallest
// vertex 1/w less the round-off of the plane. `limit`: the configuration's safeLimit.
bool safePlanes(int width, int height, const Plane& s, const Plane& t, const Plane& w, float minOow,
                double limit, bool flat, float invW) {
    const double fx = double(width) + 8.0, fy = double(height);
    auto extent = [&](const Plane& p) {
        return std::fabs(double(p.c0)) + std::fabs(double(p.dy)) * fy +
               std::fabs(double(p.dx)) * fx;
    };
    // extent * (1/w) < limit, with 1/w bounded by `inverse` (flat) or by 1 / `lowest` (sloped),
    // the second without a division: every triangle comes through here.
    double bound;
    if (flat) {
        bound = limit / std::fabs(double(invW));
    } else {
        const double lowest = double(minOow) - 1e-6 * extent(w);
        if (!(lowest > 0.0)) return false;
        bound = limit * lowest;
    }
    // NaN fails the comparisons as well.
    return extent(s) < bound && extent(t) < bound;
}
bool safeCoordinates(const TriangleSetup& su, double limit, bool flat, float invW) {
    return safePlanes(su.maxX - su.xRef, su.maxY - su.yRef, su.s, su.t, su.w, su.minOow, limit,
                      flat, invW);
}

// True when every iterated channel (red, green, blue, alpha) lies inside -1..256 at every
// covered pixel, as each pixel evaluates it. A plane with float coefficients is linear, so over
// the covered pixel centres, which lie in the triangle of the snapped vertices, its exact values
// lie between its values at those vertices (worked out in double, with room for their
// round-off); the pixel's single-precision evaluation adds at most three roundings of numbers
// no larger than the plane's extent over the bounds.
bool channelsInRange(const TriangleSetup& su) {
    const double fx = double(su.maxX - su.xRef) + 8.0, fy = double(su.maxY - su.yRef);
    for (const Plane* p : {&su.r, &su.g, &su.b, &su.a}) {
        const double c0 = p->c0, dx = p->dx, dy = p->dy;
        double lo = 0, hi = 0, size = 0;
        for (int i = 0; i < 3; ++i) {
            const double x = double(su.vertexX[i]) / 16.0 - (su.xRef + 0.5);
            const double y = double(su.vertexY[i]) / 16.0 - (su.yRef + 0.5);
            const double v = c0 + dy * y + dx * x;
            lo = i == 0 ? v : std::min(lo, v);
            hi = i == 0 ? v : std::max(hi, v);
            size = std::max(size, std::fabs(c0) + std::fabs(dy * y) + std::fabs(dx * x));
        }
        const double extent = std::fabs(c0) + std::fabs(dy) * fy + std::fabs(dx) * fx;
        const double error = 1e-6 * (extent + size);
        // NaN fails the comparisons as well.
        if (!(lo - error > -1.0 && hi + error < 256.0)) return false;
    }
    return true;
}

// The kernel for a flat-w triangle: the one without the clamp where its channels allow. Only
// triangles large enough to repay the test are tested. `overwrite`: the triangle is drawn in a
// pending clear's place.
Kernel flatKernel(const KernelSet& kernels, const TriangleSetup& su, bool overwrite) {
    if (kernels.flatInRange && (su.maxX - su.minX) * (su.maxY - su.minY) >= 256 &&
        channelsInRange(su))
        return overwrite ? kernels.overwrite[1] : kernels.flatInRange;
    return overwrite ? kernels.overwrite[0] : kernels.fixedLevel[1];
}

// True when the triangle can be drawn in the pending clear's place, which it then takes up: the
// state overwrites every covered pixel's colour and depth (opaque, no key, W-buffer less with
// writes), its depth is below the clear's so every pixel waiting for the clear passes, and each
// row's covered pixels all wait for the clear and join the row's run of pixels drawn since it
// (as a backdrop's triangles do, side by side). Otherwise the clear has to be carried out first.
bool drawsInPendingClear(const KernelSet& kernels, const TriangleSetup& su, int depth) {
    const PendingClear& p = board.pending;
    if (!kernels.overwrite[0] || !p.depth || depth >= p.depthValue) return false;
    if (su.minY < p.minY || su.maxY > p.maxY) return false;
    // Every covered row is checked before any run changes.
    for (int pass = 0; pass < 2; ++pass) {
        SpanWalker walker(su);
        for (int y = su.minY; y < su.maxY; ++y, walker.next()) {
            int x0, x1;
            walker.span(&x0, &x1);
            if (x0 >= x1) continue;
            PendingClear::Run& run = board.pending.drawn[std::size_t(y)];
            PendingClear::Run joined = run;
            if (x0 < p.minX || x1 > p.maxX) return false;
            if (run.lo == run.hi)
                joined = {std::int16_t(x0), std::int16_t(x1)};
            else if (x1 == run.lo)
                joined.lo = std::int16_t(x0);
            else if (x0 == run.hi)
                joined.hi = std::int16_t(x1);
            else
                return false;
            if (pass == 1) run = joined;
        }
    }
    return true;
}

// Addressing of one level for the kernels that read a single level.
void useLevel(const FastConfig& k, int level, TriangleConsts* tc) {
    tc->level = level;
    tc->scale = k.texScale / float(1 << level);
    tc->widthMask = level < 8 ? k.widthMask[level] : k.widthMask8;
    tc->heightMask = level < 8 ? k.heightMask[level] : k.heightMask8;
    tc->stride = level < 8 ? k.stride[level] : k.stride8;
    tc->base = level < 8 ? k.base[level] : k.base8;
}

// A triangle's kernel work as the second thread gets it, with the configuration in force when
// it was drawn (kept until the work is done, see currentConfig).
struct QueuedTriangle {
    Kernel kernel;
    const FastConfig* config;
    TriangleSetup setup;
    TriangleConsts consts;
};
static_assert(sizeof(QueuedTriangle) <= kBandJobBytes && alignof(QueuedTriangle) <= 64);
static_assert(std::is_trivially_copyable_v<QueuedTriangle>);

void runQueuedTriangle(const void* data) {
    const QueuedTriangle& q = *static_cast<const QueuedTriangle*>(data);
    q.kernel(*q.config, q.setup, q.consts);
}

// The bounding box, in pixels, from which a triangle's share is handed to the second thread at
// once rather than with the next batch.
constexpr int kUrgentArea = 1024;

// Shades the triangle's spans, sharing its rows with the second thread where there is one: the
// odd bands go to that thread, the even ones are shaded here. A triangle within one band is
// shaded whole by that band's thread.
void drawSpans(Kernel kernel, const FastConfig& k, const TriangleSetup& su,
               const TriangleConsts& consts) {
    // Triangles gathered before this one are shaded first.
    if (gatheredRuns) shadeGatheredNow();
    if (!bandsOn()) {
        kernel(k, su, consts);
        return;
    }
    const unsigned mine = callerBands();
    // The bands of the turn that the triangle's rows reach.
    const int first = su.minY >> kBandShift, last = (su.maxY - 1) >> kBandShift;
    unsigned reached = 0;
    for (int b = first; b <= last && reached != kAllBands; ++b) reached |= 1u << (b & 7);
    if (reached & ~mine) {
        QueuedTriangle q{kernel, &k, su, consts};
        q.consts.bands = (reached & mine) ? ~mine & kAllBands : kAllBands;
        // A triangle with many pixels goes over at once, so the second thread starts on it
        // while this one shades its own share; small ones go over in batches.
        const bool urgent = (su.maxX - su.minX) * (su.maxY - su.minY) >= kUrgentArea;
        configTicket[currentPlace] = queueBandJob(runQueuedTriangle, &q, sizeof q, urgent);
    }
    if (reached & mine) {
        TriangleConsts tc = consts;
        tc.bands = (reached & ~mine) ? mine : kAllBands;
        kernel(k, su, tc);
    }
}

}  // namespace

bool narrowSpans(const TriangleSetup& setup, std::int16_t (*span)[2]) {
    if (!hasAvx2()) return false;
    return vectorLanes() == 16 ? narrowSpans16(setup, span) : narrowSpans8(setup, span);
}

void narrowSpansFrom(const NarrowEdges& edges, int minX, int width, int height,
                     std::int16_t (*span)[2]) {
    if (vectorLanes() == 16)
        narrowSpansFrom16(edges, minX, width, height, span);
    else
        narrowSpansFrom8(edges, minX, width, height, span);
}

const FastConfig* smallTriangleGathering() {
    // The triangles that shadeTriangleFast would gather: a state whose kernels gather, with
    // texels, and one drawing thread.
    const FastConfig& k = currentConfig();
    return k.gathersSmall && !bandsOn() ? &k : nullptr;
}

// safePlanes for a small triangle's sloped w, the three planes' extents side by side: each
// lane the same double operations in the same order, so the same decision.
namespace {
// The magnitudes of four floats, as doubles.
__attribute__((target("avx2"))) inline __m256d magnitudes(const float* four) {
    return _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_cvtps_pd(_mm_load_ps(four)));
}
}  // namespace

__attribute__((target("avx2"))) bool smallTriangleSafe(const SmallTriangle& t, double limit) {
    // Planes 1/w, s/w, t/w and ooz (unused).
    const __m256d fx = _mm256_set1_pd(double(t.maxX - t.minX) + 8.0);
    const __m256d fy = _mm256_set1_pd(double(t.maxY - t.minY));
    const __m256d extent =
        _mm256_add_pd(_mm256_add_pd(magnitudes(t.c0 + 4), _mm256_mul_pd(magnitudes(t.dy + 4), fy)),
                      _mm256_mul_pd(magnitudes(t.dx + 4), fx));
    alignas(32) double e[4];
    _mm256_store_pd(e, extent);
    const double lowest = double(t.minOow) - 1e-6 * e[0];
    if (!(lowest > 0.0)) return false;
    const double bound = limit * lowest;
    // NaN fails the comparisons as well.
    return e[1] < bound && e[2] < bound;
}

bool smallTriangleGatherable(const SmallTriangle& t, double limit) {
    // Gathered as in shadeTriangleFast: only with a w that has a slope, and safe coordinates.
    const Plane w{t.c0[4], t.dx[4], t.dy[4]};
    const bool flat = w.dx == 0.0f && w.dy == 0.0f && std::isfinite(w.c0) && w.c0 != 0.0f;
    return !flat && smallTriangleSafe(t, limit);
}

bool gatherSmallTriangle(const FastConfig& k, const SmallTriangle& t) {
    // Such a triangle is never drawn in a pending clear's place.
    if (board.pending.active) fillPendingClear();
    return k.kernels->gatherSmall(k, t);
}

void shadeTriangleFast(const TriangleSetup& setup) {
    const FastConfig& k = currentConfig();
    if (!k.vector) {
        shadeTriangleReference(setup);
        return;
    }
    TriangleConsts tc;
    const bool flat = flatW(setup);
    // A narrow triangle that picks each pixel's level waits to be shaded together with others
    // (one thread only: with two, each triangle's rows are shared out instead). Gathering reads
    // no more of the triangle's constants than `safe`: the runs carry the planes. The state's
    // own kernels serve a triangle with no alpha as well: adding a zero changes no pixel.
    if (!flat && k.mipmap && k.kernels->gather && !bandsOn()) {
        // Such a triangle is never drawn in a pending clear's place.
        if (board.pending.active) fillPendingClear();
        tc.safe = k.texture && safeCoordinates(setup, k.safeLimit, false, tc.invW);
        if (k.kernels->gather(k, setup, tc)) return;
    }
    if (flat) {
        tc.invW = 1.0f / setup.w.c0;
        tc.depth = wDepth(setup.w.c0);
    }
    tc.safe = k.texture && safeCoordinates(setup, k.safeLimit, flat, tc.invW);
    tc.grey = samePlane(setup.r, setup.g) && samePlane(setup.r, setup.b);
    // With no slope every pixel's alpha is c0 plus zeros, which iterates as c0 does.
    tc.flatAlpha = setup.a.dx == 0.0f && setup.a.dy == 0.0f;
    tc.alpha = iteratedChannel(setup.a.c0);
    const KernelSet& kernels =
        tc.flatAlpha && tc.alpha == 0 && k.kernels->zeroAlpha ? *k.kernels->zeroAlpha : *k.kernels;
    const bool fixedLevel = !k.mipmap || (flat && finiteCoordinates(setup, tc.invW));
    bool overwrite = false;
    if (board.pending.active) {
        overwrite = flat && fixedLevel && drawsInPendingClear(kernels, setup, tc.depth);
        if (!overwrite) fillPendingClear();
    }
    if (!k.mipmap) {
        useLevel(k, 0, &tc);
        drawSpans(flat ? flatKernel(kernels, setup, overwrite) : kernels.fixedLevel[0], k, setup,
                  tc);
        return;
    }
    if (!fixedLevel) {
        // A large triangle that reads the largest level at every pixel is drawn by the kernel
        // of that level, which skips each pixel's level; the test would cost small ones more.
        if ((setup.maxX - setup.minX) * (setup.maxY - setup.minY) >= 256 &&
            largestLevelEverywhere(k, setup)) {
            useLevel(k, 0, &tc);
            drawSpans(kernels.fixedLevel[0], k, setup, tc);
            return;
        }
        drawSpans(kernels.perPixelLevel, k, setup, tc);
        return;
    }
    useLevel(k, triangleLevel(k, setup, tc.invW), &tc);
    drawSpans(flatKernel(kernels, setup, overwrite), k, setup, tc);
}

}  // namespace glide

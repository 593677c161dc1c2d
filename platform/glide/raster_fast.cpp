// The optimised per-pixel stage: the render state is turned into a kernel choice once per state
// change, each triangle into a few per-triangle constants, and spans are shaded eight pixels at
// a time with AVX2 when the processor has it. Every step repeats the reference stage's
// arithmetic exactly, so the pictures match.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "raster.h"

namespace glide {

namespace {

// --- kernel kinds
// ---------------------------------------------------------------------------------
//
// A kernel is the span loop compiled for one combination of the choices below. "Any" reads the
// choice from the configuration per group of pixels (the general kernels that serve every
// state); the other values are the states the show draws with, compiled without a branch.

enum TextureMode { kNoTexture, kPointSampled, kBilinear };
// kFixedLevel: every pixel reads one level, the largest when the texture is not mipmapped, or
// the one a flat-w triangle's pixels all pick (with 1/w the same across the triangle and every
// texture coordinate finite, the rate of change of texel coordinates is the same at every
// pixel). kPerPixelLevel: each pixel picks its level from its own rate of change.
enum LevelMode { kFixedLevel, kPerPixelLevel };
// kFlatW: 1/w is the same at every pixel; kFlatWInRange: besides, every iterated channel's plane
// stays inside -1..256 at every covered pixel, so its value needs no clamp before truncation.
enum WMode { kSlopedW, kFlatW, kFlatWInRange };
enum CombineKind {
    kCombineAny,
    kModulateAddAlpha,  // texel x iterated colour + iterated alpha (the scenes' objects)
    kModulate,          // texel x iterated colour (the board's usual setting, the pages' text)
    kAddTexture,        // texel + iterated colour (highlights)
    kConstantColour,    // the constant colour (flat shading)
};
enum BlendKind { kBlendAny, kReplace, kAdd };
// kWOverwrite: the W-buffer state of kWLessWrite for a flat-w triangle drawn in a pending clear's
// place, where every covered pixel's stored depth is the clear's, which the triangle's is below:
// every pixel passes without reading the buffer.
enum DepthKind { kDepthAny, kWLessWrite, kWOverwrite };
enum ChromaKind { kChromaAny, kChromaOff, kChromaOn };

struct FastConfig;
struct TriangleConsts;
typedef void (*Kernel)(const FastConfig&, const TriangleSetup&, const TriangleConsts&);

// The kernels of one state combination for each way a triangle can address its texture;
// `fixedLevel[1]` is for triangles whose 1/w is the same at every pixel.
struct KernelSet {
    Kernel fixedLevel[2];
    Kernel perPixelLevel;
    // `fixedLevel[1]` for triangles whose iterated channels are known to stay inside -1..256
    // at every covered pixel, where truncation alone gives the clamped value (null: none).
    Kernel flatInRange = nullptr;
    // The same state for triangles whose iterated alpha is zero at every pixel, where adding
    // it changes nothing and the kernel without the addition gives the same pixels.
    const KernelSet* zeroAlpha = nullptr;
    // `fixedLevel[1]` and `flatInRange` for triangles drawn in a pending clear's place, where
    // every pixel passes the depth test (null: this state is never drawn so).
    Kernel overwrite[2] = {nullptr, nullptr};
};

struct FastConfig {
    bool vector = false;  // false: this state goes through the reference stage
    const KernelSet* kernels = nullptr;

    bool depthOn = false, depthWBuffer = false, depthWrite = false;
    int depthFunction = GR_CMP_ALWAYS;

    bool texture = false;     // the colour path reads texels
    bool haveTexels = false;  // a valid texture is selected
    bool bilinear = false, mipmap = false;
    bool clampS = false, clampT = false;
    int levels = 1;
    float texScale = 1, texScale2 = 1;
    const std::uint64_t* entries = nullptr;  // the decoded copy's footprint entries
    // Per level: width mask, height mask, entries per row and the entry of texel (0, 0) in the
    // decoded copy. Levels 0..7 in the vectors, level 8 (the 1x1 level of a 256 texture) apart.
    alignas(32) std::int32_t widthMask[8], heightMask[8], stride[8], base[8];
    std::int32_t widthMask8 = 0, heightMask8 = 0, stride8 = 0, base8 = 0;

    Combine color, alpha;
    bool alphaNeeded = false;  // the blend reads the combined alpha
    // Which alpha values the combine reads; the others are not computed.
    bool needLocalAlpha = false, needOtherAlpha = false, needTextureAlpha = false;
    bool needIteratedAlpha = false;
    Rgba constant{};
    bool chroma = false;
    Rgba key{};
    int blendSrc = GR_BLEND_ONE, blendDst = GR_BLEND_ZERO;
};

// What a triangle keeps the same at every pixel, worked out once before its spans.
struct TriangleConsts {
    float invW = 0;  // 1 / w of a triangle whose w plane is flat
    int depth = 0;   // its W-buffer depth
    // Every pixel's texel coordinates lie well inside the range where the float-to-integer
    // steps are exact without the reference's limits (see safeCoordinates).
    bool safe = false;
    // Red, green and blue are one plane: one channel is iterated for all three.
    bool grey = false;
    // Alpha has no slope: every pixel's iterated alpha is `alpha`.
    bool flatAlpha = false;
    int alpha = 0;
    // The level a kFixedLevel kernel reads and that level's addressing.
    int level = 0;
    float scale = 1;  // texels of that level per coordinate unit
    std::int32_t widthMask = 0, heightMask = 0, stride = 0, base = 0;
    // The bands of rows a kernel shades, one bit for each of the eight bands in a turn (see
    // bandOf): all of them, or those of one thread.
    unsigned bands = kAllBands;
};

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

bool blendUsesSrcAlpha(int f) {
    return f == GR_BLEND_SRC_ALPHA || f == GR_BLEND_ONE_MINUS_SRC_ALPHA;
}

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

const KernelSet* pickKernels(const RenderState& rs, const FastConfig& k);

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
}

const FastConfig& currentConfig() {
    if (configSerial != board.state.serial || configTextureSerial != board.textureSerial) {
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
    return configs[currentPlace];
}

// --- eight pixels at a time ---------------------------------------------------------------------

#define AVX2 __attribute__((target("avx2,fma")))
#define INLINE inline __attribute__((always_inline))

// Vectors of eight lanes hold either floats, 32-bit integers, or a "pair": two 8-bit channel
// values in the two 16-bit halves of each lane (red|blue, or alpha|green, as in 0xAARRGGBB).

AVX2 INLINE __m256 broadcast(float v) {
    return _mm256_set1_ps(v);
}
AVX2 INLINE __m256i broadcasti(int v) {
    return _mm256_set1_epi32(v);
}
AVX2 INLINE __m256i pairOf(int hi, int lo) {
    return _mm256_set1_epi32(hi << 16 | lo);
}
// A per-lane value below 2^16 in both halves.
AVX2 INLINE __m256i both(__m256i v) {
    return _mm256_or_si256(v, _mm256_slli_epi32(v, 16));
}

// --- the spans of narrow triangles -------------------------------------------------------------

// Row after row, the covered pixels among the first 8 * Halves of the bounds: e holds the edge
// values at those pixels of the first row and moves down by step; bounds marks the lanes
// within the bounds.
template <int Halves>
AVX2 INLINE void narrowRows(const TriangleSetup& s, __m256i e[3][2], const __m256i step[3],
                            const __m256i limit[3], const __m256i bounds[2],
                            std::int16_t (*span)[2]) {
    const int height = s.maxY - s.minY;
    for (int r = 0; r < height; ++r) {
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
        // The covered pixels are one run: from the lowest set bit to the highest.
        const int x0 = bits ? __builtin_ctz(bits) : 0;
        const int x1 = bits ? 32 - __builtin_clz(bits) : 0;
        span[r][0] = std::int16_t(s.minX + x0);
        span[r][1] = std::int16_t(s.minX + x1);
    }
}

AVX2 bool narrowSpansVector(const TriangleSetup& s, std::int16_t (*span)[2]) {
    const int width = s.maxX - s.minX, height = s.maxY - s.minY;
    if (width <= 0 || width > kNarrowWidth || height <= 0 || height > kHeight) return false;
    const std::int64_t dx = s.minX - s.xRef, dy = s.minY - s.yRef;
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i e[3][2], step[3], limit[3];
#pragma GCC unroll 3
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
        e[i][0] = _mm256_add_epi32(_mm256_set1_epi32(low(first)),
                                   _mm256_mullo_epi32(_mm256_set1_epi32(low(g.ex)), lanes));
        e[i][1] = _mm256_add_epi32(e[i][0], _mm256_set1_epi32(low(g.ex * 8)));
        step[i] = _mm256_set1_epi32(low(g.ey));
        // Inside where E >= bias, that is E > bias - 1.
        limit[i] = _mm256_set1_epi32(int(g.bias) - 1);
    }
    const __m256i w = _mm256_set1_epi32(width);
    const __m256i bounds[2] = {_mm256_cmpgt_epi32(w, lanes),
                               _mm256_cmpgt_epi32(w, _mm256_add_epi32(lanes, broadcasti(8)))};
    if (width <= 8)
        narrowRows<1>(s, e, step, limit, bounds, span);
    else
        narrowRows<2>(s, e, step, limit, bounds, span);
    return true;
}

// The value, hidden from constant folding: see Vectors.
template <class T>
AVX2 INLINE T hidden(T v) {
    asm("" : "+x"(v));
    return v;
}

// What a kernel reads over and over: the triangle's slopes and addressing, and the constants of
// the arithmetic, broadcast once per triangle. Each is hidden from constant folding, so that
// where the loop runs out of registers it reads them from memory rather than rebuilding them
// from immediates at three instructions apiece.
struct Vectors {
    __m256 rdx, gdx, bdx, adx, wdx, zdx, sdx, tdx;  // plane slopes along x
    __m256 wdy, sdy, tdy;                           // and along y, for the level of detail
    __m256 texScale, texScale256, texScale2;
    __m256 flatInvW;
    __m256i flatDepth;
    // Addressing of a triangle's one level (kFixedLevel).
    __m256 scale, scale256;
    __m256i widthMask, heightMask, stride, base, lastLevel;
    __m256i constRB, constG, keyRB, keyG, flatAlpha;
    // Constants.
    __m256 zero, f255, f65535, limit, minusLimit, half, f128, f256, one, eight, lane;
    __m256i laneIndex;  // 0..7
    __m256i pairMask, lowMask, pairRound, depthBase, depthMax, lodBias, seven, minusOne, five, six,
        ditherMul5, ditherMul6, m257, izero;
};

AVX2 INLINE __m256 hiddenFloat(float x) {
    return hidden(_mm256_set1_ps(x));
}
AVX2 INLINE __m256i hiddenInt(int x) {
    return hidden(_mm256_set1_epi32(x));
}

AVX2 INLINE void makeVectors(const FastConfig& k, const TriangleSetup& su, const TriangleConsts& tc,
                             Vectors* v) {
    v->rdx = hiddenFloat(su.r.dx);
    v->gdx = hiddenFloat(su.g.dx);
    v->bdx = hiddenFloat(su.b.dx);
    v->adx = hiddenFloat(su.a.dx);
    v->wdx = hiddenFloat(su.w.dx);
    v->zdx = hiddenFloat(su.z.dx);
    v->sdx = hiddenFloat(su.s.dx);
    v->tdx = hiddenFloat(su.t.dx);
    v->wdy = hiddenFloat(su.w.dy);
    v->sdy = hiddenFloat(su.s.dy);
    v->tdy = hiddenFloat(su.t.dy);
    v->texScale = hiddenFloat(k.texScale);
    v->texScale256 = hiddenFloat(k.texScale * 256.0f);
    v->texScale2 = hiddenFloat(k.texScale2);
    v->flatInvW = hiddenFloat(tc.invW);
    v->flatDepth = hiddenInt(tc.depth);
    v->scale = hiddenFloat(tc.scale);
    v->scale256 = hiddenFloat(tc.scale * 256.0f);
    v->widthMask = hiddenInt(tc.widthMask);
    v->heightMask = hiddenInt(tc.heightMask);
    v->stride = hiddenInt(tc.stride);
    v->base = hiddenInt(tc.base);
    v->lastLevel = hiddenInt(k.levels - 1);
    v->constRB = hiddenInt(k.constant.r << 16 | k.constant.b);
    v->constG = hiddenInt(k.constant.g);
    v->keyRB = hiddenInt(k.key.r << 16 | k.key.b);
    v->keyG = hiddenInt(k.key.g);
    v->flatAlpha = hiddenInt(tc.alpha);
    v->zero = hiddenFloat(0.0f);
    v->f255 = hiddenFloat(255.0f);
    v->f65535 = hiddenFloat(65535.0f);
    v->limit = hiddenFloat(8388608.0f);
    v->minusLimit = hiddenFloat(-8388608.0f);
    v->half = hiddenFloat(0.5f);
    v->f128 = hiddenFloat(128.0f);
    v->f256 = hiddenFloat(256.0f);
    v->one = hiddenFloat(1.0f);
    v->eight = hiddenFloat(8.0f);
    v->lane = hidden(_mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7));
    v->laneIndex = hidden(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    v->pairMask = hiddenInt(0x00FF00FF);
    v->lowMask = hiddenInt(0xFF);
    v->pairRound = hiddenInt(0x00800080);
    v->depthBase = hiddenInt(520192);
    v->depthMax = hiddenInt(0xFFFF);
    v->lodBias = hiddenInt(126);
    v->seven = hiddenInt(7);
    v->minusOne = hiddenInt(-1);
    v->five = hiddenInt(31);
    v->six = hiddenInt(63);
    v->ditherMul5 = hiddenInt(31 << 16 | 31);
    v->ditherMul6 = hiddenInt(63 << 16 | 63);
    v->m257 = hiddenInt(257 << 16 | 257);
    v->izero = hiddenInt(0);
}

// The attributes' values at the start of a row, c0 + dy * (y - yRef) as the reference has it,
// and the row's dither addends.
struct RowState {
    __m256 r, g, b, a, w, z, s, t;
    __m256i ditherRB, ditherG;
};

// row + dx * fx: a plane's value at the lanes' pixels.
AVX2 INLINE __m256 evalPlane(__m256 row, __m256 dx, __m256 fx) {
    return _mm256_add_ps(row, _mm256_mul_ps(dx, fx));
}

// An iterated channel: clamped to 0..255 (max/min give the second operand for NaN, as maxf and
// minf do) and truncated.
AVX2 INLINE __m256i iterated(const Vectors& c, __m256 v) {
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(v, c.zero), c.f255));
}

// The same for a value known to lie inside -1..256: truncation alone gives 0..255.
AVX2 INLINE __m256i truncated(__m256 v) {
    return _mm256_cvttps_epi32(v);
}
template <int Flat>
AVX2 INLINE __m256i channel(const Vectors& c, __m256 v) {
    if (Flat == kFlatWInRange) return truncated(v);
    return iterated(c, v);
}

// wDepth in two steps: for a positive 1/w between 2^-16 and 1 the depth is 520192 minus the
// float's top 21 bits; the clamp to 0..0xFFFF gives the nearest value for 1/w >= 1 (including
// infinity and positive NaN) and the farthest for smaller ones, and the arithmetic shift makes
// zero, negatives and negative NaN farthest as well.
AVX2 INLINE __m256i wDepthVector(const Vectors& c, __m256 w) {
    const __m256i depth =
        _mm256_sub_epi32(c.depthBase, _mm256_srai_epi32(_mm256_castps_si256(w), 11));
    return _mm256_min_epi32(_mm256_max_epi32(depth, c.izero), c.depthMax);
}

AVX2 INLINE __m256i depthPass(int function, __m256i depth, __m256i stored) {
    const __m256i ones = _mm256_set1_epi32(-1);
    switch (function) {
        case GR_CMP_NEVER:
            return _mm256_setzero_si256();
        case GR_CMP_LESS:
            return _mm256_cmpgt_epi32(stored, depth);
        case GR_CMP_EQUAL:
            return _mm256_cmpeq_epi32(depth, stored);
        case GR_CMP_LEQUAL:
            return _mm256_xor_si256(_mm256_cmpgt_epi32(depth, stored), ones);
        case GR_CMP_GREATER:
            return _mm256_cmpgt_epi32(depth, stored);
        case GR_CMP_NOTEQUAL:
            return _mm256_xor_si256(_mm256_cmpeq_epi32(depth, stored), ones);
        case GR_CMP_GEQUAL:
            return _mm256_xor_si256(_mm256_cmpgt_epi32(stored, depth), ones);
        default:
            return ones;
    }
}

// Per-lane lookup of a level's value: levels 0..7 from the table, level 8 from `value8`.
AVX2 INLINE __m256i levelLookup(const std::int32_t* table, std::int32_t value8, __m256i level,
                                __m256i isLevel8) {
    const __m256i low = _mm256_permutevar8x32_epi32(
        _mm256_load_si256(reinterpret_cast<const __m256i*>(table)), level);
    return _mm256_blendv_epi8(low, broadcasti(value8), isLevel8);
}

AVX2 INLINE __m256i addressAxis(const Vectors& c, __m256i i, __m256i mask, bool clamp) {
    if (clamp) return _mm256_min_epi32(_mm256_max_epi32(i, c.izero), mask);
    return _mm256_and_si256(i, mask);
}
// The first of two neighbouring texels: wrapped, or clamped to -1 .. size - 1 where the border
// of the decoded copy supplies the clamped neighbour.
AVX2 INLINE __m256i addressPair(const Vectors& c, __m256i i, __m256i mask, bool clamp) {
    if (clamp) return _mm256_min_epi32(_mm256_max_epi32(i, c.minusOne), mask);
    return _mm256_and_si256(i, mask);
}

// The entry indices of eight lanes, two at a time in general registers.
struct LaneIndices {
    std::uint64_t i01, i23, i45, i67;
};
AVX2 INLINE LaneIndices laneIndices(__m256i index) {
    const __m128i lo = _mm256_castsi256_si128(index), hi = _mm256_extracti128_si256(index, 1);
    return {std::uint64_t(_mm_cvtsi128_si64(lo)), std::uint64_t(_mm_extract_epi64(lo, 1)),
            std::uint64_t(_mm_cvtsi128_si64(hi)), std::uint64_t(_mm_extract_epi64(hi, 1))};
}
inline std::int32_t first(std::uint64_t two) {
    return std::int32_t(two);
}
inline std::int32_t second(std::uint64_t two) {
    return std::int32_t(two >> 32);
}

// The texel of each lane's entry (point sampling).
AVX2 INLINE __m256i gatherTexels(const std::uint64_t* entries, __m256i index) {
    const LaneIndices at = laneIndices(index);
    auto texel = [entries](std::int32_t i) { return int(std::uint32_t(entries[i])); };
    __m128i l = _mm_cvtsi32_si128(texel(first(at.i01))),
            h = _mm_cvtsi32_si128(texel(first(at.i45)));
    l = _mm_insert_epi32(l, texel(second(at.i01)), 1);
    h = _mm_insert_epi32(h, texel(second(at.i45)), 1);
    l = _mm_insert_epi32(l, texel(first(at.i23)), 2);
    h = _mm_insert_epi32(h, texel(first(at.i67)), 2);
    l = _mm_insert_epi32(l, texel(second(at.i23)), 3);
    h = _mm_insert_epi32(h, texel(second(at.i67)), 3);
    return _mm256_inserti128_si256(_mm256_castsi128_si256(l), h, 1);
}

// Lane i's footprint in the low half and lane i + 4's in the high half.
AVX2 INLINE __m256i twoFootprints(const std::uint64_t* entries, std::int32_t low,
                                  std::int32_t high) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + low));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + high));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

// The four texels a bilinear filter reads at each lane's entry: (x, y), (x + 1, y), (x, y + 1)
// and (x + 1, y + 1). Each footprint is one 16-byte load; a transpose puts each texel of the
// eight footprints in lane order. Plain loads beat the gather instruction here.
AVX2 INLINE void gatherFootprints(const std::uint64_t* entries, __m256i index, __m256i* t00,
                                  __m256i* t10, __m256i* t01, __m256i* t11) {
    const LaneIndices at = laneIndices(index);
    // Footprint texels are (x, y), (x, y + 1), (x + 1, y), (x + 1, y + 1).
    const __m256i a = twoFootprints(entries, first(at.i01), first(at.i45));
    const __m256i b = twoFootprints(entries, second(at.i01), second(at.i45));
    const __m256i c = twoFootprints(entries, first(at.i23), first(at.i67));
    const __m256i d = twoFootprints(entries, second(at.i23), second(at.i67));
    const __m256i ab0 = _mm256_unpacklo_epi32(a, b), ab1 = _mm256_unpackhi_epi32(a, b);
    const __m256i cd0 = _mm256_unpacklo_epi32(c, d), cd1 = _mm256_unpackhi_epi32(c, d);
    *t00 = _mm256_unpacklo_epi64(ab0, cd0);
    *t01 = _mm256_unpackhi_epi64(ab0, cd0);
    *t10 = _mm256_unpacklo_epi64(ab1, cd1);
    *t11 = _mm256_unpackhi_epi64(ab1, cd1);
}

// (x0 * (256 - w) + x1 * w) >> 8 on pairs of 0..255 values with weights 0..255, in one
// multiply: it equals x0 + floor((x1 - x0) * w / 256), the high half of (x1 - x0) * 128 times
// 2 w, where both factors fit 16 signed bits. `twice` holds 2 w in both halves.
AVX2 INLINE __m256i lerpPair(__m256i x0, __m256i x1, __m256i twice) {
    return _mm256_add_epi16(
        x0, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(x1, x0), 7), twice));
}

// Red|blue and alpha|green of 0xAARRGGBB texels.
AVX2 INLINE __m256i lowPairs(const Vectors& c, __m256i argb) {
    return _mm256_and_si256(argb, c.pairMask);
}
AVX2 INLINE __m256i highPairs(__m256i argb) {
    return _mm256_srli_epi16(argb, 8);
}

struct Pairs {
    __m256i rb, ag;
};

// The level of each lane from its rate of change of texel coordinates, as lodFromRho2: half
// the exponent of rho2, rounded up, counted from the float's biased exponent (an arithmetic
// shift makes a negative rho2 come out below zero, so level 0; NaN lanes are cleared).
AVX2 INLINE __m256i levelOfLanes(const Vectors& c, __m256 s, __m256 t, __m256 invW) {
    const __m256 dsdx = _mm256_mul_ps(_mm256_sub_ps(c.sdx, _mm256_mul_ps(s, c.wdx)), invW);
    const __m256 dtdx = _mm256_mul_ps(_mm256_sub_ps(c.tdx, _mm256_mul_ps(t, c.wdx)), invW);
    const __m256 dsdy = _mm256_mul_ps(_mm256_sub_ps(c.sdy, _mm256_mul_ps(s, c.wdy)), invW);
    const __m256 dtdy = _mm256_mul_ps(_mm256_sub_ps(c.tdy, _mm256_mul_ps(t, c.wdy)), invW);
    const __m256 rx = _mm256_add_ps(_mm256_mul_ps(dsdx, dsdx), _mm256_mul_ps(dtdx, dtdx));
    const __m256 ry = _mm256_add_ps(_mm256_mul_ps(dsdy, dsdy), _mm256_mul_ps(dtdy, dtdy));
    const __m256 rho2 = _mm256_mul_ps(_mm256_max_ps(rx, ry), c.texScale2);
    __m256i level = _mm256_srai_epi32(
        _mm256_sub_epi32(_mm256_srai_epi32(_mm256_castps_si256(rho2), 23), c.lodBias), 1);
    level = _mm256_and_si256(level, _mm256_castps_si256(_mm256_cmp_ps(rho2, rho2, _CMP_ORD_Q)));
    return _mm256_min_epi32(_mm256_max_epi32(level, c.izero), c.lastLevel);
}

// Steps over the N groups of pixels a kernel shades together (up to four). Independent groups
// in one instruction stream keep the processor's units busy where one group's long chain of
// dependent steps would leave them waiting.
#define EACH(j) _Pragma("GCC unroll 4") for (int j = 0; j < N; ++j)

// The texel of each lane of N groups as red|blue and alpha|green pairs.
template <int Tex, int Level, int N>
AVX2 INLINE void sampleTexture(const FastConfig& k, const Vectors& c, bool safe, const __m256* s,
                               const __m256* t, const __m256* invW, Pairs* tex) {
    __m256 scale[N], scale256[N];
    __m256i widthMask[N], heightMask[N], stride[N], base[N];
    EACH(j) {
        if (Level == kPerPixelLevel) {
            const __m256i level = levelOfLanes(c, s[j], t[j], invW[j]);
            // texScale / 2^level, exactly, by lowering the exponent.
            const __m256i down = _mm256_slli_epi32(level, 23);
            scale[j] = _mm256_castsi256_ps(_mm256_sub_epi32(_mm256_castps_si256(c.texScale), down));
            scale256[j] =
                _mm256_castsi256_ps(_mm256_sub_epi32(_mm256_castps_si256(c.texScale256), down));
            const __m256i isLevel8 = _mm256_cmpgt_epi32(level, c.seven);
            widthMask[j] = levelLookup(k.widthMask, k.widthMask8, level, isLevel8);
            heightMask[j] = levelLookup(k.heightMask, k.heightMask8, level, isLevel8);
            stride[j] = levelLookup(k.stride, k.stride8, level, isLevel8);
            base[j] = levelLookup(k.base, k.base8, level, isLevel8);
        } else {
            scale[j] = c.scale;
            scale256[j] = c.scale256;
            widthMask[j] = c.widthMask;
            heightMask[j] = c.heightMask;
            stride[j] = c.stride;
            base[j] = c.base;
        }
    }
    if (Tex == kPointSampled) {
        // Limits keep the float-to-integer steps exact.
        EACH(j) {
            const __m256 u = _mm256_mul_ps(s[j], scale[j]), v = _mm256_mul_ps(t[j], scale[j]);
            const __m256i x = addressAxis(c,
                                          _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_min_ps(
                                              _mm256_max_ps(u, c.minusLimit), c.limit))),
                                          widthMask[j], k.clampS);
            const __m256i y = addressAxis(c,
                                          _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_min_ps(
                                              _mm256_max_ps(v, c.minusLimit), c.limit))),
                                          heightMask[j], k.clampT);
            const __m256i texel = gatherTexels(
                k.entries,
                _mm256_add_epi32(base[j], _mm256_add_epi32(_mm256_mullo_epi32(y, stride[j]), x)));
            tex[j] = {lowPairs(c, texel), highPairs(texel)};
        }
        return;
    }
    // Texel centres sit at half-integers: the first texel of the footprint is floor(u - 0.5)
    // and the weight of the second the next eight bits of u - 0.5.
    __m256i iu[N], iv[N], fu[N], fv[N];
    if (safe) {
        // In 1/256 texels the same numbers are one floor: scaling by 256 commutes with the
        // roundings of s * scale and of the subtraction, and with |u| below 2^22 no limit acts.
        // The scale is a power of two, so s * scale256 is exact and the fused multiply-subtract
        // rounds once where the separate steps round the same value once.
        __m256 u[N], v[N];
        EACH(j) {
            u[j] = _mm256_floor_ps(_mm256_fmsub_ps(s[j], scale256[j], c.f128));
            v[j] = _mm256_floor_ps(_mm256_fmsub_ps(t[j], scale256[j], c.f128));
        }
        EACH(j) {
            const __m256i u256 = _mm256_cvttps_epi32(u[j]), v256 = _mm256_cvttps_epi32(v[j]);
            iu[j] = _mm256_srai_epi32(u256, 8);
            iv[j] = _mm256_srai_epi32(v256, 8);
            fu[j] = _mm256_and_si256(u256, c.lowMask);
            fv[j] = _mm256_and_si256(v256, c.lowMask);
        }
    } else {
        // Limits keep the float-to-integer steps exact.
        EACH(j) {
            __m256 u = _mm256_mul_ps(s[j], scale[j]), v = _mm256_mul_ps(t[j], scale[j]);
            u = _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(u, c.half), c.minusLimit), c.limit);
            v = _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(v, c.half), c.minusLimit), c.limit);
            const __m256 u0 = _mm256_floor_ps(u), v0 = _mm256_floor_ps(v);
            fu[j] = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(u, u0), c.f256));
            fv[j] = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(v, v0), c.f256));
            iu[j] = _mm256_cvttps_epi32(u0);
            iv[j] = _mm256_cvttps_epi32(v0);
        }
    }
    __m256i index[N];
    EACH(j) {
        const __m256i x0 = addressPair(c, iu[j], widthMask[j], k.clampS);
        const __m256i y0 = addressPair(c, iv[j], heightMask[j], k.clampT);
        index[j] =
            _mm256_add_epi32(_mm256_add_epi32(base[j], x0), _mm256_mullo_epi32(y0, stride[j]));
    }
    __m256i t00[N], t10[N], t01[N], t11[N];
    EACH(j) gatherFootprints(k.entries, index[j], &t00[j], &t10[j], &t01[j], &t11[j]);
    __m256i twiceU[N], twiceV[N];
    EACH(j) {
        twiceU[j] = both(_mm256_add_epi32(fu[j], fu[j]));
        twiceV[j] = both(_mm256_add_epi32(fv[j], fv[j]));
    }
    __m256i topRB[N], bottomRB[N], topAG[N], bottomAG[N];
    EACH(j) {
        topRB[j] = lerpPair(lowPairs(c, t00[j]), lowPairs(c, t10[j]), twiceU[j]);
        bottomRB[j] = lerpPair(lowPairs(c, t01[j]), lowPairs(c, t11[j]), twiceU[j]);
    }
    EACH(j) {
        topAG[j] = lerpPair(highPairs(t00[j]), highPairs(t10[j]), twiceU[j]);
        bottomAG[j] = lerpPair(highPairs(t01[j]), highPairs(t11[j]), twiceU[j]);
    }
    EACH(j) {
        tex[j] = {lerpPair(topRB[j], bottomRB[j], twiceV[j]),
                  lerpPair(topAG[j], bottomAG[j], twiceV[j])};
    }
}

// The alpha of alpha|green pairs in both halves.
AVX2 INLINE __m256i alphaOfPairs(const Pairs& p) {
    return both(_mm256_srli_epi32(p.ag, 16));
}

// x * f / 255 rounded, on pairs of 0..255 values: with t = x * f + 128, mul255's
// (t + (t >> 8)) >> 8 equals (t * 257) >> 16 for every such t, one high multiply.
AVX2 INLINE __m256i mul255Pair(const Vectors& c, __m256i x, __m256i f) {
    return _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(x, f), c.pairRound), c.m257);
}
// The same for signed -255..255 values, symmetric about zero.
AVX2 INLINE __m256i mul255SignedPair(const Vectors& c, __m256i d, __m256i f) {
    return _mm256_sign_epi16(mul255Pair(c, _mm256_abs_epi16(d), f), d);
}

struct CombineInputs {
    __m256i local, other, localAlpha, otherAlpha, textureAlpha;  // pairs
};

AVX2 INLINE __m256i factorPair(const Vectors& c, int factor, const CombineInputs& in) {
    const __m256i ones = c.pairMask;
    switch (factor) {
        case GR_COMBINE_FACTOR_ZERO:
            return _mm256_setzero_si256();
        case GR_COMBINE_FACTOR_LOCAL:
            return in.local;
        case GR_COMBINE_FACTOR_OTHER_ALPHA:
            return in.otherAlpha;
        case GR_COMBINE_FACTOR_LOCAL_ALPHA:
            return in.localAlpha;
        case GR_COMBINE_FACTOR_TEXTURE_ALPHA:
            return in.textureAlpha;
        case GR_COMBINE_FACTOR_ONE:
            return ones;
        case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL:
            return _mm256_sub_epi16(ones, in.local);
        case GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA:
            return _mm256_sub_epi16(ones, in.otherAlpha);
        case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA:
            return _mm256_sub_epi16(ones, in.localAlpha);
        case GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA:
            return _mm256_sub_epi16(ones, in.textureAlpha);
        default:
            return _mm256_setzero_si256();
    }
}

AVX2 INLINE __m256i combinePair(const Vectors& c, const Combine& cc, const CombineInputs& in) {
    const __m256i f = factorPair(c, cc.factor, in);
    __m256i v;
    switch (cc.function) {
        case GR_COMBINE_FUNCTION_ZERO:
            v = _mm256_setzero_si256();
            break;
        case GR_COMBINE_FUNCTION_LOCAL:
            v = in.local;
            break;
        case GR_COMBINE_FUNCTION_LOCAL_ALPHA:
            v = in.localAlpha;
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER:
            v = mul255Pair(c, in.other, f);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL:
            v = _mm256_add_epi16(mul255Pair(c, in.other, f), in.local);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA:
            v = _mm256_add_epi16(mul255Pair(c, in.other, f), in.localAlpha);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL:
            v = mul255SignedPair(c, _mm256_sub_epi16(in.other, in.local), f);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL:
            v = _mm256_add_epi16(mul255SignedPair(c, _mm256_sub_epi16(in.other, in.local), f),
                                 in.local);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA:
            v = _mm256_add_epi16(mul255SignedPair(c, _mm256_sub_epi16(in.other, in.local), f),
                                 in.localAlpha);
            break;
        case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL:
            v = _mm256_sub_epi16(in.local, mul255Pair(c, in.local, f));
            break;
        case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA:
            v = _mm256_sub_epi16(in.localAlpha, mul255Pair(c, in.local, f));
            break;
        default:
            v = _mm256_setzero_si256();
            break;
    }
    v = _mm256_min_epi16(_mm256_max_epi16(v, c.izero), c.pairMask);
    if (cc.invert) v = _mm256_xor_si256(v, c.pairMask);
    return v;
}

AVX2 INLINE __m256i blendFactorPair(const Vectors& c, int factor, __m256i src, __m256i srcAlpha) {
    const __m256i ones = c.pairMask;
    switch (factor) {
        case GR_BLEND_SRC_ALPHA:
            return srcAlpha;
        case GR_BLEND_SRC_COLOR:
            return src;
        case GR_BLEND_DST_ALPHA:
        case GR_BLEND_ONE:
            return ones;
        case GR_BLEND_ONE_MINUS_SRC_ALPHA:
            return _mm256_sub_epi16(ones, srcAlpha);
        case GR_BLEND_ONE_MINUS_SRC_COLOR:
            return _mm256_sub_epi16(ones, src);
        default:
            return _mm256_setzero_si256();
    }
}

AVX2 INLINE __m256i blendPair(const Vectors& c, int srcFactor, int dstFactor, __m256i src,
                              __m256i dst, __m256i srcAlpha) {
    if (srcFactor == GR_BLEND_ONE && dstFactor == GR_BLEND_ONE)
        return _mm256_min_epi16(_mm256_add_epi16(src, dst), c.pairMask);
    const __m256i s = mul255Pair(c, src, blendFactorPair(c, srcFactor, src, srcAlpha));
    const __m256i d = mul255Pair(c, dst, blendFactorPair(c, dstFactor, src, srcAlpha));
    return _mm256_min_epi16(_mm256_add_epi16(s, d), c.pairMask);
}

AVX2 INLINE __m256i expand5Pair(__m256i k) {
    return _mm256_or_si256(_mm256_slli_epi16(k, 3), _mm256_srli_epi16(k, 2));
}
AVX2 INLINE __m256i expand6Pair(__m256i k) {
    return _mm256_or_si256(_mm256_slli_epi16(k, 2), _mm256_srli_epi16(k, 4));
}

// The ordered dither of the tables in three operations: for every matrix position m the table
// of a 5-bit channel is (c * 31 + add5[m]) >> 8, that of the 6-bit channel (c * 63 + add6[m])
// >> 8. The addends are the smallest that reach each table's steps; the check below proves the
// formula equal to the tables for every position and value.
struct DitherAddends {
    int five[16], six[16];
};
constexpr DitherAddends makeDitherAddends() {
    DitherAddends d{};
    for (int m = 0; m < 16; ++m) {
        int five = 0, six = 0;
        for (int c = 0; c < 256; ++c) {
            five = std::max(five, dither.five[m][c] * 256 - c * 31);
            six = std::max(six, dither.six[m][c] * 256 - c * 63);
        }
        d.five[m] = five;
        d.six[m] = six;
    }
    return d;
}
constexpr DitherAddends kDitherAddends = makeDitherAddends();
constexpr bool ditherFormulaMatchesTables() {
    for (int m = 0; m < 16; ++m)
        for (int c = 0; c < 256; ++c)
            if ((c * 31 + kDitherAddends.five[m]) >> 8 != dither.five[m][c] ||
                (c * 63 + kDitherAddends.six[m]) >> 8 != dither.six[m][c])
                return false;
    return true;
}
static_assert(ditherFormulaMatchesTables(), "the dither formula must give the dither tables");

// Per row phase (y & 3) the addends of twelve columns from column phase 0, so that eight lanes
// can start at any phase: red|blue pairs and green (in the low half).
struct DitherRows {
    std::int32_t rb[4][12];
    std::int32_t g[4][12];
};
constexpr DitherRows makeDitherRows() {
    DitherRows t{};
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 12; ++i) {
            const int m = r * 4 + (i & 3);
            t.rb[r][i] = kDitherAddends.five[m] << 16 | kDitherAddends.five[m];
            t.g[r][i] = kDitherAddends.six[m];
        }
    return t;
}
constexpr DitherRows kDitherRows = makeDitherRows();

// 5-6-5 pixels from red|blue pairs and green (low half) of 0..255.
AVX2 INLINE __m256i ditherToPixels(const Vectors& c, __m256i rb, __m256i g, __m256i addRB,
                                   __m256i addG) {
    const __m256i rb5 =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(rb, c.ditherMul5), addRB), 8);
    const __m256i g6 = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_mullo_epi16(_mm256_and_si256(g, c.lowMask), c.ditherMul6), addG),
        8);
    // Red comes down from the top half to bits 11..15; blue's shifted copy is all zero.
    return _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(rb5, 5), _mm256_slli_epi32(g6, 5)),
                           _mm256_and_si256(rb5, c.five));
}

AVX2 INLINE __m256i load8(const std::uint16_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Eight 16-bit values (the low halves of the lanes) where the mask, packed to 16 bits, is set.
AVX2 INLINE void store8(std::uint16_t* p, __m256i values, __m128i mask16) {
    const __m128i packed =
        _mm_packus_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_blendv_epi8(old, packed, mask16));
}

// The same for a group split in two runs of four pixels: lanes 0..3 at `p`, lanes 4..7 at `q`.
AVX2 INLINE __m128i loadTwoRuns(const std::uint16_t* p, const std::uint16_t* q) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)));
}
AVX2 INLINE __m256i load4x2(const std::uint16_t* p, const std::uint16_t* q) {
    return _mm256_cvtepu16_epi32(loadTwoRuns(p, q));
}
// The second run is stored first: where a run of a single-run group repeats the first run's
// place with no lane set, the first run's pixels are the ones that stay.
AVX2 INLINE void store4x2(std::uint16_t* p, std::uint16_t* q, __m256i values, __m128i mask16) {
    const __m128i packed =
        _mm_packus_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
    const __m128i out = _mm_blendv_epi8(loadTwoRuns(p, q), packed, mask16);
    _mm_storeh_pd(reinterpret_cast<double*>(q), _mm_castsi128_pd(out));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), out);
}

// Where pixels live: N groups of eight in a row from `color` and `depth`, or (split groups, one
// Places each) four pixels there and four at `color2` and `depth2`. The runs of a split group
// never share pixels with another group's, so every group's stores stand.
struct Places {
    std::uint16_t *color, *depth, *color2, *depth2;
};
template <bool Split>
AVX2 INLINE __m256i loadPlace(const std::uint16_t* p, const std::uint16_t* q, int j) {
    if (Split) return load4x2(p, q);
    return load8(p + 8 * j);
}
template <bool Split>
AVX2 INLINE void storePlace(std::uint16_t* p, std::uint16_t* q, int j, __m256i values,
                            __m128i mask16) {
    if (Split)
        store4x2(p, q, values, mask16);
    else
        store8(p + 8 * j, values, mask16);
}

// Shades N groups of eight pixels, group j at offsets fx[j] from the triangle's reference pixel;
// only lanes set in `valid` are written. A row's groups, [x, x + 8 N), share one row state and
// one place; split groups (two runs of four) have a row state and a place each.
template <int Tex, int Level, int Flat, int Comb, int Blend, int Depth, int Chroma, int N,
          bool Split = false>
AVX2 INLINE void shadeGroups(const FastConfig& k, const TriangleConsts& tc, const Vectors& c,
                             const RowState* rows, const __m256* fx, const Places* places,
                             const __m256i* valid) {
    // Split groups each have their own rows and places; the others share the first.
#define ROW(j) rows[Split ? (j) : 0]
#define PLACE(j) places[Split ? (j) : 0]
    __m256i mask[N];
    EACH(j) mask[j] = valid[j];

    __m256 w[N];
    EACH(j) w[j] = c.zero;
    bool haveW = false;
    __m256i depthValue[N];
    EACH(j) depthValue[j] = c.izero;
    if (Depth == kWOverwrite) {
        EACH(j) depthValue[j] = c.flatDepth;
    } else if (Depth == kWLessWrite || k.depthOn) {
        if (Depth == kWLessWrite || k.depthWBuffer) {
            if (Flat) {
                EACH(j) depthValue[j] = c.flatDepth;
            } else {
                EACH(j) {
                    w[j] = evalPlane(ROW(j).w, c.wdx, fx[j]);
                    depthValue[j] = wDepthVector(c, w[j]);
                }
                haveW = true;
            }
        } else {
            EACH(j) {
                depthValue[j] = _mm256_cvttps_epi32(_mm256_min_ps(
                    _mm256_max_ps(evalPlane(ROW(j).z, c.zdx, fx[j]), c.zero), c.f65535));
            }
        }
        __m256i any = c.izero;
        EACH(j) {
            const __m256i stored = loadPlace<Split>(PLACE(j).depth, PLACE(j).depth2, j);
            if (Depth == kWLessWrite)
                mask[j] = _mm256_and_si256(mask[j], _mm256_cmpgt_epi32(stored, depthValue[j]));
            else
                mask[j] =
                    _mm256_and_si256(mask[j], depthPass(k.depthFunction, depthValue[j], stored));
            any = _mm256_or_si256(any, mask[j]);
        }
        if (_mm256_testz_si256(any, any)) return;
    }

    Pairs tex[N];
    EACH(j) tex[j] = {c.izero, c.izero};
    if (Tex != kNoTexture) {
        __m256 invW[N], s[N], t[N];
        EACH(j) {
            if (Flat) {
                invW[j] = c.flatInvW;
            } else {
                if (!haveW) w[j] = evalPlane(ROW(j).w, c.wdx, fx[j]);
                invW[j] = _mm256_div_ps(c.one, w[j]);
            }
        }
        EACH(j) {
            s[j] = _mm256_mul_ps(evalPlane(ROW(j).s, c.sdx, fx[j]), invW[j]);
            t[j] = _mm256_mul_ps(evalPlane(ROW(j).t, c.tdx, fx[j]), invW[j]);
        }
        sampleTexture<Tex, Level, N>(k, c, tc.safe, s, t, invW, tex);
    }

    // Iterated colour as pairs, as far as the combine reads it.
    constexpr bool needRGB = Comb != kConstantColour;
    const bool needAlpha =
        Comb == kModulateAddAlpha || (Comb == kCombineAny && k.needIteratedAlpha);
    Pairs iter[N];
    __m256i ia[N];
    EACH(j) {
        iter[j] = {c.izero, c.izero};
        ia[j] = c.izero;
    }
    if (needRGB) {
        EACH(j) {
            __m256i ir, ig, ib;
            if (tc.grey) {
                ir = ig = ib = channel<Flat>(c, evalPlane(ROW(j).r, c.rdx, fx[j]));
            } else {
                ir = channel<Flat>(c, evalPlane(ROW(j).r, c.rdx, fx[j]));
                ig = channel<Flat>(c, evalPlane(ROW(j).g, c.gdx, fx[j]));
                ib = channel<Flat>(c, evalPlane(ROW(j).b, c.bdx, fx[j]));
            }
            if (needAlpha)
                ia[j] = tc.flatAlpha ? c.flatAlpha
                                     : channel<Flat>(c, evalPlane(ROW(j).a, c.adx, fx[j]));
            iter[j] = {_mm256_or_si256(_mm256_slli_epi32(ir, 16), ib),
                       needAlpha ? _mm256_or_si256(_mm256_slli_epi32(ia[j], 16), ig) : ig};
        }
    }

    // The combined colour: red|blue pairs and green in the low half of `g`.
    __m256i rb[N], g[N], srcAlpha[N];
    EACH(j) srcAlpha[j] = c.izero;
    if (Comb == kModulateAddAlpha) {
        EACH(j) {
            const __m256i add = both(ia[j]);
            rb[j] = _mm256_min_epi16(_mm256_add_epi16(mul255Pair(c, tex[j].rb, iter[j].rb), add),
                                     c.pairMask);
            g[j] = _mm256_min_epi16(_mm256_add_epi16(mul255Pair(c, tex[j].ag, iter[j].ag), add),
                                    c.pairMask);
        }
    } else if (Comb == kModulate) {
        EACH(j) {
            rb[j] = mul255Pair(c, tex[j].rb, iter[j].rb);
            g[j] = mul255Pair(c, tex[j].ag, iter[j].ag);
        }
    } else if (Comb == kAddTexture) {
        EACH(j) {
            rb[j] = _mm256_min_epi16(_mm256_add_epi16(tex[j].rb, iter[j].rb), c.pairMask);
            g[j] = _mm256_min_epi16(_mm256_add_epi16(tex[j].ag, iter[j].ag), c.pairMask);
        }
    } else if (Comb == kConstantColour) {
        EACH(j) {
            rb[j] = c.constRB;
            g[j] = c.constG;
        }
    } else {
        bool anyLeft = false;
        EACH(j) {
            const Pairs constant{c.constRB, pairOf(k.constant.a, k.constant.g)};
            auto select = [&](int source) -> const Pairs* {
                if (source == GR_COMBINE_OTHER_TEXTURE) return &tex[j];
                if (source == GR_COMBINE_OTHER_CONSTANT) return &constant;
                return &iter[j];
            };
            const __m256i zero = c.izero;
            const __m256i localAlpha = !k.needLocalAlpha ? zero
                                       : k.alpha.local == GR_COMBINE_LOCAL_CONSTANT
                                           ? pairOf(k.constant.a, k.constant.a)
                                           : both(ia[j]);
            const __m256i otherAlpha =
                k.needOtherAlpha ? alphaOfPairs(*select(k.alpha.other)) : zero;
            const __m256i textureAlpha = k.needTextureAlpha ? alphaOfPairs(tex[j]) : zero;
            const Pairs& local = k.color.local == GR_COMBINE_LOCAL_CONSTANT ? constant : iter[j];
            const Pairs& other = *select(k.color.other);

            CombineInputs in{local.rb, other.rb, localAlpha, otherAlpha, textureAlpha};
            rb[j] = combinePair(c, k.color, in);
            // Green goes through in the low half of alpha|green; the high half is not used.
            in.local = _mm256_and_si256(local.ag, c.lowMask);
            in.other = _mm256_and_si256(other.ag, c.lowMask);
            g[j] = combinePair(c, k.color, in);
            if (k.alphaNeeded) {
                CombineInputs a{localAlpha, otherAlpha, localAlpha, otherAlpha, textureAlpha};
                srcAlpha[j] = combinePair(c, k.alpha, a);
            }
            if (Chroma == kChromaAny && k.chroma) {
                const __m256i keyed = _mm256_and_si256(
                    _mm256_cmpeq_epi32(other.rb, c.keyRB),
                    _mm256_cmpeq_epi32(_mm256_and_si256(other.ag, c.lowMask), c.keyG));
                mask[j] = _mm256_andnot_si256(keyed, mask[j]);
            }
            anyLeft = anyLeft || !_mm256_testz_si256(mask[j], mask[j]);
        }
        if (!anyLeft) return;
    }
    if (Chroma == kChromaOn) {
        // The key is compared with the texel, the "other" colour of the texture combines.
        __m256i any = c.izero;
        EACH(j) {
            const __m256i keyed = _mm256_and_si256(
                _mm256_cmpeq_epi32(tex[j].rb, c.keyRB),
                _mm256_cmpeq_epi32(_mm256_and_si256(tex[j].ag, c.lowMask), c.keyG));
            mask[j] = _mm256_andnot_si256(keyed, mask[j]);
            any = _mm256_or_si256(any, mask[j]);
        }
        if (_mm256_testz_si256(any, any)) return;
    }

    const bool replace = Blend == kReplace || (Blend == kBlendAny && k.blendSrc == GR_BLEND_ONE &&
                                               k.blendDst == GR_BLEND_ZERO);
    if (!replace) {
        EACH(j) {
            const __m256i dst = loadPlace<Split>(PLACE(j).color, PLACE(j).color2, j);
            const __m256i d5 = _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(dst, 11), 16),
                                               _mm256_and_si256(dst, c.five));
            const __m256i dRB = expand5Pair(d5);
            const __m256i dG = expand6Pair(_mm256_and_si256(_mm256_srli_epi32(dst, 5), c.six));
            g[j] = _mm256_and_si256(g[j], c.lowMask);
            if (Blend == kAdd) {
                rb[j] = _mm256_min_epi16(_mm256_add_epi16(rb[j], dRB), c.pairMask);
                g[j] = _mm256_min_epi16(_mm256_add_epi16(g[j], dG), c.pairMask);
            } else {
                rb[j] = blendPair(c, k.blendSrc, k.blendDst, rb[j], dRB, srcAlpha[j]);
                g[j] = blendPair(c, k.blendSrc, k.blendDst, g[j], dG, srcAlpha[j]);
            }
        }
    }

    EACH(j) {
        const __m128i mask16 =
            _mm_packs_epi32(_mm256_castsi256_si128(mask[j]), _mm256_extracti128_si256(mask[j], 1));
        storePlace<Split>(PLACE(j).color, PLACE(j).color2, j,
                          ditherToPixels(c, rb[j], g[j], ROW(j).ditherRB, ROW(j).ditherG), mask16);
        if (Depth == kWLessWrite || Depth == kWOverwrite || k.depthWrite)
            storePlace<Split>(PLACE(j).depth, PLACE(j).depth2, j, depthValue[j], mask16);
    }
#undef ROW
#undef PLACE
}

// Up to four pixels of one row, [lo, hi) of the run [x, x + 4); the short rows of small
// triangles and the ends of longer rows go through runs, two to a group, so that a group's
// lanes are mostly busy where a row has only a few pixels.
struct Run {
    int x, y, lo, hi;
};

// Lanes 0..3 `low`, lanes 4..7 `high`.
AVX2 INLINE __m256i halves(int low, int high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi32(low)),
                                   _mm_set1_epi32(high), 1);
}
// A plane's row value c0 + dy * fy at each lane's row.
AVX2 INLINE __m256 rowValues(const Plane& p, __m256 fy) {
    return _mm256_add_ps(broadcast(p.c0), _mm256_mul_ps(broadcast(p.dy), fy));
}
// The dither addends of runs a (lanes 0..3) and b (lanes 4..7) from one of the tables.
AVX2 INLINE __m256i runAddends(const std::int32_t (*table)[12], const Run& a, const Run& b) {
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(&table[b.y & 3][b.x & 3]),
                               reinterpret_cast<const __m128i*>(&table[a.y & 3][a.x & 3]));
}

// Shades N groups of two runs each, runs[2 j] in lanes 0..3 of group j and runs[2 j + 1] in
// lanes 4..7. Each lane has its own row, so the attributes' row values are worked out per
// lane, with the reference's arithmetic.
template <int Tex, int Level, int Flat, int Comb, int Blend, int Depth, int Chroma, int N>
AVX2 INLINE void shadeRuns(const FastConfig& k, const TriangleSetup& su, const TriangleConsts& tc,
                           const Vectors& c, std::uint16_t* colorBuffer, std::uint16_t* depthBuffer,
                           const Run* runs) {
    RowState row[N];
    __m256 fx[N];
    __m256i valid[N];
    Places places[N];
    EACH(j) {
        const Run& a = runs[2 * j];
        const Run& b = runs[2 * j + 1];
        const __m256i x =
            _mm256_add_epi32(halves(a.x, b.x), _mm256_setr_epi32(0, 1, 2, 3, 0, 1, 2, 3));
        valid[j] = _mm256_andnot_si256(_mm256_cmpgt_epi32(halves(a.lo, b.lo), x),
                                       _mm256_cmpgt_epi32(halves(a.hi, b.hi), x));
        fx[j] = _mm256_cvtepi32_ps(_mm256_sub_epi32(x, broadcasti(su.xRef)));
        const __m256 fy = _mm256_cvtepi32_ps(halves(a.y - su.yRef, b.y - su.yRef));
        row[j].r = rowValues(su.r, fy);
        row[j].g = rowValues(su.g, fy);
        row[j].b = rowValues(su.b, fy);
        row[j].a = rowValues(su.a, fy);
        row[j].w = rowValues(su.w, fy);
        row[j].z = rowValues(su.z, fy);
        row[j].s = rowValues(su.s, fy);
        row[j].t = rowValues(su.t, fy);
        row[j].ditherRB = runAddends(kDitherRows.rb, a, b);
        row[j].ditherG = runAddends(kDitherRows.g, a, b);
        const int offsetA = (kHeight - 1 - a.y) * kWidth + a.x;
        const int offsetB = (kHeight - 1 - b.y) * kWidth + b.x;
        places[j] = Places{colorBuffer + offsetA, depthBuffer + offsetA, colorBuffer + offsetB,
                           depthBuffer + offsetB};
    }
    shadeGroups<Tex, Level, Flat, Comb, Blend, Depth, Chroma, N, true>(k, tc, c, row, fx, places,
                                                                       valid);
}

template <int Tex, int Level, int Flat, int Comb, int Blend, int Depth, int Chroma>
AVX2 void shadeSpans(const FastConfig& config, const TriangleSetup& setup,
                     const TriangleConsts& consts) {
    // Local copies: the pixel stores cannot touch them, so their values stay in registers.
    const FastConfig k = config;
    const TriangleSetup su = setup;
    const TriangleConsts tc = consts;
    Vectors c;
    makeVectors(k, su, tc, &c);
    // Any pending clear is either settled or being drawn over in its place (shadeTriangleFast).
    std::uint16_t* const colorBuffer = drawBuffer();
    std::uint16_t* const depthBuffer = board.depth.data();
    // Runs wait until there are four, for two groups shaded together; a row adds one or two,
    // and one may be left over.
    Run queue[6];
    int queued = 0;
    // A narrow triangle's spans are worked out before its rows (most of a small triangle's
    // traversal would otherwise be the walker's divisions); others are stepped row by row.
    std::int16_t narrow[kHeight][2];
    const bool isNarrow = narrowSpansVector(su, narrow);
    SpanWalker walker;
    if (!isNarrow) walker.start(su);
    for (int y = su.minY; y < su.maxY; ++y) {
        int x0, x1;
        if (isNarrow) {
            x0 = narrow[y - su.minY][0];
            x1 = narrow[y - su.minY][1];
        } else {
            walker.span(&x0, &x1);
            walker.next();
        }
        if (!((tc.bands >> bandOf(y)) & 1u)) continue;
        if (x0 >= x1) continue;
        int x = x0;
        // Without texels a group costs little next to setting up runs: every row goes through
        // whole groups, the last one partly masked.
        constexpr bool useRuns = Tex != kNoTexture;
        if (x1 - x0 >= 8 || !useRuns) {
            const float fy = float(y - su.yRef);
            auto at = [fy](const Plane& p) { return p.c0 + p.dy * fy; };
            RowState row;
            row.r = broadcast(at(su.r));
            row.g = broadcast(at(su.g));
            row.b = broadcast(at(su.b));
            row.a = broadcast(at(su.a));
            row.w = broadcast(at(su.w));
            row.z = broadcast(at(su.z));
            row.s = broadcast(at(su.s));
            row.t = broadcast(at(su.t));
            row.ditherRB = _mm256_loadu_si256(
                reinterpret_cast<const __m256i*>(&kDitherRows.rb[y & 3][x0 & 3]));
            row.ditherG =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&kDitherRows.g[y & 3][x0 & 3]));
            const int offset = (kHeight - 1 - y) * kWidth;
            std::uint16_t* color = colorBuffer + offset;
            std::uint16_t* depth = depthBuffer + offset;
            // Pixel offsets from the reference pixel are small integers: adding 8 stays exact.
            __m256 fx = _mm256_add_ps(broadcast(float(x0 - su.xRef)), c.lane);
            const __m256i all[4] = {c.minusOne, c.minusOne, c.minusOne, c.minusOne};
            // Four groups at a time where the row allows: each group's texel fetches wait on
            // a long chain of address arithmetic, and more independent groups in flight keep
            // the processor busy meanwhile.
            for (; x + 32 <= x1; x += 32) {
                __m256 four[4];
                four[0] = fx;
                for (int j = 1; j < 4; ++j) four[j] = _mm256_add_ps(four[j - 1], c.eight);
                const Places here{color + x, depth + x, nullptr, nullptr};
                shadeGroups<Tex, Level, Flat, Comb, Blend, Depth, Chroma, 4>(k, tc, c, &row, four,
                                                                             &here, all);
                fx = _mm256_add_ps(four[3], c.eight);
            }
            for (; x + 16 <= x1; x += 16) {
                const __m256 two[2] = {fx, _mm256_add_ps(fx, c.eight)};
                const Places here{color + x, depth + x, nullptr, nullptr};
                shadeGroups<Tex, Level, Flat, Comb, Blend, Depth, Chroma, 2>(k, tc, c, &row, two,
                                                                             &here, all);
                fx = _mm256_add_ps(two[1], c.eight);
            }
            if (x + 8 <= x1) {
                const Places here{color + x, depth + x, nullptr, nullptr};
                shadeGroups<Tex, Level, Flat, Comb, Blend, Depth, Chroma, 1>(k, tc, c, &row, &fx,
                                                                             &here, all);
                x += 8;
                fx = _mm256_add_ps(fx, c.eight);
            }
            if (x == x1) continue;
            if (!useRuns) {
                const __m256i valid = _mm256_cmpgt_epi32(broadcasti(x1 - x), c.laneIndex);
                if (x + 8 <= kWidth) {
                    // Lanes past the span read their pixels and store them back unchanged.
                    const Places here{color + x, depth + x, nullptr, nullptr};
                    shadeGroups<Tex, Level, Flat, Comb, Blend, Depth, Chroma, 1>(
                        k, tc, c, &row, &fx, &here, &valid);
                } else {
                    // At the right edge of the buffer the last pixels go through a copy, so
                    // nothing past the row is read.
                    alignas(16) std::uint16_t cc[8] = {}, d[8] = {};
                    std::copy(color + x, color + x1, cc);
                    std::copy(depth + x, depth + x1, d);
                    const Places copy{cc, d, nullptr, nullptr};
                    shadeGroups<Tex, Level, Flat, Comb, Blend, Depth, Chroma, 1>(
                        k, tc, c, &row, &fx, &copy, &valid);
                    std::copy(cc, cc + (x1 - x), color + x);
                    std::copy(d, d + (x1 - x), depth + x);
                }
                continue;
            }
        }
        // The last one to seven pixels as one or two runs of four, placed from x onwards, or
        // back from x1 where that would reach past the row (a row is far wider than eight
        // pixels, so one of the two stays inside it).
        // Both runs are written and the count moves by one or two, so that the row's length
        // decides no branch here: across small triangles it changes unpredictably.
        const int runs = x1 - x > 4 ? 2 : 1;
        const int first = x + 4 * runs <= kWidth ? x : x1 - 4 * runs;
        queue[queued] = Run{first, y, x, x1};
        queue[queued + 1] = Run{first + 4, y, x, x1};
        queued += runs;
        if (queued >= 4) {
            shadeRuns<Tex, Level, Flat, Comb, Blend, Depth, Chroma, 2>(k, su, tc, c, colorBuffer,
                                                                       depthBuffer, queue);
            queue[0] = queue[4];
            queued -= 4;
        }
    }
    if (queued >= 2) {
        shadeRuns<Tex, Level, Flat, Comb, Blend, Depth, Chroma, 1>(k, su, tc, c, colorBuffer,
                                                                   depthBuffer, queue);
        queued -= 2;
        queue[0] = queue[2];
    }
    if (queued == 1) {
        // Alone: the second half repeats the run with no lane set.
        queue[1] = Run{queue[0].x, queue[0].y, 0, 0};
        shadeRuns<Tex, Level, Flat, Comb, Blend, Depth, Chroma, 1>(k, su, tc, c, colorBuffer,
                                                                   depthBuffer, queue);
    }
}

template <int Tex, int Comb, int Blend, int Depth, int Chroma>
constexpr KernelSet kernelSet() {
    constexpr Kernel steep = &shadeSpans<Tex, kFixedLevel, kSlopedW, Comb, Blend, Depth, Chroma>;
    constexpr Kernel flat = &shadeSpans<Tex, kFixedLevel, kFlatW, Comb, Blend, Depth, Chroma>;
    // The show's own combines of texel and iterated colour get a kernel without the clamp.
    constexpr bool inRange = Comb == kModulate || Comb == kModulateAddAlpha || Comb == kAddTexture;
    constexpr Kernel flatInRange =
        inRange ? &shadeSpans<Tex, kFixedLevel, kFlatWInRange, Comb, Blend, Depth, Chroma>
                : nullptr;
    if constexpr (Tex == kNoTexture)
        return {{steep, flat}, steep, flatInRange};
    else
        return {{steep, flat},
                &shadeSpans<Tex, kPerPixelLevel, kSlopedW, Comb, Blend, Depth, Chroma>,
                flatInRange};
}

// Every state: the general kernels.
constexpr KernelSet kAnyState[3] = {
    kernelSet<kNoTexture, kCombineAny, kBlendAny, kDepthAny, kChromaAny>(),
    kernelSet<kPointSampled, kCombineAny, kBlendAny, kDepthAny, kChromaAny>(),
    kernelSet<kBilinear, kCombineAny, kBlendAny, kDepthAny, kChromaAny>(),
};
// The show's own states: opaque filtered surfaces, additive keyed text, flat shading.
template <int Comb, int Blend, int Chroma>
constexpr KernelSet withZeroAlpha(const KernelSet* zeroAlpha) {
    KernelSet set = kernelSet<kBilinear, Comb, Blend, kWLessWrite, Chroma>();
    set.zeroAlpha = zeroAlpha;
    return set;
}
// An opaque filtered surface that may be drawn in a pending clear's place (the backdrop).
template <int Comb>
constexpr KernelSet withOverwrite(KernelSet set) {
    set.overwrite[0] =
        &shadeSpans<kBilinear, kFixedLevel, kFlatW, Comb, kReplace, kWOverwrite, kChromaOff>;
    set.overwrite[1] =
        &shadeSpans<kBilinear, kFixedLevel, kFlatWInRange, Comb, kReplace, kWOverwrite, kChromaOff>;
    return set;
}
constexpr KernelSet kSurfaceModulate =
    withOverwrite<kModulate>(kernelSet<kBilinear, kModulate, kReplace, kWLessWrite, kChromaOff>());
constexpr KernelSet kSurfaceModulateAddAlpha = withOverwrite<kModulateAddAlpha>(
    withZeroAlpha<kModulateAddAlpha, kReplace, kChromaOff>(&kSurfaceModulate));
constexpr KernelSet kSurfaceAddTexture =
    kernelSet<kBilinear, kAddTexture, kReplace, kWLessWrite, kChromaOff>();
constexpr KernelSet kTextModulate = kernelSet<kBilinear, kModulate, kAdd, kWLessWrite, kChromaOn>();
constexpr KernelSet kTextModulateAddAlpha =
    withZeroAlpha<kModulateAddAlpha, kAdd, kChromaOn>(&kTextModulate);
constexpr KernelSet kFlatColour =
    kernelSet<kNoTexture, kConstantColour, kReplace, kWLessWrite, kChromaOff>();

const KernelSet* pickKernels(const RenderState& rs, const FastConfig& k) {
    const int tex = !k.texture || !k.haveTexels ? kNoTexture
                    : k.bilinear                ? kBilinear
                                                : kPointSampled;
    const int comb = combineKind(rs);
    const bool replace = rs.blendRgbSrc == GR_BLEND_ONE && rs.blendRgbDst == GR_BLEND_ZERO;
    const bool add = rs.blendRgbSrc == GR_BLEND_ONE && rs.blendRgbDst == GR_BLEND_ONE;
    const bool wLessWrite =
        rs.depthMode == GR_DEPTHBUFFER_WBUFFER && rs.depthFunction == GR_CMP_LESS && rs.depthMask;
    if (wLessWrite && tex == kBilinear) {
        if (replace && !k.chroma) {
            if (comb == kModulateAddAlpha) return &kSurfaceModulateAddAlpha;
            if (comb == kModulate) return &kSurfaceModulate;
            if (comb == kAddTexture) return &kSurfaceAddTexture;
        }
        if (add && k.chroma) {
            if (comb == kModulateAddAlpha) return &kTextModulateAddAlpha;
            if (comb == kModulate) return &kTextModulate;
        }
    }
    if (wLessWrite && tex == kNoTexture && replace && !k.chroma && comb == kConstantColour)
        return &kFlatColour;
    return &kAnyState[tex];
}

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

// Planes that evaluate alike at every pixel (a zero of either sign adds alike here: the
// channel is clamped at zero).
bool samePlane(const Plane& p, const Plane& q) {
    return p.c0 == q.c0 && p.dx == q.dx && p.dy == q.dy;
}

// True when every covered pixel's s and t, times the largest level's scale, stay below 2^22 in
// magnitude (with room for round-off), so that safe addressing gives the reference's texels
// and weights. s/w and t/w are bounded over the triangle's bounds by their planes; 1/w at a
// covered pixel is the plane's own value for a flat w, and otherwise at least the smallest
// vertex 1/w less the round-off of the plane.
bool safeCoordinates(const TriangleSetup& su, float texScale, bool flat, float invW) {
    const double fx = double(su.maxX - su.xRef) + 8.0, fy = double(su.maxY - su.yRef);
    auto extent = [&](const Plane& p) {
        return std::fabs(double(p.c0)) + std::fabs(double(p.dy)) * fy +
               std::fabs(double(p.dx)) * fx;
    };
    double inverse;  // at least 1/w at every covered pixel
    if (flat) {
        inverse = std::fabs(double(invW));
    } else {
        const double lowest = double(su.minOow) - 1e-6 * extent(su.w);
        if (!(lowest > 0.0)) return false;
        inverse = 1.0 / lowest;
    }
    const double limit = 4194304.0 / (1.001 * double(texScale));
    // NaN fails the comparisons as well.
    return extent(su.s) * inverse < limit && extent(su.t) * inverse < limit;
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
void drawSpans(Kernel kernel, const FastConfig& k, const TriangleSetup& su, TriangleConsts tc) {
    if (!bandsOn()) {
        kernel(k, su, tc);
        return;
    }
    const unsigned mine = callerBands();
    // The bands of the turn that the triangle's rows reach.
    const int first = su.minY >> kBandShift, last = (su.maxY - 1) >> kBandShift;
    unsigned reached = 0;
    for (int b = first; b <= last && reached != kAllBands; ++b) reached |= 1u << (b & 7);
    if (reached & ~mine) {
        QueuedTriangle q{kernel, &k, su, tc};
        q.consts.bands = (reached & mine) ? ~mine & kAllBands : kAllBands;
        // A triangle with many pixels goes over at once, so the second thread starts on it
        // while this one shades its own share; small ones go over in batches.
        const bool urgent = (su.maxX - su.minX) * (su.maxY - su.minY) >= kUrgentArea;
        configTicket[currentPlace] = queueBandJob(runQueuedTriangle, &q, sizeof q, urgent);
    }
    if (reached & mine) {
        tc.bands = (reached & ~mine) ? mine : kAllBands;
        kernel(k, su, tc);
    }
}

}  // namespace

bool narrowSpans(const TriangleSetup& setup, std::int16_t (*span)[2]) {
    return hasAvx2() && narrowSpansVector(setup, span);
}

void shadeTriangleFast(const TriangleSetup& setup) {
    const FastConfig& k = currentConfig();
    if (!k.vector) {
        shadeTriangleReference(setup);
        return;
    }
    TriangleConsts tc;
    const bool flat = flatW(setup);
    if (flat) {
        tc.invW = 1.0f / setup.w.c0;
        tc.depth = wDepth(setup.w.c0);
    }
    tc.safe = k.texture && safeCoordinates(setup, k.texScale, flat, tc.invW);
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
        drawSpans(kernels.perPixelLevel, k, setup, tc);
        return;
    }
    useLevel(k, triangleLevel(k, setup, tc.invW), &tc);
    drawSpans(flatKernel(kernels, setup, overwrite), k, setup, tc);
}

}  // namespace glide

// The optimised per-pixel stage: the render state is turned into a kernel choice once per state
// change, each triangle into a few per-triangle constants, and spans are shaded eight pixels at
// a time with AVX2 when the processor has it. Every step repeats the reference stage's
// arithmetic exactly, so the pictures match.
#include <immintrin.h>

#include <algorithm>
#include <cmath>

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
// kOneLevel: the largest level only. kPerPixelLevel: each pixel picks its level from its own
// rate of change of texel coordinates. kTriangleLevel: 1/w is the same across the triangle and
// every texture coordinate is finite, so that rate, and the level, is the same at every pixel.
enum LevelMode { kOneLevel, kPerPixelLevel, kTriangleLevel };
enum CombineKind {
    kCombineAny,
    kModulateAddAlpha,  // texel x iterated colour + iterated alpha (the scenes' objects)
    kModulate,          // texel x iterated colour (the board's usual setting, the pages' text)
    kAddTexture,        // texel + iterated colour (highlights)
    kConstantColour,    // the constant colour (flat shading)
};
enum BlendKind { kBlendAny, kReplace, kAdd };
enum DepthKind { kDepthAny, kWLessWrite };
enum ChromaKind { kChromaAny, kChromaOff, kChromaOn };

struct FastConfig;
struct TriangleConsts;
typedef void (*Kernel)(const FastConfig&, const TriangleSetup&, const TriangleConsts&);

// The kernels of one state combination for each way a triangle can address its texture;
// `flat[1]` is for triangles whose 1/w is the same at every pixel.
struct KernelSet {
    Kernel oneLevel[2];
    Kernel perPixelLevel;
    Kernel triangleLevel;
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
    // The level of a kTriangleLevel triangle and that level's addressing.
    int level = 0;
    float scale = 1;  // texels of that level per coordinate unit
    std::int32_t widthMask = 0, heightMask = 0, stride = 0, base = 0;
};

FastConfig config;
std::uint64_t configSerial = ~std::uint64_t(0), configTextureSerial = ~std::uint64_t(0);

bool hasAvx2() {
    static const bool available = __builtin_cpu_supports("avx2");
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

void buildConfig() {
    const RenderState& rs = board.state;
    FastConfig& k = config;
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
        buildConfig();
        configSerial = board.state.serial;
        configTextureSerial = board.textureSerial;
    }
    return config;
}

// --- eight pixels at a time ---------------------------------------------------------------------

#define AVX2 __attribute__((target("avx2")))
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
// A per-lane value 0..255 in both halves.
AVX2 INLINE __m256i both(__m256i v) {
    return _mm256_or_si256(v, _mm256_slli_epi32(v, 16));
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
    __m256 texScale, texScale2;
    __m256 flatInvW;
    __m256i flatDepth;
    // Addressing of a triangle's one level (kOneLevel, kTriangleLevel).
    __m256 scale;
    __m256i widthMask, heightMask, stride, base, lastLevel;
    __m256i constRB, constG, keyRB, keyG;
    // Constants.
    __m256 zero, f255, f65535, limit, minusLimit, half, f256, one, eight, lane;
    __m256i pairMask, lowMask, pairRound, pair256, depthBase, depthMax, lodBias, seven, minusOne,
        five, six, ditherMul5, ditherMul6, izero;
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
    v->texScale2 = hiddenFloat(k.texScale2);
    v->flatInvW = hiddenFloat(tc.invW);
    v->flatDepth = hiddenInt(tc.depth);
    v->scale = hiddenFloat(tc.scale);
    v->widthMask = hiddenInt(tc.widthMask);
    v->heightMask = hiddenInt(tc.heightMask);
    v->stride = hiddenInt(tc.stride);
    v->base = hiddenInt(tc.base);
    v->lastLevel = hiddenInt(k.levels - 1);
    v->constRB = hiddenInt(k.constant.r << 16 | k.constant.b);
    v->constG = hiddenInt(k.constant.g);
    v->keyRB = hiddenInt(k.key.r << 16 | k.key.b);
    v->keyG = hiddenInt(k.key.g);
    v->zero = hiddenFloat(0.0f);
    v->f255 = hiddenFloat(255.0f);
    v->f65535 = hiddenFloat(65535.0f);
    v->limit = hiddenFloat(8388608.0f);
    v->minusLimit = hiddenFloat(-8388608.0f);
    v->half = hiddenFloat(0.5f);
    v->f256 = hiddenFloat(256.0f);
    v->one = hiddenFloat(1.0f);
    v->eight = hiddenFloat(8.0f);
    v->lane = hidden(_mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7));
    v->pairMask = hiddenInt(0x00FF00FF);
    v->lowMask = hiddenInt(0xFF);
    v->pairRound = hiddenInt(0x00800080);
    v->pair256 = hiddenInt(0x01000100);
    v->depthBase = hiddenInt(520192);
    v->depthMax = hiddenInt(0xFFFF);
    v->lodBias = hiddenInt(126);
    v->seven = hiddenInt(7);
    v->minusOne = hiddenInt(-1);
    v->five = hiddenInt(31);
    v->six = hiddenInt(63);
    v->ditherMul5 = hiddenInt(31 << 16 | 31);
    v->ditherMul6 = hiddenInt(63 << 16 | 63);
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

// (x0 * (256 - w) + x1 * w) >> 8 on pairs; w and inverse are weights in both halves.
AVX2 INLINE __m256i lerpPair(__m256i x0, __m256i x1, __m256i w, __m256i inverse) {
    return _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(x0, inverse), _mm256_mullo_epi16(x1, w)), 8);
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
// shift makes a negative or negative-NaN rho2 come out below zero, so level 0).
AVX2 INLINE __m256i levelOfLanes(const Vectors& c, __m256 s, __m256 t, __m256 invW) {
    const __m256 dsdx = _mm256_mul_ps(_mm256_sub_ps(c.sdx, _mm256_mul_ps(s, c.wdx)), invW);
    const __m256 dtdx = _mm256_mul_ps(_mm256_sub_ps(c.tdx, _mm256_mul_ps(t, c.wdx)), invW);
    const __m256 dsdy = _mm256_mul_ps(_mm256_sub_ps(c.sdy, _mm256_mul_ps(s, c.wdy)), invW);
    const __m256 dtdy = _mm256_mul_ps(_mm256_sub_ps(c.tdy, _mm256_mul_ps(t, c.wdy)), invW);
    const __m256 rx = _mm256_add_ps(_mm256_mul_ps(dsdx, dsdx), _mm256_mul_ps(dtdx, dtdx));
    const __m256 ry = _mm256_add_ps(_mm256_mul_ps(dsdy, dsdy), _mm256_mul_ps(dtdy, dtdy));
    const __m256 rho2 = _mm256_mul_ps(_mm256_max_ps(rx, ry), c.texScale2);
    const __m256i level = _mm256_srai_epi32(
        _mm256_sub_epi32(_mm256_srai_epi32(_mm256_castps_si256(rho2), 23), c.lodBias), 1);
    return _mm256_min_epi32(_mm256_max_epi32(level, c.izero), c.lastLevel);
}

// The texel of each lane as red|blue and alpha|green pairs.
template <int Tex, int Level>
AVX2 INLINE Pairs sampleTexture(const FastConfig& k, const Vectors& c, __m256 s, __m256 t,
                                __m256 invW) {
    __m256 scale;
    __m256i widthMask, heightMask, stride, base;
    if (Level == kPerPixelLevel) {
        const __m256i level = levelOfLanes(c, s, t, invW);
        // texScale / 2^level, exactly, by lowering the exponent.
        scale = _mm256_castsi256_ps(
            _mm256_sub_epi32(_mm256_castps_si256(c.texScale), _mm256_slli_epi32(level, 23)));
        const __m256i isLevel8 = _mm256_cmpgt_epi32(level, c.seven);
        widthMask = levelLookup(k.widthMask, k.widthMask8, level, isLevel8);
        heightMask = levelLookup(k.heightMask, k.heightMask8, level, isLevel8);
        stride = levelLookup(k.stride, k.stride8, level, isLevel8);
        base = levelLookup(k.base, k.base8, level, isLevel8);
    } else {
        scale = c.scale;
        widthMask = c.widthMask;
        heightMask = c.heightMask;
        stride = c.stride;
        base = c.base;
    }
    __m256 u = _mm256_mul_ps(s, scale), v = _mm256_mul_ps(t, scale);
    // Limits keep the float-to-integer steps exact.
    if (Tex == kPointSampled) {
        const __m256i x = addressAxis(c,
                                      _mm256_cvttps_epi32(_mm256_floor_ps(
                                          _mm256_min_ps(_mm256_max_ps(u, c.minusLimit), c.limit))),
                                      widthMask, k.clampS);
        const __m256i y = addressAxis(c,
                                      _mm256_cvttps_epi32(_mm256_floor_ps(
                                          _mm256_min_ps(_mm256_max_ps(v, c.minusLimit), c.limit))),
                                      heightMask, k.clampT);
        const __m256i texel = gatherTexels(
            k.entries, _mm256_add_epi32(base, _mm256_add_epi32(_mm256_mullo_epi32(y, stride), x)));
        return {lowPairs(c, texel), highPairs(texel)};
    }
    // Texel centres sit at half-integers.
    u = _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(u, c.half), c.minusLimit), c.limit);
    v = _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(v, c.half), c.minusLimit), c.limit);
    const __m256 u0 = _mm256_floor_ps(u), v0 = _mm256_floor_ps(v);
    const __m256i fu = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(u, u0), c.f256));
    const __m256i fv = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(v, v0), c.f256));
    const __m256i x0 = addressPair(c, _mm256_cvttps_epi32(u0), widthMask, k.clampS);
    const __m256i y0 = addressPair(c, _mm256_cvttps_epi32(v0), heightMask, k.clampT);
    const __m256i index =
        _mm256_add_epi32(_mm256_add_epi32(base, x0), _mm256_mullo_epi32(y0, stride));
    __m256i t00, t10, t01, t11;
    gatherFootprints(k.entries, index, &t00, &t10, &t01, &t11);
    const __m256i wu = both(fu), wv = both(fv);
    const __m256i iu = _mm256_sub_epi16(c.pair256, wu), iv = _mm256_sub_epi16(c.pair256, wv);
    const __m256i topRB = lerpPair(lowPairs(c, t00), lowPairs(c, t10), wu, iu);
    const __m256i bottomRB = lerpPair(lowPairs(c, t01), lowPairs(c, t11), wu, iu);
    const __m256i topAG = lerpPair(highPairs(t00), highPairs(t10), wu, iu);
    const __m256i bottomAG = lerpPair(highPairs(t01), highPairs(t11), wu, iu);
    return {lerpPair(topRB, bottomRB, wv, iv), lerpPair(topAG, bottomAG, wv, iv)};
}

// The alpha of alpha|green pairs in both halves.
AVX2 INLINE __m256i alphaOfPairs(const Pairs& p) {
    return both(_mm256_srli_epi32(p.ag, 16));
}

// x * f / 255 rounded, on pairs of 0..255 values.
AVX2 INLINE __m256i mul255Pair(const Vectors& c, __m256i x, __m256i f) {
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, f), c.pairRound);
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
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

// Shades pixels [x, x + 8) of a row whose colour and depth live at `color` and `depth`, at
// offsets fx from the triangle's reference pixel; only lanes set in `valid` are written.
template <int Tex, int Level, bool Flat, int Comb, int Blend, int Depth, int Chroma>
AVX2 INLINE void shadeGroup(const FastConfig& k, const Vectors& c, const RowState& row, __m256 fx,
                            std::uint16_t* color, std::uint16_t* depth, __m256i valid) {
    __m256i mask = valid;

    __m256 w = c.zero;
    bool haveW = false;
    __m256i depthValue = c.izero;
    if (Depth == kWLessWrite || k.depthOn) {
        if (Depth == kWLessWrite || k.depthWBuffer) {
            if (Flat) {
                depthValue = c.flatDepth;
            } else {
                w = evalPlane(row.w, c.wdx, fx);
                haveW = true;
                depthValue = wDepthVector(c, w);
            }
        } else {
            depthValue = _mm256_cvttps_epi32(
                _mm256_min_ps(_mm256_max_ps(evalPlane(row.z, c.zdx, fx), c.zero), c.f65535));
        }
        if (Depth == kWLessWrite)
            mask = _mm256_and_si256(mask, _mm256_cmpgt_epi32(load8(depth), depthValue));
        else
            mask = _mm256_and_si256(mask, depthPass(k.depthFunction, depthValue, load8(depth)));
        if (_mm256_testz_si256(mask, mask)) return;
    }

    Pairs tex{c.izero, c.izero};
    if (Tex != kNoTexture) {
        __m256 invW;
        if (Flat) {
            invW = c.flatInvW;
        } else {
            if (!haveW) w = evalPlane(row.w, c.wdx, fx);
            invW = _mm256_div_ps(c.one, w);
        }
        const __m256 s = _mm256_mul_ps(evalPlane(row.s, c.sdx, fx), invW);
        const __m256 t = _mm256_mul_ps(evalPlane(row.t, c.tdx, fx), invW);
        tex = sampleTexture<Tex, Level>(k, c, s, t, invW);
    }

    // Iterated colour as pairs, as far as the combine reads it.
    constexpr bool needRGB = Comb != kConstantColour;
    const bool needAlpha =
        Comb == kModulateAddAlpha || (Comb == kCombineAny && k.needIteratedAlpha);
    Pairs iter{c.izero, c.izero};
    __m256i ia = c.izero;
    if (needRGB) {
        const __m256i ir = iterated(c, evalPlane(row.r, c.rdx, fx));
        const __m256i ig = iterated(c, evalPlane(row.g, c.gdx, fx));
        const __m256i ib = iterated(c, evalPlane(row.b, c.bdx, fx));
        if (needAlpha) ia = iterated(c, evalPlane(row.a, c.adx, fx));
        iter = {_mm256_or_si256(_mm256_slli_epi32(ir, 16), ib),
                needAlpha ? _mm256_or_si256(_mm256_slli_epi32(ia, 16), ig) : ig};
    }

    // The combined colour: red|blue pairs and green in the low half of `g`.
    __m256i rb, g;
    __m256i srcAlpha = c.izero;
    if (Comb == kModulateAddAlpha) {
        const __m256i add = both(ia);
        rb = _mm256_min_epi16(_mm256_add_epi16(mul255Pair(c, tex.rb, iter.rb), add), c.pairMask);
        g = _mm256_min_epi16(_mm256_add_epi16(mul255Pair(c, tex.ag, iter.ag), add), c.pairMask);
    } else if (Comb == kModulate) {
        rb = mul255Pair(c, tex.rb, iter.rb);
        g = mul255Pair(c, tex.ag, iter.ag);
    } else if (Comb == kAddTexture) {
        rb = _mm256_min_epi16(_mm256_add_epi16(tex.rb, iter.rb), c.pairMask);
        g = _mm256_min_epi16(_mm256_add_epi16(tex.ag, iter.ag), c.pairMask);
    } else if (Comb == kConstantColour) {
        rb = c.constRB;
        g = c.constG;
    } else {
        const Pairs constant{c.constRB, pairOf(k.constant.a, k.constant.g)};
        auto select = [&](int source) -> const Pairs* {
            if (source == GR_COMBINE_OTHER_TEXTURE) return &tex;
            if (source == GR_COMBINE_OTHER_CONSTANT) return &constant;
            return &iter;
        };
        const __m256i zero = c.izero;
        const __m256i localAlpha = !k.needLocalAlpha ? zero
                                   : k.alpha.local == GR_COMBINE_LOCAL_CONSTANT
                                       ? pairOf(k.constant.a, k.constant.a)
                                       : both(ia);
        const __m256i otherAlpha = k.needOtherAlpha ? alphaOfPairs(*select(k.alpha.other)) : zero;
        const __m256i textureAlpha = k.needTextureAlpha ? alphaOfPairs(tex) : zero;
        const Pairs& local = k.color.local == GR_COMBINE_LOCAL_CONSTANT ? constant : iter;
        const Pairs& other = *select(k.color.other);

        CombineInputs in{local.rb, other.rb, localAlpha, otherAlpha, textureAlpha};
        rb = combinePair(c, k.color, in);
        // Green goes through in the low half of alpha|green; the high half is not used.
        in.local = _mm256_and_si256(local.ag, c.lowMask);
        in.other = _mm256_and_si256(other.ag, c.lowMask);
        g = combinePair(c, k.color, in);
        if (k.alphaNeeded) {
            CombineInputs a{localAlpha, otherAlpha, localAlpha, otherAlpha, textureAlpha};
            srcAlpha = combinePair(c, k.alpha, a);
        }
        if (Chroma == kChromaAny && k.chroma) {
            const __m256i keyed =
                _mm256_and_si256(_mm256_cmpeq_epi32(other.rb, c.keyRB),
                                 _mm256_cmpeq_epi32(_mm256_and_si256(other.ag, c.lowMask), c.keyG));
            mask = _mm256_andnot_si256(keyed, mask);
            if (_mm256_testz_si256(mask, mask)) return;
        }
    }
    if (Chroma == kChromaOn) {
        // The key is compared with the texel, the "other" colour of the texture combines.
        const __m256i keyed =
            _mm256_and_si256(_mm256_cmpeq_epi32(tex.rb, c.keyRB),
                             _mm256_cmpeq_epi32(_mm256_and_si256(tex.ag, c.lowMask), c.keyG));
        mask = _mm256_andnot_si256(keyed, mask);
        if (_mm256_testz_si256(mask, mask)) return;
    }

    const bool replace = Blend == kReplace || (Blend == kBlendAny && k.blendSrc == GR_BLEND_ONE &&
                                               k.blendDst == GR_BLEND_ZERO);
    if (!replace) {
        const __m256i dst = load8(color);
        const __m256i d5 = _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(dst, 11), 16),
                                           _mm256_and_si256(dst, c.five));
        const __m256i dRB = expand5Pair(d5);
        const __m256i dG = expand6Pair(_mm256_and_si256(_mm256_srli_epi32(dst, 5), c.six));
        g = _mm256_and_si256(g, c.lowMask);
        if (Blend == kAdd) {
            rb = _mm256_min_epi16(_mm256_add_epi16(rb, dRB), c.pairMask);
            g = _mm256_min_epi16(_mm256_add_epi16(g, dG), c.pairMask);
        } else {
            rb = blendPair(c, k.blendSrc, k.blendDst, rb, dRB, srcAlpha);
            g = blendPair(c, k.blendSrc, k.blendDst, g, dG, srcAlpha);
        }
    }

    const __m128i mask16 =
        _mm_packs_epi32(_mm256_castsi256_si128(mask), _mm256_extracti128_si256(mask, 1));
    store8(color, ditherToPixels(c, rb, g, row.ditherRB, row.ditherG), mask16);
    if (Depth == kWLessWrite || k.depthWrite) store8(depth, depthValue, mask16);
}

template <int Tex, int Level, bool Flat, int Comb, int Blend, int Depth, int Chroma>
AVX2 void shadeSpans(const FastConfig& config, const TriangleSetup& setup,
                     const TriangleConsts& consts) {
    // Local copies: the pixel stores cannot touch them, so their values stay in registers.
    const FastConfig k = config;
    const TriangleSetup su = setup;
    const TriangleConsts tc = consts;
    Vectors c;
    makeVectors(k, su, tc, &c);
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    std::uint16_t* const colorBuffer = backBuffer();
    std::uint16_t* const depthBuffer = board.depth.data();
    SpanWalker walker(su);
    for (int y = su.minY; y < su.maxY; ++y, walker.next()) {
        int x0, x1;
        walker.span(&x0, &x1);
        if (x0 >= x1) continue;
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
        row.ditherRB =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&kDitherRows.rb[y & 3][x0 & 3]));
        row.ditherG =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&kDitherRows.g[y & 3][x0 & 3]));
        const int offset = (kHeight - 1 - y) * kWidth;
        std::uint16_t* color = colorBuffer + offset;
        std::uint16_t* depth = depthBuffer + offset;
        // Pixel offsets from the reference pixel are small integers: adding 8 stays exact.
        __m256 fx = _mm256_add_ps(broadcast(float(x0 - su.xRef)), c.lane);
        int x = x0;
        for (; x + 8 <= x1; x += 8, fx = _mm256_add_ps(fx, c.eight))
            shadeGroup<Tex, Level, Flat, Comb, Blend, Depth, Chroma>(k, c, row, fx, color + x,
                                                                     depth + x, c.minusOne);
        if (x < x1 && x + 8 <= kWidth) {
            // Lanes past the span read their pixels and store them back unchanged.
            shadeGroup<Tex, Level, Flat, Comb, Blend, Depth, Chroma>(
                k, c, row, fx, color + x, depth + x, _mm256_cmpgt_epi32(broadcasti(x1 - x), lane));
        } else if (x < x1) {
            // At the right edge of the buffer the last pixels go through a copy, so nothing
            // past the row is read.
            const int n = x1 - x;
            alignas(16) std::uint16_t cc[8] = {}, d[8] = {};
            std::copy(color + x, color + x1, cc);
            std::copy(depth + x, depth + x1, d);
            shadeGroup<Tex, Level, Flat, Comb, Blend, Depth, Chroma>(
                k, c, row, fx, cc, d, _mm256_cmpgt_epi32(broadcasti(n), lane));
            std::copy(cc, cc + n, color + x);
            std::copy(d, d + n, depth + x);
        }
    }
}

template <int Tex, int Comb, int Blend, int Depth, int Chroma>
constexpr KernelSet kernelSet() {
    if constexpr (Tex == kNoTexture) {
        constexpr Kernel steep = &shadeSpans<Tex, kOneLevel, false, Comb, Blend, Depth, Chroma>;
        return {
            {steep, &shadeSpans<Tex, kOneLevel, true, Comb, Blend, Depth, Chroma>}, steep, steep};
    } else {
        return {{&shadeSpans<Tex, kOneLevel, false, Comb, Blend, Depth, Chroma>,
                 &shadeSpans<Tex, kOneLevel, true, Comb, Blend, Depth, Chroma>},
                &shadeSpans<Tex, kPerPixelLevel, false, Comb, Blend, Depth, Chroma>,
                &shadeSpans<Tex, kTriangleLevel, true, Comb, Blend, Depth, Chroma>};
    }
}

// Every state: the general kernels.
constexpr KernelSet kAnyState[3] = {
    kernelSet<kNoTexture, kCombineAny, kBlendAny, kDepthAny, kChromaAny>(),
    kernelSet<kPointSampled, kCombineAny, kBlendAny, kDepthAny, kChromaAny>(),
    kernelSet<kBilinear, kCombineAny, kBlendAny, kDepthAny, kChromaAny>(),
};
// The show's own states: opaque filtered surfaces, additive keyed text, flat shading.
constexpr KernelSet kSurfaceModulateAddAlpha =
    kernelSet<kBilinear, kModulateAddAlpha, kReplace, kWLessWrite, kChromaOff>();
constexpr KernelSet kSurfaceModulate =
    kernelSet<kBilinear, kModulate, kReplace, kWLessWrite, kChromaOff>();
constexpr KernelSet kSurfaceAddTexture =
    kernelSet<kBilinear, kAddTexture, kReplace, kWLessWrite, kChromaOff>();
constexpr KernelSet kTextModulateAddAlpha =
    kernelSet<kBilinear, kModulateAddAlpha, kAdd, kWLessWrite, kChromaOn>();
constexpr KernelSet kTextModulate = kernelSet<kBilinear, kModulate, kAdd, kWLessWrite, kChromaOn>();
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

// Addressing of one level for the kernels that read a single level.
void useLevel(const FastConfig& k, int level, TriangleConsts* tc) {
    tc->level = level;
    tc->scale = k.texScale / float(1 << level);
    tc->widthMask = level < 8 ? k.widthMask[level] : k.widthMask8;
    tc->heightMask = level < 8 ? k.heightMask[level] : k.heightMask8;
    tc->stride = level < 8 ? k.stride[level] : k.stride8;
    tc->base = level < 8 ? k.base[level] : k.base8;
}

}  // namespace

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
    const KernelSet& kernels = *k.kernels;
    if (!k.mipmap) {
        useLevel(k, 0, &tc);
        kernels.oneLevel[flat](k, setup, tc);
        return;
    }
    if (!flat || !finiteCoordinates(setup, tc.invW)) {
        kernels.perPixelLevel(k, setup, tc);
        return;
    }
    useLevel(k, std::min(triangleLevel(k, setup, tc.invW) + 1, k.levels - 1), &tc);
    kernels.triangleLevel(k, setup, tc);
}

}  // namespace glide

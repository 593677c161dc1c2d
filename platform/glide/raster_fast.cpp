// The optimised per-pixel stage: the render state is turned into a kernel configuration once
// per state change, and spans are shaded eight pixels at a time with AVX2 when the processor
// has it. Every step repeats the reference stage's arithmetic exactly, so the pictures match.
#include <immintrin.h>

#include <algorithm>

#include "raster.h"

namespace glide {

namespace {

struct FastConfig {
    bool vector = false;  // false: this state goes through the reference stage

    bool depthOn = false, depthWBuffer = false, depthWrite = false;
    int depthFunction = GR_CMP_ALWAYS;

    bool texture = false;     // the colour path reads texels
    bool haveTexels = false;  // a valid texture is selected
    bool bilinear = false, mipmap = false;
    bool clampS = false, clampT = false;
    int levels = 1;
    float texScale = 1, texScale2 = 1;
    const std::uint32_t* texels = nullptr;
    // Per level: width mask, height mask, row stride and offset of the decoded copy. Levels
    // 0..7 in the vectors, level 8 (the 1x1 level of a 256 texture) separately.
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

FastConfig config;
std::uint64_t configSerial = ~std::uint64_t(0), configTextureSerial = ~std::uint64_t(0);

bool hasAvx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

bool blendUsesSrcAlpha(int f) {
    return f == GR_BLEND_SRC_ALPHA || f == GR_BLEND_ONE_MINUS_SRC_ALPHA;
}

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
            k.texels = view.decoded;
            for (int l = 0; l < 8; ++l) {
                const TextureLevel& lv = view.level[std::min(l, view.levels - 1)];
                k.widthMask[l] = lv.width - 1;
                k.heightMask[l] = lv.height - 1;
                k.stride[l] = lv.stride;
                k.base[l] = std::int32_t(lv.decodedOffset);
            }
            const TextureLevel& last = view.level[view.levels - 1];
            k.widthMask8 = last.width - 1;
            k.heightMask8 = last.height - 1;
            k.stride8 = last.stride;
            k.base8 = std::int32_t(last.decodedOffset);
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

// Vectors of eight lanes hold either floats, 32-bit integers, or a "pair": two 8-bit channel
// values in the two 16-bit halves of each lane (red|blue, or alpha|green, as in 0xAARRGGBB).

AVX2 inline __m256 broadcast(float v) {
    return _mm256_set1_ps(v);
}
AVX2 inline __m256i broadcasti(int v) {
    return _mm256_set1_epi32(v);
}
AVX2 inline __m256i pairOf(int hi, int lo) {
    return _mm256_set1_epi32(hi << 16 | lo);
}
// A per-lane value 0..255 in both halves.
AVX2 inline __m256i both(__m256i v) {
    return _mm256_or_si256(v, _mm256_slli_epi32(v, 16));
}

// The attributes' values at the start of a row: c0 + dy * (y - yRef), as the reference has it.
struct RowValues {
    float r, g, b, a, w, s, t, z;
};
inline RowValues rowValues(const TriangleSetup& su, float fy) {
    auto at = [fy](const Plane& p) { return p.c0 + p.dy * fy; };
    return {at(su.r), at(su.g), at(su.b), at(su.a), at(su.w), at(su.s), at(su.t), at(su.z)};
}

AVX2 inline __m256 evalPlane(const Plane& p, float row, __m256 fx) {
    return _mm256_add_ps(broadcast(row), _mm256_mul_ps(broadcast(p.dx), fx));
}

AVX2 inline __m256 clampf(__m256 v, float lo, float hi) {
    // max/min give the second operand for NaN, as maxf/minf do.
    return _mm256_min_ps(_mm256_max_ps(v, broadcast(lo)), broadcast(hi));
}

AVX2 inline __m256i iterated(__m256 v) {
    return _mm256_cvttps_epi32(clampf(v, 0.0f, 255.0f));
}

AVX2 inline __m256i wDepthVector(__m256 w) {
    const __m256i bits = _mm256_castps_si256(w);
    const __m256i biased = _mm256_srli_epi32(bits, 23);
    const __m256i e = _mm256_sub_epi32(broadcasti(126), biased);
    const __m256i below = _mm256_and_si256(_mm256_srli_epi32(bits, 11), broadcasti(0xFFF));
    __m256i depth = _mm256_add_epi32(
        _mm256_or_si256(_mm256_slli_epi32(e, 12), _mm256_xor_si256(below, broadcasti(0xFFF))),
        broadcasti(1));
    depth = _mm256_min_epi32(depth, broadcasti(0xFFFF));
    const __m256i farthest = _mm256_or_si256(_mm256_cmpgt_epi32(broadcasti(1), bits),
                                             _mm256_cmpgt_epi32(broadcasti(111), biased));
    depth = _mm256_blendv_epi8(depth, broadcasti(0xFFFF), farthest);
    const __m256i nearest = _mm256_cmpgt_epi32(bits, broadcasti(0x3F7FFFFF));
    return _mm256_andnot_si256(nearest, depth);
}

AVX2 inline __m256i depthPass(int function, __m256i depth, __m256i stored) {
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
AVX2 inline __m256i levelLookup(const std::int32_t* table, std::int32_t value8, __m256i level) {
    const __m256i low = _mm256_permutevar8x32_epi32(
        _mm256_load_si256(reinterpret_cast<const __m256i*>(table)), level);
    return _mm256_blendv_epi8(low, broadcasti(value8), _mm256_cmpgt_epi32(level, broadcasti(7)));
}

AVX2 inline __m256i addressAxis(__m256i i, __m256i mask, bool clamp) {
    if (clamp) return _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()), mask);
    return _mm256_and_si256(i, mask);
}

AVX2 inline __m256i gatherTexels(const std::uint32_t* texels, __m256i index) {
    alignas(32) std::int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    __m128i lo = _mm_cvtsi32_si128(int(texels[at[0]]));
    __m128i hi = _mm_cvtsi32_si128(int(texels[at[4]]));
    lo = _mm_insert_epi32(lo, int(texels[at[1]]), 1);
    hi = _mm_insert_epi32(hi, int(texels[at[5]]), 1);
    lo = _mm_insert_epi32(lo, int(texels[at[2]]), 2);
    hi = _mm_insert_epi32(hi, int(texels[at[6]]), 2);
    lo = _mm_insert_epi32(lo, int(texels[at[3]]), 3);
    hi = _mm_insert_epi32(hi, int(texels[at[7]]), 3);
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// The two side-by-side texels starting at each lane's index: first and second of each pair.
AVX2 inline void gatherPairs(const std::uint32_t* texels, __m256i index, __m256i* first,
                             __m256i* second) {
    // Plain loads beat the gather instruction on the processors at hand: each lane's pair is
    // one 64-bit load.
    alignas(32) std::int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    auto two = [texels](std::int32_t a, std::int32_t b) {
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + a)),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + b)));
    };
    const __m256 lo = _mm256_castsi256_ps(
        _mm256_inserti128_si256(_mm256_castsi128_si256(two(at[0], at[1])), two(at[2], at[3]), 1));
    const __m256 hi = _mm256_castsi256_ps(
        _mm256_inserti128_si256(_mm256_castsi128_si256(two(at[4], at[5])), two(at[6], at[7]), 1));
    // Lanes come out as 0 1 4 5 | 2 3 6 7; put them back in order.
    *first = _mm256_permute4x64_epi64(
        _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))), 0xD8);
    *second = _mm256_permute4x64_epi64(
        _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))), 0xD8);
}

// (x0 * (256 - w) + x1 * w) >> 8 on pairs; w and inverse are weights in both halves.
AVX2 inline __m256i lerpPair(__m256i x0, __m256i x1, __m256i w, __m256i inverse) {
    return _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(x0, inverse), _mm256_mullo_epi16(x1, w)), 8);
}

AVX2 inline __m256i lowPairs(__m256i argb) {
    return _mm256_and_si256(argb, broadcasti(0x00FF00FF));
}
AVX2 inline __m256i highPairs(__m256i argb) {
    return _mm256_and_si256(_mm256_srli_epi32(argb, 8), broadcasti(0x00FF00FF));
}

struct Pairs {
    __m256i rb, ag;
};

enum TextureMode { kNoTexture, kPointSampled, kBilinear };

// The texel of each lane as red|blue and alpha|green pairs.
template <int Mode, bool Mip>
AVX2 inline __attribute__((always_inline)) Pairs sampleTexture(const FastConfig& k,
                                                               const TriangleSetup& su, __m256 s,
                                                               __m256 t, __m256 invW) {
    __m256i level = _mm256_setzero_si256();
    __m256 scale = broadcast(k.texScale);
    __m256i widthMask, heightMask, stride, base;
    if (Mip) {
        const __m256 dsdx = _mm256_mul_ps(
            _mm256_sub_ps(broadcast(su.s.dx), _mm256_mul_ps(s, broadcast(su.w.dx))), invW);
        const __m256 dtdx = _mm256_mul_ps(
            _mm256_sub_ps(broadcast(su.t.dx), _mm256_mul_ps(t, broadcast(su.w.dx))), invW);
        const __m256 dsdy = _mm256_mul_ps(
            _mm256_sub_ps(broadcast(su.s.dy), _mm256_mul_ps(s, broadcast(su.w.dy))), invW);
        const __m256 dtdy = _mm256_mul_ps(
            _mm256_sub_ps(broadcast(su.t.dy), _mm256_mul_ps(t, broadcast(su.w.dy))), invW);
        const __m256 rx = _mm256_add_ps(_mm256_mul_ps(dsdx, dsdx), _mm256_mul_ps(dtdx, dtdx));
        const __m256 ry = _mm256_add_ps(_mm256_mul_ps(dsdy, dsdy), _mm256_mul_ps(dtdy, dtdy));
        const __m256 rho2 = _mm256_mul_ps(_mm256_max_ps(rx, ry), broadcast(k.texScale2));
        const __m256i exponent = _mm256_sub_epi32(
            _mm256_and_si256(_mm256_srli_epi32(_mm256_castps_si256(rho2), 23), broadcasti(0x1FF)),
            broadcasti(127));
        level = _mm256_srai_epi32(_mm256_add_epi32(exponent, broadcasti(1)), 1);
        // Negative or NaN: no minification.
        level = _mm256_andnot_si256(_mm256_cmpgt_epi32(exponent, broadcasti(0x100 - 128)), level);
        level = _mm256_min_epi32(_mm256_max_epi32(level, _mm256_setzero_si256()),
                                 broadcasti(k.levels - 1));
        // texScale / 2^level, exactly, by lowering the exponent.
        scale = _mm256_castsi256_ps(
            _mm256_sub_epi32(_mm256_castps_si256(scale), _mm256_slli_epi32(level, 23)));
        widthMask = levelLookup(k.widthMask, k.widthMask8, level);
        heightMask = levelLookup(k.heightMask, k.heightMask8, level);
        stride = levelLookup(k.stride, k.stride8, level);
        base = levelLookup(k.base, k.base8, level);
    } else {
        widthMask = broadcasti(k.widthMask[0]);
        heightMask = broadcasti(k.heightMask[0]);
        stride = broadcasti(k.stride[0]);
        base = broadcasti(k.base[0] + 1);
    }
    if (Mip) base = _mm256_add_epi32(base, broadcasti(1));  // the border texel before each row
    __m256 u = _mm256_mul_ps(s, scale), v = _mm256_mul_ps(t, scale);
    const float limit = 8388608.0f;
    if (Mode == kPointSampled) {
        const __m256i x = addressAxis(
            _mm256_cvttps_epi32(_mm256_floor_ps(clampf(u, -limit, limit))), widthMask, k.clampS);
        const __m256i y = addressAxis(
            _mm256_cvttps_epi32(_mm256_floor_ps(clampf(v, -limit, limit))), heightMask, k.clampT);
        const __m256i texel = gatherTexels(
            k.texels, _mm256_add_epi32(base, _mm256_add_epi32(_mm256_mullo_epi32(y, stride), x)));
        return {lowPairs(texel), highPairs(texel)};
    }
    u = clampf(_mm256_sub_ps(u, broadcast(0.5f)), -limit, limit);
    v = clampf(_mm256_sub_ps(v, broadcast(0.5f)), -limit, limit);
    const __m256 u0 = _mm256_floor_ps(u), v0 = _mm256_floor_ps(v);
    const __m256i fu = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(u, u0), broadcast(256.0f)));
    const __m256i fv = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(v, v0), broadcast(256.0f)));
    const __m256i iu = _mm256_cvttps_epi32(u0), iv = _mm256_cvttps_epi32(v0);
    const __m256i one = broadcasti(1);
    // The pair starts at the first texel: wrapped, or clamped to -1 .. width - 1 where the row
    // borders supply the clamped neighbour.
    const __m256i x0 =
        k.clampS ? _mm256_min_epi32(_mm256_max_epi32(iu, _mm256_set1_epi32(-1)), widthMask)
                 : _mm256_and_si256(iu, widthMask);
    const __m256i row0 =
        _mm256_add_epi32(_mm256_add_epi32(base, x0),
                         _mm256_mullo_epi32(addressAxis(iv, heightMask, k.clampT), stride));
    const __m256i row1 = _mm256_add_epi32(
        _mm256_add_epi32(base, x0),
        _mm256_mullo_epi32(addressAxis(_mm256_add_epi32(iv, one), heightMask, k.clampT), stride));
    __m256i t00, t10, t01, t11;
    gatherPairs(k.texels, row0, &t00, &t10);
    gatherPairs(k.texels, row1, &t01, &t11);
    const __m256i w256 = broadcasti(0x01000100);
    const __m256i wu = both(fu), wv = both(fv);
    const __m256i iu2 = _mm256_sub_epi16(w256, wu), iv2 = _mm256_sub_epi16(w256, wv);
    const __m256i topRB = lerpPair(lowPairs(t00), lowPairs(t10), wu, iu2);
    const __m256i bottomRB = lerpPair(lowPairs(t01), lowPairs(t11), wu, iu2);
    const __m256i topAG = lerpPair(highPairs(t00), highPairs(t10), wu, iu2);
    const __m256i bottomAG = lerpPair(highPairs(t01), highPairs(t11), wu, iu2);
    return {lerpPair(topRB, bottomRB, wv, iv2), lerpPair(topAG, bottomAG, wv, iv2)};
}

// The alpha of alpha|green pairs in both halves.
AVX2 inline __m256i alphaOfPairs(const Pairs& p) {
    return both(_mm256_srli_epi32(p.ag, 16));
}

// x * f / 255 rounded, on pairs of 0..255 values.
AVX2 inline __m256i mul255Pair(__m256i x, __m256i f) {
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, f), broadcasti(0x00800080));
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}
// The same for signed -255..255 values, symmetric about zero.
AVX2 inline __m256i mul255SignedPair(__m256i d, __m256i f) {
    return _mm256_sign_epi16(mul255Pair(_mm256_abs_epi16(d), f), d);
}

struct CombineInputs {
    __m256i local, other, localAlpha, otherAlpha, textureAlpha;  // pairs
};

AVX2 inline __m256i factorPair(int factor, const CombineInputs& in) {
    const __m256i ones = broadcasti(0x00FF00FF);
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

AVX2 inline __attribute__((always_inline)) __m256i combinePair(const Combine& c,
                                                               const CombineInputs& in) {
    const __m256i f = factorPair(c.factor, in);
    __m256i v;
    switch (c.function) {
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
            v = mul255Pair(in.other, f);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL:
            v = _mm256_add_epi16(mul255Pair(in.other, f), in.local);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA:
            v = _mm256_add_epi16(mul255Pair(in.other, f), in.localAlpha);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL:
            v = mul255SignedPair(_mm256_sub_epi16(in.other, in.local), f);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL:
            v = _mm256_add_epi16(mul255SignedPair(_mm256_sub_epi16(in.other, in.local), f),
                                 in.local);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA:
            v = _mm256_add_epi16(mul255SignedPair(_mm256_sub_epi16(in.other, in.local), f),
                                 in.localAlpha);
            break;
        case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL:
            v = _mm256_sub_epi16(in.local, mul255Pair(in.local, f));
            break;
        case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA:
            v = _mm256_sub_epi16(in.localAlpha, mul255Pair(in.local, f));
            break;
        default:
            v = _mm256_setzero_si256();
            break;
    }
    v = _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()), broadcasti(0x00FF00FF));
    if (c.invert) v = _mm256_xor_si256(v, broadcasti(0x00FF00FF));
    return v;
}

AVX2 inline __m256i blendFactorPair(int factor, __m256i src, __m256i srcAlpha) {
    const __m256i ones = broadcasti(0x00FF00FF);
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

AVX2 inline __m256i blendPair(int srcFactor, int dstFactor, __m256i src, __m256i dst,
                              __m256i srcAlpha) {
    const __m256i ones = broadcasti(0x00FF00FF);
    if (srcFactor == GR_BLEND_ONE && dstFactor == GR_BLEND_ZERO) return src;
    if (srcFactor == GR_BLEND_ONE && dstFactor == GR_BLEND_ONE)
        return _mm256_min_epi16(_mm256_add_epi16(src, dst), ones);
    const __m256i s = mul255Pair(src, blendFactorPair(srcFactor, src, srcAlpha));
    const __m256i d = mul255Pair(dst, blendFactorPair(dstFactor, src, srcAlpha));
    return _mm256_min_epi16(_mm256_add_epi16(s, d), ones);
}

// The ordered dither of the tables, in arithmetic: k is the largest step whose expansion is at
// most c; round up where 32 * (c - expand(k)) > threshold * (expand(k + 1) - expand(k)).
AVX2 inline __m256i expand5Pair(__m256i k) {
    return _mm256_or_si256(_mm256_slli_epi16(k, 3), _mm256_srli_epi16(k, 2));
}
AVX2 inline __m256i expand6Pair(__m256i k) {
    return _mm256_or_si256(_mm256_slli_epi16(k, 2), _mm256_srli_epi16(k, 4));
}
AVX2 inline __m256i dither5(__m256i c, __m256i threshold) {
    __m256i k = _mm256_srli_epi16(c, 3);
    k = _mm256_add_epi16(k, _mm256_cmpgt_epi16(expand5Pair(k), c));
    const __m256i e = expand5Pair(k);
    const __m256i gap = _mm256_sub_epi16(expand5Pair(_mm256_add_epi16(k, _mm256_set1_epi16(1))), e);
    const __m256i up = _mm256_cmpgt_epi16(_mm256_slli_epi16(_mm256_sub_epi16(c, e), 5),
                                          _mm256_mullo_epi16(threshold, gap));
    return _mm256_sub_epi16(k, up);
}
AVX2 inline __m256i dither6(__m256i c, __m256i threshold) {
    __m256i k = _mm256_srli_epi16(c, 2);
    k = _mm256_add_epi16(k, _mm256_cmpgt_epi16(expand6Pair(k), c));
    const __m256i e = expand6Pair(k);
    const __m256i gap = _mm256_sub_epi16(expand6Pair(_mm256_add_epi16(k, _mm256_set1_epi16(1))), e);
    const __m256i up = _mm256_cmpgt_epi16(_mm256_slli_epi16(_mm256_sub_epi16(c, e), 5),
                                          _mm256_mullo_epi16(threshold, gap));
    return _mm256_sub_epi16(k, up);
}

AVX2 inline __m256i load8(const std::uint16_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

AVX2 inline void store8(std::uint16_t* p, __m256i values, __m256i mask) {
    const __m128i packed =
        _mm_packus_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
    const __m128i m =
        _mm_packs_epi32(_mm256_castsi256_si128(mask), _mm256_extracti128_si256(mask, 1));
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_blendv_epi8(old, packed, m));
}

// 2M + 1 for the dither matrix entries of a row, repeated so that eight lanes can start at
// any column phase.
struct ThresholdRows {
    std::int32_t row[4][12];
};
constexpr ThresholdRows makeThresholds() {
    ThresholdRows t{};
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 12; ++i) t.row[r][i] = 2 * ditherMatrix[r * 4 + (i & 3)] + 1;
    return t;
}
constexpr ThresholdRows kThresholds = makeThresholds();

// Shades pixels [x, x + 8) of row y whose colour and depth live at `color` and `depth`; only
// lanes set in `valid` are written.
template <int Mode, bool Mip>
AVX2 inline __attribute__((always_inline)) void shadeGroup(const FastConfig& k,
                                                           const TriangleSetup& su, int x, int y,
                                                           const RowValues& rv,
                                                           std::uint16_t* color,
                                                           std::uint16_t* depth, __m256i valid) {
    const __m256 fx = _mm256_cvtepi32_ps(
        _mm256_add_epi32(broadcasti(x - su.xRef), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
    __m256i mask = valid;

    __m256 w = _mm256_setzero_ps();
    bool haveW = false;
    __m256i depthValue = _mm256_setzero_si256();
    if (k.depthOn) {
        if (k.depthWBuffer) {
            w = evalPlane(su.w, rv.w, fx);
            haveW = true;
            depthValue = wDepthVector(w);
        } else {
            depthValue = _mm256_cvttps_epi32(clampf(evalPlane(su.z, rv.z, fx), 0.0f, 65535.0f));
        }
        mask = _mm256_and_si256(mask, depthPass(k.depthFunction, depthValue, load8(depth)));
        if (_mm256_testz_si256(mask, mask)) return;
    }

    Pairs tex{_mm256_setzero_si256(), _mm256_setzero_si256()};
    if (Mode != kNoTexture) {
        if (!haveW) w = evalPlane(su.w, rv.w, fx);
        const __m256 invW = _mm256_div_ps(broadcast(1.0f), w);
        const __m256 s = _mm256_mul_ps(evalPlane(su.s, rv.s, fx), invW);
        const __m256 t = _mm256_mul_ps(evalPlane(su.t, rv.t, fx), invW);
        tex = sampleTexture<Mode, Mip>(k, su, s, t, invW);
    }

    // Iterated colour as pairs.
    const __m256i ir = iterated(evalPlane(su.r, rv.r, fx));
    const __m256i ig = iterated(evalPlane(su.g, rv.g, fx));
    const __m256i ib = iterated(evalPlane(su.b, rv.b, fx));
    const __m256i ia =
        k.needIteratedAlpha ? iterated(evalPlane(su.a, rv.a, fx)) : _mm256_setzero_si256();
    const Pairs iter{_mm256_or_si256(_mm256_slli_epi32(ir, 16), ib),
                     _mm256_or_si256(_mm256_slli_epi32(ia, 16), ig)};
    const Pairs constant{pairOf(k.constant.r, k.constant.b), pairOf(k.constant.a, k.constant.g)};

    auto select = [&](int source) -> const Pairs& {
        if (source == GR_COMBINE_OTHER_TEXTURE) return tex;
        if (source == GR_COMBINE_OTHER_CONSTANT) return constant;
        return iter;
    };
    const __m256i zero = _mm256_setzero_si256();
    const __m256i localAlpha = !k.needLocalAlpha ? zero
                               : k.alpha.local == GR_COMBINE_LOCAL_CONSTANT
                                   ? pairOf(k.constant.a, k.constant.a)
                                   : both(ia);
    const __m256i otherAlpha = k.needOtherAlpha ? alphaOfPairs(select(k.alpha.other)) : zero;
    const __m256i textureAlpha = k.needTextureAlpha ? alphaOfPairs(tex) : zero;
    const Pairs& local = k.color.local == GR_COMBINE_LOCAL_CONSTANT ? constant : iter;
    const Pairs& other = select(k.color.other);

    const __m256i lowMask = broadcasti(0xFF);
    CombineInputs in{local.rb, other.rb, localAlpha, otherAlpha, textureAlpha};
    const __m256i outRB = combinePair(k.color, in);
    // Green goes through in the low half of alpha|green; the high half is not used.
    in.local = _mm256_and_si256(local.ag, lowMask);
    in.other = _mm256_and_si256(other.ag, lowMask);
    const __m256i outG = _mm256_and_si256(combinePair(k.color, in), lowMask);

    __m256i srcAlpha = _mm256_setzero_si256();
    if (k.alphaNeeded) {
        CombineInputs a{localAlpha, otherAlpha, localAlpha, otherAlpha, textureAlpha};
        srcAlpha = combinePair(k.alpha, a);
    }

    if (k.chroma) {
        const __m256i keyed = _mm256_and_si256(
            _mm256_cmpeq_epi32(other.rb, pairOf(k.key.r, k.key.b)),
            _mm256_cmpeq_epi32(_mm256_and_si256(other.ag, lowMask), broadcasti(k.key.g)));
        mask = _mm256_andnot_si256(keyed, mask);
        if (_mm256_testz_si256(mask, mask)) return;
    }

    __m256i rb = outRB, g = outG;
    if (!(k.blendSrc == GR_BLEND_ONE && k.blendDst == GR_BLEND_ZERO)) {
        const __m256i dst = load8(color);
        const __m256i d5 = _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(dst, 11), 16),
                                           _mm256_and_si256(dst, broadcasti(31)));
        const __m256i dRB = expand5Pair(d5);
        const __m256i d6 = _mm256_and_si256(_mm256_srli_epi32(dst, 5), broadcasti(63));
        const __m256i dG = expand6Pair(d6);
        rb = blendPair(k.blendSrc, k.blendDst, outRB, dRB, srcAlpha);
        g = blendPair(k.blendSrc, k.blendDst, outG, dG, srcAlpha);
    }

    // Threshold 2M + 1 of each lane's dither matrix position.
    const __m256i threshold =
        both(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(&kThresholds.row[y & 3][x & 3])));
    const __m256i rb5 = dither5(rb, threshold);
    const __m256i g6 = _mm256_and_si256(dither6(g, threshold), broadcasti(63));
    const __m256i pixel =
        _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(rb5, 5), _mm256_slli_epi32(g6, 5)),
                        _mm256_and_si256(rb5, broadcasti(31)));
    store8(color, pixel, mask);
    if (k.depthWrite) store8(depth, depthValue, mask);
}

template <int Mode, bool Mip>
AVX2 void shadeTriangleAvx2(const FastConfig& config, const TriangleSetup& setup) {
    // Local copies: the pixel stores cannot touch them, so their values stay in registers.
    const FastConfig k = config;
    const TriangleSetup su = setup;
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    std::uint16_t* const colorBuffer = backBuffer();
    std::uint16_t* const depthBuffer = board.depth.data();
    SpanWalker walker(su);
    for (int y = su.minY; y < su.maxY; ++y, walker.next()) {
        int x0, x1;
        walker.span(&x0, &x1);
        if (x0 >= x1) continue;
        const RowValues rv = rowValues(su, float(y - su.yRef));
        const int row = (kHeight - 1 - y) * kWidth;
        std::uint16_t* color = colorBuffer + row;
        std::uint16_t* depth = depthBuffer + row;
        int x = x0;
        for (; x + 8 <= x1; x += 8)
            shadeGroup<Mode, Mip>(k, su, x, y, rv, color + x, depth + x, _mm256_set1_epi32(-1));
        if (x < x1 && x + 8 <= kWidth) {
            // Lanes past the span read their pixels and store them back unchanged.
            shadeGroup<Mode, Mip>(k, su, x, y, rv, color + x, depth + x,
                                  _mm256_cmpgt_epi32(broadcasti(x1 - x), lane));
        } else if (x < x1) {
            // At the right edge of the buffer the last pixels go through a copy, so nothing
            // past the row is read.
            const int n = x1 - x;
            alignas(16) std::uint16_t c[8] = {}, d[8] = {};
            std::copy(color + x, color + x1, c);
            std::copy(depth + x, depth + x1, d);
            shadeGroup<Mode, Mip>(k, su, x, y, rv, c, d, _mm256_cmpgt_epi32(broadcasti(n), lane));
            std::copy(c, c + n, color + x);
            std::copy(d, d + n, depth + x);
        }
    }
}

}  // namespace

void shadeTriangleFast(const TriangleSetup& setup) {
    const FastConfig& k = currentConfig();
    if (!k.vector) {
        shadeTriangleReference(setup);
        return;
    }
    if (!k.texture || !k.haveTexels)
        shadeTriangleAvx2<kNoTexture, false>(k, setup);
    else if (!k.bilinear)
        k.mipmap ? shadeTriangleAvx2<kPointSampled, true>(k, setup)
                 : shadeTriangleAvx2<kPointSampled, false>(k, setup);
    else
        k.mipmap ? shadeTriangleAvx2<kBilinear, true>(k, setup)
                 : shadeTriangleAvx2<kBilinear, false>(k, setup);
}

}  // namespace glide

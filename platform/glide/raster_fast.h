// The optimised stage's shared parts: the kernel kinds, the configuration a state is turned
// into, the per-triangle constants, and the kernels of each vector width. Internal to the
// board's library.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "raster.h"

namespace glide {

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
    // Queues a narrow triangle of the per-pixel-level kernel to be shaded with others of this
    // state (false: not queued, to be drawn at once); null: never.
    bool (*gather)(const FastConfig&, const TriangleSetup&, const TriangleConsts&) = nullptr;
    // The same for a triangle set up as a small one (gatherSmallTriangle): its spans are worked
    // out here; false for one too tall (then for setup and shadeTriangleFast).
    bool (*gatherSmall)(const FastConfig&, const SmallTriangle&) = nullptr;
};

struct FastConfig {
    bool vector = false;  // false: this state goes through the reference stage
    const KernelSet* kernels = nullptr;
    // The state's small triangles are gathered when one thread draws (kernels that gather,
    // with texels and each pixel's level).
    bool gathersSmall = false;

    bool depthOn = false, depthWBuffer = false, depthWrite = false;
    int depthFunction = GR_CMP_ALWAYS;

    bool texture = false;     // the colour path reads texels
    bool haveTexels = false;  // a valid texture is selected
    bool bilinear = false, mipmap = false;
    bool clampS = false, clampT = false;
    int levels = 1;
    float texScale = 1, texScale2 = 1;
    // The largest magnitude of s/w or t/w times 1/w that safe addressing takes (see
    // safeCoordinates): 2^22 texels of the largest level, less a margin for round-off.
    double safeLimit = 0;
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
    // With the key on and a filtered texture: where the texels differ from the key (see
    // rowKeyedOut).
    KeyCounts keyCounts;
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

// The spans of a triangle at most kNarrowWidth pixels wide, row after row from minY, with eight
// lanes (AVX2) or sixteen (AVX-512); false: the triangle is too wide or too tall, or its edges
// too steep.
bool narrowSpans8(const TriangleSetup& setup, std::int16_t (*span)[2]);
bool narrowSpans16(const TriangleSetup& setup, std::int16_t (*span)[2]);
// The same from a triangle's 32-bit edges (see narrowSpansFrom).
void narrowSpansFrom8(const NarrowEdges& edges, int minX, int width, int height,
                      std::int16_t (*span)[2]);
void narrowSpansFrom16(const NarrowEdges& edges, int minX, int width, int height,
                       std::int16_t (*span)[2]);

// The covered pixels of a row are one run: from the lowest set bit to the highest. An empty row
// gives [0, 0) (the bit scans are taken on a value with a bit set either way, so no branch:
// whether a row is empty changes unpredictably from row to row).
inline void storeSpan(int minX, unsigned bits, std::int16_t* span) {
    const int x0 = __builtin_ctz(bits | 0x10000u) & 15;
    const int x1 = 32 - __builtin_clz(bits | 1u);
    const int empty = -int(bits == 0);
    span[0] = std::int16_t(minX + x0);
    span[1] = std::int16_t(minX + (x1 & ~empty));
}

// narrowSpansFrom16's work, here so that the sixteen-lane kernels have it inline: one vector
// covers the widest narrow triangle, and the rows go in blocks of four.
__attribute__((target("avx2,fma,avx512f,avx512bw,avx512dq,avx512vl"))) inline
    __attribute__((always_inline)) void
    narrowRows16(const NarrowEdges& n, int minX, int width, int height, std::int16_t (*span)[2]) {
    static_assert(kNarrowWidth <= 16);
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m512i e[3], step[3], limit[3];
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        e[i] = _mm512_add_epi32(_mm512_set1_epi32(n.first[i]),
                                _mm512_mullo_epi32(_mm512_set1_epi32(n.ex[i]), lanes));
        step[i] = _mm512_set1_epi32(n.ey[i]);
        limit[i] = _mm512_set1_epi32(n.limit[i]);
    }
    const __mmask16 bounds = __mmask16((1u << width) - 1u);
    for (int r = 0; r < height; r += 4) {
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q) {
            __mmask16 in = bounds;
#pragma GCC unroll 3
            for (int i = 0; i < 3; ++i) {
                in = _mm512_mask_cmpgt_epi32_mask(in, e[i], limit[i]);
                e[i] = _mm512_add_epi32(e[i], step[i]);
            }
            storeSpan(minX, in, span[r + q]);
        }
    }
}

// True when every texel that the pixels [x0, x1) of row y filter has the key colour, so the
// key drops them all: for a flat-w triangle read at one level with safe addressing
// (tc.safe), whose kernel compares the filtered texel with the key. A filter of four texels
// of one colour gives that colour.
bool rowKeyedOut(const FastConfig& k, const TriangleSetup& su, const TriangleConsts& tc, int y,
                 int x0, int x1);

// The kernels of one vector width for a state: eight lanes need AVX2 and the fused
// multiply-add, sixteen lanes AVX-512 (foundation, byte and word, doubleword and quadword, and
// vector length).
namespace lanes8 {
const KernelSet* pickKernels(const RenderState& rs, const FastConfig& k);
}
namespace lanes16 {
const KernelSet* pickKernels(const RenderState& rs, const FastConfig& k);
}
// The same sixteen-lane kernels with the bilinear footprints gathered (see footprintGather).
namespace lanes16gather {
const KernelSet* pickKernels(const RenderState& rs, const FastConfig& k);
}

// The kind of colour combine of a state, for the choice of kernel.
int combineKind(const RenderState& rs);

}  // namespace glide

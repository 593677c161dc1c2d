// The span kernels with 8 lanes (AVX2 and the fused multiply-add).
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "raster_fast.h"

namespace glide::lanes8 {

namespace {
#include "lanes8.inc"
#include "raster_kernels.inc"
}  // namespace

const KernelSet* pickKernels(const RenderState& rs, const FastConfig& k) {
    return kernelsFor(rs, k);
}

}  // namespace glide::lanes8

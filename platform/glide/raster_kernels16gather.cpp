// The span kernels with 16 lanes (AVX-512) whose bilinear footprints are read with the gather
// instruction; otherwise the same kernels as raster_kernels16.cpp.
// GCC 12 warns of the deliberately undefined vectors inside its own AVX-512 header's mask
// operations as "maybe uninitialized" wherever they are inlined.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "raster_fast.h"

#define TARNOVEL_FOOTPRINT_GATHER 1

namespace glide::lanes16gather {

namespace {
#include "lanes16.inc"
#include "raster_kernels.inc"
}  // namespace

const KernelSet* pickKernels(const RenderState& rs, const FastConfig& k) {
    return kernelsFor(rs, k);
}

}  // namespace glide::lanes16gather

// Texture formats, level sizes and texel decoding shared by the library, its 3DF reader and
// the 3DF writer of the asset tools.
#pragma once

#include <cstdint>

#include "glide.h"

namespace glide {

// Bytes per texel of a format code, 0 for a code that is no format.
inline int texelBytes(int format) {
    switch (format) {
        case GR_TEXFMT_RGB_332:
        case GR_TEXFMT_YIQ_422:
        case GR_TEXFMT_ALPHA_8:
        case GR_TEXFMT_INTENSITY_8:
        case GR_TEXFMT_ALPHA_INTENSITY_44:
        case GR_TEXFMT_P_8:
            return 1;
        case GR_TEXFMT_ARGB_8332:
        case GR_TEXFMT_AYIQ_8422:
        case GR_TEXFMT_RGB_565:
        case GR_TEXFMT_ARGB_1555:
        case GR_TEXFMT_ARGB_4444:
        case GR_TEXFMT_ALPHA_INTENSITY_88:
        case GR_TEXFMT_AP_88:
            return 2;
        default:
            return 0;
    }
}

inline bool formatHasPalette(int format) {
    return format == GR_TEXFMT_P_8 || format == GR_TEXFMT_AP_88;
}
inline bool formatHasNccTable(int format) {
    return format == GR_TEXFMT_YIQ_422 || format == GR_TEXFMT_AYIQ_8422;
}

// The name a 3DF header gives the format ("rgb565", ...), nullptr for no format.
const char* formatName(int format);
// The format code for a header name, any letter case; -1 when unknown.
int formatFromName(const char* name);

inline bool validLod(int lod) {
    return lod >= GR_LOD_256 && lod <= GR_LOD_1;
}
inline bool validAspect(int aspect) {
    return aspect >= GR_ASPECT_8x1 && aspect <= GR_ASPECT_1x8;
}

// Side of the longer dimension of a level of detail (0 = 256 ... 8 = 1).
inline int lodSide(int lod) {
    return 256 >> lod;
}
// Level-of-detail code of a power-of-two side from 1 to 256, -1 otherwise.
inline int lodFromSide(int side) {
    for (int lod = GR_LOD_256; lod <= GR_LOD_1; ++lod)
        if (lodSide(lod) == side) return lod;
    return -1;
}

// Width and height of one level: the longer side is the level's side, the shorter side is that
// divided by the aspect factor but never below 1.
struct LevelSize {
    int width;
    int height;
};
inline LevelSize levelSize(int lod, int aspect) {
    const int side = lodSide(lod);
    // Aspect codes 0..6 are 8x1, 4x1, 2x1, 1x1, 1x2, 1x4, 1x8.
    const int shift = aspect < GR_ASPECT_1x1 ? GR_ASPECT_1x1 - aspect : aspect - GR_ASPECT_1x1;
    const int shorter = side >> shift ? side >> shift : 1;
    if (aspect <= GR_ASPECT_1x1) return {side, shorter};
    return {shorter, side};
}
// Aspect code of a width:height ratio given as two factors ("8 1" ... "1 8"), -1 otherwise.
int aspectFromRatio(int w, int h);

// True when the five values describe a texture the library can hold.
inline bool validTexInfo(const GrTexInfo& info) {
    return validLod(info.smallLod) && validLod(info.largeLod) && info.smallLod >= info.largeLod &&
           validAspect(info.aspectRatio) && texelBytes(info.format) != 0;
}

// Host bytes of all levels from largeLod to smallLod, unpadded (the 3DF reader's mem_required).
std::uint32_t hostBytes(int smallLod, int largeLod, int aspect, int format);

// Byte offset in texture memory of `level` from the texture's start address: the levels of
// the mask before it, each padded to a multiple of 8 bytes.
std::uint32_t levelOffset(const GrTexInfo& info, std::uint32_t evenOdd, int level);

// One texel of a format, as stored in memory (a byte, or a 16-bit value in host order),
// expanded to 8-bit 0xAARRGGBB. Formats that need a table without one decode their index or
// luma as an intensity, so a picture still shows.
inline std::uint32_t expand5(std::uint32_t v) {
    return (v << 3) | (v >> 2);
}
inline std::uint32_t expand6(std::uint32_t v) {
    return (v << 2) | (v >> 4);
}
inline std::uint32_t expand4(std::uint32_t v) {
    return v * 17u;
}
inline std::uint32_t expand3(std::uint32_t v) {
    return (v << 5) | (v << 2) | (v >> 1);
}
inline std::uint32_t expand2(std::uint32_t v) {
    return v * 0x55u;
}
inline std::uint32_t packArgb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}
inline std::uint32_t decodeRgb332(std::uint32_t v, std::uint32_t a) {
    return packArgb(a, expand3((v >> 5) & 7), expand3((v >> 2) & 7), expand2(v & 3));
}
inline std::uint32_t decodeTexel(int format, std::uint32_t v) {
    switch (format) {
        case GR_TEXFMT_RGB_332:
            return decodeRgb332(v, 255);
        case GR_TEXFMT_ALPHA_8:
            // The colour channels of an alpha texture carry the alpha value as well.
            return packArgb(v, v, v, v);
        case GR_TEXFMT_INTENSITY_8:
        case GR_TEXFMT_P_8:
            return packArgb(255, v, v, v);
        case GR_TEXFMT_YIQ_422: {
            const std::uint32_t y = expand4(v >> 4);
            return packArgb(255, y, y, y);
        }
        case GR_TEXFMT_ALPHA_INTENSITY_44: {
            const std::uint32_t i = expand4(v & 15);
            return packArgb(expand4(v >> 4), i, i, i);
        }
        case GR_TEXFMT_ARGB_8332:
            return decodeRgb332(v & 0xFF, v >> 8);
        case GR_TEXFMT_AYIQ_8422: {
            const std::uint32_t y = expand4((v >> 4) & 15);
            return packArgb(v >> 8, y, y, y);
        }
        case GR_TEXFMT_RGB_565:
            return packArgb(255, expand5(v >> 11), expand6((v >> 5) & 63), expand5(v & 31));
        case GR_TEXFMT_ARGB_1555:
            return packArgb(v & 0x8000 ? 255 : 0, expand5((v >> 10) & 31), expand5((v >> 5) & 31),
                            expand5(v & 31));
        case GR_TEXFMT_ARGB_4444:
            return packArgb(expand4(v >> 12), expand4((v >> 8) & 15), expand4((v >> 4) & 15),
                            expand4(v & 15));
        case GR_TEXFMT_ALPHA_INTENSITY_88:
        case GR_TEXFMT_AP_88: {
            const std::uint32_t i = v & 0xFF;
            return packArgb(v >> 8, i, i, i);
        }
        default:
            return 0;
    }
}

}  // namespace glide

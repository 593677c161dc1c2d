// Helpers for the graphics library tests: a clean board, vertices, texture downloads, pixels.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "glide.h"
#include "glide_internal.h"
#include "raster.h"
#include "texformat.h"

namespace glidetest {

// Screen pixel (x, y), origin at the lower left.
inline std::uint16_t& backPixel(int x, int y) {
    return glide::backBuffer()[(glide::kHeight - 1 - y) * glide::kWidth + x];
}
inline std::uint16_t& depthAt(int x, int y) {
    return glide::depthBuffer()[(glide::kHeight - 1 - y) * glide::kWidth + x];
}

inline GrVertex vertex(float x, float y, float r = 255, float g = 255, float b = 255, float a = 255,
                       float oow = 1.0f, float s = 0, float t = 0) {
    GrVertex v{};
    v.x = x;
    v.y = y;
    v.r = r;
    v.g = g;
    v.b = b;
    v.a = a;
    v.oow = oow;
    v.tmuvtx[0].sow = s * oow;
    v.tmuvtx[0].tow = t * oow;
    v.tmuvtx[0].oow = oow;
    return v;
}

inline void fillBack(std::uint16_t value) {
    glide::ensureBuffers();
    // A clear still waiting would later overwrite what is set here.
    glide::settleClear();
    std::fill(glide::board.color[glide::board.front ^ 1].begin(),
              glide::board.color[glide::board.front ^ 1].end(), value);
}

// Plain state: iterated colour passed through, no texture use, no depth, no culling, replace.
inline void resetBoard() {
    glide::ensureBuffers();
    // Nothing drawn before may still be on its way to the buffers cleared below.
    glide::finishDrawing();
    // A fresh state keeps counting serials, so no cached per-draw setup outlives it.
    const std::uint64_t serial = glide::board.state.serial;
    glide::board.state = glide::RenderState{};
    glide::board.state.serial = serial + 1;
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_ITERATED, FXFALSE);
    grAlphaCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_ITERATED, FXFALSE);
    fillBack(0);
    std::fill(glide::board.depth.begin(), glide::board.depth.end(), 0xFFFF);
}

// Downloads a texture whose levels are given largest first as 16-bit or 8-bit texels in host
// order, and selects it on unit 0.
inline GrTexInfo useTexture(int smallLod, int largeLod, int aspect, int format,
                            const std::vector<std::uint8_t>& hostData, FxU32 address = 0) {
    static std::vector<std::uint8_t> keep;
    keep = hostData;
    GrTexInfo info{smallLod, largeLod, aspect, format, keep.data()};
    grTexDownloadMipMap(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, &info);
    grTexSource(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, &info);
    return info;
}

// Host data of a square single-level RGB565 texture from 0xAARRGGBB-free 16-bit values.
inline std::vector<std::uint8_t> host565(const std::vector<std::uint16_t>& texels) {
    std::vector<std::uint8_t> out(texels.size() * 2);
    std::memcpy(out.data(), texels.data(), out.size());
    return out;
}

inline std::uint16_t rgb565(int r5, int g6, int b5) {
    return std::uint16_t(r5 << 11 | g6 << 5 | b5);
}

inline std::filesystem::path dataDir() {
    return std::filesystem::path(__FILE__).parent_path() / "data";
}

// A picture stored as text: one character per pixel, first line the top row. Blank lines and
// lines starting with '#' are ignored.
std::vector<std::string> readPicture(const std::string& name);

// Runs every test of a suite on both per-pixel stages.
class BothPaths : public ::testing::TestWithParam<glide::RasterPath> {
  protected:
    void SetUp() override {
        glide::setRasterPath(GetParam());
        resetBoard();
    }
    void TearDown() override { glide::setRasterPath(glide::RasterPath::fast); }
};

inline std::string pathName(const ::testing::TestParamInfo<glide::RasterPath>& info) {
    return info.param == glide::RasterPath::fast ? "Fast" : "Reference";
}

}  // namespace glidetest

#define GLIDE_BOTH_PATHS(suite)                                                                 \
    INSTANTIATE_TEST_SUITE_P(                                                                   \
        Paths, suite, ::testing::Values(glide::RasterPath::fast, glide::RasterPath::reference), \
        glidetest::pathName)

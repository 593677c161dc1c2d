// Tests of the object scenes' generated pictures: mipmap chains, seamless tiling, horizon.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "glide.h"

namespace {

struct Texture {
    Gu3dfInfo info{};
    std::vector<std::uint8_t> data;
};

Texture load(const std::string& name) {
    Texture t;
    const std::string path = std::string(TARNOVEL_ASSETS) + "/" + name;
    EXPECT_TRUE(gu3dfGetInfo(path.c_str(), &t.info)) << name;
    t.data.resize(t.info.mem_required);
    t.info.data = t.data.data();
    EXPECT_TRUE(gu3dfLoad(path.c_str(), &t.info)) << name;
    return t;
}

// Luminance of texel (x, y) of the largest level of a 256x256 RGB565 texture.
double luminance(const Texture& t, int x, int y) {
    std::uint16_t p;
    std::memcpy(&p, &t.data[(std::size_t(y) * 256 + x) * 2], 2);
    return 0.3 * (p >> 11) / 31.0 + 0.59 * ((p >> 5) & 63) / 63.0 + 0.11 * (p & 31) / 31.0;
}

// Mean luminance difference between the columns (or rows) a and b.
double stripeDifference(const Texture& t, int a, int b, bool columns) {
    double sum = 0.0;
    for (int i = 0; i < 256; ++i)
        sum += columns ? std::fabs(luminance(t, a, i) - luminance(t, b, i))
                       : std::fabs(luminance(t, i, a) - luminance(t, i, b));
    return sum / 256.0;
}

}  // namespace

class SceneTextures : public ::testing::TestWithParam<const char*> {};

TEST_P(SceneTextures, AreSquareRgb565WithEveryLevel) {
    const Texture t = load(GetParam());
    EXPECT_EQ(t.info.header.format, GR_TEXFMT_RGB_565);
    EXPECT_EQ(t.info.header.large_lod, GR_LOD_256);
    EXPECT_EQ(t.info.header.small_lod, GR_LOD_1);
    EXPECT_EQ(t.info.header.aspect_ratio, GR_ASPECT_1x1);
    std::uint32_t bytes = 0;
    for (int side = 256; side >= 1; side /= 2) bytes += side * side * 2;
    EXPECT_EQ(t.info.mem_required, bytes);
    // A picture, not a flat fill.
    double low = 1.0, high = 0.0;
    for (int y = 0; y < 256; y += 3)
        for (int x = 0; x < 256; x += 3) {
            low = std::min(low, luminance(t, x, y));
            high = std::max(high, luminance(t, x, y));
        }
    EXPECT_GT(high - low, 0.3);
}

INSTANTIATE_TEST_SUITE_P(Generated, SceneTextures,
                         ::testing::Values("DENDRI.3df", "REDDUS.3df", "BLUETR.3df",
                                           "alldaypissup.3df"),
                         [](const auto& info) {
                             const std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

TEST(SceneTexture, BackdropsTileWithoutASeam) {
    // The backgrounds repeat across the screen: the step from the last column back to the
    // first must look like any step inside the picture.
    for (const char* name : {"DENDRI.3df", "BLUETR.3df", "REDDUS.3df"}) {
        const Texture t = load(name);
        for (bool columns : {true, false}) {
            double inside = 0.0;
            for (int i = 16; i < 240; i += 16) inside += stripeDifference(t, i, i + 1, columns);
            inside /= 14.0;
            EXPECT_LT(stripeDifference(t, 255, 0, columns), 1.6 * inside)
                << name << (columns ? " columns" : " rows");
        }
    }
}

TEST(SceneTexture, EnvironmentHasItsBrightHorizonAcrossTheMiddle) {
    // Normals with ny = 0 read the middle row; they reflect the horizon.
    const Texture t = load("alldaypissup.3df");
    auto rowMean = [&](int y) {
        double sum = 0.0;
        for (int x = 64; x < 192; ++x) sum += luminance(t, x, y);
        return sum / 128.0;
    };
    const double horizon = rowMean(128);
    EXPECT_GT(horizon, 0.75);
    for (int y : {32, 64, 96, 160, 192, 224}) EXPECT_LT(rowMean(y), horizon - 0.15) << y;
}

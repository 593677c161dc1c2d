// Tests of the later scenes' generated pictures: sizes and chains, tiling, the flag, the highlight.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "glide.h"

namespace {

struct Picture {
    Gu3dfInfo info{};
    std::vector<std::uint8_t> data;
    int side = 0;
};

Picture load(const std::string& name) {
    Picture p;
    const std::string path = std::string(TARNOVEL_ASSETS) + "/" + name;
    EXPECT_TRUE(gu3dfGetInfo(path.c_str(), &p.info)) << name;
    p.data.resize(p.info.mem_required);
    p.info.data = p.data.data();
    EXPECT_TRUE(gu3dfLoad(path.c_str(), &p.info)) << name;
    p.side = 256 >> p.info.header.large_lod;
    return p;
}

// Channels 0..1 of texel (x, y) of the largest level of an RGB565 picture.
struct Texel {
    double r, g, b;
};
Texel texel(const Picture& p, int x, int y) {
    std::uint16_t v;
    std::memcpy(&v, &p.data[(std::size_t(y) * p.side + x) * 2], 2);
    return {(v >> 11) / 31.0, ((v >> 5) & 63) / 63.0, (v & 31) / 31.0};
}
double luminance(const Picture& p, int x, int y) {
    const Texel t = texel(p, x, y);
    return 0.3 * t.r + 0.59 * t.g + 0.11 * t.b;
}

}  // namespace

class LaterSceneTextures : public ::testing::TestWithParam<const char*> {};

TEST_P(LaterSceneTextures, AreSquareRgb565WithEveryLevelAndTile) {
    const Picture p = load(GetParam());
    const int side = std::string(GetParam()) == "128x128.3df" ? 128 : 256;
    ASSERT_EQ(p.side, side);
    EXPECT_EQ(p.info.header.format, GR_TEXFMT_RGB_565);
    EXPECT_EQ(p.info.header.small_lod, GR_LOD_1);
    EXPECT_EQ(p.info.header.aspect_ratio, GR_ASPECT_1x1);
    std::uint32_t bytes = 0;
    for (int s = side; s >= 1; s /= 2) bytes += s * s * 2;
    EXPECT_EQ(p.info.mem_required, bytes);

    // A picture, not a flat fill; and the pictures that repeat over the screen meet
    // themselves at the edges no worse than their neighbouring texels differ.
    double low = 1.0, high = 0.0, inside = 0.0, seam = 0.0;
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j) {
            low = std::min(low, luminance(p, i, j));
            high = std::max(high, luminance(p, i, j));
        }
    EXPECT_GT(high - low, 0.3);
    if (std::string(GetParam()) == "c_flag3.3df" || std::string(GetParam()) == "phong.3df") return;
    for (int i = 0; i < side; ++i) {
        for (int k = 0; k + 1 < side; ++k)
            inside += std::fabs(luminance(p, k, i) - luminance(p, k + 1, i)) +
                      std::fabs(luminance(p, i, k) - luminance(p, i, k + 1));
        seam += std::fabs(luminance(p, side - 1, i) - luminance(p, 0, i)) +
                std::fabs(luminance(p, i, side - 1) - luminance(p, i, 0));
    }
    EXPECT_LT(seam / (2.0 * side), 2.0 * inside / (2.0 * side * (side - 1)));
}

INSTANTIATE_TEST_SUITE_P(Generated, LaterSceneTextures,
                         ::testing::Values("juice.3df", "MUTANT.3df", "c_flag3.3df", "maren.3df",
                                           "128x128.3df", "phong.3df"),
                         [](const auto& info) {
                             const std::string name = info.param;
                             return "_" + name.substr(0, name.find('.'));
                         });

TEST(LaterSceneTexture, TheFlagIsRedWhiteRedWithARedMapleLeafInTheMiddle) {
    const Picture p = load("c_flag3.3df");
    auto red = [&](int x, int y) {
        const Texel t = texel(p, x, y);
        return t.r > 0.7 && t.g < 0.3 && t.b < 0.3;
    };
    auto white = [&](int x, int y) {
        const Texel t = texel(p, x, y);
        return t.r > 0.85 && t.g > 0.85 && t.b > 0.85;
    };
    // The picture is squeezed to a square: the bands take a quarter of its width each.
    for (int y = 0; y < 256; y += 5) {
        EXPECT_TRUE(red(10, y) && red(54, y) && red(201, y) && red(245, y)) << y;
        EXPECT_TRUE(white(70, y) && white(185, y)) << y;
    }
    EXPECT_TRUE(white(128, 8));    // above the leaf's top point
    EXPECT_TRUE(red(128, 40));     // the central lobe
    EXPECT_TRUE(red(128, 150));    // the heart of the leaf
    EXPECT_TRUE(red(128, 225));    // the stem
    EXPECT_TRUE(white(120, 225));  // beside the stem
    // Eleven points: along the leaf's outline, the distance from its heart has eleven peaks,
    // besides the stem (left out).
    int peaks = 0;
    std::vector<double> reach(360);
    for (int a = 0; a < 360; ++a) {
        const double angle = a * 3.14159265358979 / 180.0;
        double r = 0.0;
        for (double d = 0.0; d < 120.0; d += 0.25) {
            // Measured in the flag's own proportions: a texel is twice as wide as it is high.
            const int x = int(std::lround(128.0 + d * std::sin(angle) / 2.0));
            const int y = int(std::lround(128.0 - d * std::cos(angle)));
            if (x < 64 || x > 191 || y < 0 || y > 255) break;
            if (red(x, y)) r = d;
        }
        reach[a] = a > 160 && a < 200 ? 0.0 : r;
    }
    for (int a = 0; a < 360; ++a) {
        const double here = reach[a];
        bool peak = here > 40.0;
        for (int k = -7; k <= 7 && peak; ++k)
            if (k != 0 && reach[(a + k + 360) % 360] > here) peak = false;
        if (peak && reach[(a + 359) % 360] == here) peak = false;  // a flat top counts once
        peaks += peak;
    }
    EXPECT_EQ(peaks, 11);
}

TEST(LaterSceneTexture, TheHighlightIsWhiteAtTheCentreAndFallsToBlackAtRadius128) {
    const Picture p = load("phong.3df");
    EXPECT_GT(luminance(p, 128, 128), 0.97);
    EXPECT_GT(luminance(p, 127, 127), 0.97);
    double previous = luminance(p, 128, 128);
    for (int x = 129; x < 256; ++x) {
        const double r = std::hypot(x + 0.5 - 128.0, 0.5);
        const double level = luminance(p, x, 128);
        if (r >= 128.0) {
            EXPECT_EQ(level, 0.0) << x;
        }
        // Smooth: never rises outwards beyond the dither, never drops by more than a step.
        EXPECT_LE(level, previous + 0.04) << x;
        EXPECT_GE(level, previous - 0.12) << x;
        previous = level;
    }
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            if (std::hypot(x + 0.5 - 128.0, y + 0.5 - 128.0) >= 128.0) {
                ASSERT_EQ(luminance(p, x, y), 0.0) << x << ", " << y;
            }
}

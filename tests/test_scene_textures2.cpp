// Tests of the later scenes' generated pictures: sizes and chains, the flag, the highlight.
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

    explicit Picture(const std::string& name) {
        const std::string path = std::string(TARNOVEL_ASSETS) + "/" + name;
        EXPECT_TRUE(gu3dfGetInfo(path.c_str(), &info)) << name;
        data.resize(info.mem_required);
        info.data = data.data();
        EXPECT_TRUE(gu3dfLoad(path.c_str(), &info)) << name;
        side = 256 >> info.header.large_lod;
    }
    // Channels 0..1 of texel (x, y) of the largest level (RGB565).
    void texel(int x, int y, double* r, double* g, double* b) const {
        std::uint16_t v;
        std::memcpy(&v, &data[(std::size_t(y) * side + x) * 2], 2);
        *r = (v >> 11) / 31.0;
        *g = ((v >> 5) & 63) / 63.0;
        *b = (v & 31) / 31.0;
    }
    double luminance(int x, int y) const {
        double r, g, b;
        texel(x, y, &r, &g, &b);
        return 0.3 * r + 0.59 * g + 0.11 * b;
    }
};

}  // namespace

TEST(LaterSceneTextures, AreSquareRgb565PicturesWithEveryLevel) {
    for (const char* name :
         {"juice.3df", "MUTANT.3df", "c_flag3.3df", "maren.3df", "128x128.3df", "phong.3df"}) {
        SCOPED_TRACE(name);
        const Picture p(name);
        const int side = std::string(name) == "128x128.3df" ? 128 : 256;
        ASSERT_EQ(p.side, side);
        EXPECT_EQ(p.info.header.format, GR_TEXFMT_RGB_565);
        EXPECT_EQ(p.info.header.small_lod, GR_LOD_1);
        EXPECT_EQ(p.info.header.aspect_ratio, GR_ASPECT_1x1);
        std::uint32_t bytes = 0;
        for (int s = side; s >= 1; s /= 2) bytes += s * s * 2;
        EXPECT_EQ(p.info.mem_required, bytes);
    }
}

TEST(LaterSceneTextures, TheFlagIsRedWhiteRedWithARedLeafInTheMiddle) {
    const Picture p("c_flag3.3df");
    auto colour = [&](int x, int y) {
        double r, g, b;
        p.texel(x, y, &r, &g, &b);
        if (r > 0.7 && g < 0.3 && b < 0.3) return 'r';
        return r > 0.85 && g > 0.85 && b > 0.85 ? 'w' : '?';
    };
    // Squeezed to a square: each band takes a quarter of the picture's width.
    for (int y = 0; y < 256; y += 5) {
        EXPECT_EQ(std::string() + colour(10, y) + colour(54, y) + colour(70, y) + colour(185, y) +
                      colour(201, y) + colour(245, y),
                  "rrwwrr")
            << y;
    }
    // Above the leaf's top point, its central lobe, its heart, its stem, beside the stem.
    EXPECT_EQ(std::string() + colour(128, 8) + colour(128, 40) + colour(128, 150) +
                  colour(128, 225) + colour(120, 225),
              "wrrrw");
}

TEST(LaterSceneTextures, TheHighlightIsWhiteAtTheCentreAndFallsSmoothlyToBlackAtRadius128) {
    const Picture p("phong.3df");
    EXPECT_GT(p.luminance(128, 128), 0.97);
    double previous = p.luminance(128, 128);
    for (int x = 129; x < 256; ++x) {
        // Never rises outwards beyond the dither, never drops by more than a step.
        EXPECT_LE(p.luminance(x, 128), previous + 0.04) << x;
        EXPECT_GE(p.luminance(x, 128), previous - 0.12) << x;
        previous = p.luminance(x, 128);
    }
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            if (std::hypot(x + 0.5 - 128.0, y + 0.5 - 128.0) >= 128.0) {
                ASSERT_EQ(p.luminance(x, y), 0.0) << x << ", " << y;
            }
}

// The generated font texture: each glyph's ink exactly between its edge columns, capitals
// between cap line and baseline; and the generator's refusal of broken font files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "font_atlas.h"
#include "glide.h"
#include "test_util.h"
#include "text.h"

namespace {

// The texels of the built "font6000.3df", read with the library's own 3DF reader.
std::vector<std::uint16_t> readFontTexels() {
    const std::string file = std::string(TARNOVEL_ASSETS) + "/font6000.3df";
    Gu3dfInfo info{};
    if (!gu3dfGetInfo(file.c_str(), &info)) return {};
    EXPECT_EQ(info.header.format, GR_TEXFMT_RGB_565);
    EXPECT_EQ(info.header.large_lod, GR_LOD_256);
    EXPECT_EQ(info.header.small_lod, GR_LOD_256);
    EXPECT_EQ(info.header.aspect_ratio, GR_ASPECT_1x1);
    if (info.mem_required != 256u * 256u * 2u) return {};
    std::vector<std::uint16_t> texels(256 * 256);
    info.data = texels.data();
    if (!gu3dfLoad(file.c_str(), &info)) return {};
    return texels;
}

bool inked(const std::vector<std::uint16_t>& texels, int code, int row, int col) {
    const int k = code - 32;
    return texels[std::size_t((32 * (k / 8) + row) * 256 + 32 * (k % 8) + col)] != 0;
}

}  // namespace

TEST(FontTexture, InkLiesExactlyBetweenTheEdgeColumns) {
    const std::vector<std::uint16_t> texels = readFontTexels();
    ASSERT_EQ(texels.size(), 256u * 256u);
    for (int code = 32; code < 96; ++code) {
        SCOPED_TRACE("character " + std::to_string(code) + " '" + char(code) + "'");
        const int left = glyphLeftEdge[code - 32], right = glyphRightEdge[code - 32];
        EXPECT_EQ(fontatlas::kLeftEdge[code - 32], left);
        EXPECT_EQ(fontatlas::kRightEdge[code - 32], right);
        int firstInk = 32, lastInk = -1, count = 0;
        for (int row = 0; row < 32; ++row) {
            for (int col = 0; col < 32; ++col) {
                if (!inked(texels, code, row, col)) continue;
                ++count;
                firstInk = std::min(firstInk, col);
                lastInk = std::max(lastInk, col);
            }
        }
        if (code == ' ') {
            EXPECT_EQ(count, 0);
            continue;
        }
        EXPECT_EQ(firstInk, left);
        EXPECT_EQ(lastInk, right - 1);
        EXPECT_GE(count, 12) << "a drawn glyph, not a stray texel";
    }
    // Flat-topped, flat-bottomed capitals fill exactly the rows from cap line to baseline, so
    // every line of text sits the same way in its cell.
    for (char c : std::string("EHIKLMNTXZ")) {
        for (int row = 0; row < 32; ++row) {
            bool any = false;
            for (int col = 0; col < 32; ++col) any = any || inked(texels, c, row, col);
            EXPECT_EQ(any, row >= fontatlas::kCapTop && row < fontatlas::kBaseline)
                << c << " row " << row;
        }
    }
}

TEST(FontAtlas, RefusesMissingOrBrokenFontFiles) {
    tdf::Image atlas;
    std::string error;
    EXPECT_FALSE(fontatlas::buildFontAtlas("/nonexistent/font.ttf", &atlas, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;

    // A real font cut short: its table directory points past the end of the file.
    const std::string whole = readFile(fontatlas::kDefaultFontPath);
    ASSERT_GT(whole.size(), 4096u);
    const auto dir = makeTempDir("font_atlas");
    const auto cut = dir / "cut.ttf";
    std::FILE* f = std::fopen(cut.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(whole.data(), 1, 4096, f);
    std::fclose(f);
    error.clear();
    EXPECT_FALSE(fontatlas::buildFontAtlas(cut.string(), &atlas, &error));
    EXPECT_NE(error.find("not a TrueType font"), std::string::npos) << error;
    std::filesystem::remove_all(dir);
}

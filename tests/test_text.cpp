// Bitmap font text: string layout, glyph quads and the off-screen skip, seen through the
// graphics library's triangle trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display.h"
#include "glideext.h"
#include "host.h"
#include "text.h"

namespace {

struct TracedTriangle {
    GrVertex v[3];
    bool clipped;
};

std::vector<TracedTriangle> traced;

void recordTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c, bool clipped, void*) {
    traced.push_back({{*a, *b, *c}, clipped});
}

// The left x of each glyph cell drawn, in order (a glyph's first triangle starts at its TL).
std::vector<float> cellLefts() {
    std::vector<float> xs;
    for (std::size_t i = 0; i < traced.size(); i += 2) xs.push_back(traced[i].v[0].x);
    return xs;
}

std::vector<float> layout(std::int8_t alignment, float x, const char* text) {
    traced.clear();
    drawText(255, alignment, x, 200.0f, text);
    return cellLefts();
}

class TextLayout : public ::testing::Test {
  protected:
    void SetUp() override {
        hostInitVirtual(nullptr, 0, 0);
        ASSERT_TRUE(openDisplay());
        setRenderState();
        traced.clear();
        grExtSetTriangleTrace(recordTriangle, nullptr);
    }
    void TearDown() override {
        grExtSetTriangleTrace(nullptr, nullptr);
        closeDisplay();
    }
};

}  // namespace

TEST_F(TextLayout, GlyphIsTwoClockwiseTrianglesOverItsCell) {
    // "A" centred at 320: W = 19, pen 310.5, and its ink starts in column 1 of the cell.
    drawText(200, 1, 320.0f, 300.0f, "A");
    ASSERT_EQ(traced.size(), 2u);
    EXPECT_FALSE(traced[0].clipped);
    EXPECT_TRUE(traced[1].clipped);
    const float x = 309.5f, y = 300.0f, s0 = 32.0f, t0 = 128.0f;
    // TL, BR, BL; then TL, TR, BR; as (x, y, s, t).
    const float expect[2][3][4] = {
        {{x, y, s0, t0}, {x + 32, y - 32, s0 + 32, t0 + 32}, {x, y - 32, s0, t0 + 32}},
        {{x, y, s0, t0}, {x + 32, y, s0 + 32, t0}, {x + 32, y - 32, s0 + 32, t0 + 32}},
    };
    for (int t = 0; t < 2; ++t) {
        const GrVertex* v = traced[std::size_t(t)].v;
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE("triangle " + std::to_string(t) + " vertex " + std::to_string(k));
            EXPECT_EQ(v[k].x, expect[t][k][0]);
            EXPECT_EQ(v[k].y, expect[t][k][1]);
            EXPECT_EQ(v[k].tmuvtx[0].sow, expect[t][k][2]);
            EXPECT_EQ(v[k].tmuvtx[0].tow, expect[t][k][3]);
            EXPECT_TRUE(v[k].r == 200.0f && v[k].g == 200.0f && v[k].b == 200.0f);
            EXPECT_EQ(v[k].a, 0.0f);
            EXPECT_EQ(v[k].oow, 1.0f);
        }
        // Negative signed area: kept by the global positive culling.
        const float area =
            (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
        EXPECT_LT(area, 0.0f);
    }
}

TEST_F(TextLayout, PenStartsAtTheCentredWidthAndAdvancesByInkAndGap) {
    // "PRODUCTION": W = 181, pen 229.5; its last ink column ends W further on.
    const std::vector<float> production = layout(1, 320.0f, "PRODUCTION");
    ASSERT_EQ(production.size(), 10u);
    EXPECT_EQ(production.front(), 229.5f);
    EXPECT_EQ(production.back() + glyphRightEdge['N' - 32], 229.5f + 181.0f);
    // "TO BE CONTINUED...": W = 274, pen 183; "T" is inked from column 1.
    EXPECT_EQ(layout(1, 320.0f, "TO BE CONTINUED...").front(), 182.0f);
    // "J" is inked from column 6: its cell starts 6 left of the pen.
    EXPECT_EQ(layout(0, 100.0f, "J"), std::vector<float>({94.0f}));
    // A space advances 10 and draws an empty cell.
    EXPECT_EQ(layout(0, 100.0f, " A"), std::vector<float>({100.0f, 109.0f}));
    // Alignment 2 ends the ink at x: "HI" is 17 + 2 + 5 wide.
    EXPECT_EQ(layout(2, 400.0f, "HI"), std::vector<float>({376.0f, 395.0f}));
}

TEST_F(TextLayout, PositionIsCeiledAndFarOffScreenStringsAreSkipped) {
    drawText(255, 0, 100.2f, 200.3f, "H");
    ASSERT_EQ(traced.size(), 2u);
    EXPECT_EQ(traced[0].v[0].x, 101.0f);
    EXPECT_EQ(traced[0].v[0].y, 201.0f);
    EXPECT_EQ(layout(0, -10.7f, "H"), std::vector<float>({-10.0f}));

    EXPECT_EQ(layout(0, -640.0f, "H").size(), 1u);
    EXPECT_EQ(layout(0, 1280.0f, "H").size(), 1u);
    EXPECT_TRUE(layout(0, -640.5f, "H").empty());
    EXPECT_TRUE(layout(0, 1280.5f, "H").empty());
}

TEST_F(TextLayout, CodesOutsideTheFontAreSkippedAndNotCounted) {
    EXPECT_TRUE(layout(1, 320.0f, "").empty());
    EXPECT_TRUE(layout(1, 320.0f, nullptr).empty());
    EXPECT_TRUE(layout(1, 320.0f, "a\x7f\x80\xff").empty());
    EXPECT_EQ(layout(1, 320.0f, "xAy"), std::vector<float>({309.5f}));
    traced.clear();
    drawGlyph(255, 10.0f, 10.0f, 31);
    drawGlyph(255, 10.0f, 10.0f, 96);
    EXPECT_TRUE(traced.empty());
}

TEST_F(TextLayout, WidthIsASixteenBitCount) {
    // 2300 "W"s are 2300 * 30 - 2 = 68998 wide, which 16 bits hold as 3462.
    const std::vector<float> cells = layout(1, 320.0f, std::string(2300, 'W').c_str());
    ASSERT_EQ(cells.size(), 2300u);
    EXPECT_EQ(cells.front(), 320.0f - 1731.0f - glyphLeftEdge['W' - 32]);
}

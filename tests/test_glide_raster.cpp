// Tests of the software rasterizer: coverage and tie rule, culling, clipping, rejection, depth,
// combine and blending, chroma key, perspective, wrap/clamp, mipmap choice and dither.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>

#include "test_glide_support.h"

using namespace glidetest;

namespace glidetest {

std::vector<std::string> readPicture(const std::string& name) {
    std::ifstream in(dataDir() / name);
    std::vector<std::string> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        rows.push_back(line);
    }
    return rows;
}

}  // namespace glidetest

namespace {

void draw(const GrVertex& a, const GrVertex& b, const GrVertex& c, bool clipped = false) {
    if (clipped)
        guDrawTriangleWithClip(&a, &b, &c);
    else
        grDrawTriangle(&a, &b, &c);
}

// An axis-aligned rectangle as two triangles, with texture coordinates at its corners.
void drawRect(float x0, float y0, float x1, float y1, float s0, float t0, float s1, float t1,
              float r = 255, float g = 255, float b = 255, float a = 255, float oow = 1.0f) {
    const GrVertex bl = vertex(x0, y0, r, g, b, a, oow, s0, t1);
    const GrVertex br = vertex(x1, y0, r, g, b, a, oow, s1, t1);
    const GrVertex tr = vertex(x1, y1, r, g, b, a, oow, s1, t0);
    const GrVertex tl = vertex(x0, y1, r, g, b, a, oow, s0, t0);
    draw(bl, br, tr);
    draw(bl, tr, tl);
}

int red5(std::uint16_t p) {
    return p >> 11;
}
int blue5(std::uint16_t p) {
    return p & 31;
}

// Additive drawing in a constant colour: the count of coverings shows in the pixel.
void setAdditiveConstant(std::uint32_t rgba) {
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_CONSTANT,
                   GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    grConstantColorValue(rgba);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
}

// --- coverage ---------------------------------------------------------------------------------

class Coverage : public BothPaths {};

TEST_P(Coverage, SharedEdgesThroughPixelCentresFollowTheTieRule) {
    const std::vector<std::string> expected = readPicture("tie_rule.txt");
    ASSERT_EQ(expected.size(), 8u);
    // Red 8 and blue 8 are exact 5-bit steps, so each triangle's share shows undithered.
    setAdditiveConstant(0x08000000);
    draw(vertex(0.5f, 0.5f), vertex(6.5f, 0.5f), vertex(0.5f, 6.5f));
    setAdditiveConstant(0x00000800);
    draw(vertex(6.5f, 0.5f), vertex(6.5f, 6.5f), vertex(0.5f, 6.5f));
    for (int row = 0; row < 8; ++row) {
        std::string got;
        for (int x = 0; x < 8; ++x) {
            const std::uint16_t p = backPixel(x, 7 - row);
            got += red5(p) && blue5(p) ? 'X' : red5(p) ? '1' : blue5(p) ? '2' : '.';
        }
        EXPECT_EQ(got, expected[row]) << "row y = " << 7 - row;
    }
}

TEST_P(Coverage, FanOfTrianglesCoversEachPixelExactlyOnce) {
    setAdditiveConstant(0x08000000);
    const double cx = 320.3125, cy = 240.6875;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> jitter(-0.04, 0.04);
    constexpr int kPoints = 37;
    double px[kPoints], py[kPoints];
    for (int i = 0; i < kPoints; ++i) {
        const double angle = (i + 0.5 + jitter(rng)) * 2 * M_PI / kPoints;
        // On the 1/16 grid so the test's own inside test is exact.
        px[i] = std::round((cx + 100.3 * std::cos(angle)) * 16) / 16;
        py[i] = std::round((cy + 100.3 * std::sin(angle)) * 16) / 16;
    }
    const GrVertex centre = vertex(float(cx), float(cy));
    for (int i = 0; i < kPoints; ++i) {
        const int j = (i + 1) % kPoints;
        // Alternate windings: coverage must not depend on the order of the vertices.
        if (i % 2)
            draw(centre, vertex(float(px[i]), float(py[i])), vertex(float(px[j]), float(py[j])));
        else
            draw(centre, vertex(float(px[j]), float(py[j])), vertex(float(px[i]), float(py[i])));
    }
    int inside = 0;
    for (int y = 120; y < 360; ++y) {
        for (int x = 200; x < 440; ++x) {
            const double qx = x + 0.5, qy = y + 0.5;
            // Signed distance to the outer boundary; skip centres lying on it.
            double minCross = 1e9;
            for (int i = 0; i < kPoints; ++i) {
                const int j = (i + 1) % kPoints;
                const double ex = px[j] - px[i], ey = py[j] - py[i];
                const double cross = (ex * (qy - py[i]) - ey * (qx - px[i])) / std::hypot(ex, ey);
                minCross = std::min(minCross, cross);
            }
            const int count = red5(backPixel(x, y));
            ASSERT_LE(count, 1) << "drawn twice at " << x << "," << y;
            if (minCross > 1e-6) {
                ASSERT_EQ(count, 1) << "gap at " << x << "," << y;
                ++inside;
            } else if (minCross < -1e-6) {
                ASSERT_EQ(count, 0) << "outside drawn at " << x << "," << y;
            }
        }
    }
    EXPECT_GT(inside, 30000);
}

TEST_P(Coverage, CullModesFollowTheSignOfTheArea) {
    const std::vector<std::string> expected = readPicture("cull_modes.txt");
    ASSERT_EQ(expected.size(), 3u);
    const int modes[3] = {GR_CULL_DISABLE, GR_CULL_NEGATIVE, GR_CULL_POSITIVE};
    for (int m = 0; m < 3; ++m) {
        resetBoard();
        grCullMode(modes[m]);
        // (10,10) (40,10) (10,40): area (30)(30) - 0 > 0, counter-clockwise with y up.
        draw(vertex(10, 10), vertex(40, 10), vertex(10, 40));
        draw(vertex(110, 10), vertex(110, 40), vertex(140, 10), true);
        std::string got;
        got += backPixel(15, 15) ? '1' : '0';
        got += backPixel(115, 15) ? '1' : '0';
        EXPECT_EQ(got, expected[m]) << "cull mode " << modes[m];
    }
}

TEST_P(Coverage, BothCallsStayInsideTheClipWindow) {
    for (bool clipped : {false, true}) {
        resetBoard();
        grClipWindow(10, 20, 30, 45);
        const GrVertex a = vertex(-50, -50), b = vertex(700, -50), c = vertex(700, 530),
                       d = vertex(-50, 530);
        draw(a, b, c, clipped);
        draw(a, c, d, clipped);
        int written = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                const bool in = x >= 10 && x < 30 && y >= 20 && y < 45;
                ASSERT_EQ(backPixel(x, y) != 0, in) << x << "," << y << " clipped " << clipped;
                written += in;
            }
        EXPECT_EQ(written, 20 * 25);
    }
    // A window reaching past the screen is cut to the screen.
    resetBoard();
    grClipWindow(600, 400, 5000, 5000);
    draw(vertex(-1e6f, -1e6f), vertex(1e6f, -1e6f), vertex(0, 1e6f));
    EXPECT_NE(backPixel(639, 479), 0);
    EXPECT_EQ(backPixel(599, 479), 0);
    // An empty window draws nothing.
    resetBoard();
    grClipWindow(300, 200, 100, 100);
    draw(vertex(0, 0), vertex(640, 0), vertex(0, 480));
    EXPECT_EQ(std::count(glide::backBuffer(), glide::backBuffer() + glide::kPixels, 0),
              glide::kPixels);
}

TEST_P(Coverage, BadTrianglesAreRejectedWhole) {
    const float nan = std::nanf(""), inf = INFINITY;
    const GrVertex good[3] = {vertex(10, 10), vertex(100, 10), vertex(10, 100)};
    auto drawnAfter = [&](auto change) {
        resetBoard();
        GrVertex v[3] = {good[0], good[1], good[2]};
        change(v);
        draw(v[0], v[1], v[2]);
        draw(v[0], v[1], v[2], true);
        return std::count(glide::backBuffer(), glide::backBuffer() + glide::kPixels, 0) !=
               glide::kPixels;
    };
    EXPECT_TRUE(drawnAfter([](GrVertex*) {}));
    EXPECT_FALSE(drawnAfter([&](GrVertex* v) { v[1].x = nan; }));
    EXPECT_FALSE(drawnAfter([&](GrVertex* v) { v[2].y = inf; }));
    EXPECT_FALSE(drawnAfter([&](GrVertex* v) { v[0].y = -inf; }));
    EXPECT_FALSE(drawnAfter([&](GrVertex* v) { v[0].oow = 0; }));
    EXPECT_FALSE(drawnAfter([&](GrVertex* v) { v[1].oow = -0.5f; }));
    EXPECT_FALSE(drawnAfter([&](GrVertex* v) { v[2].oow = nan; }));
    EXPECT_FALSE(drawnAfter([&](GrVertex* v) { v[2].oow = inf; }));
    // Degenerate: all on one line.
    EXPECT_FALSE(drawnAfter([&](GrVertex* v) { v[2] = vertex(190, 10); }));
    // Null vertices are ignored.
    grDrawTriangle(nullptr, &good[1], &good[2]);
    guDrawTriangleWithClip(&good[0], nullptr, &good[2]);
}

TEST_P(Coverage, FarVerticesAreClippedByTheClippingCallOnly) {
    // Covers every centre with x >= 100 and y >= 100 on screen; the far corner is 1e9 away.
    const GrVertex a = vertex(100, 100), b = vertex(1e9f, 100), c = vertex(100, 1e9f);
    draw(a, b, c);
    EXPECT_EQ(std::count(glide::backBuffer(), glide::backBuffer() + glide::kPixels, 0),
              glide::kPixels);
    draw(a, b, c, true);
    for (int y = 0; y < 480; y += 3)
        for (int x = 0; x < 640; x += 3)
            ASSERT_EQ(backPixel(x, y) != 0, x >= 100 && y >= 100) << x << "," << y;
    // Culling is decided on the whole triangle.
    resetBoard();
    grCullMode(GR_CULL_POSITIVE);
    draw(a, b, c, true);
    EXPECT_EQ(backPixel(300, 300), 0);
}

GLIDE_BOTH_PATHS(Coverage);

// --- depth ------------------------------------------------------------------------------------

// The W-buffer form computed independently, from 1/w as a 16.32 fixed-point number.
int expectedWDepth(double oow) {
    if (!(oow > 0)) return 0xFFFF;
    if (oow >= 1) return 0;
    const std::uint64_t fraction = std::uint64_t(std::ldexp(oow, 32));
    if ((fraction >> 16) == 0) return 0xFFFF;
    int e = 0;
    while (!(fraction & (std::uint64_t(1) << (31 - e)))) ++e;
    const std::uint64_t below = ((fraction << (e + 1)) & 0xFFFFFFFFu) >> 20;
    return std::min(0xFFFF, int((std::uint64_t(e) << 12 | (~below & 0xFFF)) + 1));
}

TEST(WBuffer, DepthFormMatchesTheFixedPointDefinition) {
    EXPECT_EQ(glide::wDepth(0.5f), 0x1000);
    EXPECT_EQ(glide::wDepth(0.75f), 0x0800);
    EXPECT_EQ(glide::wDepth(1.0f), 0);
    EXPECT_EQ(glide::wDepth(3.0f), 0);
    EXPECT_EQ(glide::wDepth(1.0f / 70000), 0xFFFF);
    EXPECT_EQ(glide::wDepth(0.0f), 0xFFFF);
    EXPECT_EQ(glide::wDepth(-0.25f), 0xFFFF);
    // The background at z = 10000 is nearer than the cleared depth.
    EXPECT_LT(glide::wDepth(1.0f / 10000), 0xFFFF);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> exponent(-17, 0.5);
    int previous = 0x10000;
    std::vector<float> values;
    for (int i = 0; i < 20000; ++i) values.push_back(float(std::exp2(exponent(rng))));
    for (float v : values) ASSERT_EQ(glide::wDepth(v), expectedWDepth(v)) << v;
    // Nearer (larger 1/w) never gives a larger depth.
    std::sort(values.begin(), values.end());
    for (float v : values) {
        ASSERT_LE(glide::wDepth(v), previous);
        previous = glide::wDepth(v);
    }
}

class Depth : public BothPaths {};

TEST_P(Depth, ThreeOverlappingTrianglesShowTheNearestInAnyOrder) {
    struct Tri {
        GrVertex v[3];
    };
    const float oow[3] = {0.5f, 0.25f, 1.0f / 10000};
    const float colors[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    const float corners[3][6] = {
        {20, 20, 120, 30, 40, 110}, {60, 10, 130, 90, 10, 70}, {0, 50, 140, 50, 70, 130}};
    Tri tris[3];
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            tris[i].v[k] = vertex(corners[i][2 * k], corners[i][2 * k + 1], colors[i][0],
                                  colors[i][1], colors[i][2], 255, oow[i]);
    // Each triangle's coverage on its own.
    std::vector<std::uint16_t> alone[3];
    for (int i = 0; i < 3; ++i) {
        resetBoard();
        draw(tris[i].v[0], tris[i].v[1], tris[i].v[2]);
        alone[i].assign(glide::backBuffer(), glide::backBuffer() + glide::kPixels);
    }
    int order[3] = {0, 1, 2};
    std::vector<std::uint16_t> first;
    do {
        resetBoard();
        grDepthBufferMode(GR_DEPTHBUFFER_WBUFFER);
        grDepthBufferFunction(GR_CMP_LESS);
        grDepthMask(FXTRUE);
        for (int i : order) draw(tris[i].v[0], tris[i].v[1], tris[i].v[2]);
        for (int y = 0; y < 140; ++y)
            for (int x = 0; x < 150; ++x) {
                const int index = (479 - y) * 640 + x;
                int nearest = -1;
                for (int i = 0; i < 3; ++i)
                    if (alone[i][index] && (nearest < 0 || oow[i] > oow[nearest])) nearest = i;
                if (nearest < 0) {
                    ASSERT_EQ(backPixel(x, y), 0);
                    ASSERT_EQ(depthAt(x, y), 0xFFFF);
                } else {
                    ASSERT_EQ(backPixel(x, y), alone[nearest][index]) << x << "," << y;
                    ASSERT_EQ(depthAt(x, y), expectedWDepth(oow[nearest]));
                }
            }
    } while (std::next_permutation(order, order + 3));
}

TEST_P(Depth, SlopedTrianglesMeetAlongTheirIntersection) {
    grDepthBufferMode(GR_DEPTHBUFFER_WBUFFER);
    grDepthBufferFunction(GR_CMP_LESS);
    grDepthMask(FXTRUE);
    // 1/w grows to the right on one, to the left on the other; they cross near x = 60.
    const GrVertex a0 = vertex(0, 0, 255, 0, 0, 255, 0.1f),
                   a1 = vertex(120, 0, 255, 0, 0, 255, 0.5f),
                   a2 = vertex(0, 100, 255, 0, 0, 255, 0.1f);
    const GrVertex a3 = vertex(120, 100, 255, 0, 0, 255, 0.5f);
    const GrVertex b0 = vertex(0, 0, 0, 0, 255, 255, 0.4f),
                   b1 = vertex(120, 0, 0, 0, 255, 255, 0.2f),
                   b2 = vertex(0, 100, 0, 0, 255, 255, 0.4f);
    const GrVertex b3 = vertex(120, 100, 0, 0, 255, 255, 0.2f);
    draw(b0, b1, b3);
    draw(b0, b3, b2);
    draw(a0, a1, a3);
    draw(a0, a3, a2);
    for (int y = 0; y < 100; y += 7)
        for (int x = 0; x < 120; ++x) {
            const double u = (x + 0.5) / 120;
            const double wa = 0.1 + 0.4 * u, wb = 0.4 - 0.2 * u;
            if (std::fabs(wa - wb) < 0.01) continue;  // the 16-bit form ties near the crossing
            const bool redWins = wa > wb;
            EXPECT_EQ(red5(backPixel(x, y)) != 0, redWins) << x << "," << y;
            EXPECT_EQ(blue5(backPixel(x, y)) != 0, !redWins) << x << "," << y;
        }
}

TEST_P(Depth, CompareFunctionsAndMask) {
    struct Case {
        int function;
        bool sameDepthPasses, nearerPasses, fartherPasses;
    };
    const Case cases[] = {
        {GR_CMP_NEVER, false, false, false},  {GR_CMP_LESS, false, true, false},
        {GR_CMP_EQUAL, true, false, false},   {GR_CMP_LEQUAL, true, true, false},
        {GR_CMP_GREATER, false, false, true}, {GR_CMP_NOTEQUAL, false, true, true},
        {GR_CMP_GEQUAL, true, false, true},   {GR_CMP_ALWAYS, true, true, true}};
    for (const Case& c : cases) {
        const float probes[3] = {0.25f, 0.5f, 0.125f};  // same, nearer, farther
        const bool expected[3] = {c.sameDepthPasses, c.nearerPasses, c.fartherPasses};
        for (int p = 0; p < 3; ++p) {
            resetBoard();
            grDepthBufferMode(GR_DEPTHBUFFER_WBUFFER);
            grDepthBufferFunction(GR_CMP_ALWAYS);
            grDepthMask(FXTRUE);
            drawRect(0, 0, 8, 8, 0, 0, 0, 0, 0, 0, 255, 255, 0.25f);
            grDepthBufferFunction(c.function);
            grDepthMask(FXFALSE);
            drawRect(0, 0, 8, 8, 0, 0, 0, 0, 255, 0, 0, 255, probes[p]);
            EXPECT_EQ(red5(backPixel(3, 3)) == 31, expected[p])
                << "function " << c.function << " probe " << p;
            // With the mask off the stored depth stays the first triangle's.
            EXPECT_EQ(depthAt(3, 3), expectedWDepth(0.25));
        }
    }
    // Depth disabled: no test and no write.
    resetBoard();
    grDepthMask(FXTRUE);
    std::fill(glide::board.depth.begin(), glide::board.depth.end(), 0);
    drawRect(0, 0, 8, 8, 0, 0, 0, 0, 255, 255, 255, 255, 0.5f);
    EXPECT_NE(backPixel(3, 3), 0);
    EXPECT_EQ(depthAt(3, 3), 0);
}

GLIDE_BOTH_PATHS(Depth);

// --- colour path ------------------------------------------------------------------------------

int scaled(int x, int f) {
    // x * f / 255 rounded to nearest, symmetric about zero.
    return x < 0 ? -int(std::lround(-x * f / 255.0)) : int(std::lround(x * f / 255.0));
}
int clampByte(int v) {
    return std::clamp(v, 0, 255);
}

struct Source {
    int r, g, b, a;
};

// The combine unit worked out in the test's own terms.
int expectedCombine(int function, int factor, int local, int other, int localAlpha, int otherAlpha,
                    int textureAlpha, bool invert) {
    int f = 0;
    switch (factor) {
        case GR_COMBINE_FACTOR_ZERO:
            f = 0;
            break;
        case GR_COMBINE_FACTOR_LOCAL:
            f = local;
            break;
        case GR_COMBINE_FACTOR_OTHER_ALPHA:
            f = otherAlpha;
            break;
        case GR_COMBINE_FACTOR_LOCAL_ALPHA:
            f = localAlpha;
            break;
        case GR_COMBINE_FACTOR_TEXTURE_ALPHA:
            f = textureAlpha;
            break;
        case GR_COMBINE_FACTOR_ONE:
            f = 255;
            break;
        case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL:
            f = 255 - local;
            break;
        case GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA:
            f = 255 - otherAlpha;
            break;
        case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA:
            f = 255 - localAlpha;
            break;
        case GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA:
            f = 255 - textureAlpha;
            break;
    }
    int v = 0;
    switch (function) {
        case 0:
            v = 0;
            break;
        case 1:
            v = local;
            break;
        case 2:
            v = localAlpha;
            break;
        case 3:
            v = scaled(other, f);
            break;
        case 4:
            v = scaled(other, f) + local;
            break;
        case 5:
            v = scaled(other, f) + localAlpha;
            break;
        case 6:
            v = scaled(other - local, f);
            break;
        case 7:
            v = scaled(other - local, f) + local;
            break;
        case 8:
            v = scaled(other - local, f) + localAlpha;
            break;
        case 9:
            v = scaled(-local, f) + local;
            break;
        case 16:
            v = scaled(-local, f) + localAlpha;
            break;
    }
    v = clampByte(v);
    return invert ? 255 - v : v;
}

class ColorPath : public BothPaths {
  protected:
    // A uniform 8x8 ARGB4444 texture: a 0x9 (153), r 0xC (204), g 0x6 (102), b 0x3 (51).
    const Source texel{204, 102, 51, 153};
    const Source iterated{200, 100, 50, 77};
    const Source constant{0x40, 0xA0, 0xC0, 0xE0};

    void SetUp() override {
        BothPaths::SetUp();
        std::vector<std::uint16_t> texels(64, 0x9C63);
        useTexture(GR_LOD_8, GR_LOD_8, GR_ASPECT_1x1, GR_TEXFMT_ARGB_4444, host565(texels));
        grConstantColorValue(0x40A0C0E0);
    }

    // Draws an 8x8 square and checks all its pixels against the dithered expected colour.
    void expectSquare(int r, int g, int b, const std::string& what) {
        fillBack(0);
        drawRect(16, 16, 24, 24, 0, 0, 256, 256, float(iterated.r), float(iterated.g),
                 float(iterated.b), float(iterated.a));
        for (int y = 16; y < 24; ++y)
            for (int x = 16; x < 24; ++x)
                ASSERT_EQ(backPixel(x, y), glide::ditherPixel(r, g, b, glide::ditherIndex(x, y)))
                    << what << " at " << x << "," << y << " expected " << r << "," << g << "," << b;
    }
};

TEST_P(ColorPath, ShowCombinesGiveTheirDefinedColours) {
    // Texel times iterated colour (the global state and the pages' text).
    grColorCombine(3, 1, 0, 1, 0);
    expectSquare(scaled(204, 200), scaled(102, 100), scaled(51, 50), "texel x iterated");
    // Plus iterated alpha (the scenes' textured, lit drawing), alpha from the iterated value.
    grAlphaCombine(1, 0, 0, 2, 0);
    grColorCombine(5, 1, 0, 1, 0);
    expectSquare(scaled(204, 200) + 77, scaled(102, 100) + 77, scaled(51, 50) + 77,
                 "texel x iterated + alpha");
    // Constant colour alone (flat shading).
    grColorCombine(1, 0, 1, 2, 0);
    grAlphaCombine(0, 0, 1, 2, 0);
    expectSquare(0x40, 0xA0, 0xC0, "constant");
    // Texel plus iterated colour (the highlight pass), clamped.
    grColorCombine(4, 8, 0, 1, 0);
    expectSquare(255, 202, 101, "texel + iterated");
}

TEST_P(ColorPath, EveryFunctionAndFactorWithEachSource) {
    const int functions[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16};
    const int factors[] = {0, 1, 2, 3, 4, 8, 9, 10, 11, 12};
    const int locals[] = {GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_LOCAL_CONSTANT};
    const int others[] = {GR_COMBINE_OTHER_ITERATED, GR_COMBINE_OTHER_TEXTURE,
                          GR_COMBINE_OTHER_CONSTANT};
    std::mt19937 rng(5);
    for (int function : functions)
        for (int factor : factors) {
            // One random pairing of sources and invert per function and factor keeps this quick.
            const int local = locals[rng() % 2], other = others[rng() % 3];
            const int alphaLocal = locals[rng() % 2], alphaOther = others[rng() % 3];
            const bool invert = rng() % 4 == 0;
            grColorCombine(function, factor, local, other, invert);
            grAlphaCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, alphaLocal,
                           alphaOther, FXFALSE);
            const Source& l = local == GR_COMBINE_LOCAL_CONSTANT ? constant : iterated;
            const Source& o = other == GR_COMBINE_OTHER_TEXTURE    ? texel
                              : other == GR_COMBINE_OTHER_CONSTANT ? constant
                                                                   : iterated;
            const int la = alphaLocal == GR_COMBINE_LOCAL_CONSTANT ? constant.a : iterated.a;
            const int oa = alphaOther == GR_COMBINE_OTHER_TEXTURE    ? texel.a
                           : alphaOther == GR_COMBINE_OTHER_CONSTANT ? constant.a
                                                                     : iterated.a;
            expectSquare(
                expectedCombine(function, factor, l.r, o.r, la, oa, texel.a, invert),
                expectedCombine(function, factor, l.g, o.g, la, oa, texel.a, invert),
                expectedCombine(function, factor, l.b, o.b, la, oa, texel.a, invert),
                "function " + std::to_string(function) + " factor " + std::to_string(factor));
        }
}

TEST_P(ColorPath, AlphaCombineShowsThroughSourceAlphaBlending) {
    // Colour white, so the blended result is the combined alpha itself.
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_CONSTANT,
                   GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    grConstantColorValue(0xFFFFFFE0);
    grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
    const Source white{255, 255, 255, 0xE0};
    struct Case {
        int function, factor, local, other;
        bool invert;
    };
    const Case cases[] = {{1, 0, 0, 2, false}, {0, 0, 1, 2, false}, {3, 8, 0, 1, false},
                          {3, 4, 1, 1, false}, {7, 3, 0, 1, false}, {6, 11, 1, 0, true},
                          {9, 2, 0, 1, false}};
    for (const Case& c : cases) {
        grAlphaCombine(c.function, c.factor, c.local, c.other, c.invert);
        const int la = c.local == GR_COMBINE_LOCAL_CONSTANT ? white.a : iterated.a;
        const int oa = c.other == GR_COMBINE_OTHER_TEXTURE    ? texel.a
                       : c.other == GR_COMBINE_OTHER_CONSTANT ? white.a
                                                              : iterated.a;
        const int alpha = expectedCombine(c.function, c.factor, la, oa, la, oa, texel.a, c.invert);
        expectSquare(scaled(255, alpha), scaled(255, alpha), scaled(255, alpha),
                     "alpha function " + std::to_string(c.function));
    }
}

TEST_P(ColorPath, BlendFactorsAgainstTheDestination) {
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_ITERATED, FXFALSE);
    // Destination: (16, 40, 8) in 5-6-5, expanded (132, 162, 66).
    const std::uint16_t dst = rgb565(16, 40, 8);
    const int d[3] = {132, 162, 66};
    const int s[3] = {200, 100, 50}, sa = 77;
    struct Case {
        int src, dstFactor;
    };
    const Case cases[] = {{GR_BLEND_ONE, GR_BLEND_ZERO},
                          {GR_BLEND_ONE, GR_BLEND_ONE},
                          {GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA},
                          {GR_BLEND_ZERO, GR_BLEND_SRC_COLOR},
                          {GR_BLEND_ONE_MINUS_SRC_COLOR, GR_BLEND_DST_ALPHA},
                          {GR_BLEND_ZERO, GR_BLEND_ONE_MINUS_DST_ALPHA}};
    auto factor = [&](int f, int channel) {
        switch (f) {
            case GR_BLEND_SRC_ALPHA:
                return sa;
            case GR_BLEND_SRC_COLOR:
                return s[channel];
            case GR_BLEND_DST_ALPHA:
                return 255;
            case GR_BLEND_ONE:
                return 255;
            case GR_BLEND_ONE_MINUS_SRC_ALPHA:
                return 255 - sa;
            case GR_BLEND_ONE_MINUS_SRC_COLOR:
                return 255 - s[channel];
            default:
                return 0;
        }
    };
    for (const Case& c : cases) {
        grAlphaBlendFunction(c.src, c.dstFactor, GR_BLEND_ONE, GR_BLEND_ZERO);
        fillBack(dst);
        drawRect(16, 16, 24, 24, 0, 0, 0, 0, 200, 100, 50, 77);
        int e[3];
        for (int k = 0; k < 3; ++k)
            e[k] = clampByte(scaled(s[k], factor(c.src, k)) + scaled(d[k], factor(c.dstFactor, k)));
        for (int y = 16; y < 24; ++y)
            for (int x = 16; x < 24; ++x)
                ASSERT_EQ(backPixel(x, y),
                          glide::ditherPixel(e[0], e[1], e[2], glide::ditherIndex(x, y)))
                    << "blend " << c.src << "/" << c.dstFactor;
    }
}

TEST_P(ColorPath, ChromaKeyDropsKeyedTexelsBeforeAdditiveBlending) {
    // Checker of black and (24, 40, 20) texels, 8x8, drawn one to one.
    std::vector<std::uint16_t> texels(64);
    for (int i = 0; i < 64; ++i) texels[i] = ((i % 8 + i / 8) % 2) ? rgb565(24, 40, 20) : 0;
    useTexture(GR_LOD_8, GR_LOD_8, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, host565(texels));
    grColorCombine(3, 1, 0, 1, 0);
    grChromakeyValue(0x00000000);
    grChromakeyMode(GR_CHROMAKEY_ENABLE);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
    // A background whose pixels are not dither-stable, so a touched pixel would show.
    const std::uint16_t background = rgb565(10, 20, 30);
    fillBack(background);
    // 8x8 texels over 8 pixels: coordinates 0..256 are 0..8 texels, pixel centres on texel
    // centres, so bilinear filtering reads each texel alone.
    drawRect(40, 40, 48, 48, 0, 0, 256, 256);
    for (int y = 40; y < 48; ++y)
        for (int x = 40; x < 48; ++x) {
            const int tx = x - 40, ty = 47 - y;  // texel rows run down the screen
            const bool keyed = texels[ty * 8 + tx] == 0;
            if (keyed) {
                ASSERT_EQ(backPixel(x, y), background) << x << "," << y;
            } else {
                const int r = clampByte(198 + 82), g = clampByte(162 + 81),
                          b = clampByte(165 + 247);
                ASSERT_EQ(backPixel(x, y), glide::ditherPixel(r, g, b, glide::ditherIndex(x, y)));
            }
        }
    // A non-black key drops the coloured texels instead; black ones add nothing but are drawn.
    fillBack(background);
    grChromakeyValue(0xC6A2A500);  // (198, 162, 165): the expansion of (24, 40, 20)
    drawRect(40, 40, 48, 48, 0, 0, 256, 256);
    for (int y = 40; y < 48; ++y)
        for (int x = 40; x < 48; ++x) {
            const int tx = x - 40, ty = 47 - y;
            const bool keyed = texels[ty * 8 + tx] != 0;
            if (keyed)
                ASSERT_EQ(backPixel(x, y), background);
            else
                ASSERT_EQ(backPixel(x, y),
                          glide::ditherPixel(82, 81, 247, glide::ditherIndex(x, y)));
        }
}

GLIDE_BOTH_PATHS(ColorPath);

// --- textures ---------------------------------------------------------------------------------

class Texturing : public BothPaths {
  protected:
    void SetUp() override {
        BothPaths::SetUp();
        grColorCombine(3, 1, 0, 1, 0);  // texel x iterated white = texel
    }
};

TEST_P(Texturing, PerspectiveCheckerboardOnASlantedQuad) {
    // A floor Y = -1 from Z = 2 to Z = 8 seen through x = 320 + 256 X / Z, y = 240 + 256 Y / Z;
    // its corners fall on exact pixel positions. s runs 0..256 across X from -1 to 1, t runs
    // 0..256 from Z = 2 to Z = 8.
    std::vector<std::uint16_t> texels(64 * 64);
    const std::uint16_t light = rgb565(31, 63, 31), dark = rgb565(0, 0, 8);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) texels[y * 64 + x] = ((x / 8 + y / 8) % 2) ? light : dark;
    useTexture(GR_LOD_64, GR_LOD_64, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, host565(texels));
    grTexFilterMode(GR_TMU0, GR_TEXTUREFILTER_POINT_SAMPLED, GR_TEXTUREFILTER_POINT_SAMPLED);
    grTexClampMode(GR_TMU0, GR_TEXTURECLAMP_CLAMP, GR_TEXTURECLAMP_CLAMP);
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_DISABLE, FXFALSE);
    auto corner = [](float X, float Z, float s, float t) {
        return vertex(320 + 256 * X / Z, 240 - 256 / Z, 255, 255, 255, 255, 1 / Z, s, t);
    };
    const GrVertex nearLeft = corner(-1, 2, 0, 0), nearRight = corner(1, 2, 256, 0);
    const GrVertex farRight = corner(1, 8, 256, 256), farLeft = corner(-1, 8, 0, 256);
    draw(nearLeft, nearRight, farRight);
    draw(nearLeft, farRight, farLeft);
    int checked = 0, affineWouldDiffer = 0;
    for (int y = 113; y < 208; ++y)
        for (int x = 192; x < 448; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const double Z = 256 / (240 - py), X = (px - 320) * Z / 256;
            if (std::fabs(X) >= 1 || Z <= 2 || Z >= 8) continue;
            const double u = (X + 1) / 2 * 64, v = (Z - 2) / 6 * 64;
            const double du = u / 8 - std::floor(u / 8), dv = v / 8 - std::floor(v / 8);
            if (du < 0.02 || du > 0.98 || dv < 0.02 || dv > 0.98) continue;
            const bool isLight = (int(u / 8) + int(v / 8)) % 2;
            ASSERT_EQ(backPixel(x, y), isLight ? light : dark) << x << "," << y;
            ++checked;
            // Linear interpolation of t in screen space would put row boundaries elsewhere.
            const double vAffine = (py - 112) / 96 * 64;
            if (int(vAffine / 8) != int(v / 8)) ++affineWouldDiffer;
        }
    EXPECT_GT(checked, 12000);
    EXPECT_GT(affineWouldDiffer, 2000);
}

TEST_P(Texturing, WrapRepeatsAndClampExtendsTheEdgeTexels) {
    std::vector<std::uint16_t> texels(16 * 16);
    std::mt19937 rng(9);
    // Texels that are not dither-stable would still be exact: 5-6-5 values pass through.
    for (auto& t : texels) t = std::uint16_t(rng());
    useTexture(GR_LOD_16, GR_LOD_16, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, host565(texels));
    grTexFilterMode(GR_TMU0, GR_TEXTUREFILTER_POINT_SAMPLED, GR_TEXTUREFILTER_POINT_SAMPLED);
    for (int mode : {GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_CLAMP}) {
        grTexClampMode(GR_TMU0, mode, mode);
        fillBack(0);
        // 16 texels over coordinates 0..256; s from -128 to 384 is u from -8 to 24 over 64
        // pixels, two pixels a texel; t likewise from 384 down to -128 over 64 rows.
        drawRect(100, 100, 164, 164, -128, -128, 384, 384);
        for (int y = 100; y < 164; ++y)
            for (int x = 100; x < 164; ++x) {
                const int u = int(std::floor(-8 + (x - 100 + 0.5) / 2));
                const int v = int(std::floor(-8 + (163 - y + 0.5) / 2));
                const int tu = mode == GR_TEXTURECLAMP_WRAP ? (u & 15) : std::clamp(u, 0, 15);
                const int tv = mode == GR_TEXTURECLAMP_WRAP ? (v & 15) : std::clamp(v, 0, 15);
                ASSERT_EQ(backPixel(x, y), texels[tv * 16 + tu])
                    << "mode " << mode << " at " << x << "," << y;
            }
    }
}

TEST_P(Texturing, BilinearFilterAtTexelCentresAndEdges) {
    // Two columns of texels, red 0 and red 31 (8-bit 0 and 255), in a 2x2 texture.
    const std::vector<std::uint16_t> texels = {rgb565(0, 0, 0), rgb565(31, 0, 0), rgb565(0, 0, 0),
                                               rgb565(31, 0, 0)};
    // 2x2 is the 1x1-aspect level of side 2.
    useTexture(GR_LOD_2, GR_LOD_2, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, host565(texels));
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_DISABLE, FXFALSE);
    for (int mode : {GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_CLAMP}) {
        grTexClampMode(GR_TMU0, mode, mode);
        fillBack(0);
        // Two texels over eight pixels: u = (x + 0.5) / 4, weights in 1/256 from u - 0.5.
        drawRect(0, 0, 8, 8, 0, 0, 256, 256);
        for (int x = 0; x < 8; ++x) {
            const double u = (x + 0.5) / 4 - 0.5;
            const int i0 = int(std::floor(u));
            const int f = int((u - i0) * 256);
            auto red = [&](int i) {
                const int t = mode == GR_TEXTURECLAMP_WRAP ? (i & 1) : std::clamp(i, 0, 1);
                return t == 1 ? 255 : 0;
            };
            const int expected = (red(i0) * (256 - f) + red(i0 + 1) * f) >> 8;
            ASSERT_EQ(backPixel(x, 3), glide::ditherPixel(expected, 0, 0, glide::ditherIndex(x, 3)))
                << "mode " << mode << " x " << x;
        }
    }
}

TEST_P(Texturing, LongerSideSpansCoordinatesZeroTo256) {
    // A 16x4 texture (aspect 4:1): s 0..256 covers 16 texels, t 0..64 covers its 4 rows.
    std::vector<std::uint16_t> texels(64);
    for (int i = 0; i < 64; ++i) texels[i] = std::uint16_t(i * 1031 + 7);
    useTexture(GR_LOD_16, GR_LOD_16, GR_ASPECT_4x1, GR_TEXFMT_RGB_565, host565(texels));
    grTexFilterMode(GR_TMU0, GR_TEXTUREFILTER_POINT_SAMPLED, GR_TEXTUREFILTER_POINT_SAMPLED);
    drawRect(0, 0, 16, 4, 0, 0, 256, 64);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(backPixel(x, y), texels[(3 - y) * 16 + x]);
}

TEST_P(Texturing, MipmapLevelIsTheNearestToTheRateOfChange) {
    // 64x64 down to 1x1, each level one colour.
    const std::uint16_t levelColor[7] = {rgb565(31, 0, 0),  rgb565(0, 63, 0),  rgb565(0, 0, 31),
                                         rgb565(31, 63, 0), rgb565(0, 63, 31), rgb565(31, 0, 31),
                                         rgb565(31, 63, 31)};
    std::vector<std::uint16_t> texels;
    for (int l = 0; l < 7; ++l) texels.insert(texels.end(), (64 >> l) * (64 >> l), levelColor[l]);
    useTexture(GR_LOD_1, GR_LOD_64, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, host565(texels));
    struct Case {
        double rho;  // texels of the largest level per pixel
        int level;
    };
    const Case cases[] = {{0.5, 0}, {1.0, 0}, {1.3, 0},  {1.5, 1},  {2.0, 1},  {2.8, 1},
                          {2.9, 2}, {4.0, 2}, {11.0, 3}, {12.0, 4}, {64.0, 6}, {1000.0, 6}};
    for (int mode : {GR_MIPMAP_NEAREST, GR_MIPMAP_DISABLE}) {
        grTexMipMapMode(GR_TMU0, mode, FXFALSE);
        for (const Case& c : cases) {
            fillBack(0);
            // 32 pixels wide: s spans rho * 32 texels, i.e. rho * 32 * 4 coordinate units.
            const float span = float(c.rho * 32 * 4);
            drawRect(0, 0, 32, 8, 0, 0, span, span * 8 / 32);
            const int level = mode == GR_MIPMAP_DISABLE ? 0 : c.level;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 32; ++x)
                    ASSERT_EQ(backPixel(x, y), levelColor[level])
                        << "rho " << c.rho << " mode " << mode << " at " << x << "," << y;
        }
    }
    // The faster of the two screen directions decides: 1 texel per pixel across, 4 along.
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST, FXFALSE);
    drawRect(0, 0, 32, 8, 0, 0, 128, 128);
    EXPECT_EQ(backPixel(5, 5), levelColor[2]);
}

TEST_P(Texturing, NoTextureSelectedDrawsSafely) {
    glide::board.state.tmu[0].sourceValid = false;
    drawRect(0, 0, 8, 8, 0, 0, 256, 256);
    // The missing texel reads as black; the iterated white scales it to black.
    EXPECT_EQ(backPixel(3, 3), 0);
    // A source reaching past texture memory is not sampled either.
    GrTexInfo info{GR_LOD_256, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, nullptr};
    grTexSource(GR_TMU0, GR_TEXMEM_SIZE - 1000, GR_MIPMAPLEVELMASK_BOTH, &info);
    EXPECT_FALSE(glide::board.state.tmu[0].sourceValid);
    drawRect(0, 0, 8, 8, 0, 0, 256, 256);
}

GLIDE_BOTH_PATHS(Texturing);

// --- dither -----------------------------------------------------------------------------------

class Dither : public BothPaths {};

TEST_P(Dither, Grey128PatternMatchesTheStoredPicture) {
    const std::vector<std::string> expected = readPicture("dither_128.txt");
    ASSERT_EQ(expected.size(), 4u);
    drawRect(0, 0, 8, 8, 0, 0, 0, 0, 128, 128, 128, 255);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int want = expected[y & 3][x & 3] == 'b' ? 16 : 15;
            EXPECT_EQ(red5(backPixel(x, y)), want) << x << "," << y;
            EXPECT_EQ(blue5(backPixel(x, y)), want) << x << "," << y;
        }
}

TEST(DitherTables, ExpansionsStayExactAndFlatAreasKeepTheirMean) {
    for (int k = 0; k < 32; ++k)
        for (int m = 0; m < 16; ++m) ASSERT_EQ(glide::dither.five[m][glide::expand5(k)], k);
    for (int k = 0; k < 64; ++k)
        for (int m = 0; m < 16; ++m) ASSERT_EQ(glide::dither.six[m][glide::expand6(k)], k);
    for (int c = 0; c < 256; ++c) {
        double sum5 = 0, sum6 = 0;
        for (int m = 0; m < 16; ++m) {
            const int v5 = glide::dither.five[m][c], v6 = glide::dither.six[m][c];
            // Only the two neighbouring steps appear.
            ASSERT_LE(std::abs(int(glide::expand5(v5)) - c), 9);
            ASSERT_LE(std::abs(int(glide::expand6(v6)) - c), 5);
            sum5 += glide::expand5(v5);
            sum6 += glide::expand6(v6);
        }
        EXPECT_NEAR(sum5 / 16, c, 0.6) << c;
        EXPECT_NEAR(sum6 / 16, c, 0.3) << c;
    }
}

GLIDE_BOTH_PATHS(Dither);

// --- formats ----------------------------------------------------------------------------------

TEST(TexelFormats, TableFreeFormatsDecodeToEightBitChannels) {
    using glide::decodeTexel;
    EXPECT_EQ(decodeTexel(GR_TEXFMT_RGB_565, 0xF800), 0xFFFF0000u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_RGB_565, 0x07E0), 0xFF00FF00u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_RGB_565, 0x0841), 0xFF080808u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_ARGB_1555, 0x8000 | 0x7C00), 0xFFFF0000u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_ARGB_1555, 0x001F), 0x000000FFu);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_ARGB_4444, 0x1234), 0x11223344u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_ALPHA_INTENSITY_88, 0x80FF), 0x80FFFFFFu);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_ALPHA_INTENSITY_44, 0x5A), 0x55AAAAAAu);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_ALPHA_8, 0x7F), 0x7F7F7F7Fu);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_INTENSITY_8, 0x42), 0xFF424242u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_RGB_332, 0xE0), 0xFFFF0000u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_RGB_332, 0x1C), 0xFF00FF00u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_RGB_332, 0x03), 0xFF0000FFu);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_RGB_332, 0x49), 0xFF494955u);
    EXPECT_EQ(decodeTexel(GR_TEXFMT_ARGB_8332, 0x80E0), 0x80FF0000u);
}

}  // namespace

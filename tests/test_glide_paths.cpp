// The optimised per-pixel stage against the reference stage: random states and triangles must
// give identical colour and depth buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "test_glide_support.h"

using namespace glidetest;

namespace {

struct RandomScene {
    std::mt19937 rng;
    std::vector<std::uint8_t> textureData;

    explicit RandomScene(unsigned seed) : rng(seed) {}

    int pick(int n) { return int(rng() % unsigned(n)); }
    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }

    void randomTexture() {
        static const int formats[] = {GR_TEXFMT_RGB_332,
                                      GR_TEXFMT_ALPHA_8,
                                      GR_TEXFMT_INTENSITY_8,
                                      GR_TEXFMT_ALPHA_INTENSITY_44,
                                      GR_TEXFMT_ARGB_8332,
                                      GR_TEXFMT_RGB_565,
                                      GR_TEXFMT_ARGB_1555,
                                      GR_TEXFMT_ARGB_4444,
                                      GR_TEXFMT_ALPHA_INTENSITY_88,
                                      GR_TEXFMT_P_8};
        const int format = formats[pick(10)];
        const int largeLod = pick(9);
        const int smallLod = largeLod + pick(9 - largeLod);
        const int aspect = pick(7);
        const std::uint32_t bytes = glide::hostBytes(smallLod, largeLod, aspect, format);
        textureData.resize(bytes);
        // Few distinct values, so the chroma key finds matches.
        for (auto& b : textureData) b = std::uint8_t(pick(4) == 0 ? 0 : rng());
        GrTexInfo info{smallLod, largeLod, aspect, format, textureData.data()};
        const FxU32 address = FxU32(pick(1000)) * 8;
        grTexDownloadMipMap(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, &info);
        grTexSource(GR_TMU0, address, GR_MIPMAPLEVELMASK_BOTH, &info);
    }

    void randomState() {
        static const int functions[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16};
        static const int factors[] = {0, 1, 2, 3, 4, 8, 9, 10, 11, 12};
        grColorCombine(functions[pick(11)], factors[pick(10)], pick(2), pick(3), pick(4) == 0);
        grAlphaCombine(functions[pick(11)], factors[pick(10)], pick(2), pick(3), pick(4) == 0);
        grConstantColorValue(rng());
        grAlphaBlendFunction(pick(8), pick(8), GR_BLEND_ONE, GR_BLEND_ZERO);
        grChromakeyMode(pick(3) == 0);
        grChromakeyValue(pick(2) ? 0 : rng());
        grDepthBufferMode(pick(3));
        grDepthBufferFunction(pick(8));
        grDepthMask(pick(2));
        grCullMode(pick(3));
        const int filter = pick(2);
        grTexFilterMode(GR_TMU0, filter, pick(8) == 0 ? 1 - filter : filter);
        grTexClampMode(GR_TMU0, pick(2), pick(2));
        grTexMipMapMode(GR_TMU0, pick(3), FXFALSE);
        if (pick(4) == 0)
            grClipWindow(pick(320), pick(240), 320 + pick(400), 240 + pick(300));
        else
            grClipWindow(0, 0, 640, 480);
        randomTexture();
    }

    GrVertex randomVertex(float cx, float cy, float spread) {
        GrVertex v = vertex(cx + uniform(-spread, spread), cy + uniform(-spread, spread),
                            uniform(-40, 300), uniform(-40, 300), uniform(-40, 300),
                            uniform(-40, 300), std::exp2(uniform(-16, 1)));
        v.tmuvtx[0].sow = uniform(-600, 600) * v.oow;
        v.tmuvtx[0].tow = uniform(-600, 600) * v.oow;
        v.ooz = uniform(-1000, 70000);
        return v;
    }

    void drawBatch(int count) {
        for (int i = 0; i < count; ++i) {
            const float cx = uniform(-50, 690), cy = uniform(-50, 530);
            const float spread = pick(4) == 0 ? 400.0f : uniform(1, 60);
            const GrVertex a = randomVertex(cx, cy, spread), b = randomVertex(cx, cy, spread),
                           c = randomVertex(cx, cy, spread);
            if (pick(2))
                grDrawTriangle(&a, &b, &c);
            else
                guDrawTriangleWithClip(&a, &b, &c);
        }
    }
};

struct Buffers {
    std::vector<std::uint16_t> color, depth;
};

Buffers snapshot() {
    return {glide::board.color[glide::board.front ^ 1], glide::board.depth};
}
void restore(const Buffers& b) {
    glide::board.color[glide::board.front ^ 1] = b.color;
    glide::board.depth = b.depth;
}

TEST(RasterPaths, OptimisedStageMatchesTheReferenceOnRandomStates) {
    resetBoard();
    std::mt19937 fill(1);
    for (auto& p : glide::board.color[glide::board.front ^ 1]) p = std::uint16_t(fill());
    for (auto& d : glide::board.depth) d = std::uint16_t(fill());
    for (unsigned trial = 0; trial < 150; ++trial) {
        RandomScene scene(trial * 7919 + 13);
        scene.randomState();
        const Buffers before = snapshot();
        glide::setRasterPath(glide::RasterPath::reference);
        RandomScene refDraws(trial);
        refDraws.drawBatch(12);
        const Buffers reference = snapshot();
        restore(before);
        glide::setRasterPath(glide::RasterPath::fast);
        RandomScene fastDraws(trial);
        fastDraws.drawBatch(12);
        const Buffers fast = snapshot();
        glide::setRasterPath(glide::RasterPath::fast);
        std::size_t mismatches = 0, first = 0;
        for (std::size_t i = 0; i < reference.color.size(); ++i)
            if (reference.color[i] != fast.color[i] || reference.depth[i] != fast.depth[i])
                if (mismatches++ == 0) first = i;
        ASSERT_EQ(mismatches, 0u) << "trial " << trial << ", first at x " << first % 640 << " row "
                                  << first / 640 << ": reference " << reference.color[first] << "/"
                                  << reference.depth[first] << " fast " << fast.color[first] << "/"
                                  << fast.depth[first];
    }
}

TEST(RasterPaths, NonFiniteAttributesGiveTheSamePixelsOnBothStages) {
    resetBoard();
    grColorCombine(3, 1, 0, 1, 0);
    RandomScene scene(99);
    scene.randomTexture();
    const float nan = std::nanf(""), inf = INFINITY;
    GrVertex a = vertex(10, 10, nan, 20, inf, -inf, 0.5f, 0, 0);
    GrVertex b = vertex(200, 30, 100, nan, 30, 40, 1e-7f, 256, 0);
    GrVertex c = vertex(50, 300, 5, 6, 7, 8, 0.25f, 0, 256);
    a.tmuvtx[0].sow = nan;
    b.tmuvtx[0].tow = inf;
    const Buffers before = snapshot();
    glide::setRasterPath(glide::RasterPath::reference);
    grDrawTriangle(&a, &b, &c);
    const Buffers reference = snapshot();
    restore(before);
    glide::setRasterPath(glide::RasterPath::fast);
    grDrawTriangle(&a, &b, &c);
    EXPECT_TRUE(reference.color == snapshot().color);
    EXPECT_TRUE(reference.depth == snapshot().depth);
}

}  // namespace

namespace {

TEST(RasterPaths, SteppedSpansEqualDividedSpans) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> coord(-200, 900);
    glide::RenderState rs;
    int compared = 0;
    for (int i = 0; i < 3000; ++i) {
        const float spread = i % 3 == 0 ? 3.0f : 300.0f;
        const float cx = coord(rng), cy = coord(rng);
        std::uniform_real_distribution<float> near(-spread, spread);
        const GrVertex a = vertex(cx + near(rng), cy + near(rng)),
                       b = vertex(cx + near(rng), cy + near(rng)),
                       c = vertex(cx + near(rng), cy + near(rng));
        glide::TriangleSetup setup;
        if (!glide::setupTriangle(a, b, c, rs, &setup)) continue;
        glide::SpanWalker walker(setup);
        for (int y = setup.minY; y < setup.maxY; ++y, walker.next()) {
            int x0, x1, w0, w1;
            glide::rowSpan(setup, y, &x0, &x1);
            walker.span(&w0, &w1);
            if (x0 < x1 || w0 < w1) {
                ASSERT_EQ(w0, x0) << "triangle " << i << " row " << y;
                ASSERT_EQ(w1, x1) << "triangle " << i << " row " << y;
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 10000);
}

}  // namespace

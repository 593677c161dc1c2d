// The optimised per-pixel stage against the reference stage: random states and triangles must
// give identical colour and depth buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "glideext.h"
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
    glide::settleClear();
    return {glide::board.color[glide::board.front ^ 1], glide::board.depth};
}
void restore(const Buffers& b) {
    glide::settleClear();
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

// Draws with the reference stage and then, from the same buffers, with the optimised one; the
// number of pixels (colour or depth) where they differ, and where the first one is.
template <class Draw>
std::string comparePaths(const Draw& draw) {
    const Buffers before = snapshot();
    glide::setRasterPath(glide::RasterPath::reference);
    draw();
    const Buffers reference = snapshot();
    restore(before);
    glide::setRasterPath(glide::RasterPath::fast);
    draw();
    const Buffers fast = snapshot();
    std::size_t mismatches = 0, first = 0;
    for (std::size_t i = 0; i < reference.color.size(); ++i)
        if (reference.color[i] != fast.color[i] || reference.depth[i] != fast.depth[i])
            if (mismatches++ == 0) first = i;
    if (mismatches == 0) return "";
    return std::to_string(mismatches) + " pixels differ, first at x " +
           std::to_string(first % 640) + " row " + std::to_string(first / 640) + ": reference " +
           std::to_string(reference.color[first]) + "/" + std::to_string(reference.depth[first]) +
           " fast " + std::to_string(fast.color[first]) + "/" + std::to_string(fast.depth[first]);
}

// The states the show draws with: its surfaces (texel and vertex colour, opaque, W-buffer),
// its captions (added, black keyed out) and flat shading (the constant colour).
enum ShowState { kSurface, kSurfaceNoAlpha, kHighlight, kCaption, kPageText, kFlat, kStates };

void setShowState(ShowState state) {
    resetBoard();
    grTexFilterMode(GR_TMU0, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR);
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST, FXFALSE);
    grDepthBufferMode(GR_DEPTHBUFFER_WBUFFER);
    grDepthBufferFunction(GR_CMP_LESS);
    grDepthMask(FXTRUE);
    grCullMode(GR_CULL_POSITIVE);
    grAlphaCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    const bool text = state == kCaption || state == kPageText;
    const int function = state == kSurface || state == kCaption
                             ? GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA
                         : state == kHighlight ? GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL
                         : state == kFlat      ? GR_COMBINE_FUNCTION_LOCAL
                                               : GR_COMBINE_FUNCTION_SCALE_OTHER;
    grColorCombine(function, state == kHighlight ? GR_COMBINE_FACTOR_ONE : GR_COMBINE_FACTOR_LOCAL,
                   state == kFlat ? GR_COMBINE_LOCAL_CONSTANT : GR_COMBINE_LOCAL_ITERATED,
                   state == kFlat ? GR_COMBINE_OTHER_CONSTANT : GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    if (state == kFlat) grConstantColorValue(0x9C9C9C00u);
    grChromakeyValue(0);
    grChromakeyMode(text ? GR_CHROMAKEY_ENABLE : GR_CHROMAKEY_DISABLE);
    if (text)
        grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
    else
        grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
}

struct ShowDraws {
    std::mt19937 rng;
    std::vector<std::uint16_t> texels;

    explicit ShowDraws(unsigned seed) : rng(seed) {}
    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }

    // An RGB565 texture of the given levels with black cells for the key, placed differently
    // on each level.
    void texture(int smallLod, int largeLod, int aspect, bool clampS, bool clampT) {
        texels.clear();
        for (int lod = largeLod; lod <= smallLod; ++lod) {
            const glide::LevelSize size = glide::levelSize(lod, aspect);
            for (int y = 0; y < size.height; ++y)
                for (int x = 0; x < size.width; ++x) {
                    const bool black = ((x / 4 + y / 4 + lod) % 3) == 0;
                    texels.push_back(black ? 0 : std::uint16_t(rng()));
                }
        }
        GrTexInfo info{smallLod, largeLod, aspect, GR_TEXFMT_RGB_565, texels.data()};
        grTexDownloadMipMap(GR_TMU0, 4096, GR_MIPMAPLEVELMASK_BOTH, &info);
        grTexSource(GR_TMU0, 4096, GR_MIPMAPLEVELMASK_BOTH, &info);
        grTexClampMode(GR_TMU0, clampS ? GR_TEXTURECLAMP_CLAMP : GR_TEXTURECLAMP_WRAP,
                       clampT ? GR_TEXTURECLAMP_CLAMP : GR_TEXTURECLAMP_WRAP);
    }

    GrVertex corner(float x, float y, float oow, float s, float t) {
        GrVertex v = vertex(x, y, uniform(0, 300), uniform(0, 300), uniform(0, 300),
                            uniform(-20, 200), oow, s, t);
        return v;
    }

    // The scenes' lighting: grey (red, green and blue alike), or red and green alike and blue
    // apart; the alpha of the whole triangle one value, or a highlight at one corner.
    void light(GrVertex* v, int kind) {
        const float alpha = uniform(-20, 300);
        for (int i = 0; i < 3; ++i) {
            if (kind & 1) v[i].g = v[i].b = v[i].r;
            if (kind & 2) v[i].g = v[i].r;
            if (kind & 4) v[i].a = alpha;
        }
    }

    // The scenes' background: the screen as two triangles at one depth, its texture turned and
    // zoomed about the middle.
    void background(float oow = 1.0f / 10000.0f) {
        const float angle = uniform(0, 6.3f), k = uniform(0.05f, 6.0f);
        const float xs[4] = {0, 640, 640, 0}, ys[4] = {480, 480, 0, 0};
        GrVertex v[4];
        for (int i = 0; i < 4; ++i) {
            const float dx = xs[i] - 320, dy = ys[i] - 240;
            const float s = 128 + k * (dx * std::cos(angle) + dy * std::sin(angle));
            const float t = 128 + k * (dx * std::sin(angle) - dy * std::cos(angle));
            v[i] = corner(xs[i], ys[i], oow, s, t);
        }
        for (auto& p : v) p.a = 0;
        grDrawTriangle(&v[0], &v[1], &v[2]);
        grDrawTriangle(&v[0], &v[2], &v[3]);
    }

    // Texture coordinates around the range where the float-to-integer steps stop being exact
    // (2^23 texels), where the reference's limits start to act: beyond them clamping picks the
    // last texel.
    void farCoordinates(int count) {
        for (int i = 0; i < count; ++i) {
            const float cx = uniform(0, 640), cy = uniform(0, 480), spread = uniform(5, 80);
            const bool flat = i % 2 == 0;
            const float oow = std::exp2(uniform(-3, 0));
            GrVertex v[3];
            // Far from the origin but changing slowly, so that the largest levels are read.
            const float sFar = (rng() % 2 ? 1.0f : -1.0f) * std::exp2(uniform(21, 26));
            const float tFar = (rng() % 2 ? 1.0f : -1.0f) * std::exp2(uniform(21, 26));
            for (auto& p : v)
                p = corner(cx + uniform(-spread, spread), cy + uniform(-spread, spread),
                           flat ? oow : oow * uniform(0.9f, 1.1f), sFar + uniform(-200, 200),
                           tFar + uniform(-200, 200));
            grDrawTriangle(&v[0], &v[1], &v[2]);
        }
    }

    // Triangles of every size, some with one 1/w for all corners (flat), some leaning away.
    void triangles(int count) {
        for (int i = 0; i < count; ++i) {
            const float cx = uniform(-40, 680), cy = uniform(-40, 520);
            const float spread = i % 4 == 0 ? 300.0f : uniform(2, 60);
            const bool flat = i % 2 == 0;
            const float oow = std::exp2(uniform(-14, 0));
            GrVertex v[3];
            for (auto& p : v)
                p = corner(cx + uniform(-spread, spread), cy + uniform(-spread, spread),
                           flat ? oow : std::exp2(uniform(-14, 0)), uniform(-300, 600),
                           uniform(-300, 600));
            light(v, i % 7);
            if (i % 3 == 0)
                guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
            else
                grDrawTriangle(&v[0], &v[1], &v[2]);
        }
    }
};

TEST(RasterPaths, TheShowsStatesMatchTheReference) {
    struct TextureCase {
        int smallLod, largeLod, aspect;
        bool clampS, clampT;
    };
    const TextureCase textures[] = {
        {GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false},    // the scenes' pictures
        {GR_LOD_256, GR_LOD_256, GR_ASPECT_1x1, false, false},  // the font
        {GR_LOD_2, GR_LOD_64, GR_ASPECT_2x1, true, false},
        {GR_LOD_8, GR_LOD_128, GR_ASPECT_1x4, false, true},
    };
    unsigned seed = 5;
    for (int state = 0; state < kStates; ++state)
        for (const TextureCase& tc : textures) {
            setShowState(ShowState(state));
            ShowDraws setup(seed);
            setup.texture(tc.smallLod, tc.largeLod, tc.aspect, tc.clampS, tc.clampT);
            std::mt19937 fill(seed);
            for (auto& p : glide::board.color[glide::board.front ^ 1]) p = std::uint16_t(fill());
            const std::string result = comparePaths([seed] {
                ShowDraws draws(seed + 1);
                draws.background();
                draws.triangles(40);
                draws.farCoordinates(40);
            });
            EXPECT_EQ(result, "") << "state " << state << ", texture of lod " << tc.largeLod << ".."
                                  << tc.smallLod << " aspect " << tc.aspect;
            seed += 2;
        }
    glide::setRasterPath(glide::RasterPath::fast);
}

// A large triangle that reads the largest level at every pixel is drawn without working out
// each pixel's level. Triangles leaning away whose rate of texels per pixel lies about the
// first level's boundary (1.41 texels a pixel) must still give the reference's pixels: those
// wholly below it, those across it and those just above it.
TEST(RasterPaths, LargeTrianglesAboutTheFirstLevelBoundaryMatchTheReference) {
    for (const bool grey : {false, true}) {
        setShowState(grey ? kSurfaceNoAlpha : kSurface);
        ShowDraws setup(91);
        setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, grey);
        const std::string result = comparePaths([] {
            std::mt19937 rng(17);
            auto uniform = [&rng](float lo, float hi) {
                return std::uniform_real_distribution<float>(lo, hi)(rng);
            };
            for (int i = 0; i < 300; ++i) {
                const float cx = uniform(0, 640), cy = uniform(0, 480), spread = uniform(20, 250);
                const float k = uniform(1.2f, 1.6f), turn = uniform(0, 6.3f);
                const float depthSlope = uniform(-0.002f, 0.002f);
                GrVertex v[3];
                for (auto& p : v) {
                    const float x = cx + uniform(-spread, spread),
                                y = cy + uniform(-spread, spread);
                    // Texels along a turned direction at k texels a pixel where 1/w is 1.
                    const float oow = std::max(0.05f, 1.0f + depthSlope * (x - cx));
                    const float s = k * (x * std::cos(turn) + y * std::sin(turn)) / oow;
                    const float t = k * (y * std::cos(turn) - x * std::sin(turn)) / oow;
                    p = vertex(x, y, uniform(0, 255), uniform(0, 255), uniform(0, 255), 0, oow, s,
                               t);
                    p.ooz = float(i);
                }
                guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
            }
        });
        EXPECT_EQ(result, "") << (grey ? "grey" : "coloured");
    }
    glide::setRasterPath(glide::RasterPath::fast);
}

// Text passes over the rows of a glyph's square whose texels all have the key colour. Glyphs of
// a font-like texture (ink in part of each 32-texel cell, black around it, some ink nearly
// black) drawn one to one, half a texel off, smaller (a smaller level), larger and turned, at
// the texture's edges and the screen's, must give the reference's pixels.
TEST(RasterPaths, TextRowsWithOnlyKeyedTexelsMatchTheReference) {
    for (int variant = 0; variant < 4; ++variant) {
        const bool mipmapped = variant >= 2, clamp = variant % 2 == 1;
        setShowState(variant % 2 ? kCaption : kPageText);
        std::mt19937 rng(77 + variant);
        const int largeLod = GR_LOD_256, smallLod = mipmapped ? GR_LOD_32 : GR_LOD_256;
        std::vector<std::uint16_t> texels;
        const std::uint16_t nearlyBlack[] = {0x0001, 0x0020, 0x0800};
        for (int lod = largeLod; lod <= smallLod; ++lod) {
            const int side = glide::levelSize(lod, GR_ASPECT_1x1).width, cell = side / 8;
            std::vector<std::uint16_t> level(std::size_t(side) * side, 0);
            for (int c = 0; c < 64; ++c) {
                const int x0 = (c % 8) * cell, y0 = (c / 8) * cell;
                // Ink anywhere in the cell, up to its edges.
                const int top = int(rng() % unsigned(cell)), left = int(rng() % unsigned(cell));
                const int bottom = top + 1 + int(rng() % unsigned(cell - top));
                const int right = left + 1 + int(rng() % unsigned(cell - left));
                for (int y = top; y < bottom; ++y)
                    for (int x = left; x < right; ++x)
                        level[std::size_t(y0 + y) * side + x0 + x] =
                            rng() % 5 == 0 ? nearlyBlack[rng() % 3] : std::uint16_t(rng() | 1);
            }
            texels.insert(texels.end(), level.begin(), level.end());
        }
        GrTexInfo info{smallLod, largeLod, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, texels.data()};
        grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
        grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
        const int mode = clamp ? GR_TEXTURECLAMP_CLAMP : GR_TEXTURECLAMP_WRAP;
        grTexClampMode(GR_TMU0, mode, mode);
        fillBack(0x1234);

        const std::string result = comparePaths([&] {
            std::mt19937 draws(5 + variant);
            auto pick = [&draws](float lo, float hi) {
                return std::uniform_real_distribution<float>(lo, hi)(draws);
            };
            for (int i = 0; i < 300; ++i) {
                const int code = int(draws() % 64);
                const float s0 = 32.0f * float(code % 8), t0 = 32.0f * float(code / 8);
                const int kind = i % 6;
                // One to one at whole pixels or half a texel off; smaller; larger; turned.
                const float size = kind == 2 ? 16.0f : kind == 3 ? 8.0f : kind == 4 ? 41.0f : 32.0f;
                const float angle = kind == 5 ? pick(-0.6f, 0.6f) : 0.0f;
                float x = std::floor(pick(-20, 640)), y = std::floor(pick(0, 500));
                if (kind == 1) {
                    x += 0.5f;
                    y -= 0.5f;
                }
                const float level = float(draws() % 256);
                const float cs = std::cos(angle) * size, sn = std::sin(angle) * size;
                // Corners from the top left: right along (cs, sn), down along (sn, -cs).
                GrVertex topLeft = vertex(x, y, level, level, level, 0, 1.0f, s0, t0);
                GrVertex topRight =
                    vertex(x + cs, y + sn, level, level, level, 0, 1.0f, s0 + 32, t0);
                GrVertex bottomRight = vertex(x + cs + sn, y + sn - cs, level, level, level, 0,
                                              1.0f, s0 + 32, t0 + 32);
                GrVertex bottomLeft =
                    vertex(x + sn, y - cs, level, level, level, 0, 1.0f, s0, t0 + 32);
                for (GrVertex* v : {&topLeft, &topRight, &bottomRight, &bottomLeft})
                    v->ooz = float(i);
                grDrawTriangle(&topLeft, &bottomRight, &bottomLeft);
                grDrawTriangle(&topLeft, &topRight, &bottomRight);
            }
        });
        EXPECT_EQ(result, "") << "variant " << variant;
    }
    glide::setRasterPath(glide::RasterPath::fast);
}

// Triangles at one depth whose colour and alpha reach the ends of 0..255 and just beyond, where
// the kernel that truncates without clamping may serve only the triangles that stay inside:
// large ones, and thin ones whose corners lie far off screen, where the planes' round-off is
// largest.
TEST(RasterPaths, FlatTrianglesWithChannelsAtTheEndsOfTheirRangeMatchTheReference) {
    const float edges[] = {-1.5f,  -1.0f,  -0.999f, -0.5f,   0.0f,   0.25f,
                           254.5f, 255.0f, 255.5f,  255.99f, 256.0f, 256.5f};
    for (int state : {kSurface, kSurfaceNoAlpha, kHighlight, kCaption, kPageText}) {
        setShowState(ShowState(state));
        ShowDraws setup(91);
        setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
        std::mt19937 fill(91);
        for (auto& p : glide::board.color[glide::board.front ^ 1])
            p = std::uint16_t(fill() & 0x3333);
        const std::string result = comparePaths([&edges, state] {
            std::mt19937 rng(state + 5);
            auto pick = [&rng](int n) { return int(rng() % unsigned(n)); };
            auto edge = [&] { return edges[pick(12)]; };
            const float oow = 1.0f / 10000.0f;
            grCullMode(GR_CULL_DISABLE);
            for (int i = 0; i < 150; ++i) {
                GrVertex v[3];
                const bool far = i % 3 == 0;
                for (auto& p : v) {
                    const float x = far ? float(pick(2) ? 1 : -1) * std::exp2(float(10 + pick(13)))
                                        : float(pick(700) - 30);
                    p = vertex(x, float(pick(540) - 30), edge(), edge(), edge(), edge(), oow,
                               float(pick(256)), float(pick(256)));
                }
                if (far) {
                    // A sliver across the screen: the third corner a little off the line of
                    // the first two.
                    const float f = float(pick(1000)) / 1000.0f;
                    v[2].x = v[0].x + (v[1].x - v[0].x) * f;
                    v[2].y = v[0].y + (v[1].y - v[0].y) * f + float(pick(9) + 1);
                }
                if (pick(2)) v[1].r = v[1].g = v[1].b = v[0].r;
                grDrawTriangle(&v[0], &v[1], &v[2]);
            }
        });
        EXPECT_EQ(result, "") << "state " << state;
    }
    glide::setRasterPath(glide::RasterPath::fast);
}

// A clear waits for the drawing after it, and a backdrop drawn in its place must leave what the
// clear followed by the backdrop leaves: frames of clears in varied windows, with or without
// depth, followed by backdrops in front of or behind the cleared depth, a second backdrop over
// the first, objects, captions and read-backs, against the reference stage, which carries out
// every clear before it draws.
TEST(RasterPaths, DrawingInAPendingClearsPlaceMatchesTheReference) {
    for (int state : {kSurface, kSurfaceNoAlpha}) {
        setShowState(ShowState(state));
        ShowDraws setup(33);
        setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
        std::mt19937 fill(33);
        for (auto& p : glide::board.color[glide::board.front ^ 1]) p = std::uint16_t(fill());
        for (auto& d : glide::board.depth) d = std::uint16_t(fill());
        // Each frame's colour and depth as read back at its end, on each stage.
        std::vector<std::uint16_t> readBack[2];
        int run = 0;
        const std::string result = comparePaths([state, &readBack, &run] {
            ShowDraws draws(unsigned(state) + 40);
            std::mt19937& rng = draws.rng;
            auto pick = [&rng](int n) { return int(rng() % unsigned(n)); };
            std::vector<std::uint16_t>& read = readBack[run++];
            // The whole screen, or narrower across, down or both.
            auto window = [&pick] {
                const int narrow = pick(4);
                const bool across = narrow & 1, down = narrow & 2;
                grClipWindow(across ? pick(100) : 0, down ? pick(100) : 0,
                             across ? 540 + pick(101) : 640, down ? 380 + pick(101) : 480);
            };
            for (int frame = 0; frame < 32; ++frame) {
                window();
                // Without depth writes a clear leaves the depth buffer as it is.
                grDepthMask(pick(5) != 0);
                const FxU16 depth = pick(4) == 0 ? FxU16(rng()) : FxU16(0xFFFF);
                grBufferClear(GrColor_t(rng()), 0, depth);
                grDepthMask(FXTRUE);
                if (pick(3) == 0) window();
                // Near the board's largest depth as well, behind the clear's.
                const float oow = pick(3) == 0 ? 1.0f / 60000.0f : 1.0f / 10000.0f;
                draws.background(oow);
                if (pick(4) == 0) draws.background(1.0f / 5000.0f);
                if (pick(2)) draws.triangles(4);
                const std::size_t at = read.size();
                read.resize(at + 2 * glide::kPixels);
                grLfbReadRegion(GR_BUFFER_BACKBUFFER, 0, 0, 640, 480, 1280, read.data() + at);
                const std::uint16_t* depths = grExtDepthBuffer();
                std::copy(depths, depths + glide::kPixels, read.data() + at + glide::kPixels);
            }
        });
        EXPECT_EQ(result, "") << "state " << state;
        ASSERT_EQ(readBack[0].size(), readBack[1].size());
        const auto differ =
            std::mismatch(readBack[0].begin(), readBack[0].end(), readBack[1].begin());
        const std::size_t at = std::size_t(differ.first - readBack[0].begin());
        EXPECT_EQ(at, readBack[0].size())
            << "state " << state << ": frame " << at / (2 * glide::kPixels) << " differs first in "
            << (at % (2 * glide::kPixels) < std::size_t(glide::kPixels) ? "colour" : "depth");
    }
    glide::setRasterPath(glide::RasterPath::fast);
}

// The scenes' frame, a clear and then the backdrop, writes every pixel once: the backdrop's two
// triangles are drawn in the clear's place, and the clear has nothing left to fill.
TEST(RasterPaths, TheBackdropIsDrawnInTheClearsPlace) {
    setShowState(kSurfaceNoAlpha);
    ShowDraws draws(8);
    draws.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
    grBufferClear(0, 0, 0xFFFF);
    draws.background();
    ASSERT_TRUE(glide::board.pending.active);
    for (int y = 0; y < glide::kHeight; ++y) {
        const glide::PendingClear::Run run = glide::board.pending.drawn[std::size_t(y)];
        ASSERT_EQ(run.lo, 0) << "row " << y;
        ASSERT_EQ(run.hi, glide::kWidth) << "row " << y;
    }
    // An object in front has to test against the backdrop's depth: the clear is carried out
    // (filling nothing), and drawing goes on as usual.
    draws.triangles(3);
    EXPECT_FALSE(glide::board.pending.active);
    const std::uint16_t* depth = glide::depthBuffer();
    EXPECT_EQ(std::count(depth, depth + glide::kPixels, 0xFFFF), 0);
}

// Frames of backdrops over all or part of the screen, the rest of it covered by a second one
// after objects were drawn, objects in front of and behind them, captions and texture downloads
// between them, against the reference stage, frame by frame.
TEST(RasterPaths, FramesOfBackdropsObjectsAndCaptionsMatchTheReference) {
    for (int state : {kSurface, kSurfaceNoAlpha}) {
        setShowState(ShowState(state));
        // Each frame's colour and depth as read back at its end, summed, on each stage.
        std::vector<std::uint64_t> sums[2];
        int run = 0;
        const std::string result = comparePaths([state, &sums, &run] {
            std::vector<std::uint64_t>& sum = sums[run++];
            // Each stage starts from the same texture: the frames download others.
            ShowDraws setup(61);
            setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
            ShowDraws draws(unsigned(state) + 70);
            auto pick = [&draws](int n) { return int(draws.rng() % unsigned(n)); };
            for (int frame = 0; frame < 24; ++frame) {
                grClipWindow(0, 0, 640, 480);
                grBufferClear(GrColor_t(draws.rng()), 0, 0xFFFF);
                // Far, or near enough for many objects to lie behind it.
                const float oow = pick(2) ? 1.0f / 10000.0f : 1.0f / 1000.0f;
                const int split = pick(3) == 0 ? 0 : 100 + pick(440);
                if (split) grClipWindow(0, 0, split, 480);
                draws.background(oow);
                grClipWindow(0, 0, 640, 480);
                draws.triangles(4 + pick(24));
                if (split) {
                    grClipWindow(split, 0, 640, 480);
                    draws.background(oow * 2.0f);
                    grClipWindow(0, 0, 640, 480);
                    draws.triangles(4 + pick(12));
                }
                if (pick(3) == 0) {
                    // A caption: added, with the key.
                    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
                    grChromakeyMode(GR_CHROMAKEY_ENABLE);
                    draws.triangles(3);
                    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
                    grChromakeyMode(GR_CHROMAKEY_DISABLE);
                    draws.triangles(3);
                }
                if (pick(4) == 0) {
                    draws.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
                    draws.triangles(3);
                }
                const std::uint16_t* color = grExtBackBuffer();
                const std::uint16_t* depth = grExtDepthBuffer();
                std::uint64_t h = 1469598103934665603ull;
                for (int i = 0; i < glide::kPixels; ++i)
                    h = (h ^ (std::uint64_t(color[i]) << 16 | depth[i])) * 1099511628211ull;
                sum.push_back(h);
            }
        });
        EXPECT_EQ(result, "") << "state " << state;
        EXPECT_EQ(sums[0], sums[1]) << "state " << state << ": a frame differs";
    }
    glide::setRasterPath(glide::RasterPath::fast);
}

// Texel positions just below one of the weight's 1/256 steps, between half a texel before the
// first centre and the centre: the reference rounds their distance from the floor to the
// coarser steps of 0.5..1, which carries it up to the step (or to a whole texel, a weight of
// 256). Triangles of one position each, across a checkerboard where every step of the weight
// shows, for s and for t.
TEST(RasterPaths, TexelPositionsWhoseWeightRoundsUpMatchTheReference) {
    setShowState(kSurfaceNoAlpha);
    std::vector<std::uint16_t> board(256 * 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) board[y * 256 + x] = (x + y) & 1 ? 0xFFFF : 0x0000;
    GrTexInfo info{GR_LOD_256, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, board.data()};
    grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
    grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
    const std::string result = comparePaths([] {
        for (int k = 0; k < 32; ++k) {
            // 0.5 - k / 256 - 2^-25: the position less half a texel, -k / 256 - 2^-25, lies
            // half a step of 0.5..1 below -k / 256, and the tie rounds to it.
            const float tricky = 0.5f - float(k) / 256.0f - std::ldexp(1.0f, -25);
            const float plain = 100.3f + float(k);
            for (int axis = 0; axis < 2; ++axis) {
                const float x = 20.0f * float(k % 16) + 330.0f * float(axis),
                            y = 20.0f + 200.0f * float(k / 16);
                const float s = axis == 0 ? tricky : plain, t = axis == 0 ? plain : tricky;
                GrVertex a = vertex(x, y, 255, 255, 255, 0, 1.0f, s, t);
                GrVertex b = vertex(x + 16, y, 255, 255, 255, 0, 1.0f, s, t);
                GrVertex c = vertex(x, y + 150, 255, 255, 255, 0, 1.0f, s, t);
                grDrawTriangle(&a, &b, &c);
                grDrawTriangle(&a, &c, &b);
            }
        }
    });
    EXPECT_EQ(result, "");
    glide::setRasterPath(glide::RasterPath::fast);
}

// A triangle at one depth whose texture coordinates overflow takes each pixel's own level.
TEST(RasterPaths, FlatTrianglesWithHugeCoordinatesMatchTheReference) {
    for (int state : {kSurface, kCaption}) {
        setShowState(ShowState(state));
        ShowDraws setup(77);
        setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
        const std::string result = comparePaths([] {
            // Coordinates that overflow towards one corner: there the rate of change is not a
            // number and the pixels take the largest level, elsewhere the smallest.
            const float oow = 1e-4f;
            GrVertex a = vertex(10, 10, 200, 100, 50, 0, oow, 0, 0);
            GrVertex b = vertex(600, 40, 200, 100, 50, 0, oow, 0, 0);
            GrVertex c = vertex(300, 470, 200, 100, 50, 0, oow, 0, 0);
            a.tmuvtx[0].sow = 1e34f;
            b.tmuvtx[0].sow = 3e34f;
            c.tmuvtx[0].sow = 1e35f;
            grDrawTriangle(&a, &c, &b);
            // Not a number everywhere.
            c.tmuvtx[0].sow = std::nanf("");
            b.tmuvtx[0].tow = -3e35f;
            grDrawTriangle(&a, &c, &b);
        });
        EXPECT_EQ(result, "") << "state " << state;
    }
    glide::setRasterPath(glide::RasterPath::fast);
}

}  // namespace

namespace {

TEST(RasterPaths, SteppedSpansEqualDividedSpans) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> coord(-200, 900);
    glide::RenderState rs;
    int compared = 0;
    for (int i = 0; i < 3000; ++i) {
        // Tiny, screen-sized and far-reaching triangles: the last have one corner near the
        // screen and edges from it with values beyond 32 bits at the pixels they cross.
        const float spread = i % 3 == 0 ? 3.0f : (i % 3 == 1 ? 300.0f : 200000.0f);
        const float cx = coord(rng), cy = coord(rng);
        std::uniform_real_distribution<float> near(-spread, spread);
        const GrVertex a = spread > 1000.0f ? vertex(cx, cy)
                                            : vertex(cx + near(rng), cy + near(rng)),
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

// Narrow triangles: slivers, specks, tall needles, and needles so long that their edge values
// pass 32 bits inside the bounds, where the spans must come from the walker instead. Narrow
// clip windows cut screen-wide triangles down to narrow bounds too.
TEST(RasterPaths, NarrowSpansEqualDividedSpans) {
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> coord(-20, 660), unit(0, 1);
    int narrow = 0, declined = 0, rows = 0;
    for (int i = 0; i < 6000; ++i) {
        glide::RenderState rs;
        const float cx = coord(rng), cy = coord(rng);
        const float w = 17.0f * unit(rng);
        const float h = i % 4 == 0 ? 500.0f * unit(rng) : 20.0f * unit(rng);
        GrVertex a = vertex(cx, cy), b = vertex(cx + w, cy + h * unit(rng)),
                 c = vertex(cx + w * unit(rng), cy + h);
        if (i % 5 == 0) {
            // A needle reaching far off the screen.
            const float reach = 1e5f + 1e7f * unit(rng);
            c = vertex(cx + w * unit(rng), cy + reach);
        } else if (i % 5 == 1) {
            // A large triangle seen through a window a few pixels wide.
            a = vertex(coord(rng), coord(rng));
            b = vertex(coord(rng), coord(rng));
            c = vertex(coord(rng), coord(rng));
            rs.clipMinX = std::clamp(int(cx), 0, 630);
            rs.clipMaxX = rs.clipMinX + 1 + int(rng() % 16);
        }
        glide::TriangleSetup setup;
        if (!glide::setupTriangle(a, b, c, rs, &setup)) continue;
        std::int16_t span[glide::kNarrowSpanRows][2];
        if (!glide::narrowSpans(setup, span)) {
            // Only for want of width or of 32 bits.
            if (setup.maxX - setup.minX <= glide::kNarrowWidth) ++declined;
            continue;
        }
        ++narrow;
        for (int y = setup.minY; y < setup.maxY; ++y) {
            int x0, x1;
            glide::rowSpan(setup, y, &x0, &x1);
            const int w0 = span[y - setup.minY][0], w1 = span[y - setup.minY][1];
            if (x0 < x1 || w0 < w1) {
                ASSERT_EQ(w0, x0) << "triangle " << i << " row " << y;
                ASSERT_EQ(w1, x1) << "triangle " << i << " row " << y;
                ++rows;
            }
        }
    }
    EXPECT_GT(narrow, 2000);
    EXPECT_GT(declined, 50) << narrow;
    EXPECT_GT(rows, 20000);
}

}  // namespace

namespace {

// Small triangles put their rows through runs of four pixels, two runs to a group, from
// different rows; at the right edge a run is placed back from the row's end. Rows of every
// short width, at every phase of the dither and at both sides of the buffer, in the show's
// states with textures.
TEST(RasterPaths, SmallTrianglesAtTheBufferEdgesMatchTheReference) {
    for (int state : {kSurface, kHighlight, kCaption}) {
        setShowState(ShowState(state));
        ShowDraws setup(31 + unsigned(state));
        setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, state == kHighlight);
        std::mt19937 fill(7);
        for (auto& p : glide::board.color[glide::board.front ^ 1]) p = std::uint16_t(fill());
        const std::string result = comparePaths([state] {
            ShowDraws draws(100 + unsigned(state));
            const float xs[] = {0.2f, 3.0f, 300.5f, 629.0f, 633.7f, 636.0f, 639.9f};
            const float ys[] = {0.1f, 2.5f, 240.0f, 474.0f, 479.9f};
            for (float x : xs)
                for (float y : ys)
                    for (int i = 0; i < 6; ++i) {
                        const float size = 1.0f + float(i) * 1.7f;
                        const float oow = i % 2 ? 0.5f : draws.uniform(0.05f, 1.0f);
                        GrVertex v[3] = {
                            draws.corner(x, y, oow, draws.uniform(0, 256), draws.uniform(0, 256)),
                            draws.corner(x + draws.uniform(-size, size), y + size, oow * 0.9f,
                                         draws.uniform(0, 256), draws.uniform(0, 256)),
                            draws.corner(x - size, y + draws.uniform(-size, size), oow,
                                         draws.uniform(0, 256), draws.uniform(0, 256))};
                        guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
                        guDrawTriangleWithClip(&v[0], &v[2], &v[1]);
                    }
            // Slivers: one pixel wide and tall.
            for (float x : xs) {
                GrVertex v[3] = {draws.corner(x, 0, 0.5f, 0, 0),
                                 draws.corner(x + 1.2f, 0, 0.5f, 9, 0),
                                 draws.corner(x + 0.6f, 480, 0.25f, 9, 256)};
                guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
                guDrawTriangleWithClip(&v[0], &v[2], &v[1]);
            }
        });
        EXPECT_EQ(result, "") << "state " << state;
    }
    glide::setRasterPath(glide::RasterPath::fast);
}

// A lit triangle with corners within `size` of (cx, cy), 1/w from 2^lowest to 1 and random
// texture coordinates, drawn through the clipping entry point.
void drawTinyTriangle(ShowDraws& draws, float cx, float cy, float size, float lowest, int light) {
    GrVertex v[3];
    for (auto& p : v)
        p = draws.corner(cx + draws.uniform(-size, size), cy + draws.uniform(-size, size),
                         std::exp2(draws.uniform(lowest, 0)), draws.uniform(-300, 600),
                         draws.uniform(-300, 600));
    draws.light(v, light);
    guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
}

// On one drawing thread the narrow triangles of the states that pick each pixel's level wait to
// be shaded together. Tiny triangles heaped on one spot, facing both ways at random depths, keep
// covering pixels that waiting ones cover too; a large triangle, a read of the picture and a new
// texture come between them. The pictures, midway and at the end, must be the reference's.
TEST(RasterPaths, GatheredSmallTrianglesMatchTheReference) {
    const int threads = grExtDrawingThreads();
    grExtSetDrawingThreads(1);
    for (int state : {kSurface, kSurfaceNoAlpha, kHighlight}) {
        setShowState(ShowState(state));
        grCullMode(GR_CULL_DISABLE);
        std::vector<std::uint16_t> midway[2];
        int pass = 0;
        const std::string result = comparePaths([state, &midway, &pass] {
            ShowDraws first(50), draws(200 + unsigned(state));
            first.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
            for (int i = 0; i < 3000; ++i) {
                const float cx = 300 + draws.uniform(0, 12), cy = 200 + draws.uniform(0, 12);
                drawTinyTriangle(draws, cx, cy, draws.uniform(0.5f, 6.0f), -6, i % 7);
                if (i == 1000) {
                    GrVertex big[3] = {draws.corner(290, 190, 0.02f, 0, 0),
                                       draws.corner(330, 195, 0.5f, 256, 0),
                                       draws.corner(305, 225, 0.1f, 0, 256)};
                    guDrawTriangleWithClip(&big[0], &big[1], &big[2]);
                }
                if (i == 2000) {
                    midway[pass].resize(std::size_t(glide::kWidth) * glide::kHeight);
                    grLfbReadRegion(GR_BUFFER_BACKBUFFER, 0, 0, glide::kWidth, glide::kHeight,
                                    glide::kWidth * 2, midway[pass].data());
                }
                if (i == 2500) draws.texture(GR_LOD_4, GR_LOD_64, GR_ASPECT_2x1, true, false);
            }
            ++pass;
        });
        EXPECT_EQ(result, "") << "state " << state;
        EXPECT_TRUE(midway[0] == midway[1]) << "state " << state;
    }
    grExtSetDrawingThreads(threads);
    glide::setRasterPath(glide::RasterPath::fast);
}

// Draws with `draw` on one drawing thread at each kernel width the processor has, in the
// surface state with a mipmapped texture, over random colours and the depths that `depth` makes
// from the random numbers, and expects the pictures of the reference.
template <class Depth, class Draw>
void expectGatheredMatchAtEachWidth(unsigned setupSeed, unsigned fillSeed, const Depth& depth,
                                    const Draw& draw) {
    const int threads = grExtDrawingThreads();
    const int before = glide::vectorLanes();
    const bool gatherBefore = glide::footprintGather();
    grExtSetDrawingThreads(1);
    // Eight lanes, and sixteen with each way of reading the footprints.
    std::vector<std::pair<int, bool>> widths = {{8, false}};
    if (glide::widestVectorLanes() == 16) widths.insert(widths.end(), {{16, false}, {16, true}});
    for (const auto& [lanes, gather] : widths) {
        ASSERT_EQ(glide::setVectorLanes(lanes), lanes);
        glide::setFootprintGather(gather);
        setShowState(kSurface);
        grCullMode(GR_CULL_DISABLE);
        ShowDraws setup(setupSeed);
        setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
        std::mt19937 fill(fillSeed);
        for (auto& p : glide::board.color[glide::board.front ^ 1]) p = std::uint16_t(fill());
        for (auto& d : glide::board.depth) d = depth(fill);
        EXPECT_EQ(comparePaths(draw), "") << lanes << " lanes" << (gather ? ", gathered" : "");
    }
    glide::setVectorLanes(before);
    glide::setFootprintGather(gatherBefore);
    grExtSetDrawingThreads(threads);
    glide::setRasterPath(glide::RasterPath::fast);
}

// Gathered triangles against the buffers' edges, where a row's runs are placed back from the
// row's end and the eight-lane kernels read and write whole runs: tiny triangles in the four
// corners and along the four edges, over buffers of random content, at each kernel width the
// processor has.
TEST(RasterPaths, GatheredTrianglesAtTheBufferEdgesMatchTheReference) {
    // Stored depths in the range of the triangles' (1/w from 1/2 to 1), so that about half the
    // pixels pass.
    auto depth = [](std::mt19937& fill) { return std::uint16_t(fill() & 0x0FFFu); };
    expectGatheredMatchAtEachWidth(71, 12, depth, [] {
        ShowDraws draws(303);
        const float w = float(glide::kWidth), h = float(glide::kHeight);
        const float spots[8][2] = {{0, 0},     {w, 0},     {0, h},     {w, h},
                                   {w / 2, 0}, {w / 2, h}, {0, h / 2}, {w, h / 2}};
        for (int i = 0; i < 4000; ++i) {
            const float* spot = spots[i % 8];
            const float cx = spot[0] + draws.uniform(-10, 10);
            const float cy = spot[1] + draws.uniform(-10, 10);
            drawTinyTriangle(draws, cx, cy, draws.uniform(0.5f, 5.0f), -1, i % 7);
        }
    });
}

// Gathered runs of neighbouring triangles in one row: each triangle covers two pixels of row
// 200, so each row's run of four reaches into the next triangle's pixels. Runs that share a
// place without sharing a pixel may be shaded in one group, and neither may undo the other's
// pixels. Over random colours, at each kernel width the processor has.
TEST(RasterPaths, GatheredRunsOfNeighbouringTrianglesKeepEachOthersPixels) {
    auto farthest = [](std::mt19937&) { return std::uint16_t(0xFFFF); };
    expectGatheredMatchAtEachWidth(72, 13, farthest, [] {
        ShowDraws draws(304);
        for (int i = 0; i < 40; ++i) {
            // Pixels (x, 200) and (x + 1, 200) only: the row's centre line, y = 200.5, crosses
            // the triangle from x + 0.45 to x + 1.6. A 1/w that varies makes the triangle pick
            // each pixel's level, so that it is gathered.
            const float x = 100.0f + 2.0f * float(i);
            GrVertex v[3] = {draws.corner(x - 0.1f, 200.2f, 0.5f, 0, 0),
                             draws.corner(x + 2.2f, 200.2f, 0.6f, 64, 0),
                             draws.corner(x + 1.0f, 200.8f, 0.55f, 32, 64)};
            guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
        }
    });
}

// Small triangles take a path of their own from the vertices to the gathered runs. Triangles
// about its size limits (16 pixels wide, 32 rows tall), facing both ways under each cull mode,
// under clip windows that cut some of them, larger ones
// drawn in between, and some the first after a clear (which must be carried out before them),
// over random colours and depths, at each kernel width the processor has.
TEST(RasterPaths, SmallTrianglesAboutTheirLimitsCulledAndClippedMatchTheReference) {
    auto depth = [](std::mt19937& fill) { return std::uint16_t(fill() & 0x1FFFu); };
    expectGatheredMatchAtEachWidth(73, 14, depth, [] {
        ShowDraws draws(305);
        for (int i = 0; i < 3000; ++i) {
            if (i % 500 == 0) {
                const int cull = (i / 500) % 3;
                grCullMode(cull == 0   ? GR_CULL_DISABLE
                           : cull == 1 ? GR_CULL_POSITIVE
                                       : GR_CULL_NEGATIVE);
                if ((i / 500) % 2)
                    grClipWindow(100 + 50 * (i / 500), 60, 500, 400);
                else
                    grClipWindow(0, 0, 640, 480);
            }
            const float x = draws.uniform(60, 560), y = draws.uniform(40, 420);
            const float w = draws.uniform(0.5f, i % 50 == 0 ? 40.0f : 18.0f);
            const float h = draws.uniform(0.5f, i % 50 == 0 ? 60.0f : 34.0f);
            GrVertex v[3] = {
                draws.corner(x, y, std::exp2(draws.uniform(-4, 0)), draws.uniform(0, 256),
                             draws.uniform(0, 256)),
                draws.corner(x + w * draws.uniform(0, 1), y + h, std::exp2(draws.uniform(-4, 0)),
                             draws.uniform(0, 256), draws.uniform(0, 256)),
                draws.corner(x + w, y + h * draws.uniform(0, 1), std::exp2(draws.uniform(-4, 0)),
                             draws.uniform(0, 256), draws.uniform(0, 256))};
            draws.light(v, i % 7);
            if (i % 2) std::swap(v[1], v[2]);
            guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
        }
        // A clear, and small triangles the first to draw after it.
        grCullMode(GR_CULL_DISABLE);
        grClipWindow(0, 0, 640, 480);
        grBufferClear(0x00406080u, 0, 0xFFFF);
        for (int i = 0; i < 20; ++i) {
            const float x = draws.uniform(60, 560), y = draws.uniform(40, 420);
            GrVertex v[3] = {draws.corner(x, y, 0.5f, 0, 0),
                             draws.corner(x + 10, y + 5, 0.4f, 100, 0),
                             draws.corner(x + 3, y + 20, 0.3f, 0, 100)};
            guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
        }
    });
}

// A small triangle wholly behind the depths stored over its bounds is dropped before its runs
// are queued. Triangles of 6 to 16 by 6 to 30 pixels whose 1/w lie within a few steps of the
// W-buffer's depth either side of the stored depths, most of them just behind, some with a
// pixel or a few just in front, facing both ways: a bound of their nearest depth off by one
// step drops pixels the reference draws.
TEST(RasterPaths, SmallTrianglesJustBehindTheStoredDepthsMatchTheReference) {
    const int stored = glide::wDepth(0.25f);
    auto depth = [stored](std::mt19937& fill) { return std::uint16_t(stored + int(fill() & 1)); };
    expectGatheredMatchAtEachWidth(74, 15, depth, [] {
        ShowDraws draws(306);
        for (int i = 0; i < 3000; ++i) {
            const float x = draws.uniform(20, 600), y = draws.uniform(20, 440);
            const float w = draws.uniform(6, 16), h = draws.uniform(6, 30);
            // One step of the depth is 2^-12 of 1/w here.
            const float behind = draws.uniform(-0.0005f, 0.003f);
            auto oow = [&] { return 0.25f * (1.0f - behind + draws.uniform(-0.0005f, 0.0005f)); };
            GrVertex v[3] = {
                draws.corner(x, y, oow(), draws.uniform(0, 256), draws.uniform(0, 256)),
                draws.corner(x + w * draws.uniform(0, 1), y + h, oow(), draws.uniform(0, 256),
                             draws.uniform(0, 256)),
                draws.corner(x + w, y + h * draws.uniform(0, 1), oow(), draws.uniform(0, 256),
                             draws.uniform(0, 256))};
            draws.light(v, i % 7);
            if (i % 2) std::swap(v[1], v[2]);
            guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
        }
    });
}

// A row is shaded in whole groups of lanes, and its last pixels go through runs of four (with
// texels) or one masked group (without). Rows of every length up to three groups of the widest
// kernels, starting at every phase and ending at the buffer's right edge, with each kernel
// width the processor has.
TEST(RasterPaths, RowsOfEveryLengthMatchTheReferenceAtEveryWidth) {
    const int before = glide::vectorLanes();
    std::vector<int> widths = {8};
    if (glide::widestVectorLanes() == 16) widths.push_back(16);
    for (int lanes : widths) {
        ASSERT_EQ(glide::setVectorLanes(lanes), lanes);
        for (int state : {kSurface, kCaption, kFlat}) {
            setShowState(ShowState(state));
            ShowDraws setup(57 + unsigned(state));
            setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
            std::mt19937 fill(11);
            for (auto& p : glide::board.color[glide::board.front ^ 1]) p = std::uint16_t(fill());
            for (auto& d : glide::board.depth) d = std::uint16_t(fill() | 0x8000u);
            const std::string result = comparePaths([state] {
                ShowDraws draws(200 + unsigned(state));
                // A rectangle of `length` pixels by three rows, as two triangles.
                auto rectangle = [&draws](float x0, float y0, int length) {
                    const float x1 = x0 + float(length), y1 = y0 + 3.0f;
                    const float oow = 0.5f;
                    GrVertex v[4] = {
                        draws.corner(x0, y0, oow, 0, 0), draws.corner(x1, y0, oow, 200, 0),
                        draws.corner(x1, y1, oow, 200, 30), draws.corner(x0, y1, oow, 0, 30)};
                    guDrawTriangleWithClip(&v[0], &v[1], &v[2]);
                    guDrawTriangleWithClip(&v[0], &v[2], &v[3]);
                    guDrawTriangleWithClip(&v[0], &v[2], &v[1]);
                    guDrawTriangleWithClip(&v[0], &v[3], &v[2]);
                };
                for (int length = 1; length <= 52; ++length) {
                    const float y = float(length % 40) * 11.0f + 4.0f;
                    rectangle(float(length % 5), y, length);
                    rectangle(300.0f + float(length % 7), y, length);
                    rectangle(640.0f - float(length), y, length);
                }
            });
            EXPECT_EQ(result, "") << lanes << " lanes, state " << state;
        }
    }
    glide::setVectorLanes(before);
    glide::setRasterPath(glide::RasterPath::fast);
}

// A requested kernel width is held to the widths there are and to what the processor has.
TEST(RasterPaths, TheKernelWidthIsHeldToWhatTheProcessorHas) {
    const int before = glide::vectorLanes();
    const int widest = glide::widestVectorLanes();
    EXPECT_TRUE(widest == 0 || widest == 8 || widest == 16) << widest;
    EXPECT_EQ(glide::setVectorLanes(4), std::min(8, widest));
    EXPECT_EQ(glide::vectorLanes(), std::min(8, widest));
    EXPECT_EQ(glide::setVectorLanes(64), widest);
    EXPECT_EQ(glide::vectorLanes(), widest);
    glide::setVectorLanes(before);
}

// Vertices snap to the nearest sixteenth of a pixel, halves to even: a triangle set up from
// coordinates halfway between two sixteenths is the one set up from the even neighbour.
TEST(RasterPaths, VerticesSnapToTheNearestSixteenthHalvesToEven) {
    glide::RenderState rs;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> grid(16 * 10, 16 * 600);
    auto setupOf = [&rs](const GrVertex& a, const GrVertex& b, const GrVertex& c) {
        glide::TriangleSetup s;
        EXPECT_TRUE(glide::setupTriangle(a, b, c, rs, &s));
        return s;
    };
    auto same = [](const glide::TriangleSetup& p, const glide::TriangleSetup& q) {
        for (int i = 0; i < 3; ++i)
            if (p.edge[i].e0 != q.edge[i].e0 || p.edge[i].ex != q.edge[i].ex ||
                p.edge[i].ey != q.edge[i].ey || p.edge[i].bias != q.edge[i].bias)
                return false;
        return p.minX == q.minX && p.maxX == q.maxX && p.minY == q.minY && p.maxY == q.maxY;
    };
    for (int i = 0; i < 200; ++i) {
        int gx[3], gy[3];
        for (int j = 0; j < 3; ++j) {
            gx[j] = grid(rng);
            gy[j] = grid(rng) % (16 * 470);
        }
        // Halfway above gx: snaps to gx when gx is even, to gx + 1 when it is odd.
        auto halfway = [](int g) { return (float(g) + 0.5f) / 16.0f; };
        auto snapped = [](int g) { return float(g + (g & 1)) / 16.0f; };
        const glide::TriangleSetup tie =
            setupOf(vertex(halfway(gx[0]), halfway(gy[0])), vertex(halfway(gx[1]), halfway(gy[1])),
                    vertex(halfway(gx[2]), halfway(gy[2])));
        const glide::TriangleSetup even =
            setupOf(vertex(snapped(gx[0]), snapped(gy[0])), vertex(snapped(gx[1]), snapped(gy[1])),
                    vertex(snapped(gx[2]), snapped(gy[2])));
        ASSERT_TRUE(same(tie, even)) << "triangle " << i;
        // Just below halfway stays with gx.
        auto below = [](int g) { return std::nextafter((float(g) + 0.5f) / 16.0f, 0.0f); };
        auto exact = [](int g) { return float(g) / 16.0f; };
        ASSERT_TRUE(
            same(setupOf(vertex(below(gx[0]), below(gy[0])), vertex(below(gx[1]), below(gy[1])),
                         vertex(below(gx[2]), below(gy[2]))),
                 setupOf(vertex(exact(gx[0]), exact(gy[0])), vertex(exact(gx[1]), exact(gy[1])),
                         vertex(exact(gx[2]), exact(gy[2])))))
            << "triangle " << i;
    }
}

// With the second drawing thread each triangle's rows are shared out in bands between two
// threads, and a draw call may return before the other thread is done. The pictures must stay
// the reference stage's however the two are timed: the stream changes state between triangles
// (queued triangles keep configurations that are no longer current, more of them than are
// kept), downloads textures, clears, and mixes triangles within one band with large ones.
TEST(DrawingThreads, RowsSharedBetweenThreadsGiveTheReferencesPictures) {
    grExtSetDrawingThreads(2);
    ASSERT_EQ(grExtDrawingThreads(), 2);
    resetBoard();
    std::mt19937 fill(77);
    for (std::uint16_t *p = glide::backBuffer(), *end = p + glide::kPixels; p != end; ++p)
        *p = std::uint16_t(fill());
    for (std::uint16_t *d = glide::depthBuffer(), *end = d + glide::kPixels; d != end; ++d)
        *d = std::uint16_t(fill());
    const std::uint64_t jobsBefore = glide::bandJobsRun();
    for (unsigned trial = 0; trial < 40; ++trial) {
        const std::string result = comparePaths([trial] {
            // Each stage starts from the same state.
            RandomScene setup(trial * 31 + 7);
            setup.randomState();
            RandomScene draws(trial + 1000);
            for (int part = 0; part < 12; ++part) {
                grConstantColorValue(draws.rng());
                grDepthMask(draws.pick(2));
                draws.drawBatch(3);
                if (draws.pick(6) == 0) draws.randomTexture();
                if (draws.pick(8) == 0) grBufferClear(draws.rng(), 0, FxU16(draws.rng()));
                if (draws.pick(10) == 0) draws.randomState();
            }
        });
        ASSERT_EQ(result, "") << "trial " << trial;
    }
    EXPECT_GT(glide::bandJobsRun(), jobsBefore) << "the second thread drew nothing";

    // Back to one thread: the second one is stopped and everything is drawn here.
    grExtSetDrawingThreads(1);
    EXPECT_EQ(grExtDrawingThreads(), 1);
    RandomScene draws(5);
    draws.drawBatch(20);
    EXPECT_EQ(glide::bandJobsRun(), 0u);
}

// Triangles queued for the second thread are drawn with the state of their own draw call, even
// when the state has changed many times since: here the second thread is still busy with a
// large triangle while each of many small ones in its rows gets a colour of its own.
TEST(DrawingThreads, QueuedTrianglesKeepTheStateTheyWereDrawnWith) {
    setShowState(kFlat);
    Buffers result[2];
    for (int threads = 1; threads <= 2; ++threads) {
        grExtSetDrawingThreads(threads);
        grBufferClear(0, 0, 0xFFFF);
        for (int round = 0; round < 4; ++round) {
            const float base = 1.0f / 8192.0f * float(1 << (3 * round));
            const GrVertex a = vertex(0, 0, 0, 0, 0, 0, base), b = vertex(640, 0, 0, 0, 0, 0, base),
                           c = vertex(320, 480, 0, 0, 0, 0, base);
            grConstantColorValue(0x10203000u * std::uint32_t(round + 1));
            grCullMode(GR_CULL_DISABLE);
            grDrawTriangle(&a, &b, &c);
            // Twenty small triangles in rows 16..31, one band of the second thread, each nearer
            // than the one before and in a colour of its own.
            for (int i = 0; i < 20; ++i) {
                const float oow = base * (1.1f + 0.1f * float(i)), x = 100.0f + 7.0f * float(i);
                const GrVertex p = vertex(x, 17, 0, 0, 0, 0, oow),
                               q = vertex(x + 60, 18, 0, 0, 0, 0, oow),
                               r = vertex(x + 20, 30, 0, 0, 0, 0, oow);
                grConstantColorValue(0x01020300u * std::uint32_t(40 * round + i + 1));
                grDrawTriangle(&p, &q, &r);
            }
        }
        result[threads - 1] = snapshot();
    }
    EXPECT_TRUE(result[0].color == result[1].color);
    EXPECT_TRUE(result[0].depth == result[1].depth);
}

// A clear that no triangle takes the place of is carried out by each thread in its own rows. It
// must reach every row of its window on both, whatever the buffers held before.
TEST(DrawingThreads, AClearReachesTheRowsOfBothThreads) {
    setShowState(kFlat);
    grCullMode(GR_CULL_DISABLE);
    Buffers result[2];
    for (int threads = 1; threads <= 2; ++threads) {
        grExtSetDrawingThreads(threads);
        std::mt19937 leftovers(12);
        for (std::uint16_t *p = glide::backBuffer(), *end = p + glide::kPixels; p != end; ++p)
            *p = std::uint16_t(leftovers());
        for (std::uint16_t *d = glide::depthBuffer(), *end = d + glide::kPixels; d != end; ++d)
            *d = std::uint16_t(leftovers());
        grClipWindow(10, 5, 600, 470);
        grBufferClear(0x40800000u, 0, 0x1234);
        // Small triangles over the bands of both threads; nothing covers the whole window.
        for (int i = 0; i < 12; ++i) {
            const float x = 20.0f + 45.0f * float(i), y = 8.0f + 38.0f * float(i);
            const GrVertex a = vertex(x, y, 0, 0, 0, 0, 0.5f), b = vertex(x + 30, y + 2),
                           c = vertex(x + 8, y + 25, 0, 0, 0, 0, 0.5f);
            grDrawTriangle(&a, &b, &c);
        }
        result[threads - 1] = snapshot();
        grClipWindow(0, 0, 640, 480);
    }
    EXPECT_TRUE(result[0].color == result[1].color);
    EXPECT_TRUE(result[0].depth == result[1].depth);
}

// Small triangles go to the second thread in batches. Those still waiting for a batch to fill
// are handed over as soon as anything waits on the drawing, also when the second thread has gone
// to sleep in the meantime.
TEST(DrawingThreads, TrianglesWaitingForABatchAreDrawn) {
    setShowState(kFlat);
    std::vector<Buffers> result[2];
    for (int threads = 1; threads <= 2; ++threads) {
        grExtSetDrawingThreads(threads);
        grBufferClear(0, 0, 0xFFFF);
        for (int round = 0; round < 24; ++round) {
            // One to seven triangles in rows 16..31, a band of the second thread.
            for (int i = 0; i <= round % 7; ++i) {
                const float x = 10.0f + 25.0f * float(i), y = 17.0f + float(round % 5);
                const GrVertex a = vertex(x, y), b = vertex(x + 20, y), c = vertex(x + 5, y + 9);
                grConstantColorValue(0x01030500u * std::uint32_t(8 * round + i + 1));
                grDrawTriangle(&a, &b, &c);
            }
            // Long enough for an idle thread to go to sleep.
            std::this_thread::sleep_for(std::chrono::microseconds(round % 2 ? 400 : 20));
            result[threads - 1].push_back(snapshot());
        }
    }
    for (std::size_t i = 0; i < result[0].size(); ++i)
        ASSERT_TRUE(result[0][i].color == result[1][i].color) << "round " << i;
}

// The scenes' own frames: backdrop, objects and captions with the rows shared between two
// threads equal the same frames drawn on one.
TEST(DrawingThreads, TheShowsStatesGiveTheSamePicturesOnOneAndTwoThreads) {
    for (int state = 0; state < kStates; ++state) {
        setShowState(ShowState(state));
        ShowDraws setup(9);
        setup.texture(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, false, false);
        Buffers result[2];
        for (int threads = 1; threads <= 2; ++threads) {
            grExtSetDrawingThreads(threads);
            grBufferClear(0, 0, 0xFFFF);
            ShowDraws draws(unsigned(state) + 90);
            draws.background();
            draws.triangles(60);
            result[threads - 1] = snapshot();
        }
        EXPECT_TRUE(result[0].color == result[1].color) << "state " << state;
        EXPECT_TRUE(result[0].depth == result[1].depth) << "state " << state;
    }
}

}  // namespace

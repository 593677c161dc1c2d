// Rasterizer benchmarks: a full-screen textured quad, the same with additive blending and chroma
// key, the scenes' backdrop, a page of text, and a mesh of small lit textured triangles; pixels
// and triangles per second as counters.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "glide.h"
#include "glide_internal.h"
#include "glideext.h"
#include "raster.h"
#include "text.h"

namespace {

constexpr int kPathFast = 0;  // the widest kernels (or those TARNOVEL_VECTOR_LANES asks for)
constexpr int kPathReference = 1;
constexpr int kPathFastEightLanes = 2;  // the eight-lane kernels

std::vector<std::uint16_t> textureTexels;

// A 256x256 RGB565 picture with all its levels; every fourth 32x32 cell black, so the chroma
// key has something to drop.
void downloadTexture() {
    textureTexels.clear();
    for (int side = 256; side >= 1; side /= 2)
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int cx = x * 256 / side / 32, cy = y * 256 / side / 32;
                const bool black = (cx % 2 == 0) && (cy % 2 == 0);
                const int r = (x * 31 / side), g = (y * 63 / side), b = ((x ^ y) & 31);
                textureTexels.push_back(black ? 0 : std::uint16_t(r << 11 | g << 5 | b));
            }
    GrTexInfo info{GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, textureTexels.data()};
    grTexDownloadMipMap(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
    grTexSource(GR_TMU0, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
}

// The show's global render state: texel times vertex colour, bilinear, wrap, nearest mipmap,
// W-buffer with "less", depth writes on. One drawing thread unless `threads` says two.
void setShowState(int path, int threads = 1) {
    grGlideInit();
    grExtSetDrawingThreads(threads);
    static const int chosenLanes = glide::vectorLanes();
    glide::setVectorLanes(path == kPathFastEightLanes ? 8 : chosenLanes);
    glide::setRasterPath(path == kPathReference ? glide::RasterPath::reference
                                                : glide::RasterPath::fast);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    grTexFilterMode(GR_TMU0, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR);
    grTexClampMode(GR_TMU0, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP);
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST, FXFALSE);
    grDepthBufferMode(GR_DEPTHBUFFER_WBUFFER);
    grDepthBufferFunction(GR_CMP_LESS);
    grDepthMask(FXTRUE);
    grCullMode(GR_CULL_DISABLE);
    grChromakeyMode(GR_CHROMAKEY_DISABLE);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
    grClipWindow(0, 0, 640, 480);
    downloadTexture();
}

GrVertex corner(float x, float y, float w, float s, float t, float light) {
    GrVertex v{};
    v.x = x;
    v.y = y;
    v.r = light;
    v.g = light * 0.8f;
    v.b = light * 0.6f;
    v.a = 255;
    v.oow = 1.0f / w;
    v.tmuvtx[0].sow = s / w;
    v.tmuvtx[0].tow = t / w;
    v.tmuvtx[0].oow = 1.0f / w;
    return v;
}

// The whole screen as a plane leaning away to the right: perspective, Gouraud, depth varying.
void drawScreenQuad() {
    const GrVertex a = corner(0, 0, 1.0f, 0, 300, 255), b = corner(640, 0, 2.0f, 600, 300, 120);
    const GrVertex c = corner(640, 480, 2.0f, 600, 0, 200), d = corner(0, 480, 1.0f, 0, 0, 90);
    grDrawTriangle(&a, &b, &c);
    grDrawTriangle(&a, &c, &d);
}

// Every pixel of the frame drawn, by either thread, inside the timed part. The two-thread
// variants are timed by the clock on the wall, not by the calling thread's processor time.
void finishFrame() {
    benchmark::DoNotOptimize(grExtBackBuffer());
}

// A clear waits for the frame's first triangle, which carries it out unless it is drawn in the
// clear's place (see BM_Background). `settle`: the clear is carried out here, untimed, so that
// the timed part is the drawing alone.
void clearFrame(benchmark::State& state, bool settle = true) {
    state.PauseTiming();
    grBufferClear(0, 0, 0xFFFF);
    if (settle) benchmark::DoNotOptimize(grExtBackBuffer());
    state.ResumeTiming();
}

void BM_FullScreenTexturedQuad(benchmark::State& state, int path, int threads) {
    setShowState(path, threads);
    for (auto _ : state) {
        clearFrame(state);
        drawScreenQuad();
        finishFrame();
    }
    state.counters["pixels/s"] = benchmark::Counter(
        double(glide::kPixels) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["triangles/s"] =
        benchmark::Counter(2.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_FullScreenTexturedQuad, fast, kPathFast, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullScreenTexturedQuad, reference, kPathReference, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullScreenTexturedQuad, fast_eight_lanes, kPathFastEightLanes, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullScreenTexturedQuad, fast_two_threads, kPathFast, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FullScreenAdditiveChromaKey(benchmark::State& state, int path) {
    setShowState(path);
    grChromakeyValue(0);
    grChromakeyMode(GR_CHROMAKEY_ENABLE);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
    for (auto _ : state) {
        clearFrame(state);
        drawScreenQuad();
    }
    state.counters["pixels/s"] = benchmark::Counter(
        double(glide::kPixels) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["triangles/s"] =
        benchmark::Counter(2.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_FullScreenAdditiveChromaKey, fast, kPathFast)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullScreenAdditiveChromaKey, reference, kPathReference)
    ->Unit(benchmark::kMillisecond);

// A page of text as the title and credit pages draw it: 14 lines of 18 glyphs, each a 32x32
// cell of the font picture added to the screen with black keyed out. `shift` moves every glyph
// by that fraction of a pixel, off the texel centres the whole-pixel positions sample at.
void BM_PageText(benchmark::State& state, float shift) {
    setShowState(kPathFast);
    grChromakeyValue(0);
    grChromakeyMode(GR_CHROMAKEY_ENABLE);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
    constexpr int kLines = 14, kGlyphs = 18;
    for (auto _ : state) {
        clearFrame(state);
        for (int line = 0; line < kLines; ++line)
            for (int i = 0; i < kGlyphs; ++i)
                drawGlyph(200, 32.0f + 32.0f * float(i) + shift, 470.0f - 33.0f * float(line),
                          33 + (line * kGlyphs + i) % 60);
    }
    state.counters["pixels/s"] =
        benchmark::Counter(double(kLines * kGlyphs * 32 * 32) * double(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_PageText, fast, 0.0f)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PageText, fast_shifted, 0.5f)->Unit(benchmark::kMillisecond);

// The scenes' background: the screen at one depth (no perspective), its texture turned by
// `degrees` and zoomed so that the largest level is read, with the scenes' surface combine.
// `timedClear`: the clear before it is timed too, as in a scene's frame (the backdrop is drawn
// in the clear's place); otherwise only the drawing is timed.
void BM_Background(benchmark::State& state, int path, float degrees, bool timedClear,
                   int threads = 1) {
    setShowState(path, threads);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA, GR_COMBINE_FACTOR_LOCAL,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    const float angle = degrees * 3.14159265f / 180.0f, k = 0.6f;
    const float xs[4] = {0, 640, 640, 0}, ys[4] = {480, 480, 0, 0};
    GrVertex v[4];
    for (int i = 0; i < 4; ++i) {
        const float dx = xs[i] - 320, dy = ys[i] - 240;
        const float s = 128 + k * (dx * std::cos(angle) + dy * std::sin(angle));
        const float t = 128 + k * (dx * std::sin(angle) - dy * std::cos(angle));
        v[i] = corner(xs[i], ys[i], 10000.0f, s, t, 60.0f + 50.0f * float(i));
        v[i].a = 0;
    }
    for (auto _ : state) {
        if (timedClear)
            grBufferClear(0, 0, 0xFFFF);
        else
            clearFrame(state, false);  // drawn in the clear's place, as in the scenes
        grDrawTriangle(&v[0], &v[1], &v[2]);
        grDrawTriangle(&v[0], &v[2], &v[3]);
        // What the frame leaves behind is complete before the next one starts.
        finishFrame();
    }
    state.counters["pixels/s"] = benchmark::Counter(
        double(glide::kPixels) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_Background, fast_straight, kPathFast, 0.0f, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Background, fast_turned, kPathFast, 30.0f, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Background, fast_turned_eight_lanes, kPathFastEightLanes, 30.0f, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Background, fast_turned_cleared, kPathFast, 30.0f, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Background, fast_turned_cleared_two_threads, kPathFast, 30.0f, true, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// 2,000 small lit textured triangles: a 50x20 grid of quads over a rippled surface.
void BM_LitTexturedMesh(benchmark::State& state, int path, int threads) {
    setShowState(path, threads);
    constexpr int kCols = 50, kRows = 20;
    std::vector<GrVertex> grid;
    for (int r = 0; r <= kRows; ++r)
        for (int c = 0; c <= kCols; ++c) {
            const float z = 4.0f + std::sin(c * 0.3f) + std::cos(r * 0.4f);
            const float light = 128 + 120 * std::sin(c * 0.2f + r * 0.1f);
            grid.push_back(
                corner(20 + c * 12.0f + 0.25f * r, 40 + r * 20.0f, z, c * 20.0f, r * 20.0f, light));
        }
    auto at = [&](int r, int c) { return &grid[std::size_t(r) * (kCols + 1) + c]; };
    for (auto _ : state) {
        clearFrame(state);
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kCols; ++c) {
                guDrawTriangleWithClip(at(r, c), at(r, c + 1), at(r + 1, c + 1));
                guDrawTriangleWithClip(at(r, c), at(r + 1, c + 1), at(r + 1, c));
            }
        finishFrame();
    }
    // The mesh is a sheared 600 x 400 rectangle: that many pixels, each covered once.
    const long pixels = 600L * 400L;
    state.counters["pixels/s"] = benchmark::Counter(double(pixels) * double(state.iterations()),
                                                    benchmark::Counter::kIsRate);
    state.counters["triangles/s"] = benchmark::Counter(
        2.0 * kCols * kRows * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_LitTexturedMesh, fast, kPathFast, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LitTexturedMesh, reference, kPathReference, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LitTexturedMesh, fast_eight_lanes, kPathFastEightLanes, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LitTexturedMesh, fast_two_threads, kPathFast, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

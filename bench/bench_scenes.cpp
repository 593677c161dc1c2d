// Effect scene benchmarks: each scene of the show run in virtual time for as many frames as the
// show gives it, with every frame's drawing cost measured as the recorder measures render_ms
// (from one swap's return to the next swap's call) but in this thread's CPU time, so that other
// work on a busy machine does not count. Reports the median, 99th percentile and maximum.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display.h"
#include "effects.h"
#include "glide.h"
#include "glideext.h"
#include "host.h"
#include "music.h"
#include "raster.h"

namespace {

// In the show each scene runs 1242 swaps: the end cue comes after this many, then the captions
// slide out (88 swaps) and a black frame ends it.
constexpr int kShowFramesBeforeEndCue = 1153;

double threadCpuMs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct SceneRun {
    int endAt = 0;
    int swaps = 0;
    double frameStart = -1.0;
    std::vector<double> frameMs;
};
SceneRun run;

void onSwap(bool before, void*) {
    const double now = threadCpuMs();
    if (before) {
        if (run.frameStart >= 0.0) run.frameMs.push_back(now - run.frameStart);
        return;
    }
    run.frameStart = now;
    if (++run.swaps == run.endAt) onMusicSync(1, 0, 0);
}

// The recorder's percentile: the value at rank ceil(p * n).
double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t rank = std::size_t(std::ceil(p * double(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

// TARNOVEL_BENCH_FRAMES shortens the scenes (for instruction counts under callgrind).
int framesBeforeEndCue() {
    const char* text = std::getenv("TARNOVEL_BENCH_FRAMES");
    const int frames = text ? std::atoi(text) : 0;
    return frames > 0 ? frames : kShowFramesBeforeEndCue;
}

void BM_SceneFrames(benchmark::State& state, void (*scene)(), int threads) {
    if (chdir(TARNOVEL_ASSETS) != 0) {
        state.SkipWithError("no data folder");
        return;
    }
    std::vector<double> all;
    for (auto _ : state) {
        run = SceneRun{};
        run.endAt = framesBeforeEndCue();
        hostInitVirtual(nullptr, 0, 0.0);
        if (!openDisplay()) {
            state.SkipWithError("no display");
            return;
        }
        // The rasterizer benchmarks may have left the reference path selected.
        glide::setRasterPath(glide::RasterPath::fast);
        grExtSetDrawingThreads(threads);
        setRenderState();
        grChromakeyValue(0);  // as the opening titles leave it
        startCue = 1;
        endCue = 0;
        hostAddSwapListener(onSwap, nullptr);
        scene();
        closeDisplay();
        double total = 0.0;
        for (double ms : run.frameMs) total += ms;
        state.SetIterationTime(total / 1e3);
        all.insert(all.end(), run.frameMs.begin(), run.frameMs.end());
    }
    state.counters["frames"] = double(all.size());
    state.counters["median_ms"] = percentile(all, 0.5);
    state.counters["p99_ms"] = percentile(all, 0.99);
    state.counters["max_ms"] = all.empty() ? 0.0 : *std::max_element(all.begin(), all.end());
}

// Each scene on one core, and with the second drawing thread (`two_threads`).
#define SCENE_BENCHMARK(scene)                                       \
    BENCHMARK_CAPTURE(BM_SceneFrames, scene, scene, 1)               \
        ->Iterations(1)                                              \
        ->UseManualTime()                                            \
        ->Unit(benchmark::kMillisecond);                             \
    BENCHMARK_CAPTURE(BM_SceneFrames, scene##_two_threads, scene, 2) \
        ->Iterations(1)                                              \
        ->UseManualTime()                                            \
        ->Unit(benchmark::kMillisecond)

SCENE_BENCHMARK(flatShadingScene);
SCENE_BENCHMARK(texturedShadingScene);
SCENE_BENCHMARK(environmentMappingScene);
SCENE_BENCHMARK(rotationScene);
SCENE_BENCHMARK(wavingFlagScene);
SCENE_BENCHMARK(parameterizedSurfaceScene);
SCENE_BENCHMARK(phongShadingScene);

}  // namespace

// The optimised rasterizer against the reference one on real frames of every effect scene. Each
// scene runs twice in virtual time; in the second run a few chosen frames are drawn by the
// reference path, and each must equal the same frame of the first run, drawn by the optimised
// path, in every colour and depth value.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "display.h"
#include "effects.h"
#include "glide_internal.h"
#include "host.h"
#include "music.h"
#include "raster.h"

namespace {

// The end cue rises after this many swaps; the captions then slide out and a black frame ends
// the scene, so the chosen frames cover the scene's opening, its middle and its leaving.
constexpr int kEndCueAt = 150;
constexpr int kChosenFrames[] = {1, 2, 45, 100, 150, 175, 230};

struct FrameCopy {
    int number = 0;
    std::vector<std::uint16_t> color, depth;
};

struct PathRun {
    bool referenceOnChosen = false;  // the second run: chosen frames by the reference path
    int swaps = 0;                   // swaps that have returned
    std::vector<FrameCopy> frames;
} run;

bool chosen(int frame) {
    for (int f : kChosenFrames)
        if (f == frame) return true;
    return false;
}

// Frame n is drawn between the return of swap n - 1 and the call of swap n; at the call the
// back buffer holds it whole.
void onSwap(bool before, void*) {
    const int frame = run.swaps + 1;
    if (before) {
        if (chosen(frame)) {
            const std::uint16_t* back = glide::backBuffer();
            run.frames.push_back(FrameCopy{
                frame, {back, back + glide::kWidth * glide::kHeight}, glide::board.depth});
        }
        glide::setRasterPath(glide::RasterPath::fast);
        return;
    }
    if (++run.swaps == kEndCueAt) onMusicSync(1, 0, 0);
    if (run.referenceOnChosen && chosen(run.swaps + 1))
        glide::setRasterPath(glide::RasterPath::reference);
}

std::vector<FrameCopy> runScene(void (*scene)(), bool referenceOnChosen) {
    run = PathRun{};
    run.referenceOnChosen = referenceOnChosen;
    // The optimised frames with the rows shared between two threads, on any machine.
    glide::setDrawingThreads(2);
    hostInitVirtual(nullptr, 0, 60.0);
    if (!openDisplay()) return {};
    setRenderState();
    grChromakeyValue(0);  // as the opening titles leave it
    startCue = 1;
    endCue = 0;
    hostAddSwapListener(onSwap, nullptr);
    glide::setRasterPath(referenceOnChosen && chosen(1) ? glide::RasterPath::reference
                                                        : glide::RasterPath::fast);
    scene();
    closeDisplay();
    glide::setRasterPath(glide::RasterPath::fast);
    return std::move(run.frames);
}

// The first differing value of two buffers, as "x,y: fast F, reference R", or "".
std::string firstDifference(const std::vector<std::uint16_t>& fast,
                            const std::vector<std::uint16_t>& reference) {
    for (std::size_t i = 0; i < fast.size() && i < reference.size(); ++i)
        if (fast[i] != reference[i])
            return std::to_string(i % glide::kWidth) + "," +
                   std::to_string(glide::kHeight - 1 - int(i / glide::kWidth)) + ": fast " +
                   std::to_string(fast[i]) + ", reference " + std::to_string(reference[i]);
    return fast.size() == reference.size() ? "" : "sizes differ";
}

struct SceneCase {
    const char* name;
    void (*scene)();
};

const SceneCase kScenes[] = {
    {"flatShadingScene", flatShadingScene},
    {"texturedShadingScene", texturedShadingScene},
    {"environmentMappingScene", environmentMappingScene},
    {"rotationScene", rotationScene},
    {"wavingFlagScene", wavingFlagScene},
    {"parameterizedSurfaceScene", parameterizedSurfaceScene},
    {"phongShadingScene", phongShadingScene},
};

TEST(ScenePaths, EveryScenesFramesAreTheSameOnBothPaths) {
    char savedDir[PATH_MAX];
    ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
    ASSERT_EQ(chdir(TARNOVEL_ASSETS), 0);
    for (const SceneCase& sc : kScenes) {
        const std::vector<FrameCopy> fast = runScene(sc.scene, false);
        const std::vector<FrameCopy> reference = runScene(sc.scene, true);
        ASSERT_EQ(fast.size(), std::size(kChosenFrames)) << sc.name;
        ASSERT_EQ(reference.size(), fast.size()) << sc.name;
        int drawnPixels = 0;
        for (std::size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(fast[i].number, reference[i].number);
            EXPECT_EQ(firstDifference(fast[i].color, reference[i].color), "")
                << sc.name << " frame " << fast[i].number << " colour";
            EXPECT_EQ(firstDifference(fast[i].depth, reference[i].depth), "")
                << sc.name << " frame " << fast[i].number << " depth";
            for (std::uint16_t p : fast[i].color) drawnPixels += p != 0;
        }
        // The comparison means something only if the scene drew a good part of the screen.
        EXPECT_GT(drawnPixels, glide::kWidth * glide::kHeight / 4) << sc.name;
    }
    EXPECT_EQ(chdir(savedDir), 0);
}

}  // namespace

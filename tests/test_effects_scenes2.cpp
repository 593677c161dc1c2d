// Tests of the rotation, flag, knot and Phong scenes, in virtual time, and of their generators.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "display.h"
#include "driver.h"
#include "effects.h"
#include "glide_internal.h"
#include "glideext.h"
#include "host.h"
#include "music.h"
#include "parameterized_surface.h"
#include "pipeline.h"
#include "scene_frame.h"
#include "test_util.h"
#include "waving_flag.h"

namespace fs = std::filesystem;

namespace {

struct Frame {
    std::int64_t swapAt = 0;
    int objectTriangles = 0;
    int backgroundTriangles = 0;
    GrVertex corner[4] = {};               // top left, top right, bottom right, bottom left
    std::vector<GrVertex> objectVertices;  // kept for the first two frames only
};

// What one scene run showed, gathered from the library's trace and the swaps.
struct SceneRun {
    int endAt = 0;  // the end cue rises as this swap returns
    std::vector<Frame> frames;
    Frame current;
    std::string bad;  // the first object triangle that broke the scene's law
    void (*check)(const GrVertex&, std::string*) = nullptr;
    std::string captureFile;
    int captureWrites = 0;
} run;

void onTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c, bool, void*) {
    Frame& f = run.current;
    if (a->oow == 1.0f / 10000.0f) {
        // (top left, top right, bottom right), then (top left, bottom right, bottom left).
        if (f.backgroundTriangles++ == 0) {
            f.corner[0] = *a;
            f.corner[1] = *b;
            f.corner[2] = *c;
        } else {
            f.corner[3] = *c;
        }
        return;
    }
    if (a->oow == 1.0f) return;  // a glyph
    ++f.objectTriangles;
    if (run.frames.size() < 2) f.objectVertices.insert(f.objectVertices.end(), {*a, *b, *c});
    if (!run.check || !run.bad.empty()) return;
    for (const GrVertex* v : {a, b, c}) run.check(*v, &run.bad);
    if (!run.bad.empty()) run.bad += " in frame " + std::to_string(run.frames.size());
}

void onSwap(bool before, void*) {
    if (!before) {
        if (int(run.frames.size()) == run.endAt) onMusicSync(1, 0, 0);
        return;
    }
    run.current.swapAt = hostNow();
    run.frames.push_back(std::move(run.current));
    run.current = Frame{};
    const fs::path capture = fs::path(startDirectory) / run.captureFile;
    if (!run.captureFile.empty() && fs::exists(capture)) {
        ++run.captureWrites;
        fs::remove(capture);
    }
}

// Pauses: gaps of more than half a second between swaps, in seconds.
std::vector<double> pauses() {
    std::vector<double> gaps;
    for (std::size_t n = 1; n < run.frames.size(); ++n) {
        const std::int64_t gap = run.frames[n].swapAt - run.frames[n - 1].swapAt;
        if (gap > kHostSampleRate / 2) gaps.push_back(double(gap) / kHostSampleRate);
    }
    return gaps;
}

class Scenes2 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
        dir = makeTempDir("scene2");
        for (const auto& entry : fs::directory_iterator(TARNOVEL_ASSETS))
            fs::create_symlink(entry.path(), dir / entry.path().filename());
        ASSERT_EQ(chdir(dir.c_str()), 0);
        run = SceneRun{};
    }
    void TearDown() override {
        grExtSetTriangleTrace(nullptr, nullptr);
        if (displayOpen) closeDisplay();
        EXPECT_EQ(chdir(savedDir), 0);
        fs::remove_all(dir);
    }

    // Virtual host, display and the render state the show has when the scenes begin; runs the
    // scene and checks what every scene leaves behind.
    void play(void (*scene)(), const std::vector<std::pair<double, int>>& keys = {}) {
        std::vector<HostKeyEvent> script;
        for (const auto& [at, key] : keys)
            script.push_back({std::int64_t(at * kHostSampleRate), key});
        hostInitVirtual(script.data(), script.size(), 300.0);
        ASSERT_TRUE(openDisplay());
        displayOpen = true;
        setRenderState();
        grChromakeyValue(0);
        startCue = 1;
        endCue = 0;
        grExtSetTriangleTrace(onTriangle, nullptr);
        hostAddSwapListener(onSwap, nullptr);
        scene();

        EXPECT_EQ(run.bad, "");
        // From rest the leave takes 88 frames after the one that sees the end cue, then black.
        EXPECT_EQ(int(run.frames.size()), run.endAt + 88 + 1);
        const std::uint16_t* p = grExtFrontBuffer();
        EXPECT_TRUE(std::all_of(p, p + 640 * 480, [](std::uint16_t v) { return v == 0; }));
        const auto& s = glide::board.state;
        EXPECT_FALSE(s.chromakeyEnabled);
        EXPECT_EQ(s.blendRgbDst, GR_BLEND_ZERO);
        EXPECT_EQ(s.color.function, GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA);
        EXPECT_EQ(s.color.other, GR_COMBINE_OTHER_TEXTURE);
        EXPECT_EQ(s.cullMode, GR_CULL_POSITIVE);
        if (!run.captureFile.empty()) {
            EXPECT_EQ(run.captureWrites + int(fs::exists(dir / run.captureFile)), 1);
        }
    }

    // The animated background of the first frame: black, turned 0, zoomed by `k` about the
    // texture point (128, 128).
    static void expectFirstBackground(float k) {
        const Frame& first = run.frames.at(0);
        ASSERT_EQ(first.backgroundTriangles, 2);
        for (const GrVertex& v : first.corner) {
            EXPECT_EQ(v.r + v.g + v.b, 0.0f);
            EXPECT_NEAR(v.tmuvtx[0].sow * 10000.0f, 128.0f + k * (v.x - 320.0f), 1e-3f);
            EXPECT_NEAR(v.tmuvtx[0].tow * 10000.0f, 128.0f - k * (v.y - 240.0f), 1e-3f);
        }
    }

    fs::path dir;
    char savedDir[PATH_MAX] = {};
    bool displayOpen = false;
};

float textureS(const GrVertex& v) {
    return v.tmuvtx[0].sow / v.tmuvtx[0].oow;
}
float textureT(const GrVertex& v) {
    return v.tmuvtx[0].tow / v.tmuvtx[0].oow;
}

// A texture point looked up by a unit normal lies on the disc of radius 128, and the headlight
// level of the same normal is 32 (turned away) or follows the normal's depth.
void checkNormalLookup(const GrVertex& v, float level, std::string* why) {
    const float nx = (textureS(v) - 128.0f) / 128.0f, ny = (128.0f - textureT(v)) / 128.0f;
    const float d2 = nx * nx + ny * ny;
    const float facing = 32.0f + 223.0f * std::sqrt(std::max(0.0f, 1.0f - d2));
    if (d2 > 1.0002f)
        *why = "outside the disc";
    else if (level != 32.0f && std::fabs(level - facing) > 0.6f)
        *why = "level " + std::to_string(level) + " for a normal read at " + std::to_string(d2);
}

}  // namespace

TEST_F(Scenes2, RotationTurnsEverFasterAboutAWanderingCentreAndPausesOnP) {
    run.endAt = 200;
    run.captureFile = "Rotation.raw";
    // Two p's waiting together are read in two frames: two pauses, then a third.
    play(rotationScene, {{2.0, 'p'}, {2.0, 'p'}, {3.5, 'P'}, {5.0, 's'}, {5.1, 'q'}});

    const float firstCorners[4][2] = {{-224, -232}, {736, -232}, {736, 488}, {-224, 488}};
    for (int i = 0; i < 4; ++i) {
        const GrVertex& v = run.frames[0].corner[i];
        EXPECT_EQ(std::max({v.r, v.g, v.b}), 128.0f);
        EXPECT_EQ(std::min({v.r, v.g, v.b}), 128.0f);
        EXPECT_NEAR(v.tmuvtx[0].sow * 10000.0f, firstCorners[i][0], 1e-3f) << i;
        EXPECT_NEAR(v.tmuvtx[0].tow * 10000.0f, firstCorners[i][1], 1e-3f) << i;
    }
    // Turn, zoom and centre of every frame, read back from the corners: the turn speed
    // starts at -980 and gains 20 a frame.
    std::uint16_t theta = 0, speed = 64536;
    for (int n = 0; n + 1 < int(run.frames.size()); ++n) {
        const GrVertex* c = run.frames[n].corner;
        const double dS = (double(c[1].tmuvtx[0].sow) - c[0].tmuvtx[0].sow) * 10000.0;
        const double dT = (double(c[1].tmuvtx[0].tow) - c[0].tmuvtx[0].tow) * 10000.0;
        const double turn = std::atan2(dT, dS) / 6.283185307179586 * 65536.0;
        ASSERT_LT(std::fabs(std::remainder(turn - theta, 65536.0)), 0.5) << n;
        EXPECT_NEAR(std::hypot(dS, dT) / 640.0, 1.5 + sineTable[std::uint16_t(300 * n)], 1e-4);
        EXPECT_NEAR((c[0].tmuvtx[0].sow + c[2].tmuvtx[0].sow) * 5000.0,
                    128.0 * cosineTable[std::uint16_t(200 * n)] + 128.0, 1e-2);
        EXPECT_NEAR((c[0].tmuvtx[0].tow + c[2].tmuvtx[0].tow) * 5000.0,
                    128.0 * sineTable[std::uint16_t(100 * n)] + 128.0, 1e-2);
        EXPECT_TRUE(n >= 200 || (c[3].g >= 128.0f && c[3].g <= 255.0f)) << n;
        speed += 20;
        theta += speed;
    }
    // The last frame drawn is dark, not yet black.
    EXPECT_GT(run.frames[run.frames.size() - 2].corner[0].r, 0.0f);
    EXPECT_LT(run.frames[run.frames.size() - 2].corner[0].r, 12.0f);
    const std::vector<double> gaps = pauses();
    ASSERT_EQ(gaps.size(), 3u);
    for (double gap : gaps) EXPECT_TRUE(gap >= 1.0 && gap <= 1.0 + 2.0 / 60.0) << gap;
}

TEST(FlagGrid, PointsTrianglesPictureCoordinatesAndNormals) {
    static Object3d flag;
    float s[kFlagPoints], t[kFlagPoints];
    buildFlagGrid(&flag, s, t);
    ASSERT_EQ(flag.pointCount, 190);
    ASSERT_EQ(flag.triangleCount, 324);
    for (int p = 0; p < kFlagPoints; ++p) {
        const int i = p % 19, j = p / 19;
        EXPECT_EQ(flag.pointX[p], 75.0f * float(i - 9));
        EXPECT_EQ(flag.pointY[p], 75.0f * float(j - 4));
        EXPECT_NEAR(s[p], 256.0f * float(i) / 18.0f, 1e-3f);
        EXPECT_NEAR(t[p], 256.0f - 256.0f * float(j) / 9.0f, 1e-3f);
        if (i == 18 || j == 9) continue;
        const int n = 18 * j + i;
        EXPECT_EQ(flag.cornerA[2 * n] * 1000000 + flag.cornerB[2 * n] * 1000 + flag.cornerC[2 * n],
                  p * 1000000 + (p + 1) * 1000 + p + 20);
        EXPECT_EQ(flag.cornerA[2 * n + 1] * 1000000 + flag.cornerB[2 * n + 1] * 1000 +
                      flag.cornerC[2 * n + 1],
                  p * 1000000 + (p + 20) * 1000 + p + 19);
    }

    // Flat and square to the viewer, every normal is (0, 0, 1), found in the triangles its
    // point has: two and one at the corners, three along the edges, six inside.
    Vector3 position[kFlagPoints], normal[kFlagPoints];
    std::uint8_t count[kFlagPoints];
    for (int p = 0; p < kFlagPoints; ++p)
        position[p] = Vector3{flag.pointX[p] + 30.0f, flag.pointY[p] - 20.0f, 1000.0f};
    computeFlagNormals(flag, position, normal, count);
    for (int p = 0; p < kFlagPoints; ++p) {
        const int i = p % 19, j = p / 19;
        const bool edgeI = i == 0 || i == 18, edgeJ = j == 0 || j == 9;
        const int expected =
            edgeI && edgeJ ? ((i == 0) == (j == 0) ? 2 : 1) : (edgeI || edgeJ ? 3 : 6);
        EXPECT_EQ(count[p], expected) << i << ", " << j;
        EXPECT_TRUE(normal[p].x == 0.0f && normal[p].y == 0.0f && normal[p].z == 1.0f) << p;
    }
    EXPECT_FLOAT_EQ(twoSidedLight(-1.0f), 256.0f);
    EXPECT_FLOAT_EQ(twoSidedLight(1.0f), 256.0f);
    EXPECT_FLOAT_EQ(twoSidedLight(0.0f), 32.0f);
}

TEST_F(Scenes2, FlagWavesFromBothSidesWithCullingOffAndPollsTheKeysTwice) {
    run.endAt = 150;
    run.captureFile = "Canadian Flag.raw";
    run.check = [](const GrVertex& v, std::string* why) {
        if (glide::board.state.cullMode != GR_CULL_DISABLE) *why = "culling on";
        if (v.r != v.g || v.g != v.b || v.r < 32.0f || v.r > 256.0f || v.a != 0.0f)
            *why = "light " + std::to_string(v.r);
    };
    // Three keys waiting at once: the first poll reads 'x', the second 'p', and the next
    // frame's first poll reads 's' in place of the 'p': a capture and no pause. Then 'q' and
    // 'P': the 'P' of the second poll pauses the next frame.
    play(wavingFlagScene, {{1.0, 'x'}, {1.0, 'p'}, {1.0, 's'}, {2.0, 'q'}, {2.0, 'P'}});
    EXPECT_EQ(pauses().size(), 1u);
    expectFirstBackground(1.25f);

    // First frame: flat, square to the viewer, full light, the picture upright on the grid.
    ASSERT_EQ(run.frames[0].objectTriangles, 324);
    std::set<std::pair<int, int>> gridPoints;
    for (const GrVertex& v : run.frames[0].objectVertices) {
        EXPECT_EQ(v.r, 256.0f);
        EXPECT_EQ(v.z, run.frames[0].objectVertices[0].z);
        const float i = textureS(v) * 18.0f / 256.0f, j = (256.0f - textureT(v)) * 9.0f / 256.0f;
        EXPECT_LT(std::fabs(i - std::round(i)) + std::fabs(j - std::round(j)), 2e-3f);
        gridPoints.insert({int(std::round(i)), int(std::round(j))});
    }
    EXPECT_EQ(gridPoints.size(), 190u);
    // The second frame waves: the points move in depth and the light follows the slopes.
    float nearest = 1e9f, farthest = 0.0f, darkest = 256.0f;
    for (const GrVertex& v : run.frames[1].objectVertices) {
        nearest = std::min(nearest, v.z);
        farthest = std::max(farthest, v.z);
        darkest = std::min(darkest, v.r);
    }
    EXPECT_GT(farthest - nearest, 100.0f);
    EXPECT_LT(darkest, 200.0f);
}

TEST_F(Scenes2, ScenesWithoutAWorkingDirectoryReturnAtOnceAndTheFlagRestoresCulling) {
    hostInitVirtual(nullptr, 0, 10.0);
    ASSERT_TRUE(openDisplay());
    displayOpen = true;
    setRenderState();
    const fs::path gone = makeTempDir("gone");
    ASSERT_EQ(chdir(gone.c_str()), 0);
    fs::remove(gone);
    startCue = 1;
    EXPECT_EQ(captureStdout(rotationScene), "Error:  No Current Directory. '_getcwd error'\n\n");
    EXPECT_EQ(captureStdout(wavingFlagScene),
              "_GetCWD Error.  No Current Directory.  Your computer is fucked!\n\n");
    EXPECT_EQ(glide::board.state.cullMode, GR_CULL_POSITIVE);
    EXPECT_EQ(startCue.load(), 1) << "no scene waited for its start";
}

TEST(KnotTube, IsAClosedTubeOfDistinctPointsWithNormalsPointingOut) {
    static Object3d tube;
    static Vector3 normal[kMaxPoints];
    bool ok = false;
    EXPECT_EQ(captureStdout([&] { ok = buildKnotTube(&tube, kKnotPoints, kKnotTriangles); }), "");
    ASSERT_TRUE(ok);
    ASSERT_EQ(tube.pointCount, 1024);
    ASSERT_EQ(tube.triangleCount, 2048);

    // Closed: every edge once in each direction, six triangles at every point.
    std::map<std::pair<int, int>, int> edges;
    std::vector<int> uses(1024, 0);
    for (int i = 0; i < 2048; ++i) {
        const int c[3] = {tube.cornerA[i], tube.cornerB[i], tube.cornerC[i]};
        for (int k = 0; k < 3; ++k) ++edges[{c[k], c[(k + 1) % 3]}], ++uses[c[k]];
    }
    for (const auto& [edge, count] : edges)
        EXPECT_TRUE(count == 1 && edges.count({edge.second, edge.first}) == 1);
    EXPECT_EQ(std::count(uses.begin(), uses.end(), 6), 1024);

    // No doubled points (the seam closes by its indices), none beyond 900 from the centre,
    // and every normal points away from the knot's core curve.
    float closest = 1e9f;
    for (int p = 0; p < 1024; ++p)
        for (int q = p + 1; q < 1024; ++q)
            closest = std::min(closest, std::hypot(tube.pointX[p] - tube.pointX[q],
                                                   tube.pointY[p] - tube.pointY[q],
                                                   tube.pointZ[p] - tube.pointZ[q]));
    EXPECT_GT(closest, 10.0f);
    computeVertexNormals(tube, normal);
    for (int p = 0; p < 1024; ++p) {
        EXPECT_LE(std::hypot(tube.pointX[p], tube.pointY[p], tube.pointZ[p]), 900.01f);
        const double u = (p / 8) * 6.283185307179586 / 128.0, core = 5.0 + 1.5 * std::sin(5.0 * u);
        const double out[3] = {tube.pointX[p] - 125.0 * core * std::cos(2.0 * u),
                               tube.pointY[p] - 125.0 * core * std::sin(2.0 * u),
                               tube.pointZ[p] - 187.5 * std::cos(5.0 * u)};
        EXPECT_NEAR(std::hypot(out[0], out[1], out[2]), 87.5, 0.05) << p;
        EXPECT_GT(normal[p].x * out[0] + normal[p].y * out[1] + normal[p].z * out[2], 0.5 * 87.5);
    }
}

TEST(KnotTube, ItsChecksFireOnlyWhenTheCountsAreChanged) {
    static Object3d tube;
    const std::tuple<int, int, const char*> cases[] = {
        {2362, 2048, "Maximum Points = 2361\nObject Points = 2362\n\n"},
        {1024, 4974,
         "Error:  Too many polygons.\nMaximum Polys = 4973\nObject Polygons = 4974\n\n"},
        {1023, 2048, "Error:  out of range (points array)\n\n"},
        {1025, 2048,
         "QZ_TARNOVEL_Effect_Parameterization Error:\nAmount of points set <> points to be "
         "drawn.\n\n"},
        {1024, 2047, "Error:  out of range (polys array)\n\n"},
    };
    for (const auto& [points, triangles, message] : cases) {
        bool ok = true;
        EXPECT_EQ(captureStdout([&] { ok = buildKnotTube(&tube, points, triangles); }), message);
        EXPECT_FALSE(ok);
    }
}

TEST_F(Scenes2, SurfaceBuildsUpEightTrianglesAFrame) {
    run.endAt = 280;
    run.captureFile = "3D Parameterization.raw";
    run.check = [](const GrVertex& v, std::string* why) {
        if (glide::board.state.cullMode != GR_CULL_POSITIVE) *why = "culling off";
        if (v.r != v.g || v.g != v.b || v.a != 0.0f) *why = "colour " + std::to_string(v.r);
        checkNormalLookup(v, v.r, why);
    };
    play(parameterizedSurfaceScene, {{4.0, 's'}});
    for (int n = 0; n < 280; ++n)
        EXPECT_EQ(run.frames[n].objectTriangles, std::min(8 * (n + 1), 2048)) << n;
    expectFirstBackground(1.25f);
}

TEST_F(Scenes2, PhongAddsTheHighlightToADarkBlueMaskDrawnFromBothSides) {
    run.endAt = 150;
    run.captureFile = "Phong Shading.raw";
    run.check = [](const GrVertex& v, std::string* why) {
        const auto& s = glide::board.state;
        if (s.cullMode != GR_CULL_DISABLE) *why = "culling on";
        if (s.color.function != GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL ||
            s.color.factor != GR_COMBINE_FACTOR_ONE || s.color.other != GR_COMBINE_OTHER_TEXTURE)
            *why = "combine " + std::to_string(s.color.function);
        if (v.r != v.g || v.b != 4.0f * v.r || v.r < 4.0f || v.r > 31.875f)
            *why = "colour " + std::to_string(v.r) + ", " + std::to_string(v.b);
        checkNormalLookup(v, v.r * 8.0f, why);
    };
    play(phongShadingScene, {{1.8, 's'}});
    EXPECT_GT(run.frames[100].objectTriangles, 3000);
    expectFirstBackground(1.25f);
}

TEST_F(Scenes2, PhongWithoutItsMaskReturnsBeforeTouchingTheCullMode) {
    hostInitVirtual(nullptr, 0, 10.0);
    ASSERT_TRUE(openDisplay());
    displayOpen = true;
    fs::remove(dir / "MASK.PLG");
    grCullMode(GR_CULL_NEGATIVE);
    EXPECT_EQ(captureStdout(phongShadingScene), "Error:  Couldn't load OBJ_INPUT file!");
    EXPECT_EQ(glide::board.state.cullMode, GR_CULL_NEGATIVE);
}

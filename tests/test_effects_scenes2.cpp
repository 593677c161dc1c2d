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
#include <utility>
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

constexpr double kTwoPi = 6.283185307179586;

struct Frame {
    float slideOffset = 0.0f;
    std::int64_t swapAt = 0;
    int objectTriangles = 0;
    int backgroundTriangles = 0;
    GrVertex corner[4] = {};               // top left, top right, bottom right, bottom left
    std::vector<GrVertex> objectVertices;  // kept for the first frames only
};

// What one scene run showed, gathered from the library's trace and the swaps.
struct SceneRun {
    int endAt = 0;  // the end cue rises as this swap returns
    int swaps = 0;
    std::vector<Frame> frames;
    Frame current;
    std::string bad;  // the first object triangle that broke the scene's law
    void (*checkVertex)(const GrVertex&, std::string*) = nullptr;
    void (*checkState)(std::string*) = nullptr;
    std::string captureFile;
    int captureWrites = 0;
} run;

bool isGlyph(const GrVertex* v) {
    return v->oow == 1.0f;
}
bool isBackground(const GrVertex* v) {
    return v->oow == 1.0f / 10000.0f;
}

void onTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c, bool, void*) {
    Frame& f = run.current;
    if (isBackground(a)) {
        if (f.backgroundTriangles++ == 0) {
            f.corner[0] = *a;
            f.corner[1] = *b;
            f.corner[2] = *c;
        } else {
            f.corner[3] = *c;
        }
        return;
    }
    if (isGlyph(a)) return;
    ++f.objectTriangles;
    if (run.frames.size() < 3)
        for (const GrVertex* v : {a, b, c}) f.objectVertices.push_back(*v);
    if (!run.bad.empty()) return;
    if (run.checkState) run.checkState(&run.bad);
    if (run.checkVertex)
        for (const GrVertex* v : {a, b, c}) run.checkVertex(*v, &run.bad);
    if (!run.bad.empty()) run.bad += " (frame " + std::to_string(run.frames.size()) + ")";
}

void onSwap(bool before, void*) {
    if (before) {
        run.current.slideOffset = slideOffset;
        run.current.swapAt = hostNow();
        run.frames.push_back(std::move(run.current));
        run.current = Frame{};
        if (!run.captureFile.empty() && fs::exists(fs::path(startDirectory) / run.captureFile)) {
            ++run.captureWrites;
            fs::remove(fs::path(startDirectory) / run.captureFile);
        }
        return;
    }
    if (++run.swaps == run.endAt) onMusicSync(1, 0, 0);
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

    // Virtual host, display and the render state the show has when the scenes begin.
    void start(const std::vector<HostKeyEvent>& keys = {}) {
        hostInitVirtual(keys.data(), keys.size(), 300.0);
        ASSERT_TRUE(openDisplay());
        displayOpen = true;
        setRenderState();
        grChromakeyValue(0);
        startCue = 1;
        endCue = 0;
        grExtSetTriangleTrace(onTriangle, nullptr);
        hostAddSwapListener(onSwap, nullptr);
    }

    static HostKeyEvent keyAt(double seconds, int key) {
        return HostKeyEvent{std::int64_t(seconds * kHostSampleRate), key};
    }

    static bool frontBufferBlack() {
        const std::uint16_t* p = grExtFrontBuffer();
        return std::all_of(p, p + 640 * 480, [](std::uint16_t v) { return v == 0; });
    }

    // The state every scene leaves: opaque drawing, chroma key off, texel x colour + alpha,
    // back faces culled.
    static void expectFrameStateRestored() {
        const auto& s = glide::board.state;
        EXPECT_FALSE(s.chromakeyEnabled);
        EXPECT_EQ(s.blendRgbDst, GR_BLEND_ZERO);
        EXPECT_EQ(s.color.function, GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA);
        EXPECT_EQ(s.color.other, GR_COMBINE_OTHER_TEXTURE);
        EXPECT_EQ(s.alpha.function, GR_COMBINE_FUNCTION_LOCAL);
        EXPECT_EQ(s.cullMode, GR_CULL_POSITIVE);
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

    // The capture of the scene was written exactly once.
    void expectOneCapture() {
        EXPECT_EQ(run.captureWrites + int(fs::exists(dir / run.captureFile)), 1) << run.captureFile;
    }

    fs::path dir;
    char savedDir[PATH_MAX] = {};
    bool displayOpen = false;
};

// A vertex's texture point, undivided.
float textureS(const GrVertex& v) {
    return v.tmuvtx[0].sow / v.tmuvtx[0].oow;
}
float textureT(const GrVertex& v) {
    return v.tmuvtx[0].tow / v.tmuvtx[0].oow;
}

// The rotated normal's x and y read back from a normal-looked-up texture point; false outside
// the disc of radius 128.
bool normalFromTexturePoint(const GrVertex& v, float* nx, float* ny, float* d2) {
    *nx = (textureS(v) - 128.0f) / 128.0f;
    *ny = (128.0f - textureT(v)) / 128.0f;
    *d2 = *nx * *nx + *ny * *ny;
    return *d2 <= 1.0002f;
}

// The headlight level that a unit normal read back at distance^2 `d2` gives when it faces the
// viewer; 32 is also right for one that faces away.
bool headlightLevelFits(float level, float d2) {
    const float facing = 32.0f + 223.0f * std::sqrt(std::max(0.0f, 1.0f - d2));
    return level == 32.0f || std::fabs(level - facing) < 0.6f;
}

}  // namespace

// --- rotation ----------------------------------------------------------------------------------

TEST_F(Scenes2, RotationTurnsEverFasterAboutAWanderingCentre) {
    run.endAt = 200;
    start();
    rotationScene();

    ASSERT_EQ(run.swaps, 200 + 88 + 1);
    EXPECT_TRUE(frontBufferBlack());
    expectFrameStateRestored();

    // First frame: half-bright tint, no turn, zoom 1.5 about the texel point (256, 128).
    const Frame& first = run.frames[0];
    const float expected[4][2] = {{-224, -232}, {736, -232}, {736, 488}, {-224, 488}};
    for (int i = 0; i < 4; ++i) {
        const GrVertex& v = first.corner[i];
        EXPECT_EQ(v.r, 128.0f);
        EXPECT_EQ(v.g, 128.0f);
        EXPECT_EQ(v.b, 128.0f);
        EXPECT_NEAR(v.tmuvtx[0].sow * 10000.0f, expected[i][0], 1e-3f) << i;
        EXPECT_NEAR(v.tmuvtx[0].tow * 10000.0f, expected[i][1], 1e-3f) << i;
    }

    // Turn, zoom and centre of every frame, read back from the corners: the speed starts at
    // -980 and gains 20 a frame; the zoom and the centre follow their phases.
    std::uint16_t theta = 0, speed = 64536;
    for (std::size_t n = 0; n + 1 < run.frames.size(); ++n) {
        SCOPED_TRACE(n);
        const Frame& f = run.frames[n];
        ASSERT_EQ(f.objectTriangles, 0);
        const GrVertex* c = f.corner;
        const double dS = (double(c[1].tmuvtx[0].sow) - c[0].tmuvtx[0].sow) * 10000.0;
        const double dT = (double(c[1].tmuvtx[0].tow) - c[0].tmuvtx[0].tow) * 10000.0;
        const double turn = std::atan2(dT, dS) / kTwoPi * 65536.0;
        const double off = std::remainder(turn - double(theta), 65536.0);
        EXPECT_LT(std::fabs(off), 0.5) << "theta " << theta;
        const std::uint16_t phi = std::uint16_t(300 * n);
        EXPECT_NEAR(std::hypot(dS, dT) / 640.0, 1.5 + sineTable[phi], 1e-4);
        const double cx = (c[0].tmuvtx[0].sow + c[2].tmuvtx[0].sow) * 5000.0;
        const double cy = (c[0].tmuvtx[0].tow + c[2].tmuvtx[0].tow) * 5000.0;
        EXPECT_NEAR(cx, 128.0 * cosineTable[std::uint16_t(200 * n)] + 128.0, 1e-2);
        EXPECT_NEAR(cy, 128.0 * sineTable[std::uint16_t(100 * n)] + 128.0, 1e-2);
        // Never below half brightness until the leave fades the picture.
        if (n < 200) {
            for (const GrVertex& v : f.corner) EXPECT_TRUE(v.r >= 128.0f && v.r <= 255.0f);
        }
        speed += 20;
        theta += speed;
    }
    // The last frame drawn is dark but not yet black.
    const Frame& last = run.frames[run.frames.size() - 2];
    for (const GrVertex& v : last.corner) {
        EXPECT_GT(v.r, 0.0f);
        EXPECT_LT(v.r, 12.0f);
    }
}

TEST_F(Scenes2, RotationPausesOnceForEveryPKeyReadAndCapturesOnS) {
    run.endAt = 300;
    run.captureFile = "Rotation.raw";
    // Two p's waiting together are read in two frames: two pauses.
    start({keyAt(2.0, 'p'), keyAt(2.0, 'p'), keyAt(3.5, 'P'), keyAt(5.0, 's'), keyAt(5.1, 'q')});
    rotationScene();

    std::vector<double> pauses;
    for (std::size_t n = 1; n < run.frames.size(); ++n) {
        const double gap =
            double(run.frames[n].swapAt - run.frames[n - 1].swapAt) / kHostSampleRate;
        if (gap > 0.1) pauses.push_back(gap);
    }
    ASSERT_EQ(pauses.size(), 3u);
    for (double gap : pauses) {
        EXPECT_GE(gap, 1.0);
        EXPECT_LE(gap, 1.0 + 2.0 / 60.0);
    }
    expectOneCapture();
}

TEST_F(Scenes2, RotationWithoutAWorkingDirectoryReturnsAtOnce) {
    start();
    const fs::path gone = makeTempDir("gone");
    ASSERT_EQ(chdir(gone.c_str()), 0);
    fs::remove(gone);
    startCue = 1;
    EXPECT_EQ(captureStdout(rotationScene), "Error:  No Current Directory. '_getcwd error'\n\n");
    EXPECT_EQ(run.swaps, 0);
    EXPECT_EQ(startCue.load(), 1);
}

// --- waving flag -------------------------------------------------------------------------------

TEST(FlagGrid, PointsTrianglesPictureCoordinatesAndNormals) {
    static Object3d flag;
    float s[kFlagPoints], t[kFlagPoints];
    buildFlagGrid(&flag, s, t);
    ASSERT_EQ(flag.pointCount, 190);
    ASSERT_EQ(flag.triangleCount, 324);
    for (int j = 0; j < 10; ++j)
        for (int i = 0; i < 19; ++i) {
            const int p = 19 * j + i;
            EXPECT_EQ(flag.pointX[p], 75.0f * float(i - 9));
            EXPECT_EQ(flag.pointY[p], 75.0f * float(j - 4));
            EXPECT_NEAR(s[p], 256.0f * float(i) / 18.0f, 1e-3f);
            EXPECT_NEAR(t[p], 256.0f - 256.0f * float(j) / 9.0f, 1e-3f);
        }
    for (int j = 0; j < 9; ++j)
        for (int i = 0; i < 18; ++i) {
            const int p = 19 * j + i, n = 18 * j + i;
            EXPECT_EQ(flag.cornerA[2 * n], p);
            EXPECT_EQ(flag.cornerB[2 * n], p + 1);
            EXPECT_EQ(flag.cornerC[2 * n], p + 20);
            EXPECT_EQ(flag.cornerA[2 * n + 1], p);
            EXPECT_EQ(flag.cornerB[2 * n + 1], p + 20);
            EXPECT_EQ(flag.cornerC[2 * n + 1], p + 19);
        }

    // Flat and square to the viewer: every normal is (0, 0, 1), found in the triangles its
    // point has: two and one at the corners, three along the edges, six inside.
    Vector3 position[kFlagPoints], normal[kFlagPoints];
    std::uint8_t count[kFlagPoints];
    for (int p = 0; p < kFlagPoints; ++p)
        position[p] = Vector3{flag.pointX[p] + 30.0f, flag.pointY[p] - 20.0f, 1000.0f};
    computeFlagNormals(flag, position, normal, count);
    for (int p = 0; p < kFlagPoints; ++p) {
        const int i = p % 19, j = p / 19;
        const bool edgeI = i == 0 || i == 18, edgeJ = j == 0 || j == 9;
        int expected = 6;
        if (edgeI && edgeJ)
            expected = (i == 0) == (j == 0) ? 2 : 1;
        else if (edgeI || edgeJ)
            expected = 3;
        EXPECT_EQ(count[p], expected) << i << ", " << j;
        EXPECT_EQ(normal[p].x, 0.0f);
        EXPECT_EQ(normal[p].y, 0.0f);
        EXPECT_EQ(normal[p].z, 1.0f);
    }

    // Waved, the normals stay unit length and lean against the slope of the cloth.
    buildTrigTables();
    waveFlag(&flag, 2500);
    for (int p = 0; p < kFlagPoints; ++p)
        position[p] = Vector3{flag.pointX[p], flag.pointY[p], flag.pointZ[p] + 1000.0f};
    computeFlagNormals(flag, position, normal, count);
    float leanMost = 0.0f;
    for (int p = 0; p < kFlagPoints; ++p) {
        const Vector3& n = normal[p];
        EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 1e-5f);
        EXPECT_GT(n.z, 0.0f);
        leanMost = std::max(leanMost, std::fabs(n.x));
    }
    EXPECT_GT(leanMost, 0.5f);
    EXPECT_FLOAT_EQ(twoSidedLight(-1.0f), 256.0f);
    EXPECT_FLOAT_EQ(twoSidedLight(1.0f), 256.0f);
    EXPECT_FLOAT_EQ(twoSidedLight(0.0f), 32.0f);
}

TEST_F(Scenes2, FlagIsDrawnFromBothSidesWithCullingOffAndCullingComesBack) {
    run.endAt = 150;
    run.captureFile = "Canadian Flag.raw";
    run.checkState = [](std::string* why) {
        if (glide::board.state.cullMode != GR_CULL_DISABLE) *why = "culling on";
    };
    run.checkVertex = [](const GrVertex& v, std::string* why) {
        if (v.r != v.g || v.g != v.b || v.r < 32.0f || v.r > 256.0f || v.a != 0.0f)
            *why = "light " + std::to_string(v.r);
    };
    start({keyAt(1.5, 's')});
    wavingFlagScene();

    EXPECT_EQ(run.bad, "");
    ASSERT_EQ(run.swaps, 150 + 88 + 1);
    EXPECT_TRUE(frontBufferBlack());
    expectFrameStateRestored();
    expectOneCapture();
    expectFirstBackground(1.25f);

    // First frame: flat, square to the viewer, full light, the picture upright over the grid.
    const Frame& first = run.frames[0];
    ASSERT_EQ(first.objectTriangles, 324);
    std::set<std::pair<int, int>> gridPoints;
    float depth = first.objectVertices[0].z;
    for (const GrVertex& v : first.objectVertices) {
        EXPECT_EQ(v.r, 256.0f);
        EXPECT_EQ(v.z, depth);
        const float i = textureS(v) * 18.0f / 256.0f, j = (256.0f - textureT(v)) * 9.0f / 256.0f;
        EXPECT_NEAR(i, std::round(i), 1e-3f);
        EXPECT_NEAR(j, std::round(j), 1e-3f);
        gridPoints.insert({int(std::round(i)), int(std::round(j))});
    }
    EXPECT_EQ(gridPoints.size(), 190u);
    // From the second frame the wave moves the points in depth and the light follows it.
    float nearest = 1e9f, farthest = 0.0f, darkest = 256.0f;
    for (const GrVertex& v : run.frames[1].objectVertices) {
        nearest = std::min(nearest, v.z);
        farthest = std::max(farthest, v.z);
        darkest = std::min(darkest, v.r);
    }
    EXPECT_GT(farthest - nearest, 100.0f);
    EXPECT_LT(darkest, 200.0f);
}

TEST_F(Scenes2, FlagActsOnTheKeyOfItsSecondPollOneFrameLate) {
    // Three keys waiting at once: the first poll reads 'x', the second 'p', and the next
    // frame's first poll reads 's', which takes the place of the 'p': a capture, no pause.
    run.endAt = 200;
    run.captureFile = "Canadian Flag.raw";
    start({keyAt(1.0, 'x'), keyAt(1.0, 'p'), keyAt(1.0, 's'), keyAt(2.0, 'q'), keyAt(2.0, 'P')});
    wavingFlagScene();

    expectOneCapture();
    // The 'P' read at the second poll of its frame pauses the next frame.
    int pauses = 0;
    for (std::size_t n = 1; n < run.frames.size(); ++n)
        pauses += run.frames[n].swapAt - run.frames[n - 1].swapAt > kHostSampleRate / 2;
    EXPECT_EQ(pauses, 1);
}

TEST_F(Scenes2, FlagRestoresCullingWhenItCannotStart) {
    start();
    const fs::path gone = makeTempDir("gone");
    ASSERT_EQ(chdir(gone.c_str()), 0);
    fs::remove(gone);
    EXPECT_EQ(captureStdout(wavingFlagScene),
              "_GetCWD Error.  No Current Directory.  Your computer is fucked!\n\n");
    EXPECT_EQ(glide::board.state.cullMode, GR_CULL_POSITIVE);
    EXPECT_EQ(run.swaps, 0);
}

// --- parameterized surface ---------------------------------------------------------------------

TEST(KnotTube, IsAClosedTubeWithItsNormalsPointingOut) {
    static Object3d tube;
    static Vector3 normal[kMaxPoints];
    bool ok = false;
    EXPECT_EQ(captureStdout([&] { ok = buildKnotTube(&tube, kKnotPoints, kKnotTriangles); }), "");
    ASSERT_TRUE(ok);
    ASSERT_EQ(tube.pointCount, 1024);
    ASSERT_EQ(tube.triangleCount, 2048);

    // Closed: every directed edge once, each in the other direction too, six triangles at
    // every point.
    std::map<std::pair<int, int>, int> edges;
    std::vector<int> uses(1024, 0);
    for (int i = 0; i < 2048; ++i) {
        const int c[3] = {tube.cornerA[i], tube.cornerB[i], tube.cornerC[i]};
        for (int k = 0; k < 3; ++k) {
            ++edges[{c[k], c[(k + 1) % 3]}];
            ++uses[c[k]];
        }
    }
    for (const auto& [edge, count] : edges) {
        EXPECT_EQ(count, 1);
        EXPECT_EQ(edges.count({edge.second, edge.first}), 1u);
    }
    for (int p = 0; p < 1024; ++p) EXPECT_EQ(uses[p], 6) << p;

    // No doubled points (the seam is closed by the indices, not by repeated points), and none
    // farther than 900 from the centre.
    float closest = 1e9f, farthest = 0.0f;
    for (int p = 0; p < 1024; ++p) {
        farthest = std::max(farthest, std::hypot(tube.pointX[p], tube.pointY[p], tube.pointZ[p]));
        for (int q = p + 1; q < 1024; ++q)
            closest = std::min(closest, std::hypot(tube.pointX[p] - tube.pointX[q],
                                                   tube.pointY[p] - tube.pointY[q],
                                                   tube.pointZ[p] - tube.pointZ[q]));
    }
    EXPECT_GT(closest, 10.0f);
    EXPECT_LE(farthest, 900.01f);

    // Every normal points away from the knot's core curve.
    computeVertexNormals(tube, normal);
    for (int p = 0; p < 1024; ++p) {
        const double u = (p / 8) * kTwoPi / 128.0;
        const double core = 5.0 + 1.5 * std::sin(5.0 * u);
        const double out[3] = {tube.pointX[p] - 125.0 * core * std::cos(2.0 * u),
                               tube.pointY[p] - 125.0 * core * std::sin(2.0 * u),
                               tube.pointZ[p] - 125.0 * 1.5 * std::cos(5.0 * u)};
        EXPECT_NEAR(std::hypot(out[0], out[1], out[2]), 87.5, 0.05) << p;
        const double along =
            (normal[p].x * out[0] + normal[p].y * out[1] + normal[p].z * out[2]) / 87.5;
        EXPECT_GT(along, 0.5) << p;
    }
}

TEST(KnotTube, ItsChecksFireOnlyWhenTheCountsAreChanged) {
    static Object3d tube;
    struct Case {
        int points, triangles;
        const char* message;
    } cases[] = {
        {2362, 2048, "Maximum Points = 2361\nObject Points = 2362\n\n"},
        {1024, 4974,
         "Error:  Too many polygons.\nMaximum Polys = 4973\nObject Polygons = 4974\n\n"},
        {1023, 2048, "Error:  out of range (points array)\n\n"},
        {1025, 2048,
         "QZ_TARNOVEL_Effect_Parameterization Error:\nAmount of points set <> points to be "
         "drawn.\n\n"},
        {1024, 2047, "Error:  out of range (polys array)\n\n"},
        {1024, 0, "Error:  out of range (polys array)\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.points) + " " + std::to_string(c.triangles));
        bool ok = true;
        EXPECT_EQ(captureStdout([&] {
                      ok =
                          buildKnotTube(&tube, std::uint16_t(c.points), std::uint16_t(c.triangles));
                  }),
                  c.message);
        EXPECT_FALSE(ok);
    }
}

TEST_F(Scenes2, SurfaceBuildsUpEightTrianglesAFrame) {
    run.endAt = 280;
    run.captureFile = "3D Parameterization.raw";
    run.checkVertex = [](const GrVertex& v, std::string* why) {
        float nx, ny, d2;
        if (v.r != v.g || v.g != v.b || v.a != 0.0f)
            *why = "colour " + std::to_string(v.r);
        else if (!normalFromTexturePoint(v, &nx, &ny, &d2))
            *why = "outside the disc";
        else if (!headlightLevelFits(v.r, d2))
            *why = "light " + std::to_string(v.r) + " for a normal read at " + std::to_string(d2);
    };
    run.checkState = [](std::string* why) {
        if (glide::board.state.cullMode != GR_CULL_POSITIVE) *why = "culling off";
    };
    start({keyAt(4.0, 's')});
    parameterizedSurfaceScene();

    EXPECT_EQ(run.bad, "");
    ASSERT_EQ(run.swaps, 280 + 88 + 1);
    for (int n = 0; n < 280; ++n)
        EXPECT_EQ(run.frames[n].objectTriangles, std::min(8 * (n + 1), 2048)) << n;
    EXPECT_EQ(run.frames[255].objectTriangles, 2048);
    expectFirstBackground(1.25f);
    expectOneCapture();
    expectFrameStateRestored();
    EXPECT_TRUE(frontBufferBlack());
}

// --- Phong shading -----------------------------------------------------------------------------

TEST_F(Scenes2, PhongAddsTheHighlightToADarkBlueMaskDrawnFromBothSides) {
    run.endAt = 150;
    run.captureFile = "Phong Shading.raw";
    run.checkState = [](std::string* why) {
        const auto& s = glide::board.state;
        if (s.cullMode != GR_CULL_DISABLE) *why = "culling on";
        if (s.color.function != GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL ||
            s.color.factor != GR_COMBINE_FACTOR_ONE || s.color.local != GR_COMBINE_LOCAL_ITERATED ||
            s.color.other != GR_COMBINE_OTHER_TEXTURE)
            *why = "combine " + std::to_string(s.color.function);
    };
    run.checkVertex = [](const GrVertex& v, std::string* why) {
        float nx, ny, d2;
        if (v.r != v.g || std::fabs(v.b - 4.0f * v.r) > 1e-3f || v.r < 4.0f || v.r > 31.875f)
            *why = "colour " + std::to_string(v.r) + ", " + std::to_string(v.b);
        else if (!normalFromTexturePoint(v, &nx, &ny, &d2))
            *why = "outside the disc";
        else if (!headlightLevelFits(v.r * 8.0f, d2))
            *why = "level " + std::to_string(v.r * 8.0f) + " at " + std::to_string(d2);
    };
    start({keyAt(1.8, 's')});
    phongShadingScene();

    EXPECT_EQ(run.bad, "");
    ASSERT_EQ(run.swaps, 150 + 88 + 1);
    EXPECT_GT(run.frames[100].objectTriangles, 3000);
    expectFirstBackground(1.25f);
    expectOneCapture();
    expectFrameStateRestored();
    EXPECT_TRUE(frontBufferBlack());
}

TEST_F(Scenes2, PhongWithoutItsMaskReturnsBeforeTouchingTheCullMode) {
    start();
    fs::remove(dir / "MASK.PLG");
    grCullMode(GR_CULL_NEGATIVE);
    EXPECT_EQ(captureStdout(phongShadingScene), "Error:  Couldn't load OBJ_INPUT file!");
    EXPECT_EQ(glide::board.state.cullMode, GR_CULL_NEGATIVE);
    EXPECT_EQ(run.swaps, 0);
}

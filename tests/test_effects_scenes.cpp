// Tests of the three object scenes run in virtual time on the built data files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "display.h"
#include "driver.h"
#include "effects.h"
#include "glide_internal.h"
#include "glideext.h"
#include "host.h"
#include "music.h"
#include "pipeline.h"
#include "scene_frame.h"
#include "test_util.h"
#include "text.h"

namespace fs = std::filesystem;

namespace {

struct CaptionLine {
    float top;
    float left, right;  // the line's ink
};

struct Frame {
    float slideOffset = 0.0f;
    std::uint8_t leaving = 0;
    std::int64_t swapAt = 0;
    int objectTriangles = 0;
    int backgroundTriangles = 0;
    GrVertex corner[4] = {};  // top left, top right, bottom right, bottom left
    std::vector<CaptionLine> captions;
};

// What one scene run showed, gathered from the library's trace and the swaps.
struct SceneRun {
    int endAt = 0;  // the end cue rises as this swap returns
    int swaps = 0;
    std::vector<Frame> frames;
    Frame current;
    std::string badVertex;  // the first vertex that broke the scene's lighting law
    void (*checkObjectVertex)(const GrVertex&, std::string*) = nullptr;
    std::string captureFile;
    int captureWrites = 0;
    std::int64_t startCueAt = 0;  // 0: raised before the scene starts
} run;

bool isGlyph(const GrVertex* v) {
    return v->oow == 1.0f;
}
bool isBackground(const GrVertex* v) {
    return v->oow == 1.0f / 10000.0f;
}

void onTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c, bool clipped, void*) {
    Frame& f = run.current;
    if (isBackground(a)) {
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
    if (isGlyph(a)) {
        if (clipped) return;  // a glyph's first triangle is unclipped, its first vertex top left
        const int code = 32 + int(a->tmuvtx[0].tow / 32.0f) * 8 + int(a->tmuvtx[0].sow / 32.0f);
        const float inkLeft = a->x + glyphLeftEdge[code - 32];
        const float inkRight = a->x + glyphRightEdge[code - 32];
        if (f.captions.empty() || f.captions.back().top != a->y)
            f.captions.push_back({a->y, inkLeft, inkRight});
        f.captions.back().right = inkRight;
        return;
    }
    ++f.objectTriangles;
    if (!run.badVertex.empty() || !run.checkObjectVertex) return;
    for (const GrVertex* v : {a, b, c}) run.checkObjectVertex(*v, &run.badVertex);
}

void onSwap(bool before, void*) {
    if (before) {
        run.current.slideOffset = slideOffset;
        run.current.leaving = leaving;
        run.current.swapAt = hostNow();
        run.frames.push_back(run.current);
        run.current = Frame{};
        if (!run.captureFile.empty() && fs::exists(fs::path(startDirectory) / run.captureFile)) {
            ++run.captureWrites;
            fs::rename(fs::path(startDirectory) / run.captureFile,
                       fs::path(startDirectory) / ("kept-" + run.captureFile));
        }
        return;
    }
    if (++run.swaps == run.endAt) onMusicSync(1, 0, 0);
}

void onClock(std::int64_t now, void*) {
    if (run.startCueAt > 0 && now >= run.startCueAt) {
        onMusicSync(2, 0, 0);
        run.startCueAt = 0;
    }
}

struct SceneCase {
    const char* name;
    void (*scene)();
    const char* objectFile;
    const char* captureFile;
};

const SceneCase kScenes[] = {
    {"FlatShading", flatShadingScene, "orlen_comp3553.3d", "Flat Shading.raw"},
    {"TexturedShading", texturedShadingScene, "bowl.3d",
     "Gouraud Shading and Specular Highlights.raw"},
    {"EnvironmentMapping", environmentMappingScene, "Torus4Pt2Radius.3d",
     "Environment Mapping.raw"},
};

class Scenes : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
        // A folder of its own with links to the data files, where the captures land.
        dir = makeTempDir("scene");
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
        grChromakeyValue(0);  // set by the opening titles
        startCue = run.startCueAt > 0 ? 0 : 1;
        endCue = 0;
        grExtSetTriangleTrace(onTriangle, nullptr);
        hostAddSwapListener(onSwap, nullptr);
        hostAddClockListener(onClock, nullptr);
    }

    static HostKeyEvent keyAt(double seconds, int key) {
        return HostKeyEvent{std::int64_t(seconds * kHostSampleRate), key};
    }

    static bool frontBufferBlack() {
        const std::uint16_t* p = grExtFrontBuffer();
        for (int i = 0; i < 640 * 480; ++i)
            if (p[i] != 0) return false;
        return true;
    }

    // The state every scene leaves: opaque drawing, chroma key off, texel x colour + alpha.
    static void expectFrameStateRestored() {
        const auto& s = glide::board.state;
        EXPECT_FALSE(s.chromakeyEnabled);
        EXPECT_EQ(s.blendRgbSrc, GR_BLEND_ONE);
        EXPECT_EQ(s.blendRgbDst, GR_BLEND_ZERO);
        EXPECT_EQ(s.color.function, GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA);
        EXPECT_EQ(s.color.other, GR_COMBINE_OTHER_TEXTURE);
        EXPECT_EQ(s.alpha.function, GR_COMBINE_FUNCTION_LOCAL);
        EXPECT_EQ(s.cullMode, GR_CULL_POSITIVE);
    }

    fs::path dir;
    char savedDir[PATH_MAX] = {};
    bool displayOpen = false;
};

// Flat shading hands each triangle one grey through the constant colour.
void checkFlatGrey(const GrVertex&, std::string* why) {
    const std::uint32_t c = glide::board.state.constantColor;
    const std::uint32_t r = c >> 24, g = (c >> 16) & 0xFF, b = (c >> 8) & 0xFF, a = c & 0xFF;
    if (r != g || g != b || a != 0 || r < 32) *why = "constant colour " + std::to_string(c);
}

// Gouraud: grey diffuse 32..255 and a highlight that comes from the same normal.
void checkGouraudVertex(const GrVertex& v, std::string* why) {
    const float s = v.tmuvtx[0].sow / v.tmuvtx[0].oow, t = v.tmuvtx[0].tow / v.tmuvtx[0].oow;
    const float nz = v.r > 32.0f ? -(v.r - 32.0f) / 223.0f : 0.0f;
    const float highlight = nz > -0.85f ? 0.0f : (nz + 0.85f) * -850.0f;
    if (v.r != v.g || v.g != v.b || v.r < 32.0f || v.r > 255.01f)
        *why = "diffuse " + std::to_string(v.r);
    else if (std::fabs(v.a - highlight) > 0.1f)
        *why = "highlight " + std::to_string(v.a) + " at diffuse " + std::to_string(v.r);
    else if (s < -0.01f || s > 256.01f || t < -0.01f || t > 256.01f)
        *why = "planar coordinates " + std::to_string(s) + ", " + std::to_string(t);
}

// Environment mapping: coordinates on the disc of radius 128, and a diffuse level that is the
// depth of the same unit normal.
void checkEnvironmentVertex(const GrVertex& v, std::string* why) {
    const float nx = (v.tmuvtx[0].sow / v.tmuvtx[0].oow - 128.0f) / 128.0f;
    const float ny = (128.0f - v.tmuvtx[0].tow / v.tmuvtx[0].oow) / 128.0f;
    const float d2 = nx * nx + ny * ny;
    const float facing = 32.0f + 223.0f * std::sqrt(std::max(0.0f, 1.0f - d2));
    if (v.r != v.g || v.g != v.b || v.a != 0.0f)
        *why = "colour " + std::to_string(v.r) + " alpha " + std::to_string(v.a);
    else if (d2 > 1.0002f)
        *why = "outside the disc: " + std::to_string(d2);
    else if (v.r != 32.0f && std::fabs(v.r - facing) > 0.6f)
        *why = "diffuse " + std::to_string(v.r) + " for a normal read at " + std::to_string(d2);
}

}  // namespace

// Middle of the ink of the caption line whose top edge is `top`.
static float captionCentre(const std::vector<CaptionLine>& lines, float top, bool* found) {
    for (const CaptionLine& line : lines)
        if (line.top == top) {
            *found = true;
            return (line.left + line.right) / 2.0f;
        }
    *found = false;
    return 0.0f;
}

TEST_F(Scenes, FlatShadingFromRestLeavesInEightyEightFramesThenGoesBlack) {
    run.endAt = 400;
    run.checkObjectVertex = checkFlatGrey;
    start();
    endCue = 1;  // left over from the page before: the scene clears it
    flatShadingScene();

    ASSERT_EQ(run.swaps, 400 + 88 + 1);
    EXPECT_EQ(run.frames[0].leaving, 0);
    EXPECT_EQ(run.frames[399].leaving, 0);
    EXPECT_EQ(run.frames[400].leaving, 1);
    EXPECT_EQ(run.badVertex, "");
    EXPECT_TRUE(frontBufferBlack());
    EXPECT_EQ(run.frames.back().objectTriangles, 0);
    expectFrameStateRestored();

    // The object is drawn while on screen; the caption slides in from the left and settles.
    EXPECT_GT(run.frames[200].objectTriangles, 0);
    EXPECT_EQ(run.frames[0].backgroundTriangles, 0);
    EXPECT_TRUE(run.frames[0].captions.empty()) << "x = -3680 is not drawn";
    for (int i : {40, 100, 399, 420}) {
        bool found = false;
        const float centre = captionCentre(run.frames[i].captions, 36.0f, &found);
        ASSERT_TRUE(found) << i;
        EXPECT_EQ(centre, std::ceil(320.0f - run.frames[i].slideOffset)) << i;
    }
}

TEST_F(Scenes, StartCueDuringTheSceneAndOneCapturePerKey) {
    run.endAt = 140;
    run.startCueAt = kHostSampleRate / 2;
    run.captureFile = "Flat Shading.raw";
    start({keyAt(2.0, 's'), keyAt(2.2, 'x'), keyAt(2.25, 'q')});
    flatShadingScene();

    EXPECT_GE(run.frames[0].swapAt, kHostSampleRate / 2);
    EXPECT_EQ(startCue.load(), 0);
    EXPECT_EQ(run.captureWrites + int(fs::exists(dir / run.captureFile)), 1);
    const std::string raw = readFile(dir / ("kept-" + run.captureFile));
    ASSERT_EQ(raw.size(), 921600u);
    // Taken a second and a half into the frames: the grey object near the middle of the
    // picture (grey within the display's dither).
    int grey = 0;
    for (int y = 140; y < 340; ++y)
        for (int x = 220; x < 420; ++x) {
            const unsigned char* p =
                reinterpret_cast<const unsigned char*>(&raw[(y * 640 + x) * 3]);
            if (p[0] > 40 && std::abs(p[0] - p[1]) <= 8 && std::abs(p[1] - p[2]) <= 8) ++grey;
        }
    EXPECT_GT(grey, 4000);
}

class ObjectScenes : public Scenes, public ::testing::WithParamInterface<int> {};

TEST_P(ObjectScenes, DrawTheirObjectAndBackgroundAndCaptureTheScreen) {
    const SceneCase& scene = kScenes[GetParam()];
    const bool textured = GetParam() == 1;
    run.endAt = 95;
    run.captureFile = scene.captureFile;
    run.checkObjectVertex = textured ? checkGouraudVertex : checkEnvironmentVertex;
    start({keyAt(1.5, 'S')});
    scene.scene();

    EXPECT_EQ(run.badVertex, "");
    ASSERT_GT(run.swaps, 95);
    EXPECT_TRUE(frontBufferBlack());
    expectFrameStateRestored();

    // The background rises from black and turns about the texture point (128, 128).
    const Frame& first = run.frames[0];
    ASSERT_EQ(first.backgroundTriangles, 2);
    const float k = textured ? 0.75f : 1.25f;
    for (const GrVertex& v : first.corner) {
        EXPECT_EQ(v.r + v.g + v.b, 0.0f);
        EXPECT_NEAR(v.tmuvtx[0].sow * 10000.0f, 128.0f + k * (v.x - 320.0f), 1e-3f);
        EXPECT_NEAR(v.tmuvtx[0].tow * 10000.0f, 128.0f - k * (v.y - 240.0f), 1e-3f);
    }
    float brightest = 0.0f;
    for (const GrVertex& v : run.frames[90].corner)
        brightest = std::max({brightest, v.r, v.g, v.b});
    EXPECT_GT(brightest, 100.0f);
    // ... and fades back to black while the scene leaves, whatever the object does.
    const Frame& last = run.frames[run.frames.size() - 2];
    for (const GrVertex& v : last.corner) EXPECT_LT(std::max({v.r, v.g, v.b}), 10.0f);
    EXPECT_GT(run.frames[90].objectTriangles, 500);

    // Captions: three lines sliding at three speeds, or one.
    const float tops[] = {100.0f, 68.0f, 36.0f};
    for (int i : {30, 60, 94, 110}) {
        const Frame& f = run.frames[i];
        for (int line = textured ? 0 : 2; line < 3; ++line) {
            const float x = 320.0f - float(3 - line) * f.slideOffset;
            bool found = false;
            const float centre = captionCentre(f.captions, tops[line], &found);
            if (x < -640.0f || x > 1280.0f) {
                EXPECT_FALSE(found) << "frame " << i << " line " << line;
                continue;
            }
            ASSERT_TRUE(found) << "frame " << i << " line " << line;
            EXPECT_EQ(centre, std::ceil(x)) << "frame " << i << " line " << line;
        }
    }

    // One capture, of the scene: background over the whole picture, the object in the middle.
    EXPECT_EQ(run.captureWrites + int(fs::exists(dir / run.captureFile)), 1);
    const std::string raw = readFile(dir / ("kept-" + run.captureFile));
    ASSERT_EQ(raw.size(), 921600u);
    auto lit = [&](int x, int y) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(&raw[(y * 640 + x) * 3]);
        return p[0] + p[1] + p[2] > 30;
    };
    int litCorners = 0, litMiddle = 0;
    for (int y = 0; y < 480; y += 8)
        for (int x = 0; x < 640; x += 8) {
            const bool middle = x > 240 && x < 400 && y > 160 && y < 320;
            (middle ? litMiddle : litCorners) += lit(x, y);
        }
    EXPECT_GT(litMiddle, 300);
    EXPECT_GT(litCorners, 2000);
}

INSTANTIATE_TEST_SUITE_P(Scenes, ObjectScenes, ::testing::Values(1, 2),
                         [](const auto& info) { return std::string(kScenes[info.param].name); });

TEST_F(Scenes, ASceneThatCannotStartReturnsBeforeItsFirstFrame) {
    start();
    for (const SceneCase& scene : kScenes) {
        SCOPED_TRACE(scene.name);
        fs::remove(dir / scene.objectFile);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        startCue = 1;
        const std::string out = captureStdout(scene.scene);
        EXPECT_EQ(out,
                  std::string("Error:  Can't open \"") + scene.objectFile + "\" object file.\n\n");
        EXPECT_EQ(startCue.load(), 1) << "the start cue is left for the next scene";
    }
    // A working directory that no longer exists.
    const fs::path gone = makeTempDir("gone");
    ASSERT_EQ(chdir(gone.c_str()), 0);
    fs::remove(gone);
    for (const SceneCase& scene : kScenes) {
        const std::string out = captureStdout(scene.scene);
        EXPECT_EQ(out, "Error:  No Current Directory. '_getcwd error'\n\n") << scene.name;
    }
    EXPECT_EQ(run.swaps, 0);
}

TEST_F(Scenes, MissingTexturesAreReportedAndTheSceneDrawsOn) {
    fs::remove(dir / "font6000.3df");
    fs::remove(dir / "alldaypissup.3df");
    run.endAt = 20;
    run.checkObjectVertex = checkEnvironmentVertex;
    start();
    const std::string out = captureStdout(environmentMappingScene);
    EXPECT_NE(out.find("\"font6000.3df\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"alldaypissup.3df\""), std::string::npos) << out;
    ASSERT_GT(run.swaps, 20);
    EXPECT_EQ(run.badVertex, "");
    for (const Frame& f : run.frames) EXPECT_TRUE(f.captions.empty());
    EXPECT_GT(run.frames[19].objectTriangles, 0);
    expectFrameStateRestored();
}

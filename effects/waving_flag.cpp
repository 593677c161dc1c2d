// The waving flag scene: a generated cloth grid with a travelling wave, lit from either side.
#include "waving_flag.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "display.h"
#include "driver.h"
#include "effects.h"
#include "glide.h"
#include "host.h"
#include "scene_background.h"
#include "scene_frame.h"

namespace {

// The scene's working arrays, in static storage and refilled by every run of the scene.
Object3d flag;
float flagS[kFlagPoints];
float flagT[kFlagPoints];
Vector3 position[kFlagPoints];
Vector3 normal[kFlagPoints];
std::uint8_t useCount[kFlagPoints];
GrVertex vertex[kFlagPoints];
AnimatedBackground background;

constexpr std::uint16_t kTurnStep = 169;
constexpr std::uint16_t kWaveStep = 2500;
// A point lies in at most six triangles of the grid: the search for its triangles stops there.
constexpr int kMostTrianglesAtAPoint = 6;

// Leaves the scene's one change to the render state behind: back faces are culled again.
void restoreCulling() {
    grCullMode(GR_CULL_POSITIVE);
}

}  // namespace

void buildFlagGrid(Object3d* flag, float* s, float* t) {
    // 75 model units between neighbours, as 50 x 27 / 18.
    const float spacing = 50.0f * 27.0f / 18.0f;
    flag->pointCount = kFlagPoints;
    for (int j = 0; j < kFlagRows; ++j)
        for (int i = 0; i < kFlagColumns; ++i) {
            const int p = kFlagColumns * j + i;
            flag->pointX[p] = float(i - 9) * spacing;
            flag->pointY[p] = float(j - 4) * spacing;
            flag->pointZ[p] = 0.0f;
        }
    flag->triangleCount = kFlagTriangles;
    for (int j = 0; j < kFlagRows - 1; ++j)
        for (int i = 0; i < kFlagColumns - 1; ++i) {
            const int p = kFlagColumns * j + i;
            const int n = (kFlagColumns - 1) * j + i;
            flag->cornerA[2 * n] = std::uint16_t(p);
            flag->cornerB[2 * n] = std::uint16_t(p + 1);
            flag->cornerC[2 * n] = std::uint16_t(p + kFlagColumns + 1);
            flag->cornerA[2 * n + 1] = std::uint16_t(p);
            flag->cornerB[2 * n + 1] = std::uint16_t(p + kFlagColumns + 1);
            flag->cornerC[2 * n + 1] = std::uint16_t(p + kFlagColumns);
        }

    float minX = flag->pointX[0], maxX = minX, minY = flag->pointY[0], maxY = minY;
    for (int p = 1; p < kFlagPoints; ++p) {
        if (flag->pointX[p] < minX) minX = flag->pointX[p];
        if (flag->pointX[p] > maxX) maxX = flag->pointX[p];
        if (flag->pointY[p] < minY) minY = flag->pointY[p];
        if (flag->pointY[p] > maxY) maxY = flag->pointY[p];
    }
    for (int p = 0; p < kFlagPoints; ++p) {
        s[p] = (flag->pointX[p] - minX) * (256.0f / (maxX - minX));
        // Texel rows run downwards: the top row of the grid takes the picture's top row.
        t[p] = 256.0f - (flag->pointY[p] - minY) * (256.0f / (maxY - minY));
    }
}

void waveFlag(Object3d* flag, std::uint16_t wavePhase) {
    for (int j = 0; j < kFlagRows; ++j)
        for (int i = 0; i < kFlagColumns; ++i) {
            const std::uint16_t angle = std::uint16_t(wavePhase - 10000 * i + 5000 * j);
            flag->pointZ[kFlagColumns * j + i] = 100.0f * sineTable[angle];
        }
}

void computeFlagNormals(const Object3d& flag, const Vector3* position, Vector3* normal,
                        std::uint8_t* useCount) {
    for (int p = 0; p < flag.pointCount; ++p) {
        Vector3 sum = {0.0f, 0.0f, 0.0f};
        int count = 0;
        for (int i = 0; i < flag.triangleCount && count < kMostTrianglesAtAPoint; ++i) {
            const int a = flag.cornerA[i], b = flag.cornerB[i], c = flag.cornerC[i];
            if (a != p && b != p && c != p) continue;
            const Vector3 pa = position[a], pb = position[b], pc = position[c];
            sum.x += (pc.y - pb.y) * (pa.z - pb.z) - (pc.z - pb.z) * (pa.y - pb.y);
            sum.y += (pc.z - pb.z) * (pa.x - pb.x) - (pc.x - pb.x) * (pa.z - pb.z);
            sum.z += (pc.x - pb.x) * (pa.y - pb.y) - (pc.y - pb.y) * (pa.x - pb.x);
            ++count;
        }
        useCount[p] = std::uint8_t(count);
        Vector3 n = {0.0f, 0.0f, 0.0f};
        if (count > 0) {
            const Vector3 mean = {sum.x / float(count), sum.y / float(count), sum.z / float(count)};
            const float length = std::sqrt(mean.x * mean.x + mean.y * mean.y + mean.z * mean.z);
            // The grid's cells never fold flat onto themselves, but a zero length must not
            // turn into NaN light.
            if (length > 0.0f) n = Vector3{mean.x / length, mean.y / length, mean.z / length};
        }
        normal[p] = n;
    }
}

float twoSidedLight(float nz) {
    if (nz > 0.0f) return 32.0f + 224.0f * nz;
    return 32.0f - 224.0f * nz;
}

void wavingFlagScene() {
    startSceneFrame();
    fadeFactor = 1.0f;
    // Both faces of the cloth are drawn for the whole scene.
    grCullMode(GR_CULL_DISABLE);
    if (!hostGetCwd(startDirectory, kStartDirectorySize)) {
        std::printf("_GetCWD Error.  No Current Directory.  Your computer is fucked!\n");
        std::printf("\n");
        restoreCulling();
        return;
    }
    startAnimatedBackground(&background, 1.0f, 0.5f - kBackgroundZoomOffset);
    buildTrigTables();

    buildFlagGrid(&flag, flagS, flagT);
    std::memset(vertex, 0, sizeof(vertex));

    SceneTexture backdrop, font, cloth;
    loadSceneTexture("MUTANT.3df", &backdrop);
    loadSceneTexture("font6000.3df", &font);
    loadSceneTexture("c_flag3.3df", &cloth);
    setTexturedCombine();
    grChromakeyValue(0);

    ObjectAngles angles = {0, 0, 0};
    WobbleAngles wobble = {0, 0, 0};
    std::uint16_t wavePhase = 0;
    waitForStartCue();

    while (sceneRunning()) {
        clearFrame();
        updateAnimatedBackground(&background);
        drawAnimatedBackground(background, backdrop);

        const Vector3 offset = wobbleOffsets(wobble, 1000.0f);
        for (int p = 0; p < kFlagPoints; ++p) {
            position[p] =
                rotatePoint(flag.pointX[p], flag.pointY[p], flag.pointZ[p], angles, offset);
            projectPoint(position[p], &vertex[p]);
        }
        computeFlagNormals(flag, position, normal, useCount);
        for (int p = 0; p < kFlagPoints; ++p) {
            const float light = twoSidedLight(normal[p].z);
            vertex[p].r = light;
            vertex[p].g = light;
            vertex[p].b = light;
        }

        beginSceneTexture(cloth);
        // Each point's texture values once, rather than at each of its triangles.
        setPointTextureCoordinates(vertex, flagS, flagT, kFlagPoints);
        for (int i = 0; i < kFlagTriangles; ++i) {
            const std::uint16_t a = flag.cornerA[i], b = flag.cornerB[i], c = flag.cornerC[i];
            drawObjectTriangle(vertex, a, b, c);
        }
        endSceneTexture(cloth);
        drawSceneCaption(font, "CANADIAN FLAG");
        showFrame();

        readSceneKey();
        if (sceneKey == 'p' || sceneKey == 'P') {
            hostSleep(1000);
            sceneKey = 'a';
        }
        captureOnKey("Canadian Flag.raw");
        angles.aY += kTurnStep;
        advanceWobble(&wobble);
        endCueAndSlide();
        // A second look at the keyboard; what it reads is acted on in the next frame.
        readSceneKey();

        advanceAnimatedBackground(&background);
        wavePhase += kWaveStep;
        waveFlag(&flag, wavePhase);
    }
    restoreCulling();
    finishScene();
}

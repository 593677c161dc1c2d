// The parameterized surface scene: a generated torus-knot tube, built up on screen as it turns.
#include "parameterized_surface.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "display.h"
#include "effects.h"
#include "glide.h"
#include "pipeline.h"
#include "scene_background.h"
#include "scene_frame.h"

namespace {

// The scene's working arrays, in static storage and refilled by every run of the scene: the
// tube, and per point its unit normal, this frame's picture coordinates and its vertex record.
Object3d tube;
Vector3 vertexNormal[kMaxPoints];
Vector3 rotatedNormal[kMaxPoints];  // this frame's
float pictureS[kMaxPoints];
float pictureT[kMaxPoints];
GrVertex vertex[kMaxPoints];
AnimatedBackground background;

const ObjectAngles kAngleStep = {184, 169, 228};
// Triangles added to the picture every frame: half a ring of the tube.
constexpr int kBuildUpStep = 8;
constexpr int kRings = 128;
constexpr int kRingSteps = 8;

}  // namespace

bool buildKnotTube(Object3d* tube, std::uint16_t pointCount, std::uint16_t triangleCount) {
    tube->pointCount = 0;
    tube->triangleCount = 0;
    if (pointCount > kMaxPoints) {
        std::printf("Maximum Points = %d\n", kMaxPoints);
        std::printf("Object Points = %d\n", pointCount);
        std::printf("\n");
        return false;
    }
    if (triangleCount > kMaxTriangles) {
        std::printf("Error:  Too many polygons.\n");
        std::printf("Maximum Polys = %d\n", kMaxTriangles);
        std::printf("Object Polygons = %d\n", triangleCount);
        std::printf("\n");
        return false;
    }

    const float twoPi = 2.0f * 3.1415927f;
    const float du = twoPi / float(kRings);
    const float dv = twoPi / float(kRingSteps);
    int n = 0;
    // The running sums drift by a few units in the last place; the half-step margins keep
    // the loops at exactly 128 and 8 turns.
    for (float u = 0.0f; u <= twoPi - du / 2.0f; u += du)
        for (float v = 0.0f; v <= twoPi - dv / 2.0f; v += dv) {
            if (n >= pointCount) {
                std::printf("Error:  out of range (points array)\n");
                std::printf("\n");
                return false;
            }
            const float rho =
                float(5.0 + 1.5 * std::sin(double(5.0f * u)) + 0.7 * std::sin(double(v)));
            tube->pointX[n] = float(std::cos(double(2.0f * u)) * double(rho));
            tube->pointY[n] = float(std::sin(double(2.0f * u)) * double(rho));
            tube->pointZ[n] = float(1.5 * std::cos(double(5.0f * u)) + 0.7 * std::cos(double(v)));
            ++n;
        }
    if (n != pointCount) {
        std::printf("QZ_TARNOVEL_Effect_Parameterization Error:\n");
        std::printf("Amount of points set <> points to be drawn.\n");
        std::printf("\n");
        return false;
    }

    int m = 0;
    for (int i = 0; i < kRings; ++i)
        for (int j = 0; j < kRingSteps; ++j) {
            if (m >= int(triangleCount) - 1) {
                std::printf("Error:  out of range (polys array)\n");
                std::printf("\n");
                return false;
            }
            const int nextI = (i + 1) % kRings, nextJ = (j + 1) % kRingSteps;
            const std::uint16_t a = std::uint16_t(kRingSteps * i + j);
            const std::uint16_t b = std::uint16_t(kRingSteps * i + nextJ);
            const std::uint16_t c = std::uint16_t(kRingSteps * nextI + j);
            const std::uint16_t d = std::uint16_t(kRingSteps * nextI + nextJ);
            tube->cornerA[m] = a;
            tube->cornerB[m] = b;
            tube->cornerC[m] = c;
            ++m;
            tube->cornerA[m] = c;
            tube->cornerB[m] = b;
            tube->cornerC[m] = d;
            ++m;
        }

    for (int p = 0; p < n; ++p) {
        tube->pointX[p] *= 125.0f;
        tube->pointY[p] *= 125.0f;
        tube->pointZ[p] *= 125.0f;
    }
    tube->pointCount = std::uint16_t(n);
    // Only the triangles generated are drawn, should the count ask for more.
    tube->triangleCount = std::uint16_t(m);
    return true;
}

void parameterizedSurfaceScene() {
    startSceneFrame();
    fadeFactor = 1.0f;
    // The zoom 1.25 + sin(phi): from 0.25 to 2.25 texels a pixel.
    startAnimatedBackground(&background, 1.0f, 0.25f);
    if (!rememberStartDirectory()) return;
    buildTrigTables();
    if (!buildKnotTube(&tube, kKnotPoints, kKnotTriangles)) return;
    computeVertexNormals(tube, vertexNormal);
    std::memset(vertex, 0, sizeof(vertex));

    SceneTexture backdrop, font, surface;
    loadSceneTexture("maren.3df", &backdrop);
    loadSceneTexture("font6000.3df", &font);
    loadSceneTexture("maren.3df", &surface);
    setTexturedCombine();

    ObjectAngles angles = {0, 0, 0};
    WobbleAngles wobble = {0, 0, 0};
    int trianglesShown = 0;
    waitForStartCue();

    while (sceneRunning()) {
        updateAnimatedBackground(&background);
        rotateAndProject(tube, angles, wobbleOffsets(wobble, 1400.0f), vertex);
        rotateNormals(vertexNormal, tube.pointCount, angles, rotatedNormal);
        for (int p = 0; p < tube.pointCount; ++p) {
            const Vector3 n = rotatedNormal[p];
            const float diffuse = headlightDiffuse(n.z, 223.0f);
            vertex[p].r = diffuse;
            vertex[p].g = diffuse;
            vertex[p].b = diffuse;
            pictureS[p] = 128.0f + 128.0f * n.x;
            pictureT[p] = 128.0f - 128.0f * n.y;
        }

        clearFrame();
        drawAnimatedBackground(background, backdrop);
        beginSceneTexture(surface);
        // Each point's texture values once, rather than at each of its triangles.
        setPointTextureCoordinates(vertex, pictureS, pictureT, tube.pointCount);
        if (trianglesShown < tube.triangleCount) {
            trianglesShown += kBuildUpStep;
            if (trianglesShown > tube.triangleCount) trianglesShown = tube.triangleCount;
        }
        for (int i = 0; i < trianglesShown; ++i) {
            const std::uint16_t a = tube.cornerA[i], b = tube.cornerB[i], c = tube.cornerC[i];
            drawObjectTriangle(vertex, a, b, c);
        }
        endSceneTexture(surface);
        drawSceneCaption(font, "3D PARAMETERIZATION");
        showFrame();

        advanceAngles(&angles, kAngleStep);
        advanceWobble(&wobble);
        endCueAndSlide();
        sceneKeys("3D Parameterization.raw");
        advanceAnimatedBackground(&background);
    }
    finishScene();
}

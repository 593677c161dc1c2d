// The environment mapping scene: a torus reflecting a picture looked up by its turning normals.
#include <cstdint>
#include <cstring>

#include "display.h"
#include "effects.h"
#include "glide.h"
#include "object3d.h"
#include "pipeline.h"
#include "scene_background.h"
#include "scene_frame.h"

namespace {

// The scene's working arrays, in static storage and refilled by every run of the scene: the
// object, and per point its unit normal, this frame's environment coordinates and its vertex
// record.
Object3d object;
Vector3 vertexNormal[kMaxPoints];
Vector3 rotatedNormal[kMaxPoints];  // this frame's
float environmentS[kMaxPoints];
float environmentT[kMaxPoints];
GrVertex vertex[kMaxPoints];
AnimatedBackground background;

const ObjectAngles kAngleStep = {184, 169, 228};
// The background zoom is 1.5 + sin(phi) - kZoomOffset: from 0.25 to 2.25 texels a pixel, never
// so close that the blue picture turns into a blur of single texels.
const float kZoomOffset = 0.25f;

}  // namespace

void environmentMappingScene() {
    startSceneFrame();
    fadeFactor = 1.0f;
    if (!rememberStartDirectory()) return;
    buildTrigTables();
    if (!loadObject3d("Torus4Pt2Radius.3d", &object)) return;
    prepareObject(&object);
    computeVertexNormals(object, vertexNormal);
    std::memset(vertex, 0, sizeof(vertex));
    for (int p = 0; p < object.pointCount; ++p) {
        vertex[p].r = 255.0f;
        vertex[p].g = 255.0f;
        vertex[p].b = 255.0f;
        vertex[p].a = 0.0f;
    }

    SceneTexture backdrop, font, environment;
    loadSceneTexture("BLUETR.3df", &backdrop);
    loadSceneTexture("font6000.3df", &font);
    loadSceneTexture("alldaypissup.3df", &environment);
    setTexturedCombine();

    ObjectAngles angles = {0, 0, 0};
    WobbleAngles wobble = {0, 0, 0};
    startAnimatedBackground(&background, 1.0f, 0.5f - kZoomOffset);
    waitForStartCue();

    while (sceneRunning()) {
        updateAnimatedBackground(&background);
        rotateAndProject(object, angles, wobbleOffsets(wobble, 1400.0f), vertex);
        rotateNormals(vertexNormal, object.pointCount, angles, rotatedNormal);
        for (int p = 0; p < object.pointCount; ++p) {
            const Vector3 n = rotatedNormal[p];
            const float diffuse = headlightDiffuse(n.z, 223.0f);
            vertex[p].r = diffuse;
            vertex[p].g = diffuse;
            vertex[p].b = diffuse;
            // The picture stays put relative to the viewer: a normal facing the eye reads its
            // centre, and the normals of one hemisphere read the disc of radius 128 around it.
            environmentS[p] = 128.0f + 128.0f * n.x;
            environmentT[p] = 128.0f - 128.0f * n.y;
        }

        clearFrame();
        drawAnimatedBackground(background, backdrop);
        beginSceneTexture(environment);
        // Each point's texture values once, rather than at each of its triangles.
        setPointTextureCoordinates(vertex, environmentS, environmentT, object.pointCount);
        for (int i = 0; i < object.triangleCount; ++i) {
            const std::uint16_t a = object.cornerA[i], b = object.cornerB[i], c = object.cornerC[i];
            drawObjectTriangle(vertex, a, b, c);
        }
        endSceneTexture(environment);
        drawSceneCaption(font, "ENVIRONMENT MAPPING");
        showFrame();

        advanceAngles(&angles, kAngleStep);
        advanceWobble(&wobble);
        endCueAndSlide();
        sceneKeys("Environment Mapping.raw");
        advanceAnimatedBackground(&background);
    }
    finishScene();
}

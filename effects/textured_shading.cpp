// The texture mapping, Gouraud shading and specular highlights scene: a lit, textured bowl.
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
// object, and per point its unit normal, planar texture coordinates and vertex record.
Object3d object;
Vector3 vertexNormal[kMaxPoints];
Vector3 rotatedNormal[kMaxPoints];  // this frame's
float planarS[kMaxPoints];
float planarT[kMaxPoints];
GrVertex vertex[kMaxPoints];
AnimatedBackground background;

const ObjectAngles kAngleStep = {284, 169, 128};

}  // namespace

void texturedShadingScene() {
    startSceneFrame();
    fadeFactor = 1.0f;
    if (!rememberStartDirectory()) return;
    buildTrigTables();
    if (!loadObject3d("bowl.3d", &object)) return;
    prepareObject(&object);
    computeVertexNormals(object, vertexNormal);
    computePlanarMapping(object, planarS, planarT);
    std::memset(vertex, 0, sizeof(vertex));

    SceneTexture backdrop, font, skin;
    loadSceneTexture("DENDRI.3df", &backdrop);
    loadSceneTexture("font6000.3df", &font);
    loadSceneTexture("REDDUS.3df", &skin);
    setTexturedCombine();

    ObjectAngles angles = {0, 0, 0};
    WobbleAngles wobble = {0, 0, 0};
    startAnimatedBackground(&background, 0.5f, 0.25f);
    waitForStartCue();

    while (sceneRunning()) {
        updateAnimatedBackground(&background);
        rotateAndProject(object, angles, wobbleOffsets(wobble, 1400.0f), vertex);
        rotateNormals(vertexNormal, object.pointCount, angles, rotatedNormal);
        for (int p = 0; p < object.pointCount; ++p) {
            const float nz = rotatedNormal[p].z;
            const float diffuse = headlightDiffuse(nz, 223.0f);
            vertex[p].r = diffuse;
            vertex[p].g = diffuse;
            vertex[p].b = diffuse;
            vertex[p].a = specularAlpha(nz);
        }

        clearFrame();
        drawAnimatedBackground(background, backdrop);
        beginSceneTexture(skin);
        // Each point's texture values once, rather than at each of its triangles.
        setPointTextureCoordinates(vertex, planarS, planarT, object.pointCount);
        for (int i = 0; i < object.triangleCount; ++i) {
            const std::uint16_t a = object.cornerA[i], b = object.cornerB[i], c = object.cornerC[i];
            drawObjectTriangle(vertex, a, b, c);
        }
        endSceneTexture(skin);
        // The three lines slide at three speeds.
        if (beginCaptions(font)) {
            drawCaption(320.0f - 3.0f * slideOffset, 100.0f, "TEXTURE MAPPING");
            drawCaption(320.0f - 2.0f * slideOffset, 68.0f, "GOURAUD SHADING");
            drawCaption(320.0f - slideOffset, 36.0f, "SPECULAR HIGHLIGHTS");
            endCaptions();
        }
        showFrame();

        advanceAngles(&angles, kAngleStep);
        advanceWobble(&wobble);
        endCueAndSlide();
        sceneKeys("Gouraud Shading and Specular Highlights.raw");
        advanceAnimatedBackground(&background);
    }
    finishScene();
}

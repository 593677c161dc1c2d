// The flat shading scene: a faceted object on black, each face one grey by how it meets the eye.
#include <cstdint>
#include <cstring>

#include "display.h"
#include "effects.h"
#include "glide.h"
#include "object3d.h"
#include "pipeline.h"
#include "scene_frame.h"

namespace {

// The scene's working arrays, in static storage and refilled by every run of the scene: the
// object, one unit normal and one grey level per triangle, one vertex record per point.
Object3d object;
Vector3 faceNormal[kMaxTriangles];
float faceLevel[kMaxTriangles];
GrVertex vertex[kMaxPoints];

const ObjectAngles kAngleStep = {184, 169, 228};

}  // namespace

void flatShadingScene() {
    startSceneFrame();
    if (!rememberStartDirectory()) return;
    buildTrigTables();
    if (!loadObject3d("orlen_comp3553.3d", &object)) return;
    prepareObject(&object);
    computeFaceNormals(object, faceNormal);
    std::memset(vertex, 0, sizeof(vertex));

    SceneTexture font;
    loadSceneTexture("font6000.3df", &font);
    setTexturedCombine();

    ObjectAngles angles = {0, 0, 0};
    WobbleAngles wobble = {0, 0, 0};
    waitForStartCue();

    while (sceneRunning()) {
        rotateAndProject(object, angles, wobbleOffsets(wobble, 1400.0f), vertex);
        for (int i = 0; i < object.triangleCount; ++i)
            faceLevel[i] = headlightDiffuse(rotateNormal(faceNormal[i], angles).z, 224.0f);

        clearFrame();
        // Every pixel takes the constant colour; alpha 0.
        grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_CONSTANT,
                       GR_COMBINE_OTHER_CONSTANT, FXFALSE);
        grAlphaCombine(GR_COMBINE_FUNCTION_ZERO, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_CONSTANT,
                       GR_COMBINE_OTHER_CONSTANT, FXFALSE);
        for (int i = 0; i < object.triangleCount; ++i) {
            // A face square to the viewer reaches 256, one above the brightest grey.
            std::uint32_t grey = std::uint32_t(faceLevel[i]);
            if (grey > 255) grey = 255;
            grConstantColorValue(grey << 24 | grey << 16 | grey << 8);
            drawObjectTriangle(vertex, object.cornerA[i], object.cornerB[i], object.cornerC[i]);
        }
        setTexturedCombine();
        drawSceneCaption(font, "FLAT SHADING");
        showFrame();

        advanceAngles(&angles, kAngleStep);
        advanceWobble(&wobble);
        endCueAndSlide();
        sceneKeys("Flat Shading.raw");
    }
    finishScene();
}

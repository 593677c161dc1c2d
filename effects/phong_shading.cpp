// The Phong shading scene: a dark blue mask plus a highlight picture looked up by its normals.
#include <cstdint>
#include <cstring>

#include "display.h"
#include "effects.h"
#include "glide.h"
#include "object3d.h"
#include "pipeline.h"
#include "plg_loader.h"
#include "scene_background.h"
#include "scene_frame.h"

namespace {

// The scene's working arrays, in static storage and refilled by every run of the scene: the
// mask, and per point its unit normal, this frame's highlight coordinates and its vertex record.
Object3d mask;
Vector3 vertexNormal[kMaxPoints];
Vector3 rotatedNormal[kMaxPoints];  // this frame's
float highlightS[kMaxPoints];
float highlightT[kMaxPoints];
GrVertex vertex[kMaxPoints];
AnimatedBackground background;

const ObjectAngles kAngleStep = {284, 269, 228};

// Pixel = highlight texel + vertex colour. Without the highlight picture the mask keeps its
// plain diffuse colour.
void beginHighlight(const SceneTexture& highlight) {
    if (highlight.loaded) {
        grTexSource(GR_TMU0, highlight.slot.startAddress, GR_MIPMAPLEVELMASK_BOTH,
                    const_cast<GrTexInfo*>(&highlight.slot.info));
        grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL, GR_COMBINE_FACTOR_ONE,
                       GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
        return;
    }
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_CONSTANT, FXFALSE);
}

}  // namespace

void phongShadingScene() {
    startSceneFrame();
    fadeFactor = 1.0f;
    if (!rememberStartDirectory()) return;
    buildTrigTables();
    if (!loadPlgObject("MASK.PLG", &mask)) return;
    prepareObject(&mask);
    computeVertexNormals(mask, vertexNormal);
    std::memset(vertex, 0, sizeof(vertex));
    for (int p = 0; p < mask.pointCount; ++p) {
        vertex[p].r = 255.0f;
        vertex[p].g = 255.0f;
        vertex[p].b = 255.0f;
        vertex[p].a = 0.0f;
    }

    SceneTexture backdrop, font, highlight;
    loadSceneTexture("128x128.3df", &backdrop);
    loadSceneTexture("font6000.3df", &font);
    loadSceneTexture("phong.3df", &highlight);
    setTexturedCombine();
    // The mask is an open shell: its inside shows whenever it turns away.
    grCullMode(GR_CULL_DISABLE);

    ObjectAngles angles = {0, 0, 0};
    WobbleAngles wobble = {0, 0, 0};
    startAnimatedBackground(&background, 1.0f, 0.5f - kBackgroundZoomOffset);
    waitForStartCue();

    while (sceneRunning()) {
        updateAnimatedBackground(&background);
        rotateAndProject(mask, angles, wobbleOffsets(wobble, 1400.0f), vertex);
        rotateNormals(vertexNormal, mask.pointCount, angles, rotatedNormal);
        for (int p = 0; p < mask.pointCount; ++p) {
            const Vector3 n = rotatedNormal[p];
            const float level = headlightDiffuse(n.z, 223.0f);
            vertex[p].r = level * 0.125f;
            vertex[p].g = level * 0.125f;
            vertex[p].b = level * 0.5f;
            // The highlight stays with the viewer: a normal facing the eye reads the
            // picture's bright centre.
            highlightS[p] = 128.0f + 128.0f * n.x;
            highlightT[p] = 128.0f - 128.0f * n.y;
        }

        clearFrame();
        drawAnimatedBackground(background, backdrop);
        beginHighlight(highlight);
        // Each point's texture values once, rather than at each of its triangles.
        setPointTextureCoordinates(vertex, highlightS, highlightT, mask.pointCount);
        for (int i = 0; i < mask.triangleCount; ++i) {
            const std::uint16_t a = mask.cornerA[i], b = mask.cornerB[i], c = mask.cornerC[i];
            drawObjectTriangle(vertex, a, b, c);
        }
        setTexturedCombine();
        drawSceneCaption(font, "PHONG SHADING");
        showFrame();

        advanceAngles(&angles, kAngleStep);
        advanceWobble(&wobble);
        endCueAndSlide();
        sceneKeys("Phong Shading.raw");
        advanceAnimatedBackground(&background);
    }
    grCullMode(GR_CULL_POSITIVE);
    finishScene();
}

// Shared by the object fuzz targets: what the object scenes do with a loaded object, run on
// whatever the loader accepted, so that a file the loader lets through cannot upset the
// pipeline or the rasterizer behind it either.
#pragma once

#include <cstdint>

#include "glide.h"
#include "host.h"
#include "object3d.h"
#include "pipeline.h"
#include "scene_frame.h"

namespace fuzzing {

inline void openBoardForObjects() {
    hostInitVirtual(nullptr, 0, 0);
    grGlideInit();
    grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                 GR_ORIGIN_LOWER_LEFT, 2, 0);
    grClipWindow(0, 0, 640, 480);
    // No depth buffer: clearing it for every input would cost more than all else together,
    // and what a file can reach is where and how many triangles are drawn, not their order.
    grDepthBufferMode(GR_DEPTHBUFFER_DISABLE);
    grCullMode(GR_CULL_POSITIVE);
    buildTrigTables();
}

// Preparation, normals and planar mapping, then two frames: one face-shaded as the flat scene
// draws, one vertex-lit with texture values as the textured scenes draw.
inline void drawObjectFrames(Object3d* object) {
    static Vector3 faceNormal[kMaxTriangles];
    static Vector3 vertexNormal[kMaxPoints];
    static float planarS[kMaxPoints], planarT[kMaxPoints];
    static GrVertex vertex[kMaxPoints];

    prepareObject(object);
    computeFaceNormals(*object, faceNormal);
    computeVertexNormals(*object, vertexNormal);
    computePlanarMapping(*object, planarS, planarT);

    const ObjectAngles angles[2] = {{0, 0, 0}, {40000, 12345, 54321}};
    const WobbleAngles wobble = {1234, 23456, 45678};

    ObjectAngles a = angles[0];
    rotateAndProject(*object, a, wobbleOffsets(wobble, 1400.0f), vertex);
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_CONSTANT,
                   GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    for (int i = 0; i < object->triangleCount; ++i) {
        std::uint32_t grey =
            std::uint32_t(headlightDiffuse(rotateNormal(faceNormal[i], a).z, 224.0f));
        if (grey > 255) grey = 255;
        grConstantColorValue(grey << 24 | grey << 16 | grey << 8);
        drawObjectTriangle(vertex, object->cornerA[i], object->cornerB[i], object->cornerC[i]);
    }

    a = angles[1];
    rotateAndProject(*object, a, wobbleOffsets(wobble, 1400.0f), vertex);
    for (int p = 0; p < object->pointCount; ++p) {
        const float nz = rotateNormal(vertexNormal[p], a).z;
        vertex[p].r = vertex[p].g = vertex[p].b = headlightDiffuse(nz, 223.0f);
        vertex[p].a = specularAlpha(nz);
    }
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA, GR_COMBINE_FACTOR_LOCAL,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    for (int i = 0; i < object->triangleCount; ++i) {
        const std::uint16_t ca = object->cornerA[i], cb = object->cornerB[i],
                            cc = object->cornerC[i];
        setTextureCoordinates(vertex, planarS, planarT, ca, cb, cc);
        drawObjectTriangle(vertex, ca, cb, cc);
    }
}

}  // namespace fuzzing

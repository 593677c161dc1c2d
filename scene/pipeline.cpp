// The object scenes' 3D pipeline, all in single-precision arithmetic on the 16-bit angle tables.
#include "pipeline.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "scene_frame.h"

namespace {

// Whole-number distance of a point from the centre, as the preparation counts it: each
// coordinate truncated towards zero. Squares are summed in unsigned 64 bits so that objects
// measured in large units cannot overflow: three squares below 2^62 stay below 2^64.
float truncatedDistance(float x, float y, float z) {
    auto whole = [](float v) -> std::uint64_t {
        // Beyond 2^31 the truncation is meaningless anyway; keep the square summable.
        if (!(std::fabs(v) < 2147483648.0f)) return 2147483647;
        const std::int64_t w = std::int64_t(v);
        return std::uint64_t(w < 0 ? -w : w);
    };
    const std::uint64_t ix = whole(x), iy = whole(y), iz = whole(z);
    const std::uint64_t sum = ix * ix + iy * iy + iz * iz;
    return float(std::sqrt(double(sum)));
}

float exactDistance(float x, float y, float z) {
    return std::sqrt(x * x + y * y + z * z);
}

}  // namespace

void prepareObject(Object3d* object) {
    const int n = object->pointCount;
    if (n == 0) return;
    float sumX = 0.0f, sumY = 0.0f, sumZ = 0.0f;
    for (int p = 0; p < n; ++p) {
        sumX += object->pointX[p];
        sumY += object->pointY[p];
        sumZ += object->pointZ[p];
    }
    const float meanX = sumX / float(n), meanY = sumY / float(n), meanZ = sumZ / float(n);
    for (int p = 0; p < n; ++p) {
        object->pointX[p] -= meanX;
        object->pointY[p] -= meanY;
        object->pointZ[p] -= meanZ;
    }

    float total = 0.0f;
    for (int p = 0; p < n; ++p)
        total += truncatedDistance(object->pointX[p], object->pointY[p], object->pointZ[p]);
    float meanDistance = total / float(n);
    if (meanDistance == 0.0f) {
        // A small object (within one unit of its centre) would be scaled by 500 / 0.
        total = 0.0f;
        for (int p = 0; p < n; ++p)
            total += exactDistance(object->pointX[p], object->pointY[p], object->pointZ[p]);
        meanDistance = total / float(n);
        if (!(meanDistance > 0.0f)) return;
    }

    const float factor = 500.0f / meanDistance;
    for (int p = 0; p < n; ++p) {
        object->pointX[p] *= factor;
        object->pointY[p] *= factor;
        object->pointZ[p] *= factor;
    }
}

Vector3 triangleCross(const Object3d& object, int triangle) {
    const int a = object.cornerA[triangle], b = object.cornerB[triangle],
              c = object.cornerC[triangle];
    const float xA = object.pointX[a], yA = object.pointY[a], zA = object.pointZ[a];
    const float xB = object.pointX[b], yB = object.pointY[b], zB = object.pointZ[b];
    const float xC = object.pointX[c], yC = object.pointY[c], zC = object.pointZ[c];
    Vector3 n;
    n.x = (yC - yB) * (zA - zB) - (zC - zB) * (yA - yB);
    n.y = (zC - zB) * (xA - xB) - (xC - xB) * (zA - zB);
    n.z = (xC - xB) * (yA - yB) - (yC - yB) * (xA - xB);
    return n;
}

namespace {

// Divides by the length; a zero vector stays zero rather than turning into NaN.
Vector3 normalised(Vector3 v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (std::isinf(length)) {
        // The cross product of points far apart (huge coordinates in a file) overflows the
        // squares or the vector itself: scale it by its largest component first. A vector that
        // is not finite has no direction and stays zero, like a degenerate one.
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            return Vector3{0.0f, 0.0f, 0.0f};
        const float largest = std::fmax(std::fabs(v.x), std::fmax(std::fabs(v.y), std::fabs(v.z)));
        return normalised(Vector3{v.x / largest, v.y / largest, v.z / largest});
    }
    if (!(length > 0.0f)) return Vector3{0.0f, 0.0f, 0.0f};
    return Vector3{v.x / length, v.y / length, v.z / length};
}

}  // namespace

void computeFaceNormals(const Object3d& object, Vector3* faceNormal) {
    for (int i = 0; i < object.triangleCount; ++i)
        faceNormal[i] = normalised(triangleCross(object, i));
}

void computeVertexNormals(const Object3d& object, Vector3* vertexNormal) {
    // One pass over the triangles adds each face to its corners in triangle order, which is
    // the order a search of the triangle list for every point would add them in.
    static std::uint16_t useCount[kMaxPoints];
    const int n = object.pointCount;
    for (int p = 0; p < n; ++p) {
        vertexNormal[p] = Vector3{0.0f, 0.0f, 0.0f};
        useCount[p] = 0;
    }
    for (int i = 0; i < object.triangleCount; ++i) {
        const Vector3 face = triangleCross(object, i);
        const int corner[3] = {object.cornerA[i], object.cornerB[i], object.cornerC[i]};
        for (int k = 0; k < 3; ++k) {
            // A triangle that names a point twice counts once for it.
            if ((k >= 1 && corner[k] == corner[0]) || (k == 2 && corner[2] == corner[1])) continue;
            Vector3& sum = vertexNormal[corner[k]];
            sum.x += face.x;
            sum.y += face.y;
            sum.z += face.z;
            ++useCount[corner[k]];
        }
    }
    for (int p = 0; p < n; ++p) {
        if (useCount[p] == 0) continue;
        const float count = float(useCount[p]);
        const Vector3 mean{vertexNormal[p].x / count, vertexNormal[p].y / count,
                           vertexNormal[p].z / count};
        vertexNormal[p] = normalised(mean);
    }
}

void computePlanarMapping(const Object3d& object, float* s, float* t) {
    const int n = object.pointCount;
    if (n == 0) return;
    float minX = object.pointX[0], maxX = minX, minY = object.pointY[0], maxY = minY;
    for (int p = 1; p < n; ++p) {
        if (object.pointX[p] < minX) minX = object.pointX[p];
        if (object.pointX[p] > maxX) maxX = object.pointX[p];
        if (object.pointY[p] < minY) minY = object.pointY[p];
        if (object.pointY[p] > maxY) maxY = object.pointY[p];
    }
    // A flat object seen edge-on has no extent on one axis: the middle of the texture.
    const bool spanX = maxX > minX, spanY = maxY > minY;
    const float scaleX = spanX ? 256.0f / (maxX - minX) : 0.0f;
    const float scaleY = spanY ? 256.0f / (maxY - minY) : 0.0f;
    for (int p = 0; p < n; ++p) {
        s[p] = spanX ? (object.pointX[p] - minX) * scaleX : 128.0f;
        t[p] = spanY ? (object.pointY[p] - minY) * scaleY : 128.0f;
    }
}

Vector3 wobbleOffsets(WobbleAngles wobble, float depth) {
    Vector3 offset;
    offset.x = 100.0f * sineTable[wobble.wx] + slideOffset;
    offset.y = 100.0f * sineTable[wobble.wy];
    offset.z = 100.0f * sineTable[wobble.wz] + depth;
    return offset;
}

void advanceWobble(WobbleAngles* wobble) {
    wobble->wx += 53;
    wobble->wy += 54;
    wobble->wz += 55;
}

Vector3 rotatePoint(float x, float y, float z, ObjectAngles angles, Vector3 offset) {
    const float cX = cosineTable[angles.aX], sX = sineTable[angles.aX];
    const float cY = cosineTable[angles.aY], sY = sineTable[angles.aY];
    const float cZ = cosineTable[angles.aZ], sZ = sineTable[angles.aZ];
    const float z1 = z * cX + y * sX;
    const float y1 = y * cX - z * sX;
    const float x2 = x * cY + z1 * sY;
    Vector3 r;
    r.z = z1 * cY - x * sY + offset.z;
    r.x = x2 * cZ + y1 * sZ + offset.x;
    r.y = y1 * cZ - x2 * sZ + offset.y;
    return r;
}

void projectPoint(Vector3 point, GrVertex* vertex) {
    vertex->z = point.z;
    if (!(point.z >= kNearestDepth)) {
        // Behind (or at) the viewer the projection would mirror the point or divide by zero.
        vertex->x = 320.0f;
        vertex->y = 240.0f;
        vertex->oow = 0.0f;
        return;
    }
    float sx = point.x * 320.0f / point.z + 320.0f;
    float sy = point.y * 320.0f / point.z + 240.0f;
    // Adding 3 x 2^18 leaves four fraction bits in a float: the sum rounds to 1/16 pixel.
    sx = (sx + 786432.0f) - 786432.0f;
    sy = (sy + 786432.0f) - 786432.0f;
    vertex->x = sx;
    vertex->y = sy;
    vertex->oow = 1.0f / point.z;
}

namespace {

typedef float Eight __attribute__((vector_size(32)));

// rotatePoint and projectPoint on eight points side by side, points [0, count / 8 * 8): each
// lane takes the scalar code's steps in its order, so it gives the same bits (the build fuses
// no multiply with an add). The divisions, three a point, are most of the work, and eight lanes
// share one. Returns the number of points done.
__attribute__((target_clones("avx2", "default"))) int rotateAndProjectEights(const Object3d& object,
                                                                             ObjectAngles angles,
                                                                             Vector3 offset,
                                                                             GrVertex* vertex) {
    const float cX = cosineTable[angles.aX], sX = sineTable[angles.aX];
    const float cY = cosineTable[angles.aY], sY = sineTable[angles.aY];
    const float cZ = cosineTable[angles.aZ], sZ = sineTable[angles.aZ];
    const int count = object.pointCount / 8 * 8;
    for (int p = 0; p < count; p += 8) {
        Eight x, y, z;
        std::memcpy(&x, &object.pointX[p], sizeof x);
        std::memcpy(&y, &object.pointY[p], sizeof y);
        std::memcpy(&z, &object.pointZ[p], sizeof z);
        const Eight z1 = z * cX + y * sX;
        const Eight y1 = y * cX - z * sX;
        const Eight x2 = x * cY + z1 * sY;
        const Eight rz = z1 * cY - x * sY + offset.z;
        const Eight rx = x2 * cZ + y1 * sZ + offset.x;
        const Eight ry = y1 * cZ - x2 * sZ + offset.y;
        // Lanes at or behind the viewer divide as well; their results are not used.
        Eight sx = rx * 320.0f / rz + 320.0f;
        Eight sy = ry * 320.0f / rz + 240.0f;
        sx = (sx + 786432.0f) - 786432.0f;
        sy = (sy + 786432.0f) - 786432.0f;
        const Eight oow = 1.0f / rz;
        for (int i = 0; i < 8; ++i) {
            GrVertex& v = vertex[p + i];
            v.z = rz[i];
            const bool front = rz[i] >= kNearestDepth;
            v.x = front ? sx[i] : 320.0f;
            v.y = front ? sy[i] : 240.0f;
            v.oow = front ? oow[i] : 0.0f;
        }
    }
    return count;
}

}  // namespace

void rotateAndProject(const Object3d& object, ObjectAngles angles, Vector3 offset,
                      GrVertex* vertex) {
    for (int p = rotateAndProjectEights(object, angles, offset, vertex); p < object.pointCount; ++p)
        projectPoint(
            rotatePoint(object.pointX[p], object.pointY[p], object.pointZ[p], angles, offset),
            &vertex[p]);
}

namespace {

// The sines and cosines of an object's three angles.
struct Rotation {
    float cX, sX, cY, sY, cZ, sZ;
};

Rotation rotationOf(ObjectAngles angles) {
    return {cosineTable[angles.aX], sineTable[angles.aX],   cosineTable[angles.aY],
            sineTable[angles.aY],   cosineTable[angles.aZ], sineTable[angles.aZ]};
}

Vector3 rotated(Vector3 normal, const Rotation& m) {
    const float z1 = normal.z * m.cX + normal.y * m.sX;
    const float y1 = normal.y * m.cX - normal.z * m.sX;
    const float x2 = normal.x * m.cY + z1 * m.sY;
    Vector3 r;
    r.z = z1 * m.cY - normal.x * m.sY;
    r.x = x2 * m.cZ + y1 * m.sZ;
    r.y = y1 * m.cZ - x2 * m.sZ;
    return r;
}

}  // namespace

Vector3 rotateNormal(Vector3 normal, ObjectAngles angles) {
    return rotated(normal, rotationOf(angles));
}

void rotateNormals(const Vector3* normal, int count, ObjectAngles angles, Vector3* out) {
    // The table values are read once: the stores through `out` might otherwise alias them.
    const Rotation m = rotationOf(angles);
    for (int p = 0; p < count; ++p) out[p] = rotated(normal[p], m);
}

float headlightDiffuse(float nz, float k) {
    if (nz > 0.0f) return 32.0f;
    return 32.0f - k * nz;
}

float specularAlpha(float nz) {
    if (nz > -0.85f) return 0.0f;
    return (nz + 0.85f) * -850.0f;
}

namespace {

void setPointCoordinates(GrVertex& v, float s, float t) {
    if (v.oow <= 0.0f) return;  // behind the viewer; its triangles are not drawn
    // The three quotients side by side (and a spare) in one division of four lanes: each
    // lane is the same division as on its own.
    typedef float Four __attribute__((vector_size(16)));
    const Four quotient = Four{s, t, 1.0f, 1.0f} / Four{v.z, v.z, v.z, 1.0f};
    v.tmuvtx[0].sow = quotient[0];
    v.tmuvtx[0].tow = quotient[1];
    v.tmuvtx[0].oow = quotient[2];
}

}  // namespace

void setTextureCoordinates(GrVertex* vertex, const float* s, const float* t, std::uint16_t a,
                           std::uint16_t b, std::uint16_t c) {
    setPointCoordinates(vertex[a], s[a], t[a]);
    setPointCoordinates(vertex[b], s[b], t[b]);
    setPointCoordinates(vertex[c], s[c], t[c]);
}

void setPointTextureCoordinates(GrVertex* vertex, const float* s, const float* t, int count) {
    for (int p = 0; p < count; ++p) setPointCoordinates(vertex[p], s[p], t[p]);
}

void advanceAngles(ObjectAngles* angles, ObjectAngles step) {
    angles->aX += step.aX;
    angles->aY += step.aY;
    angles->aZ += step.aZ;
}

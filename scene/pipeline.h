// The object scenes' 3D pipeline: normals, rotation, projection, lighting, texture values.
#pragma once

#include <cstdint>

#include "glide.h"
#include "object3d.h"

struct Vector3 {
    float x, y, z;
};

// The three 16-bit rotation angles of an object, about the x, y and z axes.
struct ObjectAngles {
    std::uint16_t aX, aY, aZ;
};

// Depth below which a point counts as behind the viewer: its vertex gets oow 0 and the
// triangles that use it are not drawn (drawObjectTriangle).
constexpr float kNearestDepth = 1.0f;

// Moves the points to their centre and scales them to a mean distance of 500, the distance of a
// point taken from its coordinates truncated to whole numbers. An object whose truncated mean
// distance is 0 (it lies within one unit of its centre) is scaled by its exact mean distance
// instead; an object of coincident points, or of none, is left unscaled.
void prepareObject(Object3d* object);
// N = (PC - PB) x (PA - PB) for the triangle (A, B, C): the face normal that points towards the
// viewer (negative camera-space z) on the faces the graphics library keeps.
Vector3 triangleCross(const Object3d& object, int triangle);
// Unit normal of every triangle; (0, 0, 0) for a triangle whose corners lie on one line.
void computeFaceNormals(const Object3d& object, Vector3* faceNormal);
// Unit normal of every point: the mean of the un-normalised normals of the triangles that use
// it (once per triangle), divided by its length. (0, 0, 0) for a point no triangle uses or
// whose neighbours' normals cancel.
void computeVertexNormals(const Object3d& object, Vector3* vertexNormal);
// s and t from 0 to 256 across the object's x and y extent; 128 along an axis without extent.
void computePlanarMapping(const Object3d& object, float* s, float* t);
// The three 16-bit wobble angles that make the object's centre drift.
struct WobbleAngles {
    std::uint16_t wx, wy, wz;
};

// The offset of the object's centre in camera space: 100 x sin of each wobble angle, the
// slide on x and the depth on z (1400 for the object scenes).
Vector3 wobbleOffsets(WobbleAngles wobble, float depth);
// Steps the wobble angles by 53, 54 and 55.
void advanceWobble(WobbleAngles* wobble);
// Turns a point about x, then y, then z; adds `offset`.
Vector3 rotatePoint(float x, float y, float z, ObjectAngles angles, Vector3 offset);
// Projects a camera-space point to the screen with a focal length of 320 and snaps it to 1/16
// of a pixel; fills x, y, z and oow of the vertex (oow 0 behind the viewer).
void projectPoint(Vector3 point, GrVertex* vertex);
// rotatePoint and projectPoint for every point of the object.
void rotateAndProject(const Object3d& object, ObjectAngles angles, Vector3 offset,
                      GrVertex* vertex);
// The same rotation without offsets.
Vector3 rotateNormal(Vector3 normal, ObjectAngles angles);
// rotateNormal of normal[0 .. count - 1] into out[0 .. count - 1].
void rotateNormals(const Vector3* normal, int count, ObjectAngles angles, Vector3* out);
// 32 when nz > 0 (turned away or edge-on), otherwise 32 - k x nz.
float headlightDiffuse(float nz, float k);
// 0 when nz > -0.85, otherwise (nz + 0.85) x -850: up to 127.5 facing the viewer.
float specularAlpha(float nz);
// sow = s / Z, tow = t / Z, oow = 1 / Z of texture unit 0 for the triangle's three vertices,
// from each point's (s, t) and this frame's depth Z.
void setTextureCoordinates(GrVertex* vertex, const float* s, const float* t, std::uint16_t a,
                           std::uint16_t b, std::uint16_t c);
// The same values for points 0 to count - 1 at once. They depend on the point alone, so a frame
// that sets them for all its points before drawing gives every triangle the vertex records that
// setTextureCoordinates would give it just before its draw, at a sixth of the divisions (a
// point is a corner of about six triangles).
void setPointTextureCoordinates(GrVertex* vertex, const float* s, const float* t, int count);
// Steps the object's angles.
void advanceAngles(ObjectAngles* angles, ObjectAngles step);

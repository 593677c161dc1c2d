// The effect scenes' polygon object record and the loader of the point-and-quad .3d text format.
#pragma once

#include <cstdint>

// Capacities of every object a scene holds: points and triangles.
constexpr int kMaxPoints = 2361;
constexpr int kMaxTriangles = 4973;

// A polygon object: points in object units and triangles as 0-based point indices in drawing
// order. Filled from a .3d file, a PLG file or a scene's own generator.
struct Object3d {
    std::uint16_t pointCount;
    float pointX[kMaxPoints];
    float pointY[kMaxPoints];
    float pointZ[kMaxPoints];
    std::uint16_t triangleCount;
    std::uint16_t cornerA[kMaxTriangles];
    std::uint16_t cornerB[kMaxTriangles];
    std::uint16_t cornerC[kMaxTriangles];
};

// The folder the .3d files are looked up in first; used as a directory name as it stands.
extern const char objectDirectory[];

// Reads `fileName` (no directory) from objectDirectory, or from the directory current at the
// call when objectDirectory cannot be entered, into `object`; every quad a, b, c, d becomes the
// triangles (a, b, c) and (a, c, d). On false a message has been printed and the object is
// empty: the limit messages, or a refusal of a file that cannot be opened, ends early, holds
// something other than a number, a coordinate that is not finite, or a point number outside
// 1 to the point count.
bool loadObject3d(const char* fileName, Object3d* object);

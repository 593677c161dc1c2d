// The waving flag's grid: 19 x 10 points, their triangles, the travelling wave and the normals.
#pragma once

#include <cstdint>

#include "object3d.h"
#include "pipeline.h"

constexpr int kFlagColumns = 19;
constexpr int kFlagRows = 10;
constexpr int kFlagPoints = kFlagColumns * kFlagRows;
constexpr int kFlagTriangles = 2 * (kFlagColumns - 1) * (kFlagRows - 1);

// Point 19j + i sits at (75 (i - 9), 75 (j - 4), 0), columns i from the left, rows j from the
// bottom. The cell whose lower left point is p gives the triangles (p, p+1, p+20) and
// (p, p+20, p+19), row by row from the bottom. s runs 0..256 from left to right and t 256..0
// from bottom to top, so the picture stands upright.
void buildFlagGrid(Object3d* flag, float* s, float* t);
// The wave: each point's depth is 100 x sin(phase - 10000 i + 5000 j).
void waveFlag(Object3d* flag, std::uint16_t wavePhase);
// Unit normal of every point from the triangles' (PC - PB) x (PA - PB) over this frame's
// camera-space positions: the triangle list is searched from the start for each point and the
// search stops at the sixth triangle found. `useCount` gets how many triangles were found.
void computeFlagNormals(const Object3d& flag, const Vector3* position, Vector3* normal,
                        std::uint8_t* useCount);
// Both faces lit alike: 32 edge-on to 256 square to the viewer, from either side.
float twoSidedLight(float nz);

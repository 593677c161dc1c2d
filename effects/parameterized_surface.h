// The parameterized surface's generator: a closed tube wound along a (2, 5) torus knot.
#pragma once

#include <cstdint>

#include "object3d.h"

// The tube the scene shows: 128 rings of 8 points along the knot.
constexpr std::uint16_t kKnotPoints = 1024;
constexpr std::uint16_t kKnotTriangles = 2048;

// Fills `tube` with `pointCount` points and up to `triangleCount` triangles of the knot tube,
// scaled by 125: a core radius of 625, a knot excursion of 187.5 and a tube radius of 87.5.
// Point 8i + j is ring i (along the knot) and step j (around the tube); the cell of ring i and
// step j gives the triangles (a, b, c) and (c, b, d) with a = 8i + j, b = 8i + j', c = 8i' + j,
// d = 8i' + j', which close the tube in both directions. On false one of the generator's
// messages has been printed: counts beyond the object's capacities, a point beyond
// `pointCount`, fewer points than `pointCount`, or no room for a pair of triangles.
bool buildKnotTube(Object3d* tube, std::uint16_t pointCount, std::uint16_t triangleCount);

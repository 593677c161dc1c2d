// Extensions of the software graphics library for the recorder and tests (no 1990s names).
#pragma once

#include <cstdint>

// The displayed picture: 640x480 RGB565, row 0 at the top.
const std::uint16_t* grExtFrontBuffer();
// The picture being drawn, same layout.
const std::uint16_t* grExtBackBuffer();
// The depth buffer, same layout.
const std::uint16_t* grExtDepthBuffer();

// Test seam: when set, called at the start of every grDrawTriangle (clipped = false) and
// guDrawTriangleWithClip (clipped = true) with the vertices as passed.
#include "glide.h"
typedef void (*GrExtTriangleTrace)(const GrVertex* a, const GrVertex* b, const GrVertex* c,
                                   bool clipped, void* context);
void grExtSetTriangleTrace(GrExtTriangleTrace fn, void* context);
// Calls the trace hook if one is set (used by the triangle entry points).
void grExtTraceTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c, bool clipped);

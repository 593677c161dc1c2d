// Extensions of the software graphics library for the recorder and tests (no 1990s names).
#pragma once

#include <cstdint>

// The displayed picture: 640x480 RGB565, row 0 at the top.
const std::uint16_t* grExtFrontBuffer();
// The picture being drawn, same layout.
const std::uint16_t* grExtBackBuffer();
// The depth buffer, same layout.
const std::uint16_t* grExtDepthBuffer();

// Threads that shade the pixels: 1, or 2 (the rows shared out in bands, with the same pictures).
// The default is 2 on a machine with more than one core, unless the environment variable
// TARNOVEL_DRAWING_THREADS is 1.
void grExtSetDrawingThreads(int threads);
int grExtDrawingThreads();

// Test seam: when set, called at the start of every grDrawTriangle (clipped = false) and
// guDrawTriangleWithClip (clipped = true) with the vertices as passed.
#include "glide.h"
typedef void (*GrExtTriangleTrace)(const GrVertex* a, const GrVertex* b, const GrVertex* c,
                                   bool clipped, void* context);
void grExtSetTriangleTrace(GrExtTriangleTrace fn, void* context);
// Calls the trace hook if one is set (used by the triangle entry points).
void grExtTraceTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c, bool clipped);

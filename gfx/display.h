// Display setup, floating-point precision and the global render state.
#pragma once

#include "glide.h"

extern GrHwConfiguration hardwareConfiguration;

// Starts the library and opens the 640x480 display; false (after its message) without a board.
bool openDisplay();
void setFloatPrecision();
void setRenderState();
void closeDisplay();

// The frame conventions every scene uses.
void clearFrame();  // black, alpha 0, farthest depth
void showFrame();   // swap at the next retrace

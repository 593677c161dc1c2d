// Screen capture: the displayed frame written as a headerless 24-bit RAW file.
#pragma once

// Writes the front buffer to `fileName` (no directory) in the start directory.
void captureScreen(const char* fileName);

// The texture loader: finds a 3DF file, reads it and downloads it at the texture-memory cursor.
#pragma once

#include "glide.h"

// A loaded texture: the library's description followed by its address in unit 0's memory.
struct TextureSlot {
    GrTexInfo info;
    FxU32 startAddress;
};

// First free byte of texture unit 0's memory; every scene sets it to 0 at entry.
extern FxU32 textureMemoryCursor;

// Loads `fileName` (no directory) from "c:\images\3df" or else the directory current at the
// call, downloads all its levels at textureMemoryCursor and advances the cursor.
bool loadTexture(const char* fileName, TextureSlot* slot);

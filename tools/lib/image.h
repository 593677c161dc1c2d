// PNG reading and writing for the asset tools, and a 3DF file's largest level as a picture.
#pragma once

#include <string>

#include "tdf_writer.h"

namespace tdf {

// Reads a PNG (or any picture stb reads) as 8-bit RGBA. False and `error` on failure.
bool readPicture(const std::string& path, Image* image, std::string* error);

// Reads a picture meant to become a texture: a PNG, BMP or TGA file whose sides, as its header
// declares them, are powers of two from 1 to 256; both are checked before anything is
// decoded. False and `error` on failure.
bool readTexturePicture(const std::string& path, Image* image, std::string* error);

// Writes an 8-bit RGBA PNG. False and `error` on failure.
bool writePng(const std::string& path, const Image& image, std::string* error);

// Reads a 3DF file and returns its largest level as 8-bit ARGB, decoding palettes and
// compression tables when the file carries them. False and `error` on failure.
bool read3dfLargest(const std::string& path, Image* image, std::string* error);

}  // namespace tdf

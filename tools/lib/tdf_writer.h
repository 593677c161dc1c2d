// Writing 3DF texture files (the format the show reads) from 8-bit RGBA pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tdf {

// A picture in 8-bit channels, rows from the top, pixel = 0xAARRGGBB.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
};

// Writes `image` as a 3DF file in the named format ("rgb565", "argb4444", ... as in the
// file header). Sides must be powers of two up to 256 with an aspect from 8:1 to 1:8. With
// `mipmaps` the file carries the full chain of smaller levels (box-filtered) down to a longer
// side of 1; without, only the given level. Returns false and fills `error` on failure.
bool write3df(const std::string& path, const Image& image, const std::string& format, bool mipmaps,
              std::string* error);

}  // namespace tdf

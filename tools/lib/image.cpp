// PNG reading and writing through stb, and the decoding of a 3DF file's largest level.
#include "image.h"

#include <cstring>
#include <vector>

#include <stb_image.h>
#include <stb_image_write.h>

#include "glide.h"
#include "texformat.h"

namespace tdf {

bool readPicture(const std::string& path, Image* image, std::string* error) {
    int w = 0, h = 0, channels = 0;
    unsigned char* rgba = stbi_load(path.c_str(), &w, &h, &channels, 4);
    if (!rgba) {
        if (error) *error = "cannot read \"" + path + "\": " + stbi_failure_reason();
        return false;
    }
    image->width = w;
    image->height = h;
    image->argb.resize(std::size_t(w) * h);
    for (std::size_t i = 0; i < image->argb.size(); ++i) {
        const unsigned char* p = rgba + 4 * i;
        image->argb[i] =
            std::uint32_t(p[3]) << 24 | std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
    }
    stbi_image_free(rgba);
    return true;
}

bool writePng(const std::string& path, const Image& image, std::string* error) {
    std::vector<unsigned char> rgba(image.argb.size() * 4);
    for (std::size_t i = 0; i < image.argb.size(); ++i) {
        const std::uint32_t p = image.argb[i];
        rgba[4 * i] = static_cast<unsigned char>(p >> 16);
        rgba[4 * i + 1] = static_cast<unsigned char>(p >> 8);
        rgba[4 * i + 2] = static_cast<unsigned char>(p);
        rgba[4 * i + 3] = static_cast<unsigned char>(p >> 24);
    }
    if (!stbi_write_png(path.c_str(), image.width, image.height, 4, rgba.data(), image.width * 4)) {
        if (error) *error = "cannot write \"" + path + "\"";
        return false;
    }
    return true;
}

namespace {

int clampByte(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// One texel with the file's own table where the format has one.
std::uint32_t decodeWithTable(int format, std::uint32_t v, const GuTexTable& table) {
    switch (format) {
        case GR_TEXFMT_P_8:
            return 0xFF000000u | (table.palette.data[v & 0xFF] & 0xFFFFFFu);
        case GR_TEXFMT_AP_88:
            return (v >> 8) << 24 | (table.palette.data[v & 0xFF] & 0xFFFFFFu);
        case GR_TEXFMT_YIQ_422:
        case GR_TEXFMT_AYIQ_8422: {
            const GuNccTable& ncc = table.nccTable;
            const int y = int(v >> 4) & 15, i = int(v >> 2) & 3, q = int(v) & 3;
            int c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = clampByte(ncc.yRGB[y] + ncc.iRGB[i][k] + ncc.qRGB[q][k]);
            const std::uint32_t a = format == GR_TEXFMT_AYIQ_8422 ? (v >> 8) & 0xFF : 0xFF;
            return a << 24 | std::uint32_t(c[0]) << 16 | std::uint32_t(c[1]) << 8 |
                   std::uint32_t(c[2]);
        }
        default:
            return glide::decodeTexel(format, v);
    }
}

}  // namespace

bool read3dfLargest(const std::string& path, Image* image, std::string* error) {
    Gu3dfInfo info;
    std::memset(&info, 0, sizeof info);
    if (!gu3dfGetInfo(path.c_str(), &info)) {
        if (error) *error = "cannot read \"" + path + "\" as a 3DF file";
        return false;
    }
    std::vector<std::uint8_t> texels(info.mem_required);
    info.data = texels.data();
    if (!gu3dfLoad(path.c_str(), &info)) {
        if (error) *error = "cannot load the texels of \"" + path + "\"";
        return false;
    }
    const int format = info.header.format;
    const int bytes = glide::texelBytes(format);
    image->width = int(info.header.width);
    image->height = int(info.header.height);
    image->argb.resize(std::size_t(image->width) * image->height);
    for (std::size_t i = 0; i < image->argb.size(); ++i) {
        std::uint32_t v;
        if (bytes == 1) {
            v = texels[i];
        } else {
            std::uint16_t h;
            std::memcpy(&h, texels.data() + 2 * i, 2);
            v = h;
        }
        image->argb[i] = decodeWithTable(format, v, info.table);
    }
    return true;
}

}  // namespace tdf

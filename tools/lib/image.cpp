// PNG reading and writing through stb, and the decoding of a 3DF file's largest level.
#include "image.h"

#include <cstdio>
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

namespace {

bool textureSide(int v) {
    return v >= 1 && v <= 256 && (v & (v - 1)) == 0;
}

// The picture kinds the converter takes, told from the file's first bytes: PNG by its
// signature, BMP by "BM", TGA by its colour-map type (0 or 1) and image type (colour-mapped,
// true colour or grey, plain or run-length). stb_image's other decoders are never reached: its
// JPEG decoder writes past its Huffman tables when a table's code counts add up to more than
// 256, and no texture needs JPEG, GIF, PSD, HDR, PIC or PNM.
enum class Kind { unreadable, other, accepted };

Kind pictureKind(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return Kind::unreadable;
    unsigned char head[8] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (got == 8 && std::memcmp(head, png, 8) == 0) return Kind::accepted;
    if (got >= 2 && head[0] == 'B' && head[1] == 'M') return Kind::accepted;
    if (got >= 3 && head[1] <= 1) {
        switch (head[2]) {
            case 1:
            case 2:
            case 3:
            case 9:
            case 10:
            case 11:
                return Kind::accepted;
            default:
                break;
        }
    }
    return Kind::other;
}

}  // namespace

bool readTexturePicture(const std::string& path, Image* image, std::string* error) {
    switch (pictureKind(path)) {
        case Kind::unreadable:
            if (error) *error = "cannot read \"" + path + "\": can't fopen";
            return false;
        case Kind::other:
            if (error) *error = "cannot read \"" + path + "\": not a PNG, BMP or TGA picture";
            return false;
        case Kind::accepted:
            break;
    }
    // A header of a few bytes may declare gigabytes of pixels; decoding them first would cost
    // seconds and memory only to refuse the picture afterwards.
    int w = 0, h = 0, channels = 0;
    if (!stbi_info(path.c_str(), &w, &h, &channels)) {
        if (error) *error = "cannot read \"" + path + "\": " + stbi_failure_reason();
        return false;
    }
    const auto wrongSize = [&](int width, int height) {
        if (error)
            *error = "picture is " + std::to_string(width) + "x" + std::to_string(height) +
                     "; sides must be powers of two from 1 to 256";
        return false;
    };
    if (!textureSide(w) || !textureSide(h)) return wrongSize(w, h);
    if (!readPicture(path, image, error)) return false;
    // The decoder is the final word on the size; a header that said otherwise is refused too.
    if (image->width != w || image->height != h) {
        if (error)
            *error = "cannot read \"" + path + "\": its header declares " + std::to_string(w) +
                     "x" + std::to_string(h) + " but its pixels are " +
                     std::to_string(image->width) + "x" + std::to_string(image->height);
        return false;
    }
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

// Writing 3DF texture files: header lines, optional grey palette, big-endian texels of each level.
#include "tdf_writer.h"

#include <cstdio>
#include <memory>

#include "texformat.h"

namespace tdf {

namespace {

std::uint32_t quantize(std::uint32_t v, std::uint32_t levels) {
    return (v * levels + 127) / 255;
}

// Luma weights summing to 256, so white stays 255.
std::uint32_t intensity(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return (r * 77 + g * 150 + b * 29 + 128) >> 8;
}

std::uint32_t encode(int format, std::uint32_t argb) {
    const std::uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF,
                        b = argb & 0xFF;
    const std::uint32_t rgb332 = quantize(r, 7) << 5 | quantize(g, 7) << 2 | quantize(b, 3);
    const std::uint32_t i = intensity(r, g, b);
    switch (format) {
        case GR_TEXFMT_RGB_332:
            return rgb332;
        case GR_TEXFMT_ALPHA_8:
            return a;
        case GR_TEXFMT_INTENSITY_8:
        case GR_TEXFMT_P_8:
            return i;
        case GR_TEXFMT_ALPHA_INTENSITY_44:
            return quantize(a, 15) << 4 | quantize(i, 15);
        case GR_TEXFMT_ARGB_8332:
            return a << 8 | rgb332;
        case GR_TEXFMT_RGB_565:
            return quantize(r, 31) << 11 | quantize(g, 63) << 5 | quantize(b, 31);
        case GR_TEXFMT_ARGB_1555:
            return (a >= 128 ? 0x8000u : 0u) | quantize(r, 31) << 10 | quantize(g, 31) << 5 |
                   quantize(b, 31);
        case GR_TEXFMT_ARGB_4444:
            return quantize(a, 15) << 12 | quantize(r, 15) << 8 | quantize(g, 15) << 4 |
                   quantize(b, 15);
        case GR_TEXFMT_ALPHA_INTENSITY_88:
        case GR_TEXFMT_AP_88:
            return a << 8 | i;
        default:
            return 0;
    }
}

bool powerOfTwoSide(int v) {
    return v >= 1 && v <= 256 && (v & (v - 1)) == 0;
}

// The next smaller level: each texel the rounded mean of the 2x2 (or 2x1) block it covers.
Image halve(const Image& in) {
    Image out;
    out.width = in.width > 1 ? in.width / 2 : 1;
    out.height = in.height > 1 ? in.height / 2 : 1;
    out.argb.resize(std::size_t(out.width) * out.height);
    const int sx = in.width > 1 ? 2 : 1, sy = in.height > 1 ? 2 : 1;
    const std::uint32_t count = std::uint32_t(sx * sy);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            std::uint32_t sum[4] = {0, 0, 0, 0};
            for (int dy = 0; dy < sy; ++dy)
                for (int dx = 0; dx < sx; ++dx) {
                    const std::uint32_t p =
                        in.argb[std::size_t(y * sy + dy) * in.width + (x * sx + dx)];
                    for (int c = 0; c < 4; ++c) sum[c] += (p >> (8 * c)) & 0xFF;
                }
            std::uint32_t p = 0;
            for (int c = 0; c < 4; ++c) p |= ((sum[c] + count / 2) / count) << (8 * c);
            out.argb[std::size_t(y) * out.width + x] = p;
        }
    }
    return out;
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

}  // namespace

bool write3df(const std::string& path, const Image& image, const std::string& format, bool mipmaps,
              std::string* error) {
    auto fail = [error](const std::string& message) {
        if (error) *error = message;
        return false;
    };
    const int code = glide::formatFromName(format.c_str());
    if (code < 0) return fail("unknown texture format \"" + format + "\"");
    if (glide::formatHasNccTable(code))
        return fail("format \"" + format + "\" needs a compression table, which is not written");
    if (!powerOfTwoSide(image.width) || !powerOfTwoSide(image.height))
        return fail("picture is " + std::to_string(image.width) + "x" +
                    std::to_string(image.height) + "; sides must be powers of two from 1 to 256");
    const int aspect = image.width >= image.height
                           ? glide::aspectFromRatio(image.width / image.height, 1)
                           : glide::aspectFromRatio(1, image.height / image.width);
    if (aspect < 0)
        return fail("picture is " + std::to_string(image.width) + "x" +
                    std::to_string(image.height) + "; the aspect must be from 8:1 to 1:8");
    if (image.argb.size() != std::size_t(image.width) * image.height)
        return fail("picture data does not match its size");

    const int largeSide = image.width > image.height ? image.width : image.height;
    const int smallSide = mipmaps ? 1 : largeSide;
    const int ratioW = aspect <= GR_ASPECT_1x1 ? 1 << (GR_ASPECT_1x1 - aspect) : 1;
    const int ratioH = aspect <= GR_ASPECT_1x1 ? 1 : 1 << (aspect - GR_ASPECT_1x1);

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return fail("cannot create \"" + path + "\"");
    std::FILE* f = file.get();
    std::fprintf(f, "3df v1.0\n%s\nlod range: %d %d\naspect ratio: %d %d\n",
                 glide::formatName(code), smallSide, largeSide, ratioW, ratioH);
    if (glide::formatHasPalette(code)) {
        // A grey ramp: index i is intensity i, which is also how the library shows an index
        // when no palette is downloaded.
        for (std::uint32_t i = 0; i < 256; ++i) {
            const std::uint32_t entry = 0xFF000000u | i << 16 | i << 8 | i;
            const unsigned char be[4] = {
                static_cast<unsigned char>(entry >> 24), static_cast<unsigned char>(entry >> 16),
                static_cast<unsigned char>(entry >> 8), static_cast<unsigned char>(entry)};
            std::fwrite(be, 1, 4, f);
        }
    }
    const int bytesPerTexel = glide::texelBytes(code);
    Image level = image;
    for (int side = largeSide;; side /= 2) {
        std::vector<unsigned char> out;
        out.reserve(level.argb.size() * bytesPerTexel);
        for (std::uint32_t p : level.argb) {
            const std::uint32_t v = encode(code, p);
            if (bytesPerTexel == 2) out.push_back(static_cast<unsigned char>(v >> 8));
            out.push_back(static_cast<unsigned char>(v));
        }
        std::fwrite(out.data(), 1, out.size(), f);
        if (side <= smallSide) break;
        level = halve(level);
    }
    const bool written = std::ferror(f) == 0;
    if (std::fclose(file.release()) != 0 || !written)
        return fail("could not write \"" + path + "\"");
    return true;
}

}  // namespace tdf

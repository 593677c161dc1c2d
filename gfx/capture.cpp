// Screen capture: the displayed frame read back and written as a headerless 24-bit RAW file.
#include "capture.h"

#include <cstdio>
#include <cstdlib>

#include "driver.h"
#include "glide.h"
#include "host.h"

namespace {

constexpr int kCaptureWidth = 640;
constexpr int kCaptureHeight = 480;

}  // namespace

void captureScreen(const char* fileName) {
    auto* pixels = static_cast<FxU16*>(std::malloc(sizeof(FxU16) * kCaptureWidth * kCaptureHeight));
    if (!pixels) {
        std::printf("Error:  Screen Dump to \"%s\" failed.\n\n", fileName);
        return;
    }
    grLfbReadRegion(GR_BUFFER_FRONTBUFFER, 0, 0, kCaptureWidth, kCaptureHeight, kCaptureWidth * 2,
                    pixels);
    hostChdir(startDirectory);

    std::FILE* file = std::fopen(fileName, "wb");
    if (!file) {
        std::printf("Error:  Screen Dump to \"%s\" failed.\n\n", fileName);
        std::free(pixels);
        return;
    }
    // Five bits per field to a byte, f / 31 * 255 in single precision, truncated. Green keeps
    // only the top five of its six bits.
    unsigned char toByte[32];
    for (int f = 0; f < 32; ++f) {
        const float scaled = float(f) / 31.0f * 255.0f;
        toByte[f] = static_cast<unsigned char>(scaled);
    }
    unsigned char row[kCaptureWidth * 3];
    bool written = true;
    for (int y = 0; y < kCaptureHeight; ++y) {
        for (int x = 0; x < kCaptureWidth; ++x) {
            const FxU16 p = pixels[y * kCaptureWidth + x];
            row[3 * x] = toByte[(p >> 11) & 31];
            row[3 * x + 1] = toByte[(p >> 6) & 31];
            row[3 * x + 2] = toByte[p & 31];
        }
        if (std::fwrite(row, 1, sizeof row, file) != sizeof row) written = false;
    }
    if (std::fclose(file) != 0) written = false;
    std::free(pixels);
    if (!written) std::printf("Error:  Screen Dump to \"%s\" failed.\n\n", fileName);
}

// The recorder's pictures and progress: screen to RGB or YCbCr, formats, progress line.
#include "record_output.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "song_schedule.h"

namespace record {

namespace {

std::string lowerExtension(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = fileName.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// "1:05" or "12 s": how long something takes, for people.
std::string duration(double seconds) {
    char text[32];
    const long s = std::lround(std::max(0.0, seconds));
    if (s < 60)
        std::snprintf(text, sizeof text, "%ld s", s);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

struct Rgb {
    int r, g, b;
};

Rgb rgbOf(std::uint16_t v) {
    const int r = v >> 11, g = (v >> 5) & 63, b = v & 31;
    return {(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)};
}

// BT.601 in limited range with 8 fraction bits, rounded. Chroma takes the sum of `n` colours
// (the four of a 2x2 block); its offset of 128 goes in before the division, which keeps the
// numerator positive so that the division rounds down like a shift.
std::uint8_t lumaOf(int r, int g, int b) {
    return std::uint8_t(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
std::uint8_t cbOf(int r, int g, int b, int n) {
    return std::uint8_t((-38 * r - 74 * g + 112 * b + (128 + 128 * 256) * n) / (256 * n));
}
std::uint8_t crOf(int r, int g, int b, int n) {
    return std::uint8_t((112 * r - 94 * g - 18 * b + (128 + 128 * 256) * n) / (256 * n));
}

// After the show's last cue: the fade-out of the music (65 volume steps of 150 ms) and the
// contact pages (2 s of black, two pages that the recorder answers after 3 s each).
constexpr double kAfterLastCue = 65 * 0.15 + 2.0 + 3.0 + 3.0;

// Show time before the speed is steady enough to tell the time left.
constexpr double kSettleSeconds = 3.0;

}  // namespace

VideoFormat videoFormatOf(const std::string& fileName) {
    const std::string ext = lowerExtension(fileName);
    if (ext == ".mp4") return VideoFormat::mp4;
    if (ext == ".mkv") return VideoFormat::mkv;
    return VideoFormat::none;
}

void screenToRgb(const std::uint16_t* screen, int scale, std::uint8_t* rgb) {
    const int width = kScreenWidth * scale;
    const std::size_t rowBytes = std::size_t(width) * 3;
    for (int y = 0; y < kScreenHeight; ++y) {
        std::uint8_t* out = rgb + std::size_t(y) * scale * rowBytes;
        const std::uint16_t* in = screen + std::size_t(y) * kScreenWidth;
        std::uint8_t* p = out;
        for (int x = 0; x < kScreenWidth; ++x) {
            const unsigned v = in[x];
            const unsigned r = v >> 11, g = (v >> 5) & 63, b = v & 31;
            const std::uint8_t r8 = std::uint8_t((r << 3) | (r >> 2));
            const std::uint8_t g8 = std::uint8_t((g << 2) | (g >> 4));
            const std::uint8_t b8 = std::uint8_t((b << 3) | (b >> 2));
            for (int i = 0; i < scale; ++i) {
                *p++ = r8;
                *p++ = g8;
                *p++ = b8;
            }
        }
        // The other rows of the block repeat the first.
        for (int i = 1; i < scale; ++i) std::memcpy(out + i * rowBytes, out, rowBytes);
    }
}

void screenToYuv420(const std::uint16_t* screen, int scale, std::uint8_t* yuv) {
    // Every RGB565 value's luma, and each channel's 8-bit value, looked up rather than worked
    // out per pixel: this runs for every new picture of a video.
    static const std::vector<std::uint8_t> lumaTable = [] {
        std::vector<std::uint8_t> t(65536);
        for (unsigned v = 0; v < 65536; ++v) {
            const Rgb c = rgbOf(std::uint16_t(v));
            t[v] = lumaOf(c.r, c.g, c.b);
        }
        return t;
    }();
    const int width = kScreenWidth * scale, height = kScreenHeight * scale;
    std::uint8_t* lumaPlane = yuv;
    std::uint8_t* cbPlane = yuv + std::size_t(width) * height;
    std::uint8_t* crPlane = cbPlane + std::size_t(width / 2) * (height / 2);
    for (int y = 0; y < kScreenHeight; ++y) {
        std::uint8_t* out = lumaPlane + std::size_t(y) * scale * width;
        const std::uint16_t* in = screen + std::size_t(y) * kScreenWidth;
        if (scale == 1) {
            for (int x = 0; x < kScreenWidth; ++x) out[x] = lumaTable[in[x]];
        } else {
            for (int x = 0; x < kScreenWidth; ++x)
                std::memset(out + x * scale, lumaTable[in[x]], std::size_t(scale));
            for (int i = 1; i < scale; ++i) std::memcpy(out + i * width, out, std::size_t(width));
        }
    }
    // Each chroma sample covers output pixels (2cx, 2cy) to (2cx + 1, 2cy + 1), which lie on
    // one to four screen pixels depending on the scale.
    std::vector<int> column(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) column[x] = x / scale;
    for (int cy = 0; cy < height / 2; ++cy) {
        const std::uint16_t* row0 = screen + std::size_t(2 * cy / scale) * kScreenWidth;
        const std::uint16_t* row1 = screen + std::size_t((2 * cy + 1) / scale) * kScreenWidth;
        std::uint8_t* cb = cbPlane + std::size_t(cy) * (width / 2);
        std::uint8_t* cr = crPlane + std::size_t(cy) * (width / 2);
        for (int cx = 0; cx < width / 2; ++cx) {
            const int x0 = column[2 * cx], x1 = column[2 * cx + 1];
            const Rgb a = rgbOf(row0[x0]), b = rgbOf(row0[x1]), c = rgbOf(row1[x0]),
                      d = rgbOf(row1[x1]);
            const int r = a.r + b.r + c.r + d.r, g = a.g + b.g + c.g + d.g,
                      bl = a.b + b.b + c.b + d.b;
            cb[cx] = cbOf(r, g, bl, 4);
            cr[cx] = crOf(r, g, bl, 4);
        }
    }
}

double expectedShowSeconds() {
    const std::vector<song::Cue> cues = song::cueSchedule();
    if (cues.empty()) return 0.0;
    return cues.back().row * song::kRowSeconds + kAfterLastCue;
}

std::string progressLine(double showSeconds, std::int64_t frames, double wallSeconds,
                         double expectedSeconds) {
    char text[160];
    const double speed = wallSeconds > 0 ? showSeconds / wallSeconds : 0.0;
    int n = std::snprintf(text, sizeof text, "recording: show %.1f s, %lld frames", showSeconds,
                          static_cast<long long>(frames));
    if (speed > 0) n += std::snprintf(text + n, sizeof text - n, ", %.1fx real time", speed);
    std::string line(text, std::min<std::size_t>(std::size_t(n), sizeof text - 1));
    // Early speeds are start-up noise, and past the expected end no guess beats none.
    if (speed > 0 && showSeconds >= kSettleSeconds && expectedSeconds > showSeconds)
        line += ", about " + duration((expectedSeconds - showSeconds) / speed) + " left";
    return line;
}

}  // namespace record

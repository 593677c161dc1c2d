// The recorder's pictures and progress: screen conversions, video formats, the progress line.
//
// The screen becomes 8-bit RGB or 4:2:0 YCbCr enlarged by whole pixels; the video format is
// chosen by file name.
#pragma once

#include <cstdint>
#include <string>

namespace record {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;
constexpr int kMaxScale = 4;
constexpr int kFramesPerSecond = 60;

enum class VideoFormat {
    none,
    mp4,  // H.264 in 4:2:0 and AAC: small, plays everywhere
    mkv,  // lossless RGB video and FLAC: every pixel and sample as the show made them
};

// The format that a video file name asks for by its extension (either case); none when the
// extension is neither .mp4 nor .mkv.
VideoFormat videoFormatOf(const std::string& fileName);

// Expands a 640x480 RGB565 screen (row 0 at the top) into 8-bit RGB, each screen pixel becoming
// a `scale` x `scale` block, by replicating the top bits into the low ones so that full
// intensity stays 255. `rgb` holds 640 * scale * 480 * scale * 3 bytes.
void screenToRgb(const std::uint16_t* screen, int scale, std::uint8_t* rgb);

// The same enlarged picture as planar 4:2:0 YCbCr for H.264: BT.601 coefficients in limited
// range (luma 16 to 235, chroma 16 to 240), chroma from the mean colour of each 2x2 block of the
// enlarged picture. `yuv` holds width * height * 3 / 2 bytes: all luma rows, then Cb, then Cr.
void screenToYuv420(const std::uint16_t* screen, int scale, std::uint8_t* yuv);

// The length the show is expected to run, from the song's cue layout: the last cue, then the
// music's fade-out and the contact pages. Only an estimate for the progress line.
double expectedShowSeconds();

// One progress line: show time done, frames, speed against real time and, while the show is
// expected to go on, the time left at the present speed. No line ending.
std::string progressLine(double showSeconds, std::int64_t frames, double wallSeconds,
                         double expectedSeconds);

}  // namespace record

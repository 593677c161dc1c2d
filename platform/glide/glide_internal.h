// Private state of the software graphics library: frame buffers, render state, texture memory.
// Shared between the display, state, texture and rasterizer files of this folder only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "glide.h"

namespace glide {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kPixels = kWidth * kHeight;

// One combine unit's settings (colour or alpha).
struct Combine {
    int function = GR_COMBINE_FUNCTION_SCALE_OTHER;
    int factor = GR_COMBINE_FACTOR_LOCAL;
    int local = GR_COMBINE_LOCAL_ITERATED;
    int other = GR_COMBINE_OTHER_TEXTURE;
    bool invert = false;
};

struct TmuState {
    int rgbFunction = GR_COMBINE_FUNCTION_LOCAL;
    int rgbFactor = GR_COMBINE_FACTOR_NONE;
    int alphaFunction = GR_COMBINE_FUNCTION_LOCAL;
    int alphaFactor = GR_COMBINE_FACTOR_NONE;
    bool rgbInvert = false;
    bool alphaInvert = false;
    int minFilter = GR_TEXTUREFILTER_BILINEAR;
    int magFilter = GR_TEXTUREFILTER_BILINEAR;
    int clampS = GR_TEXTURECLAMP_WRAP;
    int clampT = GR_TEXTURECLAMP_WRAP;
    int mipmapMode = GR_MIPMAP_NEAREST;
    bool lodBlend = false;
    // Texture selected by grTexSource.
    bool sourceValid = false;
    std::uint32_t sourceAddress = 0;
    std::uint32_t sourceEvenOdd = GR_MIPMAPLEVELMASK_BOTH;
    GrTexInfo sourceInfo{};
};

struct RenderState {
    Combine color{GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                  GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, false};
    Combine alpha{GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                  GR_COMBINE_OTHER_CONSTANT, false};
    std::uint32_t constantColor = 0;  // 0xRRGGBBAA with the RGBA colour format
    int blendRgbSrc = GR_BLEND_ONE, blendRgbDst = GR_BLEND_ZERO;
    int blendAlphaSrc = GR_BLEND_ONE, blendAlphaDst = GR_BLEND_ZERO;
    std::uint32_t chromakeyValue = 0;
    bool chromakeyEnabled = false;
    int depthMode = GR_DEPTHBUFFER_DISABLE;
    int depthFunction = GR_CMP_LESS;
    bool depthMask = false;
    int cullMode = GR_CULL_DISABLE;
    int clipMinX = 0, clipMinY = 0, clipMaxX = kWidth, clipMaxY = kHeight;
    int colorFormat = GR_COLORFORMAT_RGBA;
    std::array<TmuState, 3> tmu{};
    // Bumped on every state call so that derived per-draw setup can be cached.
    std::uint64_t serial = 0;
};

// A clear the board has not carried out yet. A clear is usually followed at once by a picture
// that covers the whole screen (the scenes' backdrop), which would overwrite every cleared pixel:
// instead of filling the buffers twice, the clear waits, and opaque triangles that only cover
// pixels still waiting for it are drawn in its place (see shadeTriangleFast). Everything else
// that reads or writes the buffers first fills the pixels still waiting (settleClear), so the
// buffers always hold what the clear followed by the drawing would have left.
struct PendingClear {
    bool active = false;
    bool depth = false;  // the depth buffer waits for it too
    std::uint16_t color = 0, depthValue = 0;
    int minX = 0, maxX = 0, minY = 0, maxY = 0;  // the clip window it honours
    // Per screen row y: the pixels [lo, hi) drawn since the clear, which no longer wait for it
    // (lo == hi: none). Each row's drawn pixels stay one run.
    struct Run {
        std::int16_t lo, hi;
    };
    std::array<Run, kHeight> drawn;
};

struct Board {
    bool initialised = false;
    bool open = false;
    // Colour buffers, RGB565, memory row 0 is the top row of the picture (screen y = 479).
    std::array<std::vector<std::uint16_t>, 2> color;
    int front = 0;
    std::vector<std::uint16_t> depth;
    std::vector<std::uint8_t> textureMemory;  // unit 0, GR_TEXMEM_SIZE bytes
    // Bumped on every download so that decoded copies of texture memory can be cached.
    std::uint64_t textureSerial = 0;
    RenderState state;
    PendingClear pending;
};

extern Board board;

// --- the second drawing thread (drawing_thread.cpp) ---------------------------------------------
//
// With two threads, each triangle's rows are shared out in bands of 2^kBandShift rows: the even
// bands are shaded by the thread that draws, the odd ones by a second thread, from a queue, so
// the second may still be at work when a draw call returns. Everything that reads or writes the
// buffers or the state the queued work reads first waits for it (finishDrawing).
constexpr int kBandShift = 4;
constexpr unsigned kAllBands = 0xFF;
// A screen row's band within the turn of eight that the threads share out.
inline unsigned bandOf(int y) {
    return unsigned(y >> kBandShift) & 7u;
}
// Bytes of a queued job's data.
constexpr std::size_t kBandJobBytes = 448;

// How many threads draw: 1 or 2 once decided, 0 before (see bandsOn).
extern int wantedThreads;
// bandsOn where two threads may be wanted: decides, and starts the second thread if needed.
bool startBands();
// True when triangles are shared with the second thread (started on first use). Asked for
// every triangle, so the usual answer with one thread takes no call.
inline bool bandsOn() {
    return wantedThreads != 1 && startBands();
}
// Hands `size` bytes of data to `run` on the second thread, after the jobs queued before.
// Returns the job's ticket, above 0. Small jobs are handed over in batches; an `urgent` one
// (much work) at once. Waiting for any job hands over all queued so far.
std::uint64_t queueBandJob(void (*run)(const void*), const void* data, std::size_t size,
                           bool urgent);
// Returns once the job of the ticket has run (ticket 0: at once).
void waitForBandJob(std::uint64_t ticket);
void waitForBandJobs();
// Set by queueBandJob, cleared by waitForBandJobs: there may be queued work unfinished.
extern bool bandJobsQueued;
// Small triangles gathered to be shaded together: the function that shades them, null when
// none wait (raster_kernels.inc).
extern void (*gatheredRuns)();
// Shades the gathered triangles.
void shadeGatheredNow();
// Returns once every triangle drawn so far is shaded: the gathered ones, and every job queued
// for the second thread.
inline void finishDrawing() {
    if (gatheredRuns) shadeGatheredNow();
    if (bandJobsQueued) waitForBandJobs();
}
// The bands, one bit for each of a turn of eight, that the calling thread shades itself; the
// second thread shades the others.
unsigned callerBands();
// 1: everything on the calling thread; 2: with the second thread (stopped when set to 1).
void setDrawingThreads(int threads);
int drawingThreads();
// Jobs the second thread has run since it started (for tests).
std::uint64_t bandJobsRun();

// Fills the pixels that still wait for a pending clear with its values and ends it. With two
// threads each fills the rows of its own bands, so the second thread's rows stay in its cache;
// the second thread's share may still be under way when this returns.
void fillPendingClear();
// Carries out a pending clear and finishes all drawing: the buffers are complete.
inline void settleClear() {
    if (board.pending.active) fillPendingClear();
    finishDrawing();
}

// The buffers as the drawing so far has left them (any pending clear is carried out first).
inline std::uint16_t* backBuffer() {
    settleClear();
    return board.color[board.front ^ 1].data();
}
inline std::uint16_t* depthBuffer() {
    settleClear();
    return board.depth.data();
}
inline std::uint16_t* frontBuffer() {
    return board.color[board.front].data();
}
// The back buffer as it stands, for the rasterizer's stage that draws in a pending clear's place.
inline std::uint16_t* drawBuffer() {
    return board.color[board.front ^ 1].data();
}

// Allocates buffers and texture memory (see ensureBuffers).
void allocateBuffers();
// Allocates buffers and texture memory on first use (kept across init/shutdown pairs).
inline void ensureBuffers() {
    if (board.color[0].empty()) allocateBuffers();
}

// Sets n 16-bit buffer values to v: the board's fast fill, as plain memory stores (a byte fill
// where both bytes agree, as for black and the farthest depth).
inline void fillPixels(std::uint16_t* p, std::size_t n, std::uint16_t v) {
    if ((v >> 8) == (v & 0xFF)) {
        std::memset(p, v & 0xFF, n * 2);
        return;
    }
    const std::uint64_t four = v * 0x0001000100010001ull;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) std::memcpy(p + i, &four, 8);
    for (; i < n; ++i) p[i] = v;
}

}  // namespace glide

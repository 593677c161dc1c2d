// Display half of the software graphics library: board start-up, buffers, clear, swap, read-back.
#include <cstdio>
#include <cstring>

#include "glide_internal.h"
#include "glideext.h"
#include "host.h"
#include "raster.h"

namespace glide {

Board board;

void allocateBuffers() {
    for (auto& buffer : board.color) buffer.assign(kPixels, 0);
    board.depth.assign(kPixels, 0xFFFF);
    board.textureMemory.assign(GR_TEXMEM_SIZE, 0);
}

namespace {

// The pixels of the rows in `bands` that still wait for the pending clear. Reads the pending
// clear's runs, which stay as they are until the next clear, and that waits for all drawing.
void fillClearRows(std::uint16_t* color, std::uint16_t* depth, unsigned bands) {
    const PendingClear& p = board.pending;
    auto fill = [&](int row, int from, int to) {
        if (from >= to) return;
        fillPixels(color + row * kWidth + from, std::size_t(to - from), p.color);
        if (p.depth) fillPixels(depth + row * kWidth + from, std::size_t(to - from), p.depthValue);
    };
    for (int y = p.minY; y < p.maxY; ++y) {
        if (!((bands >> bandOf(y)) & 1u)) continue;
        const int row = kHeight - 1 - y;
        const PendingClear::Run run = p.drawn[std::size_t(y)];
        if (run.lo == run.hi) {
            fill(row, p.minX, p.maxX);
        } else {
            fill(row, p.minX, run.lo);
            fill(row, run.hi, p.maxX);
        }
    }
}

struct ClearRowsJob {
    std::uint16_t* color;
    std::uint16_t* depth;
    unsigned bands;
};

void runClearRowsJob(const void* data) {
    const ClearRowsJob& job = *static_cast<const ClearRowsJob*>(data);
    fillClearRows(job.color, job.depth, job.bands);
}

}  // namespace

void fillPendingClear() {
    // The pixels it fills are those no triangle has drawn since the clear, and everything drawn
    // before the clear was finished by it: no drawing still queued touches them.
    board.pending.active = false;
    std::uint16_t* const color = drawBuffer();
    std::uint16_t* const depth = board.depth.data();
    if (!bandsOn()) {
        fillClearRows(color, depth, kAllBands);
        return;
    }
    const unsigned mine = callerBands();
    const ClearRowsJob job{color, depth, ~mine & kAllBands};
    queueBandJob(runClearRowsJob, &job, sizeof job, true);
    fillClearRows(color, depth, mine);
}

}  // namespace glide

using glide::board;

void grGlideInit(void) {
    glide::ensureBuffers();
    // The kernel width is chosen now, so that a bad TARNOVEL_VECTOR_LANES is named at once.
    glide::vectorLanes();
    board.initialised = true;
}

FxBool grSstQueryHardware(GrHwConfiguration* hwconfig) {
    if (!hostDisplayAvailable()) return FXFALSE;
    if (hwconfig) {
        std::memset(hwconfig, 0, sizeof(*hwconfig));
        hwconfig->num_sst = 1;
        hwconfig->SSTs[0].fbRam = 4;
        hwconfig->SSTs[0].nTexelfx = 1;
        hwconfig->SSTs[0].tmuRam[0] = 4;
    }
    return FXTRUE;
}

void grSstSelect(int) {}

FxBool grSstWinOpen(FxU32, GrScreenResolution_t resolution, GrScreenRefresh_t,
                    GrColorFormat_t colorFormat, GrOriginLocation_t, int nColBuffers, int) {
    // Only the mode the show asks for exists on this board.
    if (resolution != GR_RESOLUTION_640x480 || nColBuffers != 2) return FXFALSE;
    glide::ensureBuffers();
    board.state.colorFormat = colorFormat;
    if (!hostOpenWindow()) return FXFALSE;
    board.open = true;
    hostPresent(glide::frontBuffer());
    return FXTRUE;
}

void grClipWindow(FxU32 minx, FxU32 miny, FxU32 maxx, FxU32 maxy) {
    auto clampTo = [](FxU32 v, int limit) { return v > FxU32(limit) ? limit : int(v); };
    auto& s = board.state;
    s.clipMinX = clampTo(minx, glide::kWidth);
    s.clipMaxX = clampTo(maxx, glide::kWidth);
    s.clipMinY = clampTo(miny, glide::kHeight);
    s.clipMaxY = clampTo(maxy, glide::kHeight);
    ++s.serial;
}

void grGlideShutdown(void) {
    glide::settleClear();
    if (board.open) hostCloseWindow();
    board.open = false;
    board.initialised = false;
}

void grBufferClear(GrColor_t color, GrAlpha_t, FxU16 depth) {
    glide::ensureBuffers();
    // The colour arrives in the display's RGBA format (red in the top byte).
    const unsigned r = (color >> 24) & 0xFF, g = (color >> 16) & 0xFF, b = (color >> 8) & 0xFF;
    const std::uint16_t pixel = std::uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    const auto& s = board.state;
    if (s.clipMinX >= s.clipMaxX || s.clipMinY >= s.clipMaxY) return;
    // An earlier clear still waiting is carried out first: the two may differ in window.
    glide::settleClear();
    // The clear honours the clip window, as the hardware's fast fill did. It waits for the
    // drawing that follows (see PendingClear); the buffers are filled when something needs them.
    glide::PendingClear& p = board.pending;
    p.active = true;
    p.depth = s.depthMask || s.depthMode == GR_DEPTHBUFFER_DISABLE;
    p.color = pixel;
    p.depthValue = depth;
    p.minX = s.clipMinX;
    p.maxX = s.clipMaxX;
    p.minY = s.clipMinY;
    p.maxY = s.clipMaxY;
    const glide::PendingClear::Run none{std::int16_t(p.minX), std::int16_t(p.minX)};
    for (int y = p.minY; y < p.maxY; ++y) p.drawn[std::size_t(y)] = none;
}

void grBufferSwap(int swapInterval) {
    glide::ensureBuffers();
    glide::settleClear();
    hostRetraceWait(swapInterval < 1 ? 1 : swapInterval);
    board.front ^= 1;
    hostPresent(glide::frontBuffer());
}

FxBool grLfbReadRegion(GrBuffer_t src, FxU32 x, FxU32 y, FxU32 w, FxU32 h, FxU32 stride,
                       void* dst) {
    glide::ensureBuffers();
    if (!dst || (src != GR_BUFFER_FRONTBUFFER && src != GR_BUFFER_BACKBUFFER)) return FXFALSE;
    if (x > FxU32(glide::kWidth) || w > FxU32(glide::kWidth) - x) return FXFALSE;
    if (y > FxU32(glide::kHeight) || h > FxU32(glide::kHeight) - y) return FXFALSE;
    if (stride < w * 2) return FXFALSE;
    glide::settleClear();
    const std::uint16_t* buffer =
        src == GR_BUFFER_FRONTBUFFER ? glide::frontBuffer() : glide::backBuffer();
    auto* out = static_cast<std::uint8_t*>(dst);
    // Read-back rows run from the top of the picture down, so saved captures are upright.
    for (FxU32 row = 0; row < h; ++row)
        std::memcpy(out + row * stride, buffer + (y + row) * glide::kWidth + x, w * 2);
    return FXTRUE;
}

const std::uint16_t* grExtFrontBuffer() {
    glide::ensureBuffers();
    return glide::frontBuffer();
}

const std::uint16_t* grExtBackBuffer() {
    glide::ensureBuffers();
    return glide::backBuffer();
}

const std::uint16_t* grExtDepthBuffer() {
    glide::ensureBuffers();
    return glide::depthBuffer();
}

namespace {
GrExtTriangleTrace traceHook = nullptr;
void* traceContext = nullptr;
}  // namespace

void grExtSetTriangleTrace(GrExtTriangleTrace fn, void* context) {
    traceHook = fn;
    traceContext = context;
}

void grExtTraceTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c, bool clipped) {
    if (traceHook) traceHook(a, b, c, clipped, traceContext);
}

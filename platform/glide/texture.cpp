// Texture memory of unit 0: size of a texture, download of its levels, selection for drawing.
#include <strings.h>
#include <cstdio>
#include <cstring>

#include "glide_internal.h"
#include "texformat.h"

namespace glide {

namespace {

struct FormatEntry {
    int format;
    const char* name;
};

constexpr FormatEntry kFormatNames[] = {
    {GR_TEXFMT_RGB_332, "rgb332"},
    {GR_TEXFMT_YIQ_422, "yiq"},
    {GR_TEXFMT_ALPHA_8, "a8"},
    {GR_TEXFMT_INTENSITY_8, "i8"},
    {GR_TEXFMT_ALPHA_INTENSITY_44, "ai44"},
    {GR_TEXFMT_P_8, "p8"},
    {GR_TEXFMT_ARGB_8332, "argb8332"},
    {GR_TEXFMT_AYIQ_8422, "ayiq8422"},
    {GR_TEXFMT_RGB_565, "rgb565"},
    {GR_TEXFMT_ARGB_1555, "argb1555"},
    {GR_TEXFMT_ARGB_4444, "argb4444"},
    {GR_TEXFMT_ALPHA_INTENSITY_88, "ai88"},
    {GR_TEXFMT_AP_88, "ap88"},
};

bool levelInMask(int lod, std::uint32_t evenOdd) {
    return (evenOdd & (lod & 1 ? GR_MIPMAPLEVELMASK_ODD : GR_MIPMAPLEVELMASK_EVEN)) != 0;
}

}  // namespace

const char* formatName(int format) {
    for (const auto& e : kFormatNames)
        if (e.format == format) return e.name;
    return nullptr;
}

int formatFromName(const char* name) {
    if (!name) return -1;
    for (const auto& e : kFormatNames)
        if (strcasecmp(e.name, name) == 0) return e.format;
    return -1;
}

int aspectFromRatio(int w, int h) {
    if (w == 8 && h == 1) return GR_ASPECT_8x1;
    if (w == 4 && h == 1) return GR_ASPECT_4x1;
    if (w == 2 && h == 1) return GR_ASPECT_2x1;
    if (w == 1 && h == 1) return GR_ASPECT_1x1;
    if (w == 1 && h == 2) return GR_ASPECT_1x2;
    if (w == 1 && h == 4) return GR_ASPECT_1x4;
    if (w == 1 && h == 8) return GR_ASPECT_1x8;
    return -1;
}

std::uint32_t hostBytes(int smallLod, int largeLod, int aspect, int format) {
    std::uint32_t total = 0;
    for (int lod = largeLod; lod <= smallLod; ++lod) {
        const LevelSize size = levelSize(lod, aspect);
        total += std::uint32_t(size.width * size.height * texelBytes(format));
    }
    return total;
}

std::uint32_t levelOffset(const GrTexInfo& info, std::uint32_t evenOdd, int level) {
    std::uint32_t offset = 0;
    for (int lod = info.largeLod; lod < level; ++lod) {
        if (!levelInMask(lod, evenOdd)) continue;
        const LevelSize size = levelSize(lod, info.aspectRatio);
        offset += (std::uint32_t(size.width * size.height * texelBytes(info.format)) + 7u) & ~7u;
    }
    return offset;
}

}  // namespace glide

using glide::board;

FxU32 grTexTextureMemRequired(FxU32 evenOdd, GrTexInfo* info) {
    if (!info || !glide::validTexInfo(*info)) return 0;
    return glide::levelOffset(*info, evenOdd, info->smallLod + 1);
}

void grTexDownloadMipMap(GrChipID_t tmu, FxU32 startAddress, FxU32 evenOdd, GrTexInfo* info) {
    // Queued drawing reads decoded copies of texture memory that a new download retires.
    glide::finishDrawing();
    glide::ensureBuffers();
    if (tmu != GR_TMU0) {
        std::fprintf(stderr, "glide: grTexDownloadMipMap: only texture unit 0 has memory\n");
        return;
    }
    if (!info || !glide::validTexInfo(*info) || !info->data) {
        std::fprintf(stderr, "glide: grTexDownloadMipMap: invalid texture description\n");
        return;
    }
    const FxU32 required = grTexTextureMemRequired(evenOdd, info);
    if (startAddress > GR_TEXMEM_SIZE || required > GR_TEXMEM_SIZE - startAddress) {
        std::fprintf(stderr,
                     "glide: grTexDownloadMipMap: %u bytes at address %u run past the end of "
                     "texture memory (%u bytes); nothing downloaded\n",
                     unsigned(required), unsigned(startAddress), unsigned(GR_TEXMEM_SIZE));
        return;
    }
    // The host copy holds every level, largest first, without padding; texture memory holds
    // the levels of the mask, each padded to 8 bytes.
    const auto* source = static_cast<const std::uint8_t*>(info->data);
    std::uint8_t* memory = board.textureMemory.data() + startAddress;
    for (int lod = info->largeLod; lod <= info->smallLod; ++lod) {
        const glide::LevelSize size = glide::levelSize(lod, info->aspectRatio);
        const std::size_t bytes =
            std::size_t(size.width) * size.height * glide::texelBytes(info->format);
        if (glide::levelInMask(lod, evenOdd)) {
            std::memcpy(memory, source, bytes);
            memory += (bytes + 7u) & ~std::size_t(7);
        }
        source += bytes;
    }
    ++board.textureSerial;
}

void grTexSource(GrChipID_t tmu, FxU32 startAddress, FxU32 evenOdd, GrTexInfo* info) {
    if (tmu < 0 || tmu >= int(board.state.tmu.size())) return;
    glide::TmuState& t = board.state.tmu[tmu];
    t.sourceValid = false;
    if (info && glide::validTexInfo(*info)) {
        const FxU32 required = grTexTextureMemRequired(evenOdd, info);
        // A texture that would reach past the end of memory is not sampled at all.
        t.sourceValid = required != 0 && startAddress <= GR_TEXMEM_SIZE &&
                        required <= GR_TEXMEM_SIZE - startAddress;
        t.sourceAddress = startAddress;
        t.sourceEvenOdd = evenOdd;
        t.sourceInfo = *info;
    }
    ++board.state.serial;
}

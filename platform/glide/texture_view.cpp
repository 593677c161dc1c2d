// The texture selected for drawing: its levels' places in texture memory, texel fetch, and a
// small cache of decoded 8-bit copies for the optimised path.
#include <algorithm>
#include <memory>
#include <vector>

#include "raster.h"
#include "texformat.h"

namespace glide {

namespace {

struct DecodedTexture {
    std::uint32_t address = 0, evenOdd = 0;
    int clampS = 0;
    GrTexInfo info{};
    std::uint64_t textureSerial = 0;
    std::vector<std::uint32_t> texels;
};

// Scenes draw with a handful of textures per frame (background, object, font); a few more
// entries than that keep them all decoded.
constexpr std::size_t kCacheEntries = 16;
std::vector<std::unique_ptr<DecodedTexture>> decodedCache;

int log2Of(int v) {
    int shift = 0;
    while ((1 << shift) < v) ++shift;
    return shift;
}

const std::uint32_t* decodedCopy(const TmuState& tmu, const TextureView& view) {
    const GrTexInfo& info = tmu.sourceInfo;
    for (std::size_t i = 0; i < decodedCache.size(); ++i) {
        DecodedTexture& d = *decodedCache[i];
        if (d.address == tmu.sourceAddress && d.evenOdd == tmu.sourceEvenOdd &&
            d.clampS == tmu.clampS && d.info.smallLod == info.smallLod &&
            d.info.largeLod == info.largeLod && d.info.aspectRatio == info.aspectRatio &&
            d.info.format == info.format && d.textureSerial == board.textureSerial) {
            // Most recently used first.
            if (i != 0)
                std::rotate(decodedCache.begin(), decodedCache.begin() + i,
                            decodedCache.begin() + i + 1);
            return decodedCache.front()->texels.data();
        }
    }
    auto entry = std::make_unique<DecodedTexture>();
    entry->address = tmu.sourceAddress;
    entry->evenOdd = tmu.sourceEvenOdd;
    entry->clampS = tmu.clampS;
    entry->info = info;
    entry->textureSerial = board.textureSerial;
    const TextureLevel& last = view.level[view.levels - 1];
    entry->texels.resize(last.decodedOffset + std::size_t(last.stride) * last.height);
    const bool clamp = tmu.clampS == GR_TEXTURECLAMP_CLAMP;
    for (int l = 0; l < view.levels; ++l) {
        const TextureLevel& level = view.level[l];
        for (int y = 0; y < level.height; ++y) {
            std::uint32_t* row = entry->texels.data() + level.decodedOffset + y * level.stride;
            for (int x = 0; x < level.width; ++x) row[x + 1] = fetchTexel(view, l, x, y);
            row[0] = row[clamp ? 1 : level.width];
            row[level.width + 1] = row[clamp ? level.width : 1];
        }
    }
    if (decodedCache.size() >= kCacheEntries) decodedCache.pop_back();
    decodedCache.insert(decodedCache.begin(), std::move(entry));
    return decodedCache.front()->texels.data();
}

}  // namespace

void resolveTexture(const TmuState& tmu, bool decode, TextureView* view) {
    *view = TextureView{};
    if (!tmu.sourceValid || board.textureMemory.empty()) return;
    const GrTexInfo& info = tmu.sourceInfo;
    view->format = info.format;
    view->levels = info.smallLod - info.largeLod + 1;
    view->texScale = float(lodSide(info.largeLod)) / 256.0f;
    std::uint32_t decodedOffset = 0;
    for (int l = 0; l < view->levels; ++l) {
        const int lod = info.largeLod + l;
        const LevelSize size = levelSize(lod, info.aspectRatio);
        TextureLevel& level = view->level[l];
        level.width = size.width;
        level.height = size.height;
        level.widthShift = log2Of(size.width);
        level.heightShift = log2Of(size.height);
        level.memoryOffset = levelOffset(info, tmu.sourceEvenOdd, lod);
        level.stride = size.width + 2;
        level.decodedOffset = decodedOffset;
        decodedOffset += std::uint32_t(level.stride * size.height);
        // With a partial level mask a level may not be in memory; it must still read inside it.
        const std::uint64_t end = std::uint64_t(tmu.sourceAddress) + level.memoryOffset +
                                  std::uint64_t(size.width) * size.height * texelBytes(info.format);
        if (end > board.textureMemory.size()) return;
    }
    view->memory = board.textureMemory.data() + tmu.sourceAddress;
    view->valid = true;
    if (decode) view->decoded = decodedCopy(tmu, *view);
}

std::uint32_t fetchTexel(const TextureView& view, int level, int x, int y) {
    const TextureLevel& l = view.level[level];
    const std::size_t index = std::size_t(y) * l.width + x;
    std::uint32_t raw;
    if (texelBytes(view.format) == 1) {
        raw = view.memory[l.memoryOffset + index];
    } else {
        std::uint16_t v;
        std::memcpy(&v, view.memory + l.memoryOffset + 2 * index, 2);
        raw = v;
    }
    return decodeTexel(view.format, raw);
}

}  // namespace glide

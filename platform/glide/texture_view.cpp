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
    int clampS = 0, clampT = 0;
    GrTexInfo info{};
    std::uint64_t textureSerial = 0;
    std::vector<std::uint64_t> entries;
    // The key counts (see keyCounts), made for `key` when `counted`.
    bool counted = false;
    std::uint32_t key = 0;
    std::vector<std::int32_t> counts;
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

const std::uint64_t* decodedCopy(const TmuState& tmu, const TextureView& view) {
    const GrTexInfo& info = tmu.sourceInfo;
    for (std::size_t i = 0; i < decodedCache.size(); ++i) {
        DecodedTexture& d = *decodedCache[i];
        if (d.address == tmu.sourceAddress && d.evenOdd == tmu.sourceEvenOdd &&
            d.clampS == tmu.clampS && d.clampT == tmu.clampT && d.info.smallLod == info.smallLod &&
            d.info.largeLod == info.largeLod && d.info.aspectRatio == info.aspectRatio &&
            d.info.format == info.format && d.textureSerial == board.textureSerial) {
            // Most recently used first.
            if (i != 0)
                std::rotate(decodedCache.begin(), decodedCache.begin() + i,
                            decodedCache.begin() + i + 1);
            return decodedCache.front()->entries.data();
        }
    }
    // A new copy may retire the oldest, which queued drawing may still read.
    finishDrawing();
    auto entry = std::make_unique<DecodedTexture>();
    entry->address = tmu.sourceAddress;
    entry->evenOdd = tmu.sourceEvenOdd;
    entry->clampS = tmu.clampS;
    entry->clampT = tmu.clampT;
    entry->info = info;
    entry->textureSerial = board.textureSerial;
    const TextureLevel& last = view.level[view.levels - 1];
    entry->entries.resize(last.decodedOffset + std::size_t(last.stride) * (last.height + 1));
    const bool clampS = tmu.clampS == GR_TEXTURECLAMP_CLAMP;
    const bool clampT = tmu.clampT == GR_TEXTURECLAMP_CLAMP;
    std::vector<std::uint32_t> texels;
    for (int l = 0; l < view.levels; ++l) {
        const TextureLevel& level = view.level[l];
        const int w = level.width, h = level.height;
        // The level with its border: rows -1..h of columns -1..w.
        const std::size_t stride = std::size_t(level.stride);
        texels.assign(stride * (h + 2), 0);
        auto column = [&](int x) {
            return x < 0 ? (clampS ? 0 : w - 1) : x >= w ? (clampS ? w - 1 : 0) : x;
        };
        auto row = [&](int y) {
            return y < 0 ? (clampT ? 0 : h - 1) : y >= h ? (clampT ? h - 1 : 0) : y;
        };
        for (int y = -1; y <= h; ++y)
            for (int x = -1; x <= w; ++x)
                texels[(y + 1) * stride + x + 1] = fetchTexel(view, l, column(x), row(y));
        std::uint64_t* out = entry->entries.data() + level.decodedOffset;
        for (int y = -1; y < h; ++y)
            for (std::size_t x = 0; x < stride; ++x) {
                const std::size_t at = (y + 1) * stride + x;
                out[at] = std::uint64_t(texels[at + stride]) << 32 | texels[at];
            }
    }
    if (decodedCache.size() >= kCacheEntries) decodedCache.pop_back();
    decodedCache.insert(decodedCache.begin(), std::move(entry));
    return decodedCache.front()->entries.data();
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
        decodedOffset += std::uint32_t(level.stride * (size.height + 1));
        // With a partial level mask a level may not be in memory; it must still read inside it.
        const std::uint64_t end = std::uint64_t(tmu.sourceAddress) + level.memoryOffset +
                                  std::uint64_t(size.width) * size.height * texelBytes(info.format);
        if (end > board.textureMemory.size()) return;
    }
    view->memory = board.textureMemory.data() + tmu.sourceAddress;
    view->valid = true;
    if (decode) view->decoded = decodedCopy(tmu, *view);
}

KeyCounts keyCounts(const TextureView& view, std::uint32_t keyRgb) {
    KeyCounts out;
    DecodedTexture* copy = nullptr;
    for (auto& d : decodedCache)
        if (view.decoded && d->entries.data() == view.decoded) copy = d.get();
    if (!copy) return out;
    std::size_t size = 0;
    for (int l = 0; l < view.levels; ++l) {
        out.offset[l] = std::int32_t(size);
        size += std::size_t(view.level[l].width + 3) * (view.level[l].height + 3);
    }
    if (!copy->counted || copy->key != keyRgb) {
        // Counts made for another key may still be read by queued drawing.
        if (copy->counted) finishDrawing();
        copy->counts.assign(size, 0);
        for (int l = 0; l < view.levels; ++l) {
            const TextureLevel& level = view.level[l];
            const std::uint64_t* entries = copy->entries.data() + level.decodedOffset;
            const int columns = level.width + 2, rows = level.height + 2;
            const std::size_t wide = std::size_t(columns) + 1;
            std::int32_t* c = copy->counts.data() + out.offset[l];
            for (int y = 0; y < rows; ++y) {
                // Bordered row y is the low half of entry row y, and the last one the high half
                // of the entry row before it.
                const std::uint64_t* row = entries + std::size_t(std::min(y, rows - 2)) * columns;
                const int shift = y < rows - 1 ? 0 : 32;
                std::int32_t inRow = 0;
                for (int x = 0; x < columns; ++x) {
                    inRow += ((row[x] >> shift) & 0xFFFFFF) != keyRgb;
                    c[(y + 1) * wide + x + 1] = c[y * wide + x + 1] + inRow;
                }
            }
        }
        copy->counted = true;
        copy->key = keyRgb;
    }
    out.counts = copy->counts.data();
    return out;
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

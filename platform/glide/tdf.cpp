// Reading 3DF texture files: the four header lines, the optional table and the big-endian texels.
#include <strings.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "glide_internal.h"
#include "texformat.h"

namespace {

// Header lines are short; a longer "line" means this is not a 3DF file.
constexpr std::size_t kMaxLine = 256;
// The largest valid file is well below this (header, palette, 256x256 16-bit levels); anything
// after the texels is ignored, so reading stops here.
constexpr std::size_t kMaxRead = 1u << 20;

struct Parsed {
    Gu3dfHeader header{};
    std::size_t tableOffset = 0;
    std::size_t dataOffset = 0;
    std::uint32_t memRequired = 0;
};

enum class ReadResult { ok, missing, malformed };

bool readFile(const char* path, std::vector<std::uint8_t>* bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    bytes->resize(kMaxRead);
    const std::size_t got = std::fread(bytes->data(), 1, kMaxRead, f);
    std::fclose(f);
    bytes->resize(got);
    return true;
}

// The next header line from `pos`, without its newline (and without a DOS carriage return).
bool nextLine(const std::vector<std::uint8_t>& bytes, std::size_t* pos, std::string* line) {
    line->clear();
    for (std::size_t i = *pos; i < bytes.size() && i - *pos <= kMaxLine; ++i) {
        if (bytes[i] == '\n') {
            line->assign(reinterpret_cast<const char*>(bytes.data()) + *pos, i - *pos);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            *pos = i + 1;
            return true;
        }
        if (bytes[i] == 0) return false;
    }
    return false;
}

std::string trimmed(const std::string& s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(s[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
    return s.substr(begin, end - begin);
}

// Two integers after a fixed label, and nothing else on the line. The numbers are read wide
// (saturating far past any valid size) so that a huge number stays huge and is judged out of
// bounds later, instead of wrapping into a small valid one.
bool parsePair(const std::string& line, const char* label, long long* a, long long* b) {
    const std::string text = trimmed(line);
    const std::size_t labelLength = std::strlen(label);
    if (text.size() < labelLength || strncasecmp(text.c_str(), label, labelLength) != 0)
        return false;
    const char* p = text.c_str() + labelLength;
    long long* values[2] = {a, b};
    for (long long* value : values) {
        while (std::isspace(static_cast<unsigned char>(*p))) ++p;
        const char* start = p;
        if (*p == '+' || *p == '-') ++p;
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        char* end = nullptr;
        // On overflow strtoll gives LLONG_MAX or LLONG_MIN, which are out of bounds all the same.
        *value = std::strtoll(start, &end, 10);
        p = end;
    }
    return *p == '\0';
}

// A header number as an int for the table look-ups, or -1 (never valid there) when it is
// outside the range any of them accepts.
int smallNumber(long long v) {
    return v >= 0 && v <= 256 ? int(v) : -1;
}

bool parse(const std::vector<std::uint8_t>& bytes, Parsed* out, const char** why) {
    std::size_t pos = 0;
    std::string line;
    if (!nextLine(bytes, &pos, &line) || strncasecmp(line.c_str(), "3df v", 5) != 0) {
        *why = "not a 3DF file";
        return false;
    }
    if (!nextLine(bytes, &pos, &line)) {
        *why = "header ends early";
        return false;
    }
    const int format = glide::formatFromName(trimmed(line).c_str());
    if (format < 0) {
        *why = "unknown texture format";
        return false;
    }
    long long smallSide = 0, largeSide = 0, ratioW = 0, ratioH = 0;
    if (!nextLine(bytes, &pos, &line) || !parsePair(line, "lod range:", &smallSide, &largeSide)) {
        *why = "bad lod range line";
        return false;
    }
    const int smallLod = glide::lodFromSide(smallNumber(smallSide));
    const int largeLod = glide::lodFromSide(smallNumber(largeSide));
    if (smallLod < 0 || largeLod < 0 || smallSide > largeSide) {
        *why = "lod range out of bounds";
        return false;
    }
    if (!nextLine(bytes, &pos, &line) || !parsePair(line, "aspect ratio:", &ratioW, &ratioH)) {
        *why = "bad aspect ratio line";
        return false;
    }
    const int aspect = glide::aspectFromRatio(smallNumber(ratioW), smallNumber(ratioH));
    if (aspect < 0) {
        *why = "aspect ratio out of bounds";
        return false;
    }
    out->tableOffset = pos;
    if (glide::formatHasPalette(format)) pos += 256 * 4;
    if (glide::formatHasNccTable(format)) pos += (16 + 24) * 2;
    out->dataOffset = pos;
    out->memRequired = glide::hostBytes(smallLod, largeLod, aspect, format);
    if (bytes.size() < pos || bytes.size() - pos < out->memRequired) {
        *why = "file is truncated";
        return false;
    }
    const glide::LevelSize size = glide::levelSize(largeLod, aspect);
    out->header.width = FxU32(size.width);
    out->header.height = FxU32(size.height);
    out->header.small_lod = smallLod;
    out->header.large_lod = largeLod;
    out->header.aspect_ratio = aspect;
    out->header.format = format;
    return true;
}

ReadResult readAndParse(const char* path, std::vector<std::uint8_t>* bytes, Parsed* parsed) {
    if (!path || !readFile(path, bytes)) return ReadResult::missing;
    const char* why = "";
    if (!parse(*bytes, parsed, &why)) {
        std::fprintf(stderr, "glide: 3DF file \"%s\" refused: %s\n", path, why);
        return ReadResult::malformed;
    }
    return ReadResult::ok;
}

std::uint16_t be16(const std::uint8_t* p) {
    return std::uint16_t(p[0] << 8 | p[1]);
}
std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

FxBool gu3dfGetInfo(const char* filename, Gu3dfInfo* info) {
    if (!info) return FXFALSE;
    std::vector<std::uint8_t> bytes;
    Parsed parsed;
    if (readAndParse(filename, &bytes, &parsed) != ReadResult::ok) return FXFALSE;
    info->header = parsed.header;
    info->mem_required = parsed.memRequired;
    return FXTRUE;
}

FxBool gu3dfLoad(const char* filename, Gu3dfInfo* info) {
    if (!info || !info->data) return FXFALSE;
    std::vector<std::uint8_t> bytes;
    Parsed parsed;
    if (readAndParse(filename, &bytes, &parsed) != ReadResult::ok) return FXFALSE;
    const Gu3dfHeader& h = parsed.header;
    // The caller sized its memory from the description it was given; a file that changed since
    // (or a description filled by hand) must not make us write past that memory.
    if (h.small_lod != info->header.small_lod || h.large_lod != info->header.large_lod ||
        h.aspect_ratio != info->header.aspect_ratio || h.format != info->header.format ||
        parsed.memRequired > info->mem_required) {
        std::fprintf(stderr, "glide: gu3dfLoad: \"%s\" does not match its description\n", filename);
        return FXFALSE;
    }
    info->header = h;
    const std::uint8_t* table = bytes.data() + parsed.tableOffset;
    if (glide::formatHasPalette(h.format)) {
        for (int i = 0; i < 256; ++i) info->table.palette.data[i] = be32(table + 4 * i);
    } else if (glide::formatHasNccTable(h.format)) {
        GuNccTable& ncc = info->table.nccTable;
        for (int i = 0; i < 16; ++i) ncc.yRGB[i] = FxU8(be16(table + 2 * i));
        for (int i = 0; i < 12; ++i) ncc.iRGB[i / 3][i % 3] = FxI16(be16(table + 32 + 2 * i));
        for (int i = 0; i < 12; ++i) ncc.qRGB[i / 3][i % 3] = FxI16(be16(table + 56 + 2 * i));
        std::memset(ncc.packed_data, 0, sizeof(ncc.packed_data));
    }
    const std::uint8_t* texels = bytes.data() + parsed.dataOffset;
    if (glide::texelBytes(h.format) == 1) {
        std::memcpy(info->data, texels, parsed.memRequired);
    } else {
        auto* out = static_cast<std::uint8_t*>(info->data);
        for (std::uint32_t i = 0; i < parsed.memRequired / 2; ++i) {
            const std::uint16_t v = be16(texels + 2 * i);
            std::memcpy(out + 2 * i, &v, 2);
        }
    }
    return FXTRUE;
}

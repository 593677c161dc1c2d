// Writing 16-bit stereo PCM WAV files, little-endian as the format requires.
#include "wav_writer.h"

#include <cstdio>
#include <vector>

namespace {

void put32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put16(std::vector<unsigned char>& out, std::uint16_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

}  // namespace

bool writeWav(const std::string& path, const std::int16_t* samples, std::size_t frames, int rate) {
    if (!samples) frames = 0;
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(frames) * 4;
    if (dataBytes > 0xFFFFFFFFull - 36) return false;
    std::vector<unsigned char> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    put32(header, static_cast<std::uint32_t>(36 + dataBytes));
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(header, 16);
    put16(header, 1);  // PCM
    put16(header, 2);
    put32(header, static_cast<std::uint32_t>(rate));
    put32(header, static_cast<std::uint32_t>(rate) * 4);
    put16(header, 4);
    put16(header, 16);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    put32(header, static_cast<std::uint32_t>(dataBytes));
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    std::vector<unsigned char> block;
    for (std::size_t i = 0; ok && i < frames * 2; ++i) {
        put16(block, static_cast<std::uint16_t>(samples[i]));
        if (block.size() >= 65536 || i + 1 == frames * 2) {
            ok = std::fwrite(block.data(), 1, block.size(), f) == block.size();
            block.clear();
        }
    }
    return std::fclose(f) == 0 && ok;
}

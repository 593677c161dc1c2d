// Writes the fuzz targets' seed files into corpus/NAME/ under the folder given as the one
// argument: small valid inputs of every variant each reader knows, for the fuzzer to start from.
#include <stb_image_write.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tdf_writer.h"
#include "xm_writer.h"

namespace fs = std::filesystem;

namespace {

fs::path root;

void writeText(const char* target, const char* name, const std::string& text) {
    const fs::path dir = root / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << text;
}

tdf::Image gradient(int w, int h) {
    tdf::Image image{w, h, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.argb.push_back(
                std::uint32_t((x * 37 + y * 11) & 0xFF) << 24 | std::uint32_t(x * 255 / w) << 16 |
                std::uint32_t(y * 255 / h) << 8 | std::uint32_t((x ^ y) * 29 & 0xFF));
    return image;
}

void write3dfSeeds() {
    const fs::path dir = root / "fuzz_3df";
    fs::create_directories(dir);
    struct Seed {
        const char* format;
        int w, h;
        bool mipmaps;
    } seeds[] = {
        {"rgb565", 8, 8, true},   {"argb4444", 4, 2, true}, {"i8", 2, 8, true},
        {"ai44", 1, 1, false},    {"p8", 2, 2, false},      {"ap88", 4, 4, true},
        {"a8", 8, 1, true},       {"argb8332", 1, 4, true}, {"rgb332", 16, 2, false},
        {"argb1555", 2, 1, true}, {"ai88", 4, 4, false},
    };
    for (const Seed& s : seeds) {
        std::string error;
        const std::string name =
            std::string(s.format) + "_" + std::to_string(s.w) + "x" + std::to_string(s.h) + ".3df";
        if (!tdf::write3df(dir / name, gradient(s.w, s.h), s.format, s.mipmaps, &error))
            std::fprintf(stderr, "make_seeds: %s: %s\n", name.c_str(), error.c_str());
    }
    // The writer makes no compressed formats; these carry their table of 16 + 24 values.
    std::string table;
    for (int i = 0; i < 16; ++i) table += std::string{char(0), char(i * 16)};
    for (int i = 0; i < 24; ++i) table += std::string{char(0xFF), char(0x80 + i)};
    writeText("fuzz_3df", "yiq_2x2.3df",
              "3df v1.0\nyiq\nlod range: 2 2\naspect ratio: 1 1\n" + table + "\x12\x34\x56\x78");
    writeText("fuzz_3df", "ayiq8422_2x1_dos.3df",
              "3df v1.0\r\nAYIQ8422\r\nlod range: 1 2\r\naspect ratio: 2 1\r\n" + table +
                  std::string("\x80\x1F\x7C\x00\xFF\xFF", 6));
}

void writeObjectSeeds() {
    writeText("fuzz_object3d", "cube.3d",
              "8\n-1 -1 -1\n1 -1 -1\n1 1 -1\n-1 1 -1\n-1 -1 1\n1 -1 1\n1 1 1\n-1 1 1\n6\n"
              "1 2 3 4\n8 7 6 5\n1 5 6 2\n2 6 7 3\n3 7 8 4\n4 8 5 1\n");
    writeText("fuzz_object3d", "forms.3d",
              "5\n0 0 0  1.5e1 0 0\t1 1 0\n0 -1 0\n-2.5e-1 +3.5 7\n2\n1 2 3 4   2 5 3 1\n");
    writeText("fuzz_object3d", "flat.3d", "3\n0 0 0\n0 0 0\n0 0 0\n1\n1 2 3 3\n");
}

void writePlgSeeds() {
    writeText("fuzz_plg", "pyramid.plg",
              "pyramid 5 5\n0 0 0\n10 0 0\n10 10 0\n0 10 0\n5 5 8\n"
              "0x8000 4 0 1 2 3\n0x8000 3 0 4 1\n0x8000 3 1 4 2\n0x8000 3 2 4 3\n"
              "0x8000 3 3 4 0\n");
    writeText("fuzz_plg", "mixed.plg",
              "mask 4 3\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n"
              "0x1234 3 0 1 2 trailing words\n 0x10 4 0 1 2 3\n0x10 2 0 1\n");
}

void writeSongSeed() {
    xm::Module m;
    m.name = "seed";
    m.channels = 4;
    m.speed = 3;
    m.tempo = 200;
    m.restart = 1;
    m.orders = {0, 1, 0};
    xm::Pattern first(8, 4), second(4, 4);
    first.at(0, 0) = {xm::noteNumber("C-4"), 1, xm::volumeColumn(48), xm::kEffectSync, 2};
    first.at(0, 3) = {0, 0, 0, xm::kEffectSync, 1};
    first.at(2, 1) = {xm::noteNumber("E-4"), 1, 0, xm::kEffectSpeed, 2};
    first.at(4, 2) = {xm::kKeyOff, 0, 0, xm::kEffectSync, 7};
    first.at(7, 0) = {0, 0, 0, xm::kEffectPatternBreak, 0x02};
    second.at(1, 0) = {xm::noteNumber("G-4"), 1, 0, xm::kEffectSync, 1};
    second.at(3, 1) = {0, 0, 0, xm::kEffectJump, 0};
    m.patterns = {first, second};
    xm::Instrument square;
    square.name = "square";
    xm::Sample sample;
    for (int i = 0; i < 16; ++i) sample.data.push_back(i < 8 ? 12000 : -12000);
    sample.loop = xm::Loop::forward;
    sample.loopLength = 16;
    square.samples.push_back(sample);
    square.volumeEnvelope.enabled = true;
    square.volumeEnvelope.points = {{0, 64}, {8, 32}, {20, 0}};
    square.volumeEnvelope.sustain = 1;
    m.instruments.push_back(square);
    std::string error;
    fs::create_directories(root / "fuzz_song");
    if (!xm::writeXm(root / "fuzz_song" / "seed.xm", m, &error))
        std::fprintf(stderr, "make_seeds: seed.xm: %s\n", error.c_str());
}

void writePictureSeeds() {
    const fs::path dir = root / "fuzz_png";
    fs::create_directories(dir);
    for (int channels = 1; channels <= 4; ++channels) {
        const int w = 4 << (channels % 2), h = 2 << (channels / 2);
        std::vector<unsigned char> pixels(std::size_t(w * h * channels));
        for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = (unsigned char)(i * 53 + 7);
        const std::string png = (dir / ("c" + std::to_string(channels) + ".png")).string();
        stbi_write_png(png.c_str(), w, h, channels, pixels.data(), w * channels);
    }
    std::vector<unsigned char> rgb(8 * 8 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = (unsigned char)(i * 17);
    stbi_write_bmp((dir / "rgb.bmp").c_str(), 8, 8, 3, rgb.data());
    stbi_write_tga((dir / "rgb.tga").c_str(), 8, 8, 3, rgb.data());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds FOLDER (writes FOLDER/fuzz_NAME/...)\n");
        return 2;
    }
    root = argv[1];
    write3dfSeeds();
    writeObjectSeeds();
    writePlgSeeds();
    writeSongSeed();
    writePictureSeeds();
    return 0;
}

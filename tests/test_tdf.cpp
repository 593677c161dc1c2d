// Tests of 3DF files (writer and reader) and of texture memory: sizes, downloads, refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "image.h"
#include "tdf_writer.h"
#include "test_glide_support.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A picture whose every pixel the format stores exactly.
tdf::Image representablePicture(int format, int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    auto r = [&](int n) { return std::uint32_t(rng() % unsigned(n)); };
    tdf::Image image;
    image.width = width;
    image.height = height;
    for (int i = 0; i < width * height; ++i) {
        std::uint32_t a = 255, red, green, blue;
        switch (format) {
            case GR_TEXFMT_RGB_332:
            case GR_TEXFMT_ARGB_8332:
                red = glide::expand3(r(8));
                green = glide::expand3(r(8));
                blue = glide::expand2(r(4));
                if (format == GR_TEXFMT_ARGB_8332) a = r(256);
                break;
            case GR_TEXFMT_ALPHA_8:
                a = red = green = blue = r(256);
                break;
            case GR_TEXFMT_INTENSITY_8:
                red = green = blue = r(256);
                break;
            case GR_TEXFMT_ALPHA_INTENSITY_44:
                red = green = blue = glide::expand4(r(16));
                a = glide::expand4(r(16));
                break;
            case GR_TEXFMT_RGB_565:
                red = glide::expand5(r(32));
                green = glide::expand6(r(64));
                blue = glide::expand5(r(32));
                break;
            case GR_TEXFMT_ARGB_1555:
                red = glide::expand5(r(32));
                green = glide::expand5(r(32));
                blue = glide::expand5(r(32));
                a = r(2) ? 255 : 0;
                break;
            case GR_TEXFMT_ARGB_4444:
                red = glide::expand4(r(16));
                green = glide::expand4(r(16));
                blue = glide::expand4(r(16));
                a = glide::expand4(r(16));
                break;
            default:  // AI88
                red = green = blue = r(256);
                a = r(256);
                break;
        }
        image.argb.push_back(a << 24 | red << 16 | green << 8 | blue);
    }
    return image;
}

std::uint32_t texelAt(const Gu3dfInfo& info, std::size_t index) {
    const auto* bytes = static_cast<const std::uint8_t*>(info.data);
    if (glide::texelBytes(info.header.format) == 1) return bytes[index];
    std::uint16_t v;
    std::memcpy(&v, bytes + 2 * index, 2);
    return v;
}

class TdfFiles : public ::testing::Test {
  protected:
    fs::path dir = makeTempDir("tdf");
    // The reader's diagnostics for refused files go to standard error; keep them out of the log.
    void SetUp() override { testing::internal::CaptureStderr(); }
    void TearDown() override {
        testing::internal::GetCapturedStderr();
        fs::remove_all(dir);
    }
};

TEST_F(TdfFiles, EveryTableFreeFormatAndAspectRoundTrips) {
    const int formats[] = {GR_TEXFMT_RGB_332,           GR_TEXFMT_ALPHA_8,
                           GR_TEXFMT_INTENSITY_8,       GR_TEXFMT_ALPHA_INTENSITY_44,
                           GR_TEXFMT_ARGB_8332,         GR_TEXFMT_RGB_565,
                           GR_TEXFMT_ARGB_1555,         GR_TEXFMT_ARGB_4444,
                           GR_TEXFMT_ALPHA_INTENSITY_88};
    const int ratios[7][2] = {{8, 1}, {4, 1}, {2, 1}, {1, 1}, {1, 2}, {1, 4}, {1, 8}};
    unsigned seed = 1;
    for (int format : formats)
        for (int aspect = 0; aspect < 7; ++aspect)
            for (int side : {8, 256})
                for (bool mipmaps : {true, false}) {
                    const int w = side / ratios[aspect][1], h = side / ratios[aspect][0];
                    const tdf::Image image = representablePicture(format, w, h, seed++);
                    const fs::path file = dir / "t.3df";
                    std::string error;
                    ASSERT_TRUE(
                        tdf::write3df(file, image, glide::formatName(format), mipmaps, &error))
                        << error;
                    Gu3dfInfo info{};
                    ASSERT_TRUE(gu3dfGetInfo(file.c_str(), &info));
                    EXPECT_EQ(info.header.format, format);
                    EXPECT_EQ(info.header.aspect_ratio, aspect);
                    EXPECT_EQ(info.header.large_lod, glide::lodFromSide(side));
                    EXPECT_EQ(info.header.small_lod, mipmaps ? GR_LOD_1 : glide::lodFromSide(side));
                    EXPECT_EQ(int(info.header.width), w);
                    EXPECT_EQ(int(info.header.height), h);
                    EXPECT_EQ(info.mem_required,
                              glide::hostBytes(info.header.small_lod, info.header.large_lod, aspect,
                                               format));
                    std::vector<std::uint8_t> memory(info.mem_required);
                    info.data = memory.data();
                    ASSERT_TRUE(gu3dfLoad(file.c_str(), &info));
                    for (int i = 0; i < w * h; ++i)
                        ASSERT_EQ(glide::decodeTexel(format, texelAt(info, i)), image.argb[i])
                            << glide::formatName(format) << " " << w << "x" << h << " texel " << i;
                }
}

TEST_F(TdfFiles, SmallerLevelsAreBoxFilteredDownToOneTexel) {
    tdf::Image image{4,
                     2,
                     {0xFF000000, 0xFF0000FF, 0xFF00FF00, 0xFF00FFFF, 0xFFFF0000, 0xFFFF00FF,
                      0xFFFFFF00, 0xFFFFFFFF}};
    const fs::path file = dir / "box.3df";
    ASSERT_TRUE(tdf::write3df(file, image, "argb4444", true, nullptr));
    Gu3dfInfo info{};
    ASSERT_TRUE(gu3dfGetInfo(file.c_str(), &info));
    ASSERT_EQ(info.mem_required, (8u + 2u + 1u) * 2u);  // 4x2, 2x1, 1x1
    std::vector<std::uint8_t> memory(info.mem_required);
    info.data = memory.data();
    ASSERT_TRUE(gu3dfLoad(file.c_str(), &info));
    // 2x1: the means of each 2x2 block; 1x1: the mean of those two.
    // (black, blue, red, magenta) -> (255, 128, 0, 128); (green, cyan, yellow, white) ->
    // (255, 128, 255, 128); their mean (255, 128, 128, 128).
    EXPECT_EQ(texelAt(info, 8), 0xF808u);
    EXPECT_EQ(texelAt(info, 9), 0xF8F8u);
    EXPECT_EQ(texelAt(info, 10), 0xF888u);
}

TEST_F(TdfFiles, WriterRefusesPicturesTheFormatCannotHold) {
    std::string error;
    tdf::Image odd{100, 64, std::vector<std::uint32_t>(100 * 64)};
    EXPECT_FALSE(tdf::write3df(dir / "a.3df", odd, "rgb565", true, &error));
    EXPECT_NE(error.find("powers of two"), std::string::npos) << error;
    tdf::Image wide{256, 16, std::vector<std::uint32_t>(256 * 16)};
    EXPECT_FALSE(tdf::write3df(dir / "b.3df", wide, "rgb565", true, &error));
    EXPECT_NE(error.find("aspect"), std::string::npos) << error;
    tdf::Image big{512, 512, std::vector<std::uint32_t>(512 * 512)};
    EXPECT_FALSE(tdf::write3df(dir / "c.3df", big, "rgb565", true, &error));
    tdf::Image fine{8, 8, std::vector<std::uint32_t>(64)};
    EXPECT_FALSE(tdf::write3df(dir / "d.3df", fine, "rgb555", true, &error));
    EXPECT_NE(error.find("unknown"), std::string::npos) << error;
    EXPECT_FALSE(tdf::write3df(dir / "e.3df", fine, "yiq", true, &error));
    EXPECT_FALSE(tdf::write3df((dir / "missing" / "f.3df").string(), fine, "i8", true, &error));
    EXPECT_FALSE(fs::exists(dir / "a.3df"));
}

TEST_F(TdfFiles, TruncatedFilesAreRefusedAtEveryLength) {
    tdf::Image image = representablePicture(GR_TEXFMT_RGB_565, 8, 4, 3);
    const fs::path file = dir / "whole.3df";
    ASSERT_TRUE(tdf::write3df(file, image, "rgb565", true, nullptr));
    const std::string bytes = readFile(file);
    Gu3dfInfo whole{};
    ASSERT_TRUE(gu3dfGetInfo(file.c_str(), &whole));
    const fs::path cut = dir / "cut.3df";
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        writeBytes(cut, bytes.substr(0, length));
        Gu3dfInfo info{};
        ASSERT_FALSE(gu3dfGetInfo(cut.c_str(), &info)) << "length " << length;
        // Loading with the whole file's description is refused too, without reading past.
        std::vector<std::uint8_t> memory(whole.mem_required);
        info = whole;
        info.data = memory.data();
        ASSERT_FALSE(gu3dfLoad(cut.c_str(), &info)) << "length " << length;
    }
    // Bytes after the last level are ignored.
    writeBytes(cut, bytes + "trailing");
    Gu3dfInfo info{};
    EXPECT_TRUE(gu3dfGetInfo(cut.c_str(), &info));
}

TEST_F(TdfFiles, MalformedHeadersAreRefused) {
    const std::string texels(2 * 4, '\x55');  // enough for a 2x2 16-bit level
    const char* bad[] = {
        "3dx v1.0\nrgb565\nlod range: 2 2\naspect ratio: 1 1\n",
        "3df v1.0\nrgb555\nlod range: 2 2\naspect ratio: 1 1\n",
        "3df v1.0\nrgb565\nlod range: 2 512\naspect ratio: 1 1\n",
        "3df v1.0\nrgb565\nlod range: 3 4\naspect ratio: 1 1\n",
        "3df v1.0\nrgb565\nlod range: 4 2\naspect ratio: 1 1\n",
        "3df v1.0\nrgb565\nlod range: 0 2\naspect ratio: 1 1\n",
        "3df v1.0\nrgb565\nlod range: 2 2\naspect ratio: 3 1\n",
        "3df v1.0\nrgb565\nlod range: 2 2\naspect ratio: 16 1\n",
        "3df v1.0\nrgb565\nlod range: 2 2\naspect ratio: 2 2\n",
        "3df v1.0\nrgb565\nlod range: 2 2 junk\naspect ratio: 1 1\n",
        "3df v1.0\nrgb565\nlod range: 2\naspect ratio: 1 1\n",
        "3df v1.0\nrgb565\naspect ratio: 1 1\nlod range: 2 2\n",
        "3df v1.0 rgb565 lod range: 2 2 aspect ratio: 1 1",
        "",
    };
    int i = 0;
    for (const char* header : bad) {
        const fs::path file = dir / ("bad" + std::to_string(i++) + ".3df");
        writeBytes(file, header + texels);
        Gu3dfInfo info{};
        EXPECT_FALSE(gu3dfGetInfo(file.c_str(), &info)) << header;
    }
    // A very long first line is not taken for a header.
    writeBytes(dir / "long.3df", std::string(100000, 'x'));
    Gu3dfInfo info{};
    EXPECT_FALSE(gu3dfGetInfo((dir / "long.3df").c_str(), &info));
    EXPECT_FALSE(gu3dfGetInfo((dir / "absent.3df").c_str(), &info));
    EXPECT_FALSE(gu3dfGetInfo(nullptr, &info));
    EXPECT_FALSE(gu3dfGetInfo((dir / "long.3df").c_str(), nullptr));
}

TEST_F(TdfFiles, HeaderVariantsOfOtherToolsAreRead) {
    // Upper-case format names and DOS line ends.
    const fs::path file = dir / "dos.3df";
    writeBytes(file,
               std::string("3df v1.0\r\nARGB1555\r\nlod range: 1 2\r\naspect ratio: 2 1\r\n") +
                   std::string("\x80\x1F\x7C\x00\xFF\xFF", 6));
    Gu3dfInfo info{};
    ASSERT_TRUE(gu3dfGetInfo(file.c_str(), &info));
    EXPECT_EQ(info.header.format, GR_TEXFMT_ARGB_1555);
    EXPECT_EQ(info.header.aspect_ratio, GR_ASPECT_2x1);
    EXPECT_EQ(info.header.large_lod, GR_LOD_2);
    EXPECT_EQ(info.header.small_lod, GR_LOD_1);
    EXPECT_EQ(info.mem_required, 6u);  // 2x1 and 1x1
    std::vector<std::uint8_t> memory(6);
    info.data = memory.data();
    ASSERT_TRUE(gu3dfLoad(file.c_str(), &info));
    EXPECT_EQ(texelAt(info, 0), 0x801Fu);  // big-endian in the file, host order in memory
    EXPECT_EQ(texelAt(info, 1), 0x7C00u);
    EXPECT_EQ(texelAt(info, 2), 0xFFFFu);
}

TEST_F(TdfFiles, PaletteAndCompressionTablesAreReadBeforeTheTexels) {
    tdf::Image grey{2, 2, {0xFF000000, 0xFF404040, 0xFF808080, 0xFFFFFFFF}};
    const fs::path p8 = dir / "p8.3df";
    ASSERT_TRUE(tdf::write3df(p8, grey, "p8", false, nullptr));
    Gu3dfInfo info{};
    ASSERT_TRUE(gu3dfGetInfo(p8.c_str(), &info));
    EXPECT_EQ(info.mem_required, 4u);
    std::vector<std::uint8_t> memory(4);
    info.data = memory.data();
    ASSERT_TRUE(gu3dfLoad(p8.c_str(), &info));
    EXPECT_EQ(info.table.palette.data[0x40], 0xFF404040u);
    EXPECT_EQ(memory, (std::vector<std::uint8_t>{0x00, 0x40, 0x80, 0xFF}));

    // A compression table: 16 Y values, then 4x3 I and 4x3 Q values, all 16-bit big-endian.
    std::string yiq = "3df v1.0\nyiq\nlod range: 2 2\naspect ratio: 1 1\n";
    for (int i = 0; i < 16; ++i) yiq += std::string{char(0), char(i * 16)};
    for (int i = 0; i < 24; ++i) yiq += std::string{char(0xFF), char(0x80 + i)};  // negative
    yiq += std::string("\x12\x34\x56\x78", 4);
    writeBytes(dir / "yiq.3df", yiq);
    Gu3dfInfo ncc{};
    ASSERT_TRUE(gu3dfGetInfo((dir / "yiq.3df").c_str(), &ncc));
    ASSERT_EQ(ncc.mem_required, 4u);
    std::vector<std::uint8_t> texels(4);
    ncc.data = texels.data();
    ASSERT_TRUE(gu3dfLoad((dir / "yiq.3df").c_str(), &ncc));
    EXPECT_EQ(ncc.table.nccTable.yRGB[15], 240);
    EXPECT_EQ(ncc.table.nccTable.iRGB[0][0], -128);
    EXPECT_EQ(ncc.table.nccTable.qRGB[3][2], -128 + 23);
    EXPECT_EQ(texels, (std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0x78}));
}

TEST_F(TdfFiles, LoadRefusesAFileThatNoLongerMatchesItsDescription) {
    const fs::path file = dir / "t.3df";
    ASSERT_TRUE(tdf::write3df(file, representablePicture(GR_TEXFMT_RGB_565, 4, 4, 1), "rgb565",
                              false, nullptr));
    Gu3dfInfo info{};
    ASSERT_TRUE(gu3dfGetInfo(file.c_str(), &info));
    std::vector<std::uint8_t> memory(info.mem_required + 16, 0xEE);
    info.data = memory.data();
    // The file grows behind the caller's back.
    ASSERT_TRUE(tdf::write3df(file, representablePicture(GR_TEXFMT_RGB_565, 8, 8, 1), "rgb565",
                              false, nullptr));
    EXPECT_FALSE(gu3dfLoad(file.c_str(), &info));
    EXPECT_EQ(memory[0], 0xEE);
    info.data = nullptr;
    EXPECT_FALSE(gu3dfLoad(file.c_str(), &info));
}

TEST_F(TdfFiles, LargestLevelConvertsToAPicture) {
    const tdf::Image image = representablePicture(GR_TEXFMT_ARGB_4444, 16, 4, 5);
    ASSERT_TRUE(tdf::write3df(dir / "x.3df", image, "argb4444", true, nullptr));
    tdf::Image back;
    std::string error;
    ASSERT_TRUE(tdf::read3dfLargest(dir / "x.3df", &back, &error)) << error;
    EXPECT_EQ(back.width, 16);
    EXPECT_EQ(back.height, 4);
    EXPECT_EQ(back.argb, image.argb);
    ASSERT_TRUE(tdf::writePng(dir / "x.png", back, &error)) << error;
    tdf::Image png;
    ASSERT_TRUE(tdf::readPicture(dir / "x.png", &png, &error)) << error;
    EXPECT_EQ(png.argb, image.argb);
}

// --- texture memory ---------------------------------------------------------------------------

TEST(TextureMemory, RequirementPadsEachLevelToEightBytes) {
    // 256x32 RGB565 down to 1x1: 16384 + 4096 + 1024 + 256 + 64 + 16 + 8 + 4 + 2 bytes, the
    // last two padded to 8.
    GrTexInfo info{GR_LOD_1, GR_LOD_256, GR_ASPECT_8x1, GR_TEXFMT_RGB_565, nullptr};
    EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &info), 21864u);
    EXPECT_EQ(glide::hostBytes(GR_LOD_1, GR_LOD_256, GR_ASPECT_8x1, GR_TEXFMT_RGB_565), 21854u);
    // 256x256 8-bit, all levels: 87381 bytes plus padding of 2x2 (4 to 8) and 1x1 (1 to 8).
    GrTexInfo square{GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_INTENSITY_8, nullptr};
    EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &square), 87381u + 4 + 7);
    GrTexInfo one{GR_LOD_256, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, nullptr};
    EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &one), 131072u);
    GrTexInfo bad{GR_LOD_256, GR_LOD_1, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, nullptr};
    EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &bad), 0u);
    GrTexInfo noFormat{GR_LOD_1, GR_LOD_1, GR_ASPECT_1x1, 7, nullptr};
    EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &noFormat), 0u);
    EXPECT_EQ(grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, nullptr), 0u);
}

TEST(TextureMemory, DownloadPlacesPaddedLevelsAndRefusesOverruns) {
    glide::ensureBuffers();
    auto& memory = glide::board.textureMemory;
    std::fill(memory.begin(), memory.end(), 0xAA);
    // 4x4, 2x2, 1x1 intensity levels: 16 + 4 + 1 bytes in host memory.
    std::vector<std::uint8_t> host(21);
    for (int i = 0; i < 21; ++i) host[i] = std::uint8_t(i + 1);
    GrTexInfo info{GR_LOD_1, GR_LOD_4, GR_ASPECT_1x1, GR_TEXFMT_INTENSITY_8, host.data()};
    grTexDownloadMipMap(GR_TMU0, 64, GR_MIPMAPLEVELMASK_BOTH, &info);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(memory[64 + i], i + 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(memory[80 + i], 17 + i);
    for (int i = 84; i < 88; ++i) EXPECT_EQ(memory[i], 0xAA);  // padding untouched
    EXPECT_EQ(memory[88], 21);
    EXPECT_EQ(memory[63], 0xAA);

    const std::uint64_t serial = glide::board.textureSerial;
    GrTexInfo large{GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565, host.data()};
    const FxU32 required = grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &large);
    testing::internal::CaptureStderr();
    grTexDownloadMipMap(GR_TMU0, GR_TEXMEM_SIZE - required + 8, GR_MIPMAPLEVELMASK_BOTH, &large);
    grTexDownloadMipMap(GR_TMU0, 0xFFFFFFF0u, GR_MIPMAPLEVELMASK_BOTH, &info);
    grTexDownloadMipMap(GR_TMU1, 0, GR_MIPMAPLEVELMASK_BOTH, &info);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("past the end of texture memory"), std::string::npos) << err;
    EXPECT_EQ(glide::board.textureSerial, serial);
    EXPECT_EQ(memory[GR_TEXMEM_SIZE - 1], 0xAA);
    // Exactly at the end fits.
    std::vector<std::uint8_t> big(
        glide::hostBytes(GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXFMT_RGB_565), 0x11);
    large.data = big.data();
    grTexDownloadMipMap(GR_TMU0, GR_TEXMEM_SIZE - required, GR_MIPMAPLEVELMASK_BOTH, &large);
    EXPECT_EQ(memory[GR_TEXMEM_SIZE - required], 0x11);
    EXPECT_GT(glide::board.textureSerial, serial);
}

}  // namespace

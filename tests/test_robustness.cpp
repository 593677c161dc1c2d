// Bad inputs at the loaders: damaged 3DF textures at the texture loader, captures onto a full
// disk, out-of-range object files, oversized and cue-less songs at the sound layer, and bad
// pictures at the texture converter. Each refusal names its file and leaves nothing half done.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture.h"
#include "driver.h"
#include "glide_internal.h"
#include "host.h"
#include "image.h"
#include "midas.h"
#include "object3d.h"
#include "pipeline.h"
#include "scene_frame.h"
#include "tdf_writer.h"
#include "test_robustness.h"
#include "test_util.h"
#include "texture.h"
#include "xm_writer.h"

namespace fs = std::filesystem;

std::vector<std::uint8_t> songWith(const std::vector<std::uint8_t>& orders, int restart,
                                   const std::vector<std::array<int, 3>>& sync, int rows) {
    xm::Module m;
    m.channels = 2;
    m.speed = 3;
    m.tempo = 150;
    m.orders = orders;
    m.restart = restart;
    m.patterns = {xm::Pattern(rows, 2), xm::Pattern(rows, 2)};
    for (auto& p : m.patterns) p.at(0, 0) = {xm::noteNumber("C-4"), 1, 0, 0, 0};
    for (const auto& [pattern, row, value] : sync)
        m.patterns[std::size_t(pattern)].at(row, 1) = {0, 0, 0, xm::kEffectSync,
                                                       std::uint8_t(value)};
    xm::Instrument square;
    xm::Sample sample;
    for (int i = 0; i < 32; ++i) sample.data.push_back(i < 16 ? 8000 : -8000);
    sample.loop = xm::Loop::forward;
    sample.loopLength = 32;
    square.samples.push_back(sample);
    m.instruments.push_back(square);
    std::string error;
    std::vector<std::uint8_t> bytes = xm::encode(m, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

namespace {

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A whole 3DF file: 4x4 RGB565 with its 2x2 and 1x1 levels.
std::string small3df() {
    tdf::Image image{4, 4, {}};
    for (int i = 0; i < 16; ++i) image.argb.push_back(0xFF000000u | std::uint32_t(i * 0x0F0F0F));
    const fs::path dir = makeTempDir("small3df");
    EXPECT_TRUE(tdf::write3df(dir / "s.3df", image, "rgb565", true, nullptr));
    const std::string bytes = readFile(dir / "s.3df");
    fs::remove_all(dir);
    return bytes;
}

class BadTextures : public ::testing::Test {
  protected:
    fs::path saved = fs::current_path();
    fs::path dir = fs::canonical(makeTempDir("badtex"));

    void SetUp() override {
        glide::ensureBuffers();
        fs::current_path(dir);
        textureMemoryCursor = 4096;
    }
    void TearDown() override {
        fs::current_path(saved);
        fs::remove_all(dir);
    }
    // Loads "bad.3df"; returns standard output, with standard error in `err`.
    static std::string load(TextureSlot* slot, bool* ok, std::string* err) {
        testing::internal::CaptureStderr();
        std::string out = captureStdout([&] { *ok = loadTexture("bad.3df", slot); });
        *err = testing::internal::GetCapturedStderr();
        return out;
    }
};

TEST_F(BadTextures, AreRefusedWithTheirReasonAndNothingMoves) {
    const std::string head = "3df v1.0\nrgb565\n";
    const std::string texels(2 * (16 + 4 + 1), '\x42');
    std::string palette8 = "3df v1.0\np8\nlod range: 2 2\naspect ratio: 1 1\n";
    palette8 += std::string(600, '\x01');  // the palette needs 1024 bytes
    const struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"empty", "", "not a 3DF file"},
        {"text", "Dear diary, today I made a texture.\n", "not a 3DF file"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "not a 3DF file"},
        {"header cut", "3df v1.0\nrgb565\nlod ra", "bad lod range line"},
        {"texels cut", head + "lod range: 1 4\naspect ratio: 1 1\n" + texels.substr(0, 40),
         "file is truncated"},
        {"palette cut", palette8, "file is truncated"},
        {"unknown format", "3df v1.0\nrgb555\nlod range: 1 4\naspect ratio: 1 1\n" + texels,
         "unknown texture format"},
        {"lod not numbers", head + "lod range: one four\naspect ratio: 1 1\n" + texels,
         "bad lod range line"},
        {"lod not a power of two", head + "lod range: 1 3\naspect ratio: 1 1\n" + texels,
         "lod range out of bounds"},
        {"lod above 256", head + "lod range: 1 512\naspect ratio: 1 1\n" + texels,
         "lod range out of bounds"},
        {"lod wraps at 16 bits", head + "lod range: 65537 65540\naspect ratio: 1 1\n" + texels,
         "lod range out of bounds"},
        {"lod reversed", head + "lod range: 4 1\naspect ratio: 1 1\n" + texels,
         "lod range out of bounds"},
        {"lod negative", head + "lod range: -4 4\naspect ratio: 1 1\n" + texels,
         "lod range out of bounds"},
        {"aspect 3:1", head + "lod range: 1 4\naspect ratio: 3 1\n" + texels,
         "aspect ratio out of bounds"},
        {"aspect 16:1", head + "lod range: 1 4\naspect ratio: 16 1\n" + texels,
         "aspect ratio out of bounds"},
        {"aspect 0:0", head + "lod range: 1 4\naspect ratio: 0 0\n" + texels,
         "aspect ratio out of bounds"},
        {"aspect not numbers", head + "lod range: 1 4\naspect ratio: wide\n" + texels,
         "bad aspect ratio line"},
        {"oversized junk", std::string(3 << 20, 'x'), "not a 3DF file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(dir / "bad.3df", c.bytes);
        TextureSlot slot;
        std::memset(&slot, 0x5A, sizeof slot);
        const TextureSlot before = slot;
        bool ok = true;
        std::string err;
        EXPECT_EQ(load(&slot, &ok, &err), "Error.  Can't find \"bad.3df\" texture file.\n\n");
        EXPECT_FALSE(ok);
        EXPECT_NE(err.find(std::string("refused: ") + c.reason), std::string::npos) << err;
        EXPECT_EQ(textureMemoryCursor, 4096u);
        EXPECT_EQ(std::memcmp(&slot, &before, sizeof slot), 0);
    }
    // A folder in the file's place reads as nothing at all.
    fs::remove(dir / "bad.3df");
    fs::create_directory(dir / "bad.3df");
    TextureSlot slot{};
    bool ok = true;
    std::string err;
    EXPECT_EQ(load(&slot, &ok, &err), "Error.  Can't find \"bad.3df\" texture file.\n\n");
    EXPECT_FALSE(ok);
}

TEST_F(BadTextures, BytesAfterTheLastLevelAreIgnoredHoweverMany) {
    writeBytes(dir / "bad.3df", small3df() + std::string(5 << 20, '\x7F'));
    TextureSlot slot{};
    bool ok = false;
    std::string err;
    EXPECT_EQ(load(&slot, &ok, &err), "");
    ASSERT_TRUE(ok) << err;
    EXPECT_EQ(slot.info.largeLod, GR_LOD_4);
    EXPECT_EQ(slot.startAddress, 4096u);
    EXPECT_EQ(textureMemoryCursor,
              4096u + grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &slot.info));
    std::uint16_t first;
    std::memcpy(&first, glide::board.textureMemory.data() + 4096, 2);
    EXPECT_EQ(first, 0u);  // the picture's black first texel, not the trailing bytes
    std::free(slot.info.data);
}

// Numbers past 32 or 64 bits must not wrap into valid sizes ("4294967298" read as an int would
// be 2, a 2x2 texture); they are as out of bounds as 512. The valid neighbour shows that the
// file would otherwise load.
TEST_F(BadTextures, NumbersPastThirtyTwoBitsAreRefusedNotWrapped) {
    const std::string head = "3df v1.0\nrgb565\n";
    const std::string texels(2 * (4 + 1), '\x11');
    const struct Case {
        const char* lod;
        const char* aspect;
        const char* reason;  // null: loads
    } cases[] = {
        {"2 2", "1 1", nullptr},
        {"4294967298 4294967298", "1 1", "lod range out of bounds"},
        {"1 4294967298", "1 1", "lod range out of bounds"},
        {"-4294967294 2", "1 1", "lod range out of bounds"},
        {"2 99999999999999999999999999", "1 1", "lod range out of bounds"},
        {"1 2", "4294967297 4294967297", "aspect ratio out of bounds"},
        {"1 2", "4294967298 1", "aspect ratio out of bounds"},
        {"1 2", "1 -99999999999999999999999999", "aspect ratio out of bounds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lod) + " / " + c.aspect);
        writeBytes(dir / "bad.3df",
                   head + "lod range: " + c.lod + "\naspect ratio: " + c.aspect + "\n" + texels);
        Gu3dfInfo info{};
        testing::internal::CaptureStderr();
        const bool ok = gu3dfGetInfo("bad.3df", &info);
        const std::string err = testing::internal::GetCapturedStderr();
        if (!c.reason) {
            EXPECT_TRUE(ok) << err;
            EXPECT_EQ(info.header.width, 2u);
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_NE(err.find(std::string("refused: ") + c.reason), std::string::npos) << err;
    }
}

// --- captures that cannot be written ----------------------------------------------------------

class BadCaptures : public ::testing::Test {
  protected:
    fs::path saved = fs::current_path();
    fs::path dir = fs::canonical(makeTempDir("badcapture"));
    void SetUp() override {
        glide::ensureBuffers();
        std::snprintf(startDirectory, kStartDirectorySize, "%s", dir.c_str());
    }
    void TearDown() override {
        fs::current_path(saved);
        fs::remove_all(dir);
    }
};

TEST_F(BadCaptures, AFullDiskOrAFolderInTheWayGiveTheMessage) {
    // Every write to /dev/full fails as on a full disk; the file opens, the writes fail.
    fs::create_symlink("/dev/full", dir / "Flat Shading.raw");
    EXPECT_EQ(captureStdout([] { captureScreen("Flat Shading.raw"); }),
              "Error:  Screen Dump to \"Flat Shading.raw\" failed.\n\n");
    fs::create_directory(dir / "Rotation.raw");
    EXPECT_EQ(captureStdout([] { captureScreen("Rotation.raw"); }),
              "Error:  Screen Dump to \"Rotation.raw\" failed.\n\n");
    // A start directory that has gone: the capture stays where it is and still reports.
    std::snprintf(startDirectory, kStartDirectorySize, "%s", (dir / "gone").c_str());
    fs::current_path("/proc");
    EXPECT_EQ(captureStdout([] { captureScreen("Phong Shading.raw"); }),
              "Error:  Screen Dump to \"Phong Shading.raw\" failed.\n\n");
    // And a good one afterwards works: nothing was left half open.
    std::snprintf(startDirectory, kStartDirectorySize, "%s", dir.c_str());
    EXPECT_EQ(captureStdout([] { captureScreen("good.raw"); }), "");
    EXPECT_EQ(fs::file_size(dir / "good.raw"), 921600u);
}

// --- objects whose numbers are extreme --------------------------------------------------------

class ExtremeObjects : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
        dir = makeTempDir("extreme");
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(savedDir), 0);
        fs::remove_all(dir);
    }
    static std::string load(const std::string& text, bool* ok) {
        std::ofstream("x.3d") << text;
        return captureStdout([&] { *ok = loadObject3d("x.3d", &object); });
    }
    static Object3d object;
    fs::path dir;
    char savedDir[PATH_MAX] = {};
};
Object3d ExtremeObjects::object;

TEST_F(ExtremeObjects, OverflowingNumbersAreRefused) {
    bool ok = true;
    EXPECT_EQ(load("2\n0 0 0 1e39 0 0\n1\n1 2 2 1\n", &ok),
              "Error:  Point 2 of \"x.3d\" is not a finite number.\n\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(load("2\n0 0 nan 1 0 0\n1\n1 2 2 1\n", &ok),
              "Error:  Point 1 of \"x.3d\" is not a finite number.\n\n");
    EXPECT_FALSE(ok);
    // A count of a hundred thousand digits is judged as the huge number it is.
    const std::string out = load(std::string(100000, '7') + "\n0 0 0\n", &ok);
    EXPECT_EQ(out.rfind("Maximum Points = 2361\nObject Points = 7777777", 0), 0u) << out;
    EXPECT_FALSE(ok);
}

TEST_F(ExtremeObjects, HugeFiniteCoordinatesGiveFiniteNormalsAndSafeVertices) {
    // Points near the top of the float range, whose sums overflow; and points far enough apart
    // that their cross products overflow after scaling. The loader takes them (they are
    // finite), and the pipeline must hand the scenes nothing they cannot draw or light: a
    // normal of NaN would make the flat scene's grey level undefined.
    static Vector3 face[kMaxTriangles], normal[kMaxPoints];
    static GrVertex vertex[kMaxPoints];
    for (const char* text : {"4\n3e38 3e38 3e38\n3e38 3e38 3e38\n-3e38 -3e38 3e38\n1 2 3\n"
                             "1\n1 2 3 4\n",
                             "5\n0 0 0\n1e27 0 0\n0 1e27 0\n0 0 1e27\n1 1 1\n1\n2 3 4 5\n"}) {
        SCOPED_TRACE(text);
        bool ok = false;
        EXPECT_EQ(load(text, &ok), "");
        ASSERT_TRUE(ok);
        buildTrigTables();
        prepareObject(&object);
        computeFaceNormals(object, face);
        computeVertexNormals(object, normal);
        rotateAndProject(object, {100, 200, 300}, {0.0f, 0.0f, 1400.0f}, vertex);
        auto finite = [](Vector3 v) {
            return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
        };
        for (int i = 0; i < object.triangleCount; ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(finite(face[i]));
            // A unit normal, or none at all for a face whose direction was lost to overflow.
            const float length =
                std::sqrt(face[i].x * face[i].x + face[i].y * face[i].y + face[i].z * face[i].z);
            EXPECT_TRUE(length == 0.0f || std::fabs(length - 1.0f) < 1e-5f) << length;
            EXPECT_TRUE(std::isfinite(headlightDiffuse(face[i].z, 224.0f)));
        }
        for (int p = 0; p < object.pointCount; ++p) {
            SCOPED_TRACE(p);
            EXPECT_TRUE(finite(normal[p]));
            // Either a point on the screen or one marked as not to be drawn.
            EXPECT_TRUE(vertex[p].oow == 0.0f ||
                        (std::isfinite(vertex[p].x) && std::isfinite(vertex[p].y) &&
                         std::isfinite(vertex[p].oow)));
        }
    }
}

// --- songs at the sound layer -----------------------------------------------------------------

class SongFiles : public ::testing::Test {
  protected:
    fs::path dir = makeTempDir("songfiles");
    void SetUp() override {
        hostInitVirtual(nullptr, 0, 0);
        ASSERT_TRUE(MIDASstartup());
        ASSERT_TRUE(MIDASinit());
    }
    void TearDown() override {
        MIDASclose();
        MIDASextSetSyncObserver(nullptr, nullptr);
        fs::remove_all(dir);
    }
    MIDASmodule load(const std::vector<std::uint8_t>& bytes, const std::string& extra = "") {
        std::ofstream out(dir / "song.xm", std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out << extra;
        out.close();
        return MIDASloadModule((dir / "song.xm").c_str());
    }
};

TEST_F(SongFiles, CommandCountsTellASongWithoutCuesFromOneWithThem) {
    MIDASmodule none = load(songWith({0, 1}, 0, {}, 4));
    ASSERT_NE(none, nullptr) << MIDASextLastError();
    EXPECT_EQ(MIDASextSyncCommandCount(none, 1), 0u);
    EXPECT_EQ(MIDASextSyncCommandCount(none, 2), 0u);
    MIDASmodule some = load(songWith({0, 1}, 0, {{0, 0, 2}, {0, 2, 1}, {1, 1, 2}, {1, 3, 9}}, 4));
    ASSERT_NE(some, nullptr) << MIDASextLastError();
    EXPECT_EQ(MIDASextSyncCommandCount(some, 2), 2u);
    EXPECT_EQ(MIDASextSyncCommandCount(some, 1), 1u);
    EXPECT_EQ(MIDASextSyncCommandCount(some, 9), 1u);
    EXPECT_EQ(MIDASextSyncCommandCount(nullptr, 2), 0u);
    MIDASfreeModule(some);
    EXPECT_EQ(MIDASextSyncCommandCount(some, 2), 0u) << "a freed module counts nothing";
}

TEST_F(SongFiles, AnOversizedSongPlaysWithItsCues) {
    // Eight megabytes after the module's last sample: the sound layer plays the module.
    MIDASmodule module =
        load(songWith({0}, 0, {{0, 0, 2}, {0, 2, 1}}, 4), std::string(8 << 20, 'Z'));
    ASSERT_NE(module, nullptr) << MIDASextLastError();
    const MIDASmodulePlayHandle handle = MIDASplayModule(module, TRUE);
    ASSERT_NE(handle, 0u);
    static std::vector<unsigned> values;
    values.clear();
    MIDASextSetSyncObserver([](unsigned value, void*) { values.push_back(value); }, nullptr);
    ASSERT_TRUE(MIDASsetMusicSyncCallback(handle, [](unsigned, unsigned, unsigned) {}));
    ASSERT_TRUE(MIDASstartBackgroundPlay(0));
    hostSleep(1000);  // a 4-row pattern at speed 3, tempo 150 lasts 0.2 s: five passes
    ASSERT_GE(values.size(), 8u);
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], i % 2 ? 1u : 2u) << i;
}

TEST_F(SongFiles, AModuleWhoseSizesPointPastItsEndIsDamaged) {
    std::vector<std::uint8_t> bytes = songWith({0}, 0, {{0, 0, 2}}, 4);
    // The header's pattern count says 65535 patterns: they would lie far past the file's end.
    bytes[70] = 0xFF;
    bytes[71] = 0xFF;
    EXPECT_EQ(load(bytes), nullptr);
    EXPECT_NE(std::string(MIDASextLastError()).find("damaged"), std::string::npos)
        << MIDASextLastError();
}

TEST_F(SongFiles, OverlappingSampleHeadersAreJudgedWithoutEndlessWork) {
    std::vector<std::uint8_t> bytes = songWith({0}, 0, {{0, 0, 2}}, 4);
    auto le = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | bytes[at + std::size_t(i)];
        return v;
    };
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) bytes[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    std::size_t at = 60 + le(60, 4);
    for (unsigned p = 0; p < le(70, 2); ++p) at += le(at, 4) + le(at + 7, 2);
    // 65535 instruments whose header has no size and whose 65535 sample headers have none
    // either: every header lies on the same bytes. Walked naively, that is 4 billion steps.
    put(72, 0xFFFF, 2);
    put(at, 0, 4);
    put(at + 27, 0xFFFF, 2);
    put(at + 29, 0, 4);
    MIDASmodule module = load(bytes);
    if (!module) {
        EXPECT_STRNE(MIDASextLastError(), "");
    }
    // The sound layer is still usable afterwards.
    EXPECT_NE(load(songWith({0}, 0, {{0, 0, 2}}, 4)), nullptr) << MIDASextLastError();
}

// --- pictures at the texture converter ------------------------------------------------------

TEST(TexconvPictures, BadPicturesAreRefusedWithAMessageAndNoFile) {
    const fs::path dir = makeTempDir("texconv-bad");
    const std::string texconv = std::string(TARNOVEL_BUILD_DIR) + "/tarnovel-texconv";
    tdf::Image big{512, 512, std::vector<std::uint32_t>(512 * 512, 0xFF336699)};
    ASSERT_TRUE(tdf::writePng((dir / "big.png").string(), big, nullptr));
    tdf::Image thin{4096, 1, std::vector<std::uint32_t>(4096, 0xFF000000)};
    ASSERT_TRUE(tdf::writePng((dir / "thin.png").string(), thin, nullptr));
    tdf::Image fine{8, 8, std::vector<std::uint32_t>(64, 0xFFFFFFFF)};
    ASSERT_TRUE(tdf::writePng((dir / "fine.png").string(), fine, nullptr));
    const std::string whole = readFile(dir / "fine.png");
    writeBytes(dir / "cut.png", whole.substr(0, whole.size() / 2));
    // The first chunk after the header claims two gigabytes.
    std::string claims = whole;
    claims.replace(33, 4, "\x7F\xFF\xFF\xF0");
    writeBytes(dir / "claims.png", claims);
    writeBytes(dir / "empty.png", "");
    writeBytes(dir / "words.png", "not a picture at all\n");
    // A JPEG whose Huffman table counts add up to more than 256 codes: stb_image's decoder
    // writes past its tables on it (found by fuzzing), so it must never be handed such a file.
    const unsigned char dht[] = {
        0xff, 0xff, 0xd8, 0xff, 0xff, 0xff, 0xff, 0xff, 0xef, 0x00, 0x19, 0x00, 0x05, 0xd2, 0x00,
        0xc6, 0xd8, 0xff, 0xff, 0xff, 0xff, 0xff, 0xef, 0x00, 0x19, 0x00, 0x00, 0x2e, 0x00, 0x3b,
        0x18, 0x00, 0x18, 0x00, 0x07, 0xc6, 0xff, 0xc4, 0xff, 0xff, 0x00, 0x05, 0xd2, 0x00, 0x18,
        0x00, 0x07, 0xc6, 0xff, 0xff, 0xff, 0xff, 0x06, 0x00, 0x00, 0x00, 0x40, 0xff, 0xff};
    writeBytes(dir / "tables.jpg", std::string(reinterpret_cast<const char*>(dht), sizeof dht));
    writeBytes(dir / "anim.gif", "GIF89a\x08\x00\x08\x00\x00\x00\x00;");
    const struct Case {
        const char* file;
        std::string message;
    } cases[] = {
        {"big.png", "powers of two"},
        {"thin.png", "powers of two"},
        {"cut.png", "cannot read"},
        {"empty.png", "cannot read"},
        {"words.png", "cannot read"},
        {"missing.png", "cannot read"},
        {"claims.png", "cannot read"},
        {"tables.jpg",
         "cannot read \"" + (dir / "tables.jpg").string() + "\": not a PNG, BMP or TGA picture"},
        {"anim.gif", "not a PNG, BMP or TGA picture"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const CommandResult r = runCommand(texconv + " '" + (dir / c.file).string() + "' '" +
                                           (dir / "out.3df").string() + "'");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("tarnovel-texconv: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.3df"));
    }
    fs::remove_all(dir);
}

// The kinds the converter takes still convert, whatever the first bytes hold: a TGA begins
// with the length of its free-form identifier, which may be anything, even 0xFF.
TEST(TexconvPictures, PngBmpAndTgaPicturesAreConverted) {
    const fs::path dir = makeTempDir("texconv-kinds");
    const std::string texconv = std::string(TARNOVEL_BUILD_DIR) + "/tarnovel-texconv";
    // 8x4, a red left half and a white right half; both survive RGB565 unchanged.
    unsigned char rgb[8 * 4 * 3];
    for (int i = 0; i < 8 * 4; ++i) {
        const bool red = i % 8 < 4;
        rgb[3 * i] = 255;
        rgb[3 * i + 1] = red ? 0 : 255;
        rgb[3 * i + 2] = red ? 0 : 255;
    }
    ASSERT_TRUE(stbi_write_png((dir / "p.png").c_str(), 8, 4, 3, rgb, 8 * 3));
    ASSERT_TRUE(stbi_write_bmp((dir / "b.bmp").c_str(), 8, 4, 3, rgb));
    ASSERT_TRUE(stbi_write_tga((dir / "rle.tga").c_str(), 8, 4, 3, rgb));
    // An uncompressed TGA whose identifier is 255 bytes long.
    std::string tga = {char(0xFF), 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 4, 0, 24, 0x20};
    tga += std::string(255, '#');
    for (int i = 0; i < 8 * 4; ++i)
        tga += std::string{char(rgb[3 * i + 2]), char(rgb[3 * i + 1]), char(rgb[3 * i])};
    writeBytes(dir / "id.tga", tga);
    // A PNG whose first data chunk is empty, as the format allows (found by fuzzing: the
    // decoder copies nothing from it, through a null pointer).
    std::string png = readFile(dir / "p.png");
    const std::size_t data = png.find("IDAT");
    ASSERT_NE(data, std::string::npos);
    png.insert(data - 4, std::string("\0\0\0\0IDAT\x35\xAF\x06\x1E", 12));
    writeBytes(dir / "split.png", png);
    for (const char* file : {"p.png", "b.bmp", "rle.tga", "id.tga", "split.png"}) {
        SCOPED_TRACE(file);
        fs::remove(dir / "out.3df");
        const CommandResult r = runCommand(texconv + " '" + (dir / file).string() + "' '" +
                                           (dir / "out.3df").string() + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        tdf::Image back;
        std::string error;
        ASSERT_TRUE(tdf::read3dfLargest((dir / "out.3df").string(), &back, &error)) << error;
        ASSERT_EQ(back.width, 8);
        ASSERT_EQ(back.height, 4);
        EXPECT_EQ(back.argb[0], 0xFFFF0000u);
        EXPECT_EQ(back.argb[7], 0xFFFFFFFFu);
        EXPECT_EQ(back.argb[3 * 8 + 3], 0xFFFF0000u);
    }
    fs::remove_all(dir);
}

// Peak memory, in kilobytes, of a shell command run to its end.
long peakKilobytes(const std::string& command) {
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    return usage.ru_maxrss;
}

// A 1 KB run-length TGA that declares 65535 x 8963 pixels would cost seconds and gigabytes if
// it were decoded before its size was judged; it must be refused from its header alone.
TEST(TexconvPictures, AHugeDeclaredSizeIsRefusedBeforeDecoding) {
    const fs::path dir = makeTempDir("texconv-huge");
    std::string tga = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // run-length true colour
    tga += std::string{char(0xFF), char(0xFF), char(0x03), char(0x23), 24, 0};
    for (int i = 0; i < 256; ++i) tga += std::string{char(0xFF), char(i), char(i), char(i)};
    writeBytes(dir / "huge.tga", tga);
    const std::string command = std::string(TARNOVEL_BUILD_DIR) + "/tarnovel-texconv '" +
                                (dir / "huge.tga").string() + "' '" + (dir / "out.3df").string() +
                                "' 2>'" + (dir / "err").string() + "'";
    EXPECT_LT(peakKilobytes(command), 200 * 1024);
    EXPECT_NE(readFile(dir / "err").find("picture is 65535x8963; sides must be powers of two"),
              std::string::npos)
        << readFile(dir / "err");
    EXPECT_FALSE(fs::exists(dir / "out.3df"));
    fs::remove_all(dir);
}

}  // namespace

// Tests of the texture loader: the two-directory search, the start directory, the cursor and the
// messages of a failed load.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "driver.h"
#include "glide_internal.h"
#include "tdf_writer.h"
#include "test_util.h"
#include "texformat.h"
#include "texture.h"

namespace fs = std::filesystem;

namespace {

const char* const kTextureDir = "c:\\images\\3df";

tdf::Image picture(int side, std::uint32_t seed) {
    tdf::Image image{side, side, {}};
    for (int i = 0; i < side * side; ++i)
        image.argb.push_back(0xFF000000u | (seed * 2654435761u * (i + 1)) >> 8);
    return image;
}

class TextureLoader : public ::testing::Test {
  protected:
    fs::path saved = fs::current_path();
    fs::path base = fs::canonical(makeTempDir("loader"));
    fs::path textureDir = base / kTextureDir;

    void SetUp() override {
        glide::ensureBuffers();
        fs::create_directory(textureDir);
        fs::current_path(base);
        textureMemoryCursor = 0;
    }
    void TearDown() override {
        fs::current_path(saved);
        fs::remove_all(base);
    }
    void write(const fs::path& dir, const char* name, int side, std::uint32_t seed = 1) {
        std::string error;
        ASSERT_TRUE(tdf::write3df(dir / name, picture(side, seed), "rgb565", true, &error))
            << error;
    }
};

TEST_F(TextureLoader, TheTextureDirectoryComesFirstAndStaysCurrent) {
    write(textureDir, "both.3df", 8);
    write(base, "both.3df", 16);
    TextureSlot slot;
    EXPECT_EQ(captureStdout([&] { EXPECT_TRUE(loadTexture("both.3df", &slot)); }), "");
    EXPECT_EQ(slot.info.largeLod, GR_LOD_8);
    EXPECT_EQ(slot.info.smallLod, GR_LOD_1);
    EXPECT_EQ(slot.info.aspectRatio, GR_ASPECT_1x1);
    EXPECT_EQ(slot.info.format, GR_TEXFMT_RGB_565);
    EXPECT_EQ(slot.startAddress, 0u);
    EXPECT_EQ(textureMemoryCursor, grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &slot.info));
    EXPECT_EQ(fs::current_path(), textureDir);
    EXPECT_EQ(fs::path(startDirectory), base);
}

TEST_F(TextureLoader, SecondLoadLandsBehindTheFirstWithItsTexels) {
    write(base, "first.3df", 16, 3);
    write(base, "second.3df", 32, 4);
    TextureSlot first, second;
    ASSERT_TRUE(loadTexture("first.3df", &first));
    ASSERT_TRUE(loadTexture("second.3df", &second));
    EXPECT_EQ(first.startAddress, 0u);
    const FxU32 firstSize = grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &first.info);
    EXPECT_EQ(second.startAddress, firstSize);
    EXPECT_EQ(textureMemoryCursor,
              firstSize + grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &second.info));
    // Found in the directory of the call, which stays current.
    EXPECT_EQ(fs::current_path(), base);
    // The largest level of the second texture sits at its start address, as in the file.
    const std::uint8_t* memory = glide::board.textureMemory.data() + second.startAddress;
    EXPECT_EQ(std::memcmp(memory, second.info.data, 32 * 32 * 2), 0);
    Gu3dfInfo info{};
    ASSERT_TRUE(gu3dfGetInfo((base / "second.3df").c_str(), &info));
    std::vector<std::uint8_t> file(info.mem_required);
    info.data = file.data();
    ASSERT_TRUE(gu3dfLoad((base / "second.3df").c_str(), &info));
    EXPECT_EQ(std::memcmp(memory, file.data(), 32 * 32 * 2), 0);
}

TEST_F(TextureLoader, AfterALoadFromTheTextureDirectoryThatDirectoryIsTheFallback) {
    write(textureDir, "there.3df", 8);
    write(base, "here.3df", 8);
    TextureSlot slot;
    ASSERT_TRUE(loadTexture("there.3df", &slot));
    const FxU32 cursor = textureMemoryCursor;
    const std::string out = captureStdout([&] { EXPECT_FALSE(loadTexture("here.3df", &slot)); });
    EXPECT_EQ(out, "Error.  Can't find \"here.3df\" texture file.\n\n");
    EXPECT_EQ(fs::path(startDirectory), textureDir);
    EXPECT_EQ(fs::current_path(), textureDir);
    EXPECT_EQ(textureMemoryCursor, cursor);
}

TEST_F(TextureLoader, MissingFileLeavesCursorSlotAndDirectory) {
    textureMemoryCursor = 4096;
    TextureSlot slot;
    std::memset(&slot, 0x5A, sizeof slot);
    TextureSlot before = slot;
    const std::string out = captureStdout([&] { EXPECT_FALSE(loadTexture("nowhere.3df", &slot)); });
    EXPECT_EQ(out, "Error.  Can't find \"nowhere.3df\" texture file.\n\n");
    EXPECT_EQ(textureMemoryCursor, 4096u);
    EXPECT_EQ(std::memcmp(&slot, &before, sizeof slot), 0);
    EXPECT_EQ(fs::current_path(), base);
}

TEST_F(TextureLoader, ATextureThatWouldOverflowTextureMemoryIsRefused) {
    write(base, "big.3df", 256);
    TextureSlot slot{};
    textureMemoryCursor = GR_TEXMEM_SIZE - 100000;
    const std::uint8_t lastByte = glide::board.textureMemory.back();
    const std::string out = captureStdout([&] { EXPECT_FALSE(loadTexture("big.3df", &slot)); });
    EXPECT_NE(out.find("\"big.3df\""), std::string::npos) << out;
    EXPECT_NE(out.find("texture memory"), std::string::npos) << out;
    EXPECT_EQ(textureMemoryCursor, GR_TEXMEM_SIZE - 100000);
    EXPECT_EQ(glide::board.textureMemory.back(), lastByte);
    // A cursor already past the end refuses everything, even the smallest texture.
    write(base, "tiny.3df", 1);
    textureMemoryCursor = GR_TEXMEM_SIZE + 8;
    captureStdout([&] { EXPECT_FALSE(loadTexture("tiny.3df", &slot)); });
    EXPECT_EQ(textureMemoryCursor, GR_TEXMEM_SIZE + 8);
    // Up to the last byte is fine.
    textureMemoryCursor = GR_TEXMEM_SIZE - 8;
    EXPECT_TRUE(loadTexture("tiny.3df", &slot));
    EXPECT_EQ(textureMemoryCursor, GR_TEXMEM_SIZE);
}

TEST_F(TextureLoader, UnreadableWorkingDirectoryIsReported) {
    const fs::path gone = base / "gone";
    fs::create_directory(gone);
    fs::current_path(gone);
    fs::remove(gone);
    TextureSlot slot;
    const std::string out = captureStdout([&] { EXPECT_FALSE(loadTexture("x.3df", &slot)); });
    EXPECT_EQ(out, "Error:  No Current Directory. '_getcwd error'\n\n");
    EXPECT_EQ(textureMemoryCursor, 0u);
}

}  // namespace

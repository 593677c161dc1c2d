// Tests of the screen capture: the RAW file's size, order and 5-bit conversion, and the message
// when the file cannot be created.
#include <gtest/gtest.h>

#include <cstring>

#include "capture.h"
#include "driver.h"
#include "glide_internal.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

class Capture : public ::testing::Test {
  protected:
    fs::path saved = fs::current_path();
    fs::path dir = fs::canonical(makeTempDir("capture"));

    void SetUp() override {
        glide::ensureBuffers();
        std::snprintf(startDirectory, kStartDirectorySize, "%s", dir.c_str());
        // The back buffer differs everywhere, so reading the wrong buffer shows.
        std::fill(glide::board.color[glide::board.front ^ 1].begin(),
                  glide::board.color[glide::board.front ^ 1].end(), 0x1234);
    }
    void TearDown() override {
        fs::current_path(saved);
        fs::remove_all(dir);
    }
    std::uint16_t* front() { return glide::board.color[glide::board.front].data(); }
};

TEST_F(Capture, WhiteScreenIsAllBytes255) {
    std::fill(front(), front() + glide::kPixels, 0xFFFF);
    fs::current_path(saved);
    EXPECT_EQ(captureStdout([] { captureScreen("White Screen.raw"); }), "");
    const std::string bytes = readFile(dir / "White Screen.raw");
    ASSERT_EQ(bytes.size(), 921600u);
    EXPECT_EQ(bytes.find_first_not_of('\xFF'), std::string::npos);
    // The capture moves the working directory to the start directory.
    EXPECT_EQ(fs::current_path(), dir);
}

TEST_F(Capture, PixelsConvertThroughTheFiveBitTableInReadBackOrder) {
    std::fill(front(), front() + glide::kPixels, 0);
    front()[0] = 0x07E0;
    front()[1] = 0x0020;
    front()[2] = 0x0841;
    front()[3] = 0x8410;
    front()[glide::kPixels - 1] = 0xF800;  // bottom right of the picture, last in the file
    for (int f = 0; f < 32; ++f) front()[640 + f] = std::uint16_t(f << 11 | f << 6 | f);
    captureScreen("pixels.raw");
    const std::string s = readFile(dir / "pixels.raw");
    ASSERT_EQ(s.size(), 921600u);
    auto rgb = [&](std::size_t pixel) {
        return std::vector<int>{static_cast<unsigned char>(s[3 * pixel]),
                                static_cast<unsigned char>(s[3 * pixel + 1]),
                                static_cast<unsigned char>(s[3 * pixel + 2])};
    };
    EXPECT_EQ(rgb(0), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(rgb(1), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(rgb(2), (std::vector<int>{8, 8, 8}));
    EXPECT_EQ(rgb(3), (std::vector<int>{131, 131, 131}));
    EXPECT_EQ(rgb(glide::kPixels - 1), (std::vector<int>{255, 0, 0}));
    const int table[32] = {0,   8,   16,  24,  32,  41,  49,  57,  65,  74,  82,
                           90,  98,  106, 115, 123, 131, 139, 148, 156, 164, 172,
                           180, 189, 197, 205, 213, 222, 230, 238, 246, 255};
    for (int f = 0; f < 32; ++f)
        EXPECT_EQ(rgb(640 + f), (std::vector<int>{table[f], table[f], table[f]})) << f;
}

TEST_F(Capture, SecondCaptureOverwritesTheFirst) {
    std::fill(front(), front() + glide::kPixels, 0xFFFF);
    captureScreen("again.raw");
    std::fill(front(), front() + glide::kPixels, 0);
    captureScreen("again.raw");
    const std::string bytes = readFile(dir / "again.raw");
    ASSERT_EQ(bytes.size(), 921600u);
    EXPECT_EQ(bytes.find_first_not_of('\0'), std::string::npos);
}

TEST_F(Capture, UncreatableFileGivesTheMessageAndNoFile) {
    // Nobody, not even the superuser, creates files in /proc.
    std::snprintf(startDirectory, kStartDirectorySize, "/proc");
    const std::string out = captureStdout([] { captureScreen("Flat Shading.raw"); });
    EXPECT_EQ(out, "Error:  Screen Dump to \"Flat Shading.raw\" failed.\n\n");
    EXPECT_FALSE(fs::exists("/proc/Flat Shading.raw"));
}

}  // namespace

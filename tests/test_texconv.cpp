// Tests of tarnovel-texconv: PNG to 3DF and back, options, and refusals with clear messages.
#include <gtest/gtest.h>

#include "image.h"
#include "tdf_writer.h"
#include "test_util.h"
#include "texformat.h"

namespace fs = std::filesystem;

namespace {

const std::string kTexconv = std::string(TARNOVEL_BUILD_DIR) + "/tarnovel-texconv";

class Texconv : public ::testing::Test {
  protected:
    fs::path dir = makeTempDir("texconv");
    void TearDown() override { fs::remove_all(dir); }

    std::string png(int w, int h) {
        tdf::Image image{w, h, {}};
        for (int i = 0; i < w * h; ++i)
            image.argb.push_back(0xFF000000u | std::uint32_t(i * 0x10204));
        const std::string path =
            (dir / ("in" + std::to_string(w) + "x" + std::to_string(h) + ".png"));
        EXPECT_TRUE(tdf::writePng(path, image, nullptr));
        return path;
    }
    CommandResult run(const std::string& args) { return runCommand(kTexconv + " " + args); }
};

TEST_F(Texconv, PngToRgb565WithMipmapsAndBack) {
    const std::string in = png(64, 16);
    const std::string out = dir / "out.3df";
    const CommandResult r = run("'" + in + "' '" + out + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    Gu3dfInfo info{};
    ASSERT_TRUE(gu3dfGetInfo(out.c_str(), &info));
    EXPECT_EQ(info.header.format, GR_TEXFMT_RGB_565);
    EXPECT_EQ(info.header.aspect_ratio, GR_ASPECT_4x1);
    EXPECT_EQ(info.header.large_lod, GR_LOD_64);
    EXPECT_EQ(info.header.small_lod, GR_LOD_1);
    const std::string back = dir / "back.png";
    const CommandResult r2 = run("'" + out + "' '" + back + "'");
    ASSERT_EQ(r2.status, 0) << r2.err;
    tdf::Image picture;
    ASSERT_TRUE(tdf::readPicture(back, &picture, nullptr));
    EXPECT_EQ(picture.width, 64);
    EXPECT_EQ(picture.height, 16);
    tdf::Image original;
    ASSERT_TRUE(tdf::readPicture(in, &original, nullptr));
    // 5-6-5 keeps each channel within half a step.
    for (std::size_t i = 0; i < picture.argb.size(); ++i)
        for (int shift : {0, 8, 16}) {
            const int a = (picture.argb[i] >> shift) & 0xFF, b = (original.argb[i] >> shift) & 0xFF;
            ASSERT_LE(std::abs(a - b), 4) << i;
        }
}

TEST_F(Texconv, FormatAndNoMipmapsOptions) {
    const std::string out = dir / "a.3df";
    const CommandResult r = run("'" + png(8, 8) + "' '" + out + "' --format ARGB4444 --no-mipmaps");
    ASSERT_EQ(r.status, 0) << r.err;
    Gu3dfInfo info{};
    ASSERT_TRUE(gu3dfGetInfo(out.c_str(), &info));
    EXPECT_EQ(info.header.format, GR_TEXFMT_ARGB_4444);
    EXPECT_EQ(info.header.small_lod, info.header.large_lod);
    EXPECT_EQ(info.mem_required, 8u * 8u * 2u);
}

TEST_F(Texconv, BadInputsGiveClearMessages) {
    CommandResult r = run("'" + png(100, 64) + "' '" + (dir / "x.3df").string() + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("powers of two"), std::string::npos) << r.err;
    r = run("'" + png(256, 16) + "' '" + (dir / "x.3df").string() + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("aspect"), std::string::npos) << r.err;
    r = run("'" + png(8, 8) + "' '" + (dir / "x.3df").string() + "' --format rgb555");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("unknown texture format"), std::string::npos) << r.err;
    r = run("'" + (dir / "none.png").string() + "' '" + (dir / "x.3df").string() + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
    r = run("'" + (dir / "none.3df").string() + "' '" + (dir / "x.png").string() + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("3DF"), std::string::npos) << r.err;
    r = run("only-one-argument.png");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "x.3df"));
}

}  // namespace

// Tests of the recorder's picture conversions, options, progress line and stills planning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "record_options.h"
#include "record_output.h"
#include "stills.h"

namespace {

constexpr int kW = record::kScreenWidth;
constexpr int kH = record::kScreenHeight;

// A screen of varied colours, the same every time.
std::vector<std::uint16_t> patternScreen() {
    std::vector<std::uint16_t> screen(std::size_t(kW) * kH);
    std::uint32_t state = 12345;
    for (auto& p : screen) {
        state = state * 1664525u + 1013904223u;
        p = std::uint16_t(state >> 16);
    }
    return screen;
}

struct Rgb8 {
    int r, g, b;
};

// 5 and 6 bits to 8 by repeating the top bits below: 0 stays 0 and full stays 255.
Rgb8 expand(std::uint16_t v) {
    const int r = v >> 11, g = (v >> 5) & 63, b = v & 31;
    return {(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)};
}

bool parse(std::vector<std::string> args, RecordOptions* options, std::string* error) {
    args.insert(args.begin(), "tarnovel-record");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return parseRecordOptions(int(argv.size()), argv.data(), options, error);
}

}  // namespace

TEST(ScreenPictures, RgbExpansionReachesFullIntensityAndEnlargesByWholePixels) {
    const std::vector<std::uint16_t> screen = patternScreen();
    for (int scale : {1, 3}) {
        const int w = kW * scale, h = kH * scale;
        std::vector<std::uint8_t> rgb(std::size_t(w) * h * 3);
        record::screenToRgb(screen.data(), scale, rgb.data());
        for (int y = 0; y < h; y += 7)
            for (int x = 0; x < w; x += 5) {
                const Rgb8 want = expand(screen[std::size_t(y / scale) * kW + x / scale]);
                const std::uint8_t* got = &rgb[(std::size_t(y) * w + x) * 3];
                ASSERT_EQ(got[0], want.r) << scale << " " << x << "," << y;
                ASSERT_EQ(got[1], want.g) << scale << " " << x << "," << y;
                ASSERT_EQ(got[2], want.b) << scale << " " << x << "," << y;
            }
    }
    std::vector<std::uint16_t> white(std::size_t(kW) * kH, 0xFFFF);
    std::vector<std::uint8_t> rgb(std::size_t(kW) * kH * 3);
    record::screenToRgb(white.data(), 1, rgb.data());
    EXPECT_EQ(rgb.front(), 255);
    EXPECT_EQ(rgb.back(), 255);
}

TEST(ScreenPictures, Yuv420UsesLimitedRangeBt601AndKeepsChromaInsideEnlargedPixels) {
    auto convert = [](const std::vector<std::uint16_t>& screen, int scale) {
        std::vector<std::uint8_t> yuv(std::size_t(kW) * kH * scale * scale * 3 / 2);
        record::screenToYuv420(screen.data(), scale, yuv.data());
        return yuv;
    };
    struct Known {
        std::uint16_t colour;
        int y, cb, cr;
    };
    // Black, white and pure red, green and blue in BT.601 studio range.
    for (const Known& k :
         {Known{0x0000, 16, 128, 128}, Known{0xFFFF, 235, 128, 128}, Known{0xF800, 82, 90, 240},
          Known{0x07E0, 144, 54, 34}, Known{0x001F, 41, 240, 110}}) {
        const auto yuv = convert(std::vector<std::uint16_t>(std::size_t(kW) * kH, k.colour), 1);
        const std::size_t luma = std::size_t(kW) * kH, chroma = luma / 4;
        EXPECT_NEAR(yuv[luma / 2], k.y, 1) << std::hex << k.colour;
        EXPECT_NEAR(yuv[luma + chroma / 2], k.cb, 1) << std::hex << k.colour;
        EXPECT_NEAR(yuv[luma + chroma + chroma / 2], k.cr, 1) << std::hex << k.colour;
    }

    // Enlarged twice, each 2x2 chroma block is one screen pixel: no colour bleeds from its
    // neighbours, and every luma sample is its screen pixel's.
    const std::vector<std::uint16_t> screen = patternScreen();
    const auto yuv = convert(screen, 2);
    const int w = kW * 2, h = kH * 2;
    const std::uint8_t* cb = yuv.data() + std::size_t(w) * h;
    const std::uint8_t* cr = cb + std::size_t(w / 2) * (h / 2);
    for (int y = 0; y < kH; y += 3)
        for (int x = 0; x < kW; x += 7) {
            const Rgb8 c = expand(screen[std::size_t(y) * kW + x]);
            const double wantY = 16 + (65.738 * c.r + 129.057 * c.g + 25.064 * c.b) / 256;
            const double wantCb = 128 + (-37.945 * c.r - 74.494 * c.g + 112.439 * c.b) / 256;
            const double wantCr = 128 + (112.439 * c.r - 94.154 * c.g - 18.285 * c.b) / 256;
            ASSERT_NEAR(yuv[std::size_t(2 * y + 1) * w + 2 * x + 1], wantY, 1.0);
            ASSERT_NEAR(cb[std::size_t(y) * (w / 2) + x], wantCb, 1.5) << x << "," << y;
            ASSERT_NEAR(cr[std::size_t(y) * (w / 2) + x], wantCr, 1.5) << x << "," << y;
        }

    // At scale 1 a chroma sample is the mean of its four pixels: black and white make grey.
    std::vector<std::uint16_t> checker(std::size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) checker[std::size_t(y) * kW + x] = (x + y) % 2 ? 0xFFFF : 0;
    const auto grey = convert(checker, 1);
    EXPECT_EQ(grey[0], 16);
    EXPECT_EQ(grey[1], 235);
    EXPECT_EQ(grey[std::size_t(kW) * kH + 100], 128);
    EXPECT_EQ(grey[std::size_t(kW) * kH * 5 / 4 + 100], 128);
}

TEST(RecordOptions, VideoFormatScaleAndStillsAreCheckedUpFront) {
    EXPECT_EQ(record::videoFormatOf("show.mp4"), record::VideoFormat::mp4);
    EXPECT_EQ(record::videoFormatOf("/a/b/SHOW.MKV"), record::VideoFormat::mkv);
    EXPECT_EQ(record::videoFormatOf("show.mp4.avi"), record::VideoFormat::none);
    EXPECT_EQ(record::videoFormatOf("clips.mp4/show"), record::VideoFormat::none);
    EXPECT_EQ(record::videoFormatOf("mp4"), record::VideoFormat::none);

    RecordOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--out", "x.MKV", "--scale", "3"}, &o, &error)) << error;
    EXPECT_EQ(o.outFormat, record::VideoFormat::mkv);
    EXPECT_EQ(o.scale, 3);

    o = {};
    EXPECT_FALSE(parse({"--out", "show.avi"}, &o, &error));
    EXPECT_NE(error.find(".mp4"), std::string::npos) << error;
    EXPECT_NE(error.find(".mkv"), std::string::npos) << error;

    for (const char* bad : {"0", "5", "2.5", "two", "-1"}) {
        o = {};
        error.clear();
        EXPECT_FALSE(parse({"--out", "a.mp4", "--scale", bad}, &o, &error)) << bad;
        EXPECT_NE(error.find("1 to 4"), std::string::npos) << error;
    }
    o = {};
    EXPECT_FALSE(parse({"--scale", "2"}, &o, &error));
    EXPECT_NE(error.find("--out or --frames"), std::string::npos) << error;
    o = {};
    EXPECT_FALSE(parse({"--stills", "docs"}, &o, &error));
    EXPECT_NE(error.find("--from"), std::string::npos) << error;
}

TEST(RecordProgress, LineTellsShowTimeFramesSpeedAndTimeLeft) {
    const std::string line = record::progressLine(100.0, 6000, 50.0, 300.0);
    EXPECT_NE(line.find("100.0 s"), std::string::npos) << line;
    EXPECT_NE(line.find("6000 frames"), std::string::npos) << line;
    EXPECT_NE(line.find("2.0x real time"), std::string::npos) << line;
    // 200 s of show left at twice real time.
    EXPECT_NE(line.find("about 1:40 left"), std::string::npos) << line;

    // No guess before the speed settles, past the expected end, or without an expectation.
    EXPECT_EQ(record::progressLine(0.5, 30, 0.5, 300.0).find("left"), std::string::npos);
    EXPECT_EQ(record::progressLine(310.0, 18600, 100.0, 300.0).find("left"), std::string::npos);
    EXPECT_EQ(record::progressLine(10.0, 600, 5.0, 0.0).find("left"), std::string::npos);

    // The expectation comes from the song: a show of some minutes.
    EXPECT_GT(record::expectedShowSeconds(), 60.0);
    EXPECT_LT(record::expectedShowSeconds(), 1200.0);
}

TEST(Stills, MomentsComeFromTheCuesOfEachEntryPresent) {
    const std::string json = R"({
  "exit_status": 0,
  "cues": [
    {"t": 4.000000, "value": 2},
    {"t": 10.000000, "value": 1},
    {"t": 12.000000, "value": 2},
    {"t": 16.000000, "value": 1},
    {"t": 21.000000, "value": 2},
    {"t": 41.000000, "value": 1},
    {"t": 50.000000, "value": 2},
    {"t": 54.000000, "value": 1},
    {"t": 56.000000, "value": 2},
    {"t": 60.000000, "value": 1},
    {"t": 71.000000, "value": 2},
    {"t": 73.000000, "value": 1}
  ],
  "entries": [
    {"name": "setRenderState", "start": 0.000000, "end": 0.000000, "swaps": 0},
    {"name": "showTitles", "start": 0.000000, "end": 18.000000, "swaps": 9},
    {"name": "flatShadingScene", "start": 18.000000, "end": 45.000000, "swaps": 9},
    {"name": "showCredits", "start": 45.000000, "end": 62.000000, "swaps": 9},
    {"name": "showContactPages", "start": 70.000000, "end": 78.000000, "swaps": 3}
  ]
})";
    std::vector<stills::StatsEntry> entries;
    std::vector<stills::StatsCue> cues;
    std::string error;
    ASSERT_TRUE(stills::readStats(json, &entries, &cues, &error)) << error;
    ASSERT_EQ(entries.size(), 5u);
    ASSERT_EQ(cues.size(), 12u);

    std::vector<std::string> absent;
    const std::vector<stills::Still> plan = stills::planStills(entries, cues, &absent);
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_EQ(plan[0].entry, "showTitles");
    EXPECT_DOUBLE_EQ(plan[0].seconds, 7.0);  // the first page, between its two cues
    EXPECT_EQ(plan[1].entry, "flatShadingScene");
    EXPECT_DOUBLE_EQ(plan[1].seconds, 31.0);
    EXPECT_EQ(plan[1].file, "flat-shading.png");
    EXPECT_EQ(plan[2].entry, "showCredits");
    EXPECT_DOUBLE_EQ(plan[2].seconds, 58.0);  // the second credit page
    EXPECT_EQ(plan[3].entry, "showContactPages");
    EXPECT_DOUBLE_EQ(plan[3].seconds, 74.0);  // keys, not cues: the middle of the entry
    // The six scenes not in this show are named, and nothing else.
    EXPECT_EQ(absent.size(), 6u);
    EXPECT_NE(std::find(absent.begin(), absent.end(), "phongShadingScene"), absent.end());

    EXPECT_FALSE(stills::readStats("{\"swaps\": 3}", &entries, &cues, &error));
    EXPECT_NE(error.find("statistics"), std::string::npos) << error;
}

TEST(Stills, ContactSheetHalvesEachPictureAndLabelsIt) {
    std::vector<stills::Picture> pictures(3);
    for (int i = 0; i < 3; ++i) {
        pictures[i].width = kW;
        pictures[i].height = kH;
        pictures[i].rgb.assign(std::size_t(kW) * kH * 3, std::uint8_t(60 * i));
        // A 2x2 block of known values at the top left: its mean lands in one tile pixel.
        std::uint8_t* p = pictures[i].rgb.data();
        p[0] = 0;
        p[3] = 100;
        p[kW * 3] = 200;
        p[kW * 3 + 3] = 101;
    }
    std::string warning;
    const stills::Picture sheet = stills::contactSheet(pictures, {"One", "Two", "Three"}, &warning);
    ASSERT_EQ(sheet.width, 8 + 3 * (kW / 2 + 8));
    ASSERT_EQ(sheet.rgb.size(), std::size_t(sheet.width) * sheet.height * 3);
    EXPECT_EQ(sheet.height, 8 + kH / 2 + 26 + 8);
    auto at = [&](int x, int y, int c) {
        return sheet.rgb[(std::size_t(y) * sheet.width + x) * 3 + c];
    };
    EXPECT_EQ(at(8, 8, 0), 100);  // (0 + 100 + 200 + 101 + 2) / 4
    EXPECT_EQ(at(8 + kW / 2 + 8 + 5, 8 + 5, 1), 60);
    // Each label puts ink into the strip below its tile.
    if (warning.empty()) {
        for (int tile = 0; tile < 3; ++tile) {
            int ink = 0;
            for (int y = 8 + kH / 2; y < 8 + kH / 2 + 26; ++y)
                for (int x = 8 + tile * (kW / 2 + 8); x < 8 + tile * (kW / 2 + 8) + kW / 2; ++x)
                    ink += at(x, y, 0) > 0x60;
            EXPECT_GT(ink, 20) << tile;
        }
    }
}

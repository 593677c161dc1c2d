// The title, credit and contact pages in virtual time: frame counts, fade brightnesses, cue
// taking, key handling, the lines each page draws and the render state they leave.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "contact_info.h"
#include "display.h"
#include "glide_internal.h"
#include "glideext.h"
#include "host.h"
#include "music.h"
#include "screens.h"
#include "text.h"

namespace {

// --- what the pages draw, frame by frame ------------------------------------------------------

struct DrawnLine {
    float y;
    std::string text;
    float inkLeft, inkRight;
};

struct Frame {
    int brightness = -1;  // -1: nothing drawn
    bool mixedBrightness = false;
    std::int64_t swapAt = 0;  // show time of the swap call
    std::vector<DrawnLine> lines;
};

struct Recorder {
    std::vector<Frame> frames;
    Frame current;
    // The picture of one chosen frame, as it goes to the screen.
    std::size_t captureFrame = SIZE_MAX;
    std::vector<std::uint16_t> picture;
} recorder;

void onTriangle(const GrVertex* a, const GrVertex*, const GrVertex*, bool clipped, void*) {
    Frame& f = recorder.current;
    const int level = int(a->r);
    if (f.brightness < 0)
        f.brightness = level;
    else if (f.brightness != level)
        f.mixedBrightness = true;
    if (clipped) return;  // one glyph = one unclipped triangle whose first vertex is its top left
    const int code = 32 + int(a->tmuvtx[0].tow / 32.0f) * 8 + int(a->tmuvtx[0].sow / 32.0f);
    const float inkLeft = a->x + glyphLeftEdge[code - 32];
    const float inkRight = a->x + glyphRightEdge[code - 32];
    if (f.lines.empty() || f.lines.back().y != a->y)
        f.lines.push_back({a->y, "", inkLeft, inkRight});
    DrawnLine& line = f.lines.back();
    line.text += char(code);
    line.inkRight = inkRight;
}

void onSwap(bool before, void*) {
    if (!before) return;
    if (recorder.frames.size() == recorder.captureFrame)
        recorder.picture.assign(grExtBackBuffer(), grExtBackBuffer() + 640 * 480);
    recorder.current.swapAt = hostNow();
    recorder.frames.push_back(recorder.current);
    recorder.current = Frame{};
}

// --- the music's part: cues raised in a given order -----------------------------------------

// Raises the next cue of `order` (1 end, 2 start) once that cue is clear and `gap` has passed
// since the previous raise, as a song written for the show would.
struct CueScript {
    std::vector<int> order;
    std::int64_t gap = 3 * kHostSampleRate;
    std::size_t next = 0;
    std::int64_t lastRaise = 0;
    std::vector<std::int64_t> raisedAt;
} cues;

void onClock(std::int64_t now, void*) {
    if (cues.next >= cues.order.size() || now - cues.lastRaise < cues.gap) return;
    std::atomic<std::uint8_t>& cue = cues.order[cues.next] == 2 ? startCue : endCue;
    if (cue.load() != 0) return;
    onMusicSync(unsigned(cues.order[cues.next]), 0, 0);
    cues.lastRaise = now;
    cues.raisedAt.push_back(now);
    ++cues.next;
}

std::vector<int> repeatCues(std::initializer_list<int> group, int times) {
    std::vector<int> out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), group);
    return out;
}

// Brightness of one counted fade: from `from` by `step` while within 0..255.
std::vector<int> fade(int from, int step) {
    std::vector<int> out;
    for (int v = from; v >= 0 && v <= 255; v += step) out.push_back(v);
    return out;
}

void append(std::vector<int>* to, const std::vector<int>& more) {
    to->insert(to->end(), more.begin(), more.end());
}

std::vector<int> brightnesses() {
    std::vector<int> out;
    for (const Frame& f : recorder.frames) out.push_back(f.brightness);
    return out;
}

std::vector<std::string> texts(std::size_t frame) {
    std::vector<std::string> out;
    for (const DrawnLine& line : recorder.frames.at(frame).lines) out.push_back(line.text);
    return out;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

class Pages : public ::testing::Test {
  protected:
    void start(const HostKeyEvent* keys = nullptr, std::size_t keyCount = 0) {
        ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
        // The pages find the font in the directory current at their call.
        ASSERT_EQ(chdir(TARNOVEL_ASSETS), 0);
        hostInitVirtual(keys, keyCount, 0);
        ASSERT_TRUE(openDisplay());
        setRenderState();
        startCue = 0;
        endCue = 0;
        recorder = Recorder{};
        cues = CueScript{};
        grExtSetTriangleTrace(onTriangle, nullptr);
        hostAddSwapListener(onSwap, nullptr);
        hostAddClockListener(onClock, nullptr);
    }
    void TearDown() override {
        grExtSetTriangleTrace(nullptr, nullptr);
        closeDisplay();
        if (savedDir[0]) {
            EXPECT_EQ(chdir(savedDir), 0);
        }
    }

    // Every frame draws at one brightness, and every line lies on screen, centred on 320.
    static void expectCentredOnScreen() {
        for (std::size_t i = 0; i < recorder.frames.size(); ++i) {
            const Frame& f = recorder.frames[i];
            EXPECT_FALSE(f.mixedBrightness) << "frame " << i;
            for (const DrawnLine& line : f.lines) {
                SCOPED_TRACE("frame " + std::to_string(i) + " \"" + line.text + "\"");
                EXPECT_GE(line.inkLeft, 0.0f);
                EXPECT_LE(line.inkRight, 640.0f);
                EXPECT_EQ((line.inkLeft + line.inkRight) / 2.0f, 320.0f);
            }
        }
    }

    static void expectOpaqueStateRestored() {
        const auto& s = glide::board.state;
        EXPECT_FALSE(s.chromakeyEnabled);
        EXPECT_EQ(s.blendRgbSrc, GR_BLEND_ONE);
        EXPECT_EQ(s.blendRgbDst, GR_BLEND_ZERO);
        EXPECT_EQ(s.blendAlphaSrc, GR_BLEND_ONE);
        EXPECT_EQ(s.blendAlphaDst, GR_BLEND_ZERO);
    }

    char savedDir[PATH_MAX] = {};
};

}  // namespace

TEST_F(Pages, TitlesFadeOnTheirTenCues) {
    start();
    cues.order = repeatCues({2, 1}, 5);
    recorder.captureFrame = 128;  // page 1 at full brightness
    showTitles();

    EXPECT_EQ(cues.next, 10u);
    ASSERT_EQ(recorder.frames.size(), std::size_t(4 * (128 + 128) + 1 + 128));

    std::vector<int> expected;
    for (int page = 0; page < 4; ++page) {
        append(&expected, fade(0, 2));     // 0, 2, ..., 254
        append(&expected, fade(255, -2));  // 255, 253, ..., 1
    }
    expected.push_back(255);
    append(&expected, fade(255, -2));
    EXPECT_EQ(brightnesses(), expected);

    // Each fade begins 350 ms after its cue, on the next retrace.
    const std::size_t firstFrameOfStretch[] = {0, 128, 256, 384, 1024, 1025};
    const std::size_t cueOfStretch[] = {0, 1, 2, 3, 8, 9};
    for (int i = 0; i < 6; ++i) {
        const std::int64_t wait =
            recorder.frames[firstFrameOfStretch[i]].swapAt - cues.raisedAt[cueOfStretch[i]];
        EXPECT_GE(wait, 350 * kHostMsSamples) << "stretch " << i;
        EXPECT_LT(wait, 351 * kHostMsSamples + kHostTickSamples) << "stretch " << i;
    }

    EXPECT_EQ(texts(0), std::vector<std::string>({"A", "VORTANE", "PRODUCTION"}));
    EXPECT_EQ(recorder.frames[0].lines.back().y, 216.0f);
    EXPECT_EQ(texts(1024), std::vector<std::string>({"\"TO BE CONTINUED...\""}));
    expectCentredOnScreen();
    expectOpaqueStateRestored();

    // The picture: text only within the three lines' rows, centred, in the font's colours.
    ASSERT_EQ(recorder.picture.size(), 640u * 480u);
    int minX = 640, maxX = -1, maxGreen = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const std::uint16_t p = recorder.picture[std::size_t((479 - y) * 640 + x)];
            if (p == 0) continue;
            const bool inLine =
                (y >= 264 && y < 296) || (y >= 224 && y < 256) || (y >= 184 && y < 216);
            ASSERT_TRUE(inLine) << "pixel at " << x << ", " << y;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            maxGreen = std::max(maxGreen, (p >> 5) & 63);
        }
    }
    // "PRODUCTION" is inked from 229.5 to 410.5.
    EXPECT_GE(minX, 229);
    EXPECT_LE(maxX, 410);
    EXPECT_LE(std::abs(minX + maxX + 1 - 640), 2) << minX << " " << maxX;
    EXPECT_GE(maxGreen, 56);
}

TEST_F(Pages, TitlesTakeCuesThatCameEarly) {
    start();
    // A start cue latched before the scene begins lets page 1 fade in at once.
    startCue = 1;
    cues.order = {1, 2, 1, 2, 1, 2, 1, 2, 1};
    // Cues a second apart arrive while the pages are still fading and wait in their latches.
    cues.gap = kHostSampleRate;
    showTitles();
    ASSERT_EQ(recorder.frames.size(), 1153u);
    EXPECT_LT(recorder.frames[0].swapAt, 351 * kHostMsSamples + kHostTickSamples);
    // Each next page fades in 350 ms after the previous fade-out's last frame.
    for (std::size_t first : {256u, 512u, 768u, 1024u}) {
        const std::int64_t pause =
            recorder.frames[first].swapAt - recorder.frames[first - 1].swapAt;
        EXPECT_GE(pause, 350 * kHostMsSamples) << "frame " << first;
        EXPECT_LE(pause, 350 * kHostMsSamples + kHostTickSamples) << "frame " << first;
    }
}

TEST_F(Pages, CreditsFadeOnTheirThirtyTwoCuesAndLeaveTheLastPage) {
    start();
    // Nothing here looks at pixels: a one-pixel clip window keeps the 1984 frames cheap.
    grClipWindow(0, 0, 1, 1);
    // An end cue left over from the last effect scene is dropped at entry.
    endCue = 1;
    std::vector<int> order = repeatCues({2, 1}, 15);
    order.push_back(2);
    order.push_back(2);
    cues.order = order;
    showCredits();

    EXPECT_EQ(cues.next, 32u);
    ASSERT_EQ(recorder.frames.size(), std::size_t(15 * (64 + 64) + 64));

    std::vector<int> expected;
    for (int page = 0; page < 15; ++page) {
        append(&expected, fade(0, 4));     // 0, 4, ..., 252
        append(&expected, fade(255, -4));  // 255, 251, ..., 3
    }
    append(&expected, fade(0, 4));
    EXPECT_EQ(brightnesses(), expected);
    EXPECT_EQ(recorder.frames.back().brightness, 252);

    // Page 1 fades out only after the end cue raised during the credits.
    EXPECT_GE(recorder.frames[64].swapAt, cues.raisedAt[1] + 350 * kHostMsSamples);
    // The scene returns only after the seventeenth start cue, and its sleep.
    EXPECT_GE(hostNow(), cues.raisedAt[31] + 350 * kHostMsSamples);

    // First and last pages; the quotation opens on page 3 and closes on page 6 with its marks.
    EXPECT_EQ(texts(0), std::vector<std::string>({"THANK YOU."}));
    EXPECT_EQ(texts(recorder.frames.size() - 1), std::vector<std::string>({"TO BE CONTINUED..."}));
    const std::vector<std::string> page3 = texts(2 * 128), page6 = texts(5 * 128);
    ASSERT_EQ(page3.size(), 4u);
    ASSERT_EQ(page6.size(), 5u);
    EXPECT_EQ(page3[1].front(), '"');
    EXPECT_EQ(page6[3].back(), '"');
    EXPECT_EQ(page6[4].rfind("- ", 0), 0u);
    // The web-address lines (the last but one of page 11) carry six blanks either side.
    for (std::size_t page : {9, 10, 12, 13}) {
        const std::vector<std::string> lines = texts(page * 128);
        const std::string& web = lines.at(page == 10 ? lines.size() - 2 : lines.size() - 1);
        EXPECT_EQ(web.substr(0, 10), "      WWW.") << web;
        EXPECT_EQ(web.substr(web.size() - 7).find_first_not_of(' '), 0u) << web;
        EXPECT_EQ(web.substr(web.size() - 6), "      ") << web;
    }
    expectCentredOnScreen();
    expectOpaqueStateRestored();
    // The colour combine is texel times vertex colour again, whatever the scenes left.
    EXPECT_EQ(glide::board.state.color.function, GR_COMBINE_FUNCTION_SCALE_OTHER);
    EXPECT_EQ(glide::board.state.color.other, GR_COMBINE_OTHER_TEXTURE);
}

TEST_F(Pages, ContactPagesShowTheAuthorsDetailsUntilAnyKeyThenEscape) {
    // A key pressed during the pause closes page 1 as soon as it is shown; on page 2 other
    // keys are read and dropped until Escape.
    const HostKeyEvent keys[] = {
        {kHostSampleRate / 2, 'x'},
        {3 * kHostSampleRate, 'q'},
        {4 * kHostSampleRate, 13},
        {5 * kHostSampleRate, 27},
    };
    start(keys, 4);
    endCue = 1;
    showContactPages();

    EXPECT_EQ(endCue.load(), 0);
    ASSERT_EQ(recorder.frames.size(), 3u);
    EXPECT_EQ(recorder.frames[0].brightness, -1);  // the black frame
    // Page 1 after the two-second pause, page 2 on the very next retrace.
    EXPECT_GE(recorder.frames[1].swapAt, 2 * kHostSampleRate);
    EXPECT_LT(recorder.frames[1].swapAt, 2 * kHostSampleRate + 2 * kHostTickSamples);
    EXPECT_LE(recorder.frames[2].swapAt, recorder.frames[1].swapAt + kHostTickSamples);
    EXPECT_GE(hostNow(), 5 * kHostSampleRate);
    EXPECT_LT(hostNow(), 5 * kHostSampleRate + 2 * kHostMsSamples);
    EXPECT_FALSE(hostKeyWaiting());

    // The pages draw the banner's contact values, in capitals.
    EXPECT_EQ(recorder.frames[1].brightness, 255);
    EXPECT_EQ(texts(1), std::vector<std::string>({
                            "CONTACT INFO:",
                            "HOME ADDRESS:",
                            " ORLEN  MARSK ",
                            upper(contactAddressLine1),
                            upper(contactAddressLine2),
                            upper(std::string(contactProvince) + ", " + contactCountry),
                            upper(contactPostalCode),
                            "PRESS ANY KEY FOR NEXT PAGE...",
                        }));
    EXPECT_EQ(texts(2), std::vector<std::string>({
                            "CONTACT INFO:",
                            std::string(16, ' '),
                            "    " + upper(contactEmail) + "     ",
                            "  " + upper(contactWeb) + "  ",
                            std::string(14, ' '),
                            "PRESS ESC TO FINISH...",
                        }));
    EXPECT_EQ(recorder.frames[1].lines[2].y, 296.0f);
    EXPECT_EQ(recorder.frames[2].lines[5].y, 56.0f);
    expectCentredOnScreen();
    expectOpaqueStateRestored();
}

TEST_F(Pages, TheKeyThatClosesPageOneDoesNotCountForPageTwo) {
    // Escape closes page 1 (any key does) and is consumed there; page 2 waits for the next.
    const HostKeyEvent keys[] = {
        {3 * kHostSampleRate, 27},
        {6 * kHostSampleRate, 'a'},
        {7 * kHostSampleRate, 27},
    };
    start(keys, 3);
    showContactPages();
    ASSERT_EQ(recorder.frames.size(), 3u);
    EXPECT_GE(recorder.frames[2].swapAt, 3 * kHostSampleRate);
    EXPECT_GE(hostNow(), 7 * kHostSampleRate);
    EXPECT_LT(hostNow(), 7 * kHostSampleRate + 2 * kHostMsSamples);
}

TEST_F(Pages, WaitForKeyReadsAnyKeyOrDropsUntilItsOwn) {
    start();
    hostPushKey('k');
    EXPECT_EQ(waitForKey(0), 'k');
    hostPushKey('a');
    hostPushKey('b');
    hostPushKey(27);
    hostPushKey('c');
    EXPECT_EQ(waitForKey(27), 27);
    // The key after Escape is still waiting.
    ASSERT_TRUE(hostKeyWaiting());
    EXPECT_EQ(waitForKey(0), 'c');
}

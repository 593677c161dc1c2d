// Tests of the driver's pieces: the song search, the closing banner and the cue latches.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver.h"
#include "host.h"
#include "midas.h"
#include "music.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

void touchSong(const fs::path& dir) {
    fs::create_directories(dir);
    std::ofstream(dir / "Zudavez.xm") << "song";
}

std::string cwd() {
    return fs::current_path().string();
}

class SongSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = fs::current_path();
        root = makeTempDir("songsearch");
        fs::current_path(root);
        std::snprintf(startDirectory, sizeof startDirectory, "%s", root.c_str());
    }
    void TearDown() override {
        fs::current_path(saved);
        fs::remove_all(root);
    }
    fs::path saved, root;
};

}  // namespace

TEST_F(SongSearch, FindsTheSongInTheStartFolderAtTheFirstProbe) {
    touchSong(root);
    ASSERT_TRUE(findSong());
    EXPECT_EQ(cwd(), root.string());
}

TEST_F(SongSearch, EarlierFolderOfTheListWins) {
    touchSong(root / "e:\\sound\\songs\\brask");  // fourth in the list
    touchSong(root / "e:\\sound\\songs\\xm");     // eighth
    ASSERT_TRUE(findSong());
    EXPECT_EQ(cwd(), (root / "e:\\sound\\songs\\brask").string());
}

TEST_F(SongSearch, StartFolderIsTheLastResortAfterTheWorkingFolderMoved) {
    // The first listed folder exists without the song: the working folder moves there and
    // the later relative probes fail from it, until the start folder is tried last.
    fs::create_directories(root / "e:\\sound\\songs\\orlen\\xm");
    touchSong(root);
    fs::current_path(root);
    ASSERT_TRUE(findSong());
    EXPECT_EQ(cwd(), root.string());
}

TEST_F(SongSearch, MissingEverywhereFails) {
    fs::create_directories(root / "e:\\sound\\songs\\orlen\\xm");
    EXPECT_FALSE(findSong());
}

TEST(Banner, SixteenLinesWithTheRightColumnUnderWeb) {
    const std::string out = captureStdout([] { printBanner(); });
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < out.size()) {
        const std::size_t nl = out.find('\n', pos);
        ASSERT_NE(nl, std::string::npos) << "every line ends with a line break";
        lines.push_back(out.substr(pos, nl - pos));
        pos = nl + 1;
    }
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[3], "  ");
    EXPECT_EQ(lines[4], "  Contact Info:");
    EXPECT_EQ(lines[6], "  Home Address:                        Web:           ");
    EXPECT_EQ(lines[6].find("Web:"), 39u);
    EXPECT_EQ(lines[8].rfind("  Orlen Marsk ", 0), 0u);
    // The e-mail and the web address stand in column 39, under "Web:".
    EXPECT_NE(lines[8][39], ' ');
    EXPECT_EQ(lines[8][38], ' ');
    EXPECT_NE(lines[9][39], ' ');
    EXPECT_EQ(lines[9][38], ' ');
    EXPECT_NE(lines[8].find('@'), std::string::npos);
    for (int i : {10, 11, 12}) {
        EXPECT_EQ(lines[i].rfind("  ", 0), 0u);
        EXPECT_GT(lines[i].size(), 2u);
    }
    for (int i : {13, 14, 15}) EXPECT_EQ(lines[i], "  ");
    EXPECT_GT(lines[1].size(), 2u);
    EXPECT_GT(lines[2].size(), 2u);
}

TEST(CueLatch, RaisesAndTakes) {
    hostInitVirtual(nullptr, 0, 0);
    startCue = 0;
    endCue = 0;

    // Values other than 1 and 2 change nothing.
    onMusicSync(0, 0, 0);
    onMusicSync(3, 0, 0);
    EXPECT_EQ(startCue.load(), 0);
    EXPECT_EQ(endCue.load(), 0);

    // A start cue raised while nobody waits lets the next page wait pass at once, and the
    // 350 ms sleep still follows.
    onMusicSync(2, 0, 0);
    const std::int64_t before = hostNow();
    takeCueAtPage(startCue);
    EXPECT_EQ(hostNow() - before, 350 * kHostMsSamples);
    EXPECT_EQ(startCue.load(), 0);

    // Two raises before one wait count as one.
    onMusicSync(2, 0, 0);
    onMusicSync(2, 0, 0);
    takeStartCueAtScene();
    EXPECT_EQ(startCue.load(), 0);

    onMusicSync(1, 0, 0);
    EXPECT_EQ(endCue.load(), 1);
    EXPECT_EQ(startCue.load(), 0);
}

TEST(CueLatch, SpinWaitsUntilTheCallbackRaisesTheCue) {
    hostInitVirtual(nullptr, 0, 0);
    startCue = 0;
    // The "playback thread" of the virtual clock raises the cue 40 ms in.
    hostAddClockListener(
        [](std::int64_t now, void*) {
            if (now == 40 * kHostMsSamples) onMusicSync(2, 0, 0);
        },
        nullptr);
    takeStartCueAtScene();
    EXPECT_EQ(hostNow(), 40 * kHostMsSamples);
    EXPECT_EQ(startCue.load(), 0);
}

namespace {

struct VolumeStep {
    std::int64_t at;
    unsigned volume;
};
std::vector<VolumeStep> volumeSteps;
unsigned lastVolume;

void watchVolume(std::int64_t now, void*) {
    const unsigned v = MIDASextMusicVolume();
    if (v != lastVolume) volumeSteps.push_back({now, v});
    lastVolume = v;
}

std::string songPath() {
    return std::string(TARNOVEL_ASSETS) + "/Zudavez.xm";
}

}  // namespace

TEST(MusicFadeOut, SixtyFiveVolumesWith150MillisecondsBeforeEach) {
    hostInitVirtual(nullptr, 0, 0);
    ASSERT_TRUE(MIDASstartup());
    ASSERT_TRUE(MIDASinit());
    MIDASmodule module = MIDASloadModule(songPath().c_str());
    ASSERT_NE(module, nullptr) << MIDASextLastError();
    playHandle = MIDASplayModule(module, TRUE);
    ASSERT_NE(playHandle, 0u);
    ASSERT_TRUE(MIDASsetMusicVolume(playHandle, 64));
    ASSERT_TRUE(MIDASstartBackgroundPlay(0));
    volumeSteps.clear();
    lastVolume = 64;
    hostAddClockListener(watchVolume, nullptr);

    const std::int64_t start = hostNow();
    fadeOutMusic();
    EXPECT_EQ(hostNow() - start, 65 * 150 * kHostMsSamples);
    hostSleep(1);  // lets the watcher see the last step
    // The first step sets 64 again (no change to see); each later one comes 150 ms after the
    // one before and is seen at the first clock step after it was set.
    ASSERT_EQ(volumeSteps.size(), 64u);
    for (unsigned i = 0; i < 64; ++i) {
        EXPECT_EQ(volumeSteps[i].volume, 63 - i);
        EXPECT_EQ(volumeSteps[i].at - start, (std::int64_t(i + 2) * 150 + 1) * kHostMsSamples) << i;
    }
    EXPECT_EQ(MIDASextMusicVolume(), 0u);
    MIDASstopModule(playHandle);
    MIDASfreeModule(module);
    MIDASstopBackgroundPlay();
    MIDASclose();
}

TEST(MusicFadeOutDeathTest, RefusedVolumeIsFatal) {
    EXPECT_EXIT(
        {
            hostInitVirtual(nullptr, 0, 0);
            playHandle = 12345;  // no such song playing: the sound layer refuses the volume
            fadeOutMusic();
        },
        ::testing::ExitedWithCode(255), "");
}

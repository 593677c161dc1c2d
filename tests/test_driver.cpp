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
#include "music.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

void touchSong(const fs::path& dir) {
    fs::create_directories(dir);
    std::ofstream(dir / "Zudavez.xm") << "song";
}

std::string cwd() { return fs::current_path().string(); }

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

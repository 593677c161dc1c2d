// Tests of the interim song as the show hears it: the cue order and spacing read through the
// sound layer on the virtual clock, the music around the cues, and a repeatable generator.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <libopenmpt/libopenmpt.hpp>
#include <string>
#include <vector>

#include "host.h"
#include "midas.h"
#include "song_schedule.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

const std::string kSong = std::string(TARNOVEL_ASSETS) + "/Zudavez.xm";

struct Cue {
    unsigned value;
    double t;  // seconds of audio since background play began
};
std::vector<Cue> cues;

void MIDAS_CALL recordCue(unsigned value, unsigned, unsigned) {
    cues.push_back({value, double(MIDASextPlayPosition()) / kHostSampleRate});
}

double rms(const std::int16_t* audio, double from, double to) {
    const std::size_t a = std::size_t(from * kHostSampleRate) * 2;
    const std::size_t b = std::size_t(to * kHostSampleRate) * 2;
    double sum = 0;
    for (std::size_t i = a; i < b; ++i) sum += double(audio[i]) * audio[i];
    return std::sqrt(sum / double(b - a));
}

class InterimSong : public ::testing::Test {
  protected:
    // Plays the built song from the start for `seconds` of virtual time, keeping its audio.
    static void SetUpTestSuite() {
        cues.clear();
        hostInitVirtual(nullptr, 0, 0);
        ASSERT_TRUE(MIDASstartup());
        ASSERT_TRUE(MIDASinit());
        MIDASextKeepAudio(true);
        MIDASmodule module = MIDASloadModule(kSong.c_str());
        ASSERT_NE(module, nullptr) << MIDASextLastError();
        const MIDASmodulePlayHandle handle = MIDASplayModule(module, TRUE);
        ASSERT_TRUE(MIDASsetMusicSyncCallback(handle, recordCue));
        ASSERT_TRUE(MIDASstartBackgroundPlay(0));
        // Well past the song's end, so that its loop is heard too.
        while (hostNowSeconds() < 340) hostSleep(1000);
        std::size_t frames = 0;
        const std::int16_t* kept = MIDASextAudio(&frames);
        audio.assign(kept, kept + frames * 2);
        MIDASstopModule(handle);
        MIDASfreeModule(module);
        MIDASclose();
        MIDASextKeepAudio(false);
    }
    static void TearDownTestSuite() { audio = {}; }

    static std::vector<std::int16_t> audio;
};

std::vector<std::int16_t> InterimSong::audio;

}  // namespace

TEST_F(InterimSong, CarriesTheShowsCuesInOrder) {
    std::vector<unsigned> want;
    for (int i = 0; i < 5 + 7 + 15; ++i) want.insert(want.end(), {2u, 1u});
    want.insert(want.end(), {2u, 2u});
    std::vector<unsigned> got;
    for (const Cue& c : cues) got.push_back(c.value);
    // The whole list, once: the looped end of the song carries no further cues.
    EXPECT_EQ(got, want);

    const std::vector<song::Cue> schedule = song::cueSchedule();
    ASSERT_EQ(schedule.size(), cues.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
        EXPECT_EQ(schedule[i].value, cues[i].value);
        const double rowStart = schedule[i].row * song::kRowSeconds;
        EXPECT_GE(cues[i].t, rowStart - 1e-9) << "cue " << i;
        EXPECT_LE(cues[i].t, rowStart + 0.002) << "cue " << i;
    }
}

TEST_F(InterimSong, CueSpacingLeavesEachPageAndSceneItsTime) {
    ASSERT_EQ(cues.size(), 56u);
    auto gap = [](int a, int b) { return cues[std::size_t(b)].t - cues[std::size_t(a)].t; };
    for (int page = 0; page < 5; ++page) {
        SCOPED_TRACE("title page " + std::to_string(page + 1));
        const int s = 2 * page;
        EXPECT_GE(gap(s, s + 1), 4.5);
        if (page < 4) {
            EXPECT_GE(gap(s + 1, s + 2), 2.8);
        }
    }
    EXPECT_GE(gap(9, 10), 2.8) << "last title to the first scene";
    for (int scene = 0; scene < 7; ++scene) {
        SCOPED_TRACE("scene " + std::to_string(scene + 1));
        const int s = 10 + 2 * scene;
        EXPECT_NEAR(gap(s, s + 1), 20.0, 1.0);
        EXPECT_GE(gap(s + 1, s + 2), 2.5);
    }
    for (int page = 0; page < 15; ++page) {
        SCOPED_TRACE("credit page " + std::to_string(page + 1));
        const int s = 24 + 2 * page;
        EXPECT_GE(gap(s, s + 1), 2.6);
        EXPECT_GE(gap(s + 1, s + 2), 1.6);
    }
    EXPECT_NEAR(gap(54, 55), 3.0, 0.3);
}

TEST_F(InterimSong, MusicIsHeardThroughoutIncludingTheFadeAndTheLoop) {
    ASSERT_GE(audio.size(), std::size_t(340 * kHostSampleRate * 2));
    const double last = cues.back().t;
    // Every 5 s stretch from the first bar to well after the loop point has sound in it.
    for (double t = 0; t + 5 <= 340; t += 5) EXPECT_GT(rms(audio.data(), t, t + 5), 500.0) << t;
    EXPECT_GT(rms(audio.data(), last, last + 12), 500.0) << "the song goes on for the fade";

    // A few minutes long, and it loops (libopenmpt measures one pass).
    const std::string bytes = readFile(kSong);
    openmpt::module module(bytes.data(), bytes.size());
    const double duration = module.get_duration_seconds();
    EXPECT_GT(duration, last + 12);
    EXPECT_LT(duration, 6 * 60);
    EXPECT_LT(duration, 340);
}

TEST(InterimSongGenerator, WritesTheSameFileEveryTime) {
    const fs::path dir = makeTempDir("gensong");
    const CommandResult run =
        runCommand(std::string(TARNOVEL_BUILD_DIR) + "/gen_song '" + dir.string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(dir / "Zudavez.xm"), readFile(kSong));
    const CommandResult bad = runCommand(std::string(TARNOVEL_BUILD_DIR) + "/gen_song");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.err.find("usage"), std::string::npos);
    fs::remove_all(dir);
}

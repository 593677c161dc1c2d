// Tests of the song as the show hears it: the cues read through the sound layer on the virtual
// clock, played against a model of the show's pages and scenes (their fades, sleeps and the
// scenes' leave), the loudness of the music along the show, and a repeatable generator.
#include <gtest/gtest.h>

#include <algorithm>
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

// How long the song is played: the whole of it and well into its first loop.
const double kPlaySeconds = song::kSongBars * song::kBarSeconds + 12;

class Song : public ::testing::Test {
  protected:
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
        while (hostNowSeconds() < kPlaySeconds) hostSleep(1000);
        std::size_t frames = 0;
        const std::int16_t* kept = MIDASextAudio(&frames);
        audio.assign(kept, kept + frames * 2);
        MIDASstopModule(handle);
        MIDASfreeModule(module);
        MIDASclose();
        MIDASextKeepAudio(false);
    }
    static void TearDownTestSuite() { audio = {}; }

    // Root mean square of both channels from `from` to `to` seconds, in dB of full scale.
    static double levelDb(double from, double to) {
        const std::size_t a = std::size_t(from * kHostSampleRate) * 2;
        const std::size_t b = std::min(audio.size(), std::size_t(to * kHostSampleRate) * 2);
        double sum = 0;
        for (std::size_t i = a; i < b; ++i) sum += double(audio[i]) * audio[i];
        return 20 * std::log10(std::sqrt(sum / double(std::max<std::size_t>(b - a, 1))) / 32768.0 +
                               1e-12);
    }

    static std::vector<std::int16_t> audio;
};

std::vector<std::int16_t> Song::audio;

// The show's main thread as the cues drive it: frames swap on the ticks of a 60 Hz clock,
// pages sleep 350 ms after taking a cue, and a cue raised before its wait begins lets the
// wait pass at once.
struct ShowModel {
    static constexpr double kTick = 1.0 / 60;
    double t = 0;

    void frame() { t = (std::floor(t / kTick + 1e-9) + 1) * kTick; }
    void frames(int n) {
        for (int i = 0; i < n; ++i) frame();
    }
    // Takes a cue raised at `at` the way pages do: wait for it, then sleep 350 ms.
    void takePageCue(double at) {
        t = std::max(t, at);
        t += 0.350;
    }
};

}  // namespace

TEST_F(Song, CarriesTheShowsCuesInOrderOnBarLines) {
    std::vector<unsigned> want;
    for (int i = 0; i < 5 + 7 + 15; ++i) want.insert(want.end(), {2u, 1u});
    want.insert(want.end(), {2u, 2u});
    std::vector<unsigned> got;
    for (const Cue& c : cues) got.push_back(c.value);
    // The whole list, once: the looped tail of the song carries no further cues.
    EXPECT_EQ(got, want);

    const std::vector<song::Cue> schedule = song::cueSchedule();
    ASSERT_EQ(schedule.size(), cues.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "cue " << i);
        EXPECT_EQ(schedule[i].value, cues[i].value);
        // Every cue sits on a bar line or half-way through a bar.
        EXPECT_EQ(schedule[i].row % (song::kRowsPerBar / 2), 0);
        const double rowStart = schedule[i].row * song::kRowSeconds;
        EXPECT_GE(cues[i].t, rowStart - 1e-9);
        EXPECT_LE(cues[i].t, rowStart + 0.002);
    }
    EXPECT_LT(schedule.back().row, song::loopRow());
}

TEST_F(Song, GivesEveryPageAndSceneItsTimeInTheShow) {
    ASSERT_EQ(cues.size(), 56u);
    ShowModel show;
    std::size_t next = 0;
    auto cueAt = [&]() { return cues[next++].t; };

    // Title pages 1 to 4: start cue, 128 fade-in frames, hold, end cue, 128 fade-out frames.
    // Page 5 shows at once in one frame.
    for (int page = 1; page <= 5; ++page) {
        SCOPED_TRACE(::testing::Message() << "title page " << page);
        const double start = cueAt();
        EXPECT_GE(start, show.t) << "the start cue comes before the previous page has gone";
        show.takePageCue(start);
        show.frames(page < 5 ? 128 : 1);
        const double bright = show.t;
        const double end = cueAt();
        EXPECT_GE(end - bright, 1.5) << "full brightness before the end cue";
        show.takePageCue(end);
        show.frames(128);
    }
    // The scenes: the start cue starts the frames; the end cue is seen after a frame's swap,
    // then the slide leaves in 89 steps (the first in the frame that saw the cue) and one black
    // frame follows.
    for (int scene = 1; scene <= 7; ++scene) {
        SCOPED_TRACE(::testing::Message() << "scene " << scene);
        const double start = cueAt();
        EXPECT_GE(start, show.t) << "the start cue comes before the previous stretch has gone";
        show.t = std::max(show.t, start);
        const double end = cueAt();
        EXPECT_GE(end - start, 15.0);
        EXPECT_LE(end - start, 30.0);
        while (show.t < end) show.frame();
        show.frames(88 + 1);
    }
    // Credit pages 1 to 15 fade in and out in 64 frames; page 16 fades in and holds until the
    // second start cue.
    for (int page = 1; page <= 16; ++page) {
        SCOPED_TRACE(::testing::Message() << "credit page " << page);
        const double start = cueAt();
        EXPECT_GE(start, show.t) << "the start cue comes before the previous stretch has gone";
        show.takePageCue(start);
        show.frames(64);
        const double bright = show.t;
        const double end = cueAt();
        EXPECT_GE(end - bright, 1.2) << "full brightness before the next cue";
        if (page < 16) {
            show.takePageCue(end);
            show.frames(64);
        }
    }
    // From launch to the last credit cue.
    EXPECT_GE(cues.back().t, 4 * 60.0);
    EXPECT_LE(cues.back().t, 6 * 60.0);
}

TEST_F(Song, KeepsASteadyLevelWithoutClippingOrGaps) {
    ASSERT_GE(audio.size(), std::size_t(kPlaySeconds * kHostSampleRate) * 2);
    int peak = 0;
    for (std::int16_t v : audio) peak = std::max(peak, std::abs(int(v)));
    // At most -1 dBFS.
    EXPECT_LE(peak, int(32767 * std::pow(10.0, -1.0 / 20)));
    EXPECT_GT(peak, int(32767 * std::pow(10.0, -12.0 / 20))) << "the song is far too quiet";

    // No second without music from the first bar to well after the fade-out has begun, the
    // song's loop included.
    const double last = cues.back().t;
    for (double t = 0.5; t + 1 <= kPlaySeconds; t += 0.5)
        EXPECT_GT(levelDb(t, t + 1), -40.0) << "near-silence at " << t << " s";
    // Steady: every five seconds of the show, from the first title page on, sit within a
    // narrow band of loudness.
    double quietest = 0, loudest = -200;
    for (double t = cues.front().t; t + 5 <= last + 10; t += 2.5) {
        const double level = levelDb(t, t + 5);
        quietest = std::min(quietest, level);
        loudest = std::max(loudest, level);
    }
    EXPECT_LE(loudest - quietest, 8.0) << "from " << quietest << " to " << loudest << " dB";
}

TEST_F(Song, LoopsIntoItsTailAfterTheLastCue) {
    const std::string bytes = readFile(kSong);
    openmpt::module module(bytes.data(), bytes.size());
    // libopenmpt measures one pass; the looped tail follows the last cue.
    const double duration = module.get_duration_seconds();
    EXPECT_NEAR(duration, song::kSongBars * song::kBarSeconds, 0.01);
    EXPECT_GT(duration, cues.back().t + 12);
    EXPECT_LT(bytes.size(), std::size_t(400 * 1024)) << "the module should stay small";
    // Played on, the song returns to the tail: the same music again, not the titles' intro.
    const double tail = song::loopRow() * song::kRowSeconds;
    const double pass = duration - tail;
    EXPECT_NEAR(levelDb(duration, duration + 4), levelDb(tail, tail + 4), 0.5);
    EXPECT_GT(pass, 10.0) << "the tail outlasts the music's fade-out";
}

TEST(SongGenerator, WritesTheSameFileEveryTime) {
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

// Tests of the sound layer: sync delivery from a hand-written module (virtual clock, the SDL
// dummy device and the silent fallback), kept audio and volume, and the failure results.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "midas.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

// --- a module written byte by byte, as another tracker would have saved it -------------------
struct HandCell {
    int row, channel;
    std::uint8_t note, instrument, volume, effect, param;
};
struct HandPattern {
    int rows;
    bool packed;
    std::vector<HandCell> cells;
};

constexpr int kChannels = 4;
constexpr std::uint8_t W = 32, F = 0x0F, D = 0x0D;

// Pattern 0 is stored unpacked, pattern 1 packed. The song runs 0, 1, 0 and loops to order 1;
// the break in pattern 1 enters the second pass of pattern 0 at row 5, so rows 0-4 play once
// and rows 5-15 on every loop, with speed and tempo changing on the way.
const std::vector<HandPattern> kPatterns = {
    {16,
     false,
     {{0, 0, 49, 1, 0x50, W, 0x05},
      {0, 1, 0, 0, 0, F, 0x06},
      {0, 2, 0, 0, 0, W, 0x06},
      {0, 3, 0, 0, 0, F, 125},
      {5, 3, 0, 0, 0, W, 0x07},
      {8, 1, 0, 0, 0, F, 0x03},
      {12, 1, 0, 0, 0, W, 0x08},
      {12, 2, 0, 0, 0, F, 150}}},
    {8,
     true,
     {{0, 0, 0, 0, 0, F, 0x04},
      {0, 1, 0, 0, 0, F, 120},
      {0, 2, 0, 0, 0, W, 0x09},
      {0, 3, 52, 1, 0, 0, 0},
      {2, 0, 0, 0, 0, W, 0x0A},
      {2, 1, 0, 0, 0, W, 0x00},
      {2, 3, 0, 0, 0, W, 0x0B},
      {3, 1, 0, 0, 0, D, 0x05}}},
};
const std::vector<int> kOrders = {0, 1, 0};
constexpr int kRestart = 1;

// Little-endian fields of the given widths, in order.
void put(std::vector<char>& b, std::initializer_list<std::pair<std::uint32_t, int>> fields) {
    for (auto [value, width] : fields)
        for (int i = 0; i < width; ++i) b.push_back(char(value >> (8 * i)));
}
void putText(std::vector<char>& b, const std::string& s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) b.push_back(i < s.size() ? s[i] : 0);
}

const HandCell* findCell(const HandPattern& p, int row, int channel) {
    for (const HandCell& c : p.cells)
        if (c.row == row && c.channel == channel) return &c;
    return nullptr;
}

std::vector<char> handmadeModule() {
    std::vector<char> m;
    putText(m, "Extended Module: handmade", 37);
    m.push_back(0x1A);
    putText(m, "FastTracker v2.00", 20);
    // Version, header size, orders, restart, channels, patterns, instruments, linear
    // frequencies, speed 6, tempo 125, then the order table.
    put(m, {{0x0104, 2},
            {276, 4},
            {std::uint32_t(kOrders.size()), 2},
            {kRestart, 2},
            {kChannels, 2},
            {std::uint32_t(kPatterns.size()), 2},
            {1, 2},
            {1, 2},
            {6, 2},
            {125, 2}});
    for (int i = 0; i < 256; ++i)
        m.push_back(char(i < int(kOrders.size()) ? kOrders[std::size_t(i)] : 0));
    for (const HandPattern& p : kPatterns) {
        std::vector<char> data;
        for (int r = 0; r < p.rows; ++r)
            for (int c = 0; c < kChannels; ++c) {
                const HandCell* cell = findCell(p, r, c);
                const HandCell e = cell ? *cell : HandCell{r, c, 0, 0, 0, 0, 0};
                const std::uint8_t fields[5] = {e.note, e.instrument, e.volume, e.effect, e.param};
                int mask = 0;
                for (int f = 0; f < 5; ++f) mask |= fields[f] ? 1 << f : 0;
                if (p.packed) data.push_back(char(0x80 | mask));
                for (int f = 0; f < 5; ++f)
                    if (!p.packed || fields[f]) data.push_back(char(fields[f]));
            }
        put(m, {{9, 4}, {0, 1}, {std::uint32_t(p.rows), 2}, {std::uint32_t(data.size()), 2}});
        m.insert(m.end(), data.begin(), data.end());
    }
    // One instrument without envelopes: a looped 8-bit square wave of 64 bytes at volume 48.
    put(m, {{263, 4}});
    putText(m, "square", 22);
    put(m, {{0, 1}, {1, 2}, {40, 4}});
    m.insert(m.end(), 96 + 48 + 48 + 10 + 4 + 2 + 22, 0);
    put(m, {{64, 4}, {0, 4}, {64, 4}, {48, 1}, {0, 1}, {1, 1}, {128, 1}, {0, 1}, {0, 1}});
    putText(m, "square", 22);
    m.push_back(60);  // stored as differences: +60 once, -120 halfway
    m.insert(m.end(), 31, 0);
    m.push_back(char(-120));
    m.insert(m.end(), 31, 0);
    return m;
}

// When each sync command should start, worked out from the pattern data the way FT2 plays
// it: Fxx below 32 sets the speed, from 32 the tempo (a tick is 2.5 / tempo s), both from the
// row that carries them; Dxx ends the pattern and enters the next order at the given row.
struct Expected {
    unsigned value, order, row;
    std::int64_t start;  // audio frames from the start of background play
};

std::vector<Expected> expectedDeliveries(std::int64_t untilFrame) {
    std::vector<Expected> out;
    int speed = 6, tempo = 125, order = 0, row = 0;
    std::int64_t t = 0;
    while (t < untilFrame) {
        const HandPattern& p = kPatterns[std::size_t(kOrders[std::size_t(order)])];
        int nextRow = -1;
        for (int c = 0; c < kChannels; ++c) {
            const HandCell* cell = findCell(p, row, c);
            if (!cell) continue;
            if (cell->effect == F) (cell->param < 32 ? speed : tempo) = cell->param;
            if (cell->effect == W) out.push_back({cell->param, unsigned(order), unsigned(row), t});
            if (cell->effect == D) nextRow = (cell->param >> 4) * 10 + (cell->param & 15);
        }
        t += std::int64_t(speed) * 120000 / tempo;  // exact for the tempos used here
        if (nextRow >= 0) {
            ++order;
            row = nextRow;
        } else if (++row >= p.rows) {
            ++order;
            row = 0;
        }
        if (order >= int(kOrders.size())) order = kRestart;
    }
    return out;
}

// --- recording what the sound layer delivers ---------------------------------------------------
struct Delivery {
    unsigned value, order, row;
    std::int64_t at;  // MIDASextPlayPosition at the call
    bool operator==(const Delivery&) const = default;
};

std::mutex deliveriesLock;
std::vector<Delivery> deliveries;

void MIDAS_CALL recordSync(unsigned value, unsigned order, unsigned row) {
    std::lock_guard<std::mutex> hold(deliveriesLock);
    deliveries.push_back({value, order, row, MIDASextPlayPosition()});
}

void countObserved(unsigned, void* context) {
    ++*static_cast<int*>(context);
}

std::vector<Delivery> takeDeliveries() {
    std::lock_guard<std::mutex> hold(deliveriesLock);
    return std::move(deliveries);
}

// Every expected command that starts before `limit` came, in order, with its position and row,
// no earlier than its row's start and at most 2 ms (96 frames) of audio after it.
void expectOnTime(const std::vector<Delivery>& got, std::int64_t limit) {
    std::vector<Expected> want = expectedDeliveries(limit);
    while (!want.empty() && want.back().start + 96 > limit) want.pop_back();
    ASSERT_GE(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("delivery " + std::to_string(i));
        EXPECT_EQ(got[i].value, want[i].value);
        EXPECT_EQ(got[i].order, want[i].order);
        EXPECT_EQ(got[i].row, want[i].row);
        EXPECT_GE(got[i].at, want[i].start);
        EXPECT_LE(got[i].at, want[i].start + 96);
    }
}

class MidasTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = makeTempDir("midas");
        song = dir / "handmade.xm";
        const std::vector<char> bytes = handmadeModule();
        std::ofstream(song, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        takeDeliveries();
        MIDASextSetSyncObserver(nullptr, nullptr);
    }
    void TearDown() override {
        MIDASclose();
        MIDASextSetSyncObserver(nullptr, nullptr);
        MIDASextKeepAudio(false);
        fs::remove_all(dir);
    }
    // Virtual clock, sound system up, the hand-written song loaded and playing.
    MIDASmodulePlayHandle startVirtual(bool loop, unsigned volume) {
        hostInitVirtual(nullptr, 0, 0);
        EXPECT_TRUE(MIDASstartup());
        EXPECT_TRUE(MIDASinit());
        module = MIDASloadModule(song.c_str());
        EXPECT_NE(module, nullptr) << MIDASextLastError();
        const MIDASmodulePlayHandle handle = MIDASplayModule(module, loop);
        EXPECT_NE(handle, 0u);
        EXPECT_TRUE(MIDASsetMusicSyncCallback(handle, recordSync));
        EXPECT_TRUE(MIDASsetMusicVolume(handle, volume));
        return handle;
    }

    fs::path dir, song;
    MIDASmodule module = nullptr;
};

std::vector<std::int16_t> keptAudio() {
    std::size_t frames = 0;
    const std::int16_t* audio = MIDASextAudio(&frames);
    return std::vector<std::int16_t>(audio, audio + frames * 2);
}

}  // namespace

TEST_F(MidasTest, VirtualClockDeliversEveryCommandOnTimeOnEveryPass) {
    startVirtual(true, 64);
    int observedCount = 0;
    MIDASextSetSyncObserver(countObserved, &observedCount);
    ASSERT_TRUE(MIDASstartBackgroundPlay(0));
    // Sleeps of odd lengths, so the clock's steps do not line up with the rows.
    while (hostNow() < 10 * kHostSampleRate) hostSleep(7);
    const std::int64_t played = MIDASextPlayPosition();
    EXPECT_EQ(played, hostNow());
    const std::vector<Delivery> got = takeDeliveries();
    expectOnTime(got, played);
    EXPECT_EQ(got.size(), expectedDeliveries(played).size());
    EXPECT_EQ(observedCount, int(got.size()));
    // Ten seconds hold the first pass and several loops: rows 5 to 15 of order 2 came back.
    int loopedRow5 = 0;
    for (const Delivery& d : got) loopedRow5 += d.order == 2 && d.row == 5;
    EXPECT_GE(loopedRow5, 5);
}

TEST_F(MidasTest, SongWithoutLoopPlaysOnceThenFallsSilent) {
    startVirtual(false, 64);
    MIDASextKeepAudio(true);
    ASSERT_TRUE(MIDASstartBackgroundPlay(0));
    hostSleep(5000);
    const std::vector<Delivery> got = takeDeliveries();
    // One pass: orders 0, 1, 2, ending after pattern 0's last row at frame 116800.
    const std::vector<Expected> once = expectedDeliveries(116800);
    expectOnTime(got, 116800);
    EXPECT_EQ(got.size(), once.size());
    const std::vector<std::int16_t> audio = keptAudio();
    ASSERT_EQ(audio.size(), std::size_t(hostNow()) * 2);
    bool soundBefore = false, soundAfter = false;
    for (std::size_t i = 0; i < 2 * 116000; ++i) soundBefore |= audio[i] != 0;
    for (std::size_t i = 2 * 117000; i < audio.size(); ++i) soundAfter |= audio[i] != 0;
    EXPECT_TRUE(soundBefore);
    EXPECT_FALSE(soundAfter);
}

TEST_F(MidasTest, KeptAudioStartsWithSilenceFollowsTheVolumeAndRepeatsExactly) {
    auto run = [&](unsigned volume) {
        MIDASmodulePlayHandle handle = startVirtual(true, volume);
        MIDASextKeepAudio(true);
        hostSleep(100);  // before background play: silence
        EXPECT_TRUE(MIDASstartBackgroundPlay(0));
        hostSleep(1500);
        EXPECT_TRUE(MIDASstopModule(handle));
        hostSleep(200);  // after the stop: silence again
        std::vector<std::int16_t> audio = keptAudio();
        EXPECT_EQ(audio.size(), std::size_t(hostNow()) * 2);
        EXPECT_TRUE(MIDASfreeModule(module));
        EXPECT_TRUE(MIDASstopBackgroundPlay());
        EXPECT_TRUE(MIDASclose());
        return audio;
    };
    const std::vector<std::int16_t> full = run(64);
    const std::vector<Delivery> fullCues = takeDeliveries();
    const std::vector<std::int16_t> again = run(64);
    const std::vector<Delivery> againCues = takeDeliveries();
    const std::vector<std::int16_t> half = run(32);
    takeDeliveries();
    const std::vector<std::int16_t> quiet = run(0);
    const std::vector<Delivery> quietCues = takeDeliveries();

    EXPECT_EQ(full, again);
    ASSERT_EQ(fullCues.size(), againCues.size());
    for (std::size_t i = 0; i < fullCues.size(); ++i) EXPECT_EQ(fullCues[i].at, againCues[i].at);
    // At volume 0 the song still runs: the same cues arrive.
    EXPECT_EQ(quietCues.size(), fullCues.size());

    ASSERT_EQ(full.size(), std::size_t(1800 * 48 * 2));
    const std::size_t startAt = 100 * 48 * 2, stopAt = 1600 * 48 * 2;
    int loud = 0;
    for (std::size_t i = 0; i < full.size(); ++i) {
        if (i < startAt || i >= stopAt) {
            ASSERT_EQ(full[i], 0) << "sample " << i << " outside background play";
            continue;
        }
        loud += std::abs(full[i]) > 1000;
        // Linear volume: half the volume, half the amplitude (to the rounding).
        ASSERT_LE(std::abs(2 * half[i] - full[i]), 2) << "sample " << i;
        ASSERT_EQ(quiet[i], 0);
    }
    EXPECT_GT(loud, 10000);
}

// Music that no one hears (a recording without audio) is rendered in draft quality; its rows,
// and so every sync command and the frame it arrives at, stay where full quality puts them.
TEST_F(MidasTest, MusicNobodyHearsDeliversTheSameCuesAsMusicThatIsKept) {
    auto run = [&](bool keep) {
        startVirtual(true, 64);
        MIDASextKeepAudio(keep);
        EXPECT_TRUE(MIDASstartBackgroundPlay(0));
        while (hostNow() < 8 * kHostSampleRate) hostSleep(7);
        EXPECT_TRUE(MIDASstopBackgroundPlay());
        EXPECT_TRUE(MIDASclose());
        MIDASextKeepAudio(false);
        return takeDeliveries();
    };
    const std::vector<Delivery> kept = run(true);
    const std::vector<Delivery> unheard = run(false);
    expectOnTime(unheard, 8 * kHostSampleRate);
    EXPECT_EQ(kept.size(), unheard.size());
    EXPECT_TRUE(kept == unheard) << "a cue's value, place in the song or frame differs";
}

TEST_F(MidasTest, FailuresGiveZeroResults) {
    hostInitVirtual(nullptr, 0, 0);
    ASSERT_TRUE(MIDASstartup());
    ASSERT_TRUE(MIDASinit());
    EXPECT_FALSE(MIDASinit()) << "a second init while open";

    EXPECT_EQ(MIDASloadModule((dir / "missing.xm").c_str()), nullptr);
    EXPECT_NE(std::string(MIDASextLastError()), "");
    std::ofstream(dir / "empty.xm").close();
    EXPECT_EQ(MIDASloadModule((dir / "empty.xm").c_str()), nullptr);
    EXPECT_NE(std::string(MIDASextLastError()).find("empty"), std::string::npos);
    std::ofstream(dir / "text.xm") << "This is not a module, only some words in a text file.\n";
    EXPECT_EQ(MIDASloadModule((dir / "text.xm").c_str()), nullptr);
    // A module cut short anywhere: in its patterns, its instrument, its sample data.
    const std::vector<char> whole = handmadeModule();
    for (std::size_t length :
         {std::size_t(60), std::size_t(400), std::size_t(700), whole.size() - 1}) {
        std::ofstream(dir / "cut.xm", std::ios::binary).write(whole.data(), length);
        EXPECT_EQ(MIDASloadModule((dir / "cut.xm").c_str()), nullptr) << length;
        EXPECT_NE(std::string(MIDASextLastError()).find("damaged"), std::string::npos)
            << length << ": " << MIDASextLastError();
    }
    EXPECT_EQ(MIDASloadModule(nullptr), nullptr);
    EXPECT_EQ(MIDASloadModule(dir.c_str()), nullptr);

    module = MIDASloadModule(song.c_str());
    ASSERT_NE(module, nullptr);
    const MIDASmodulePlayHandle handle = MIDASplayModule(module, TRUE);
    ASSERT_NE(handle, 0u);
    EXPECT_FALSE(MIDASsetMusicVolume(handle, 65));
    EXPECT_NE(std::string(MIDASextLastError()).find("65"), std::string::npos);
    EXPECT_FALSE(MIDASsetMusicVolume(handle, 1000));
    EXPECT_TRUE(MIDASsetMusicVolume(handle, 64));
    EXPECT_TRUE(MIDASsetMusicVolume(handle, 0));
    EXPECT_FALSE(MIDASsetMusicVolume(handle + 1, 32));
    EXPECT_FALSE(MIDASsetMusicSyncCallback(handle + 1, recordSync));
    EXPECT_FALSE(MIDASplayModule(nullptr, TRUE));
    EXPECT_FALSE(MIDASplayModule(reinterpret_cast<MIDASmodule>(&dir), TRUE));
    EXPECT_FALSE(MIDASstopModule(handle + 1));
}

TEST_F(MidasTest, CallsInTheWrongOrderFailWithoutHarm) {
    hostInitVirtual(nullptr, 0, 0);
    // Before init (startup may have run in an earlier test of this process).
    EXPECT_FALSE(MIDASplayModule(nullptr, TRUE));
    EXPECT_FALSE(MIDASstartBackgroundPlay(0));
    EXPECT_FALSE(MIDASstopBackgroundPlay());
    EXPECT_FALSE(MIDASclose());
    EXPECT_FALSE(MIDASstopModule(1));

    ASSERT_TRUE(MIDASstartup());
    ASSERT_TRUE(MIDASinit());
    module = MIDASloadModule(song.c_str());
    ASSERT_NE(module, nullptr);
    MIDASmodulePlayHandle handle = MIDASplayModule(module, TRUE);
    ASSERT_TRUE(MIDASsetMusicSyncCallback(handle, recordSync));
    EXPECT_TRUE(MIDASstopBackgroundPlay()) << "stopping what never started is harmless";
    ASSERT_TRUE(MIDASstartBackgroundPlay(0));
    ASSERT_TRUE(MIDASstartBackgroundPlay(0)) << "a second start changes nothing";
    hostSleep(100);
    // Freeing the playing module stops it first.
    EXPECT_TRUE(MIDASfreeModule(module));
    EXPECT_FALSE(MIDASfreeModule(module));
    EXPECT_FALSE(MIDASstopModule(handle));
    EXPECT_FALSE(MIDASsetMusicVolume(handle, 10));
    takeDeliveries();
    hostSleep(2000);
    EXPECT_TRUE(takeDeliveries().empty());
    // Closing with background play running and a module still loaded tidies both.
    module = MIDASloadModule(song.c_str());
    handle = MIDASplayModule(module, TRUE);
    ASSERT_NE(handle, 0u);
    EXPECT_TRUE(MIDASclose());
    EXPECT_FALSE(MIDASclose());
    EXPECT_FALSE(MIDASstopModule(handle));
    hostSleep(100);  // the closed layer no longer follows the clock
    EXPECT_TRUE(takeDeliveries().empty());
    // And it opens again.
    ASSERT_TRUE(MIDASinit());
    module = MIDASloadModule(song.c_str());
    handle = MIDASplayModule(module, TRUE);
    ASSERT_TRUE(MIDASsetMusicSyncCallback(handle, recordSync));
    ASSERT_TRUE(MIDASstartBackgroundPlay(0));
    hostSleep(10);
    EXPECT_EQ(takeDeliveries().size(), 2u);
}

// Live outputs run on wall-clock threads; positions are measured in audio frames rendered, so
// the checks do not depend on how fast the machine is. Each run is bounded to a few seconds.
namespace {

constexpr std::int64_t kLiveFrames = 90000;  // 1.9 s: all of pattern 0, then the break

std::vector<Delivery> playLive() {
    EXPECT_TRUE(MIDASstartBackgroundPlay(0));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (MIDASextPlayPosition() < kLiveFrames && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(MIDASstopBackgroundPlay());
    EXPECT_GE(MIDASextPlayPosition(), kLiveFrames) << "the output stalled";
    return takeDeliveries();
}

// Chooses SDL's audio driver for one test (ctest sets "dummy" for the whole run).
struct AudioDriver {
    explicit AudioDriver(const char* name) { setenv("SDL_AUDIODRIVER", name, 1); }
    ~AudioDriver() { setenv("SDL_AUDIODRIVER", "dummy", 1); }
};

}  // namespace

TEST_F(MidasTest, DummyAudioDeviceDeliversOnTimeInAudioFrames) {
    AudioDriver driver("dummy");
    hostInitLive();
    ASSERT_TRUE(MIDASstartup());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(MIDASinit());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the dummy device opens";
    module = MIDASloadModule(song.c_str());
    ASSERT_NE(module, nullptr);
    const MIDASmodulePlayHandle handle = MIDASplayModule(module, TRUE);
    ASSERT_TRUE(MIDASsetMusicSyncCallback(handle, recordSync));
    const std::vector<Delivery> got = playLive();
    expectOnTime(got, kLiveFrames);
    EXPECT_TRUE(MIDASstopModule(handle));
    EXPECT_TRUE(MIDASfreeModule(module));
    EXPECT_TRUE(MIDASclose());
}

TEST_F(MidasTest, WithoutAudioDeviceSilentOutputKeepsRealTime) {
    AudioDriver driver("no-such-driver");
    hostInitLive();
    ASSERT_TRUE(MIDASstartup());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(MIDASinit());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("no usable audio device"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    module = MIDASloadModule(song.c_str());
    const MIDASmodulePlayHandle handle = MIDASplayModule(module, TRUE);
    ASSERT_TRUE(MIDASsetMusicSyncCallback(handle, recordSync));

    // Paced, not rushed: the output never gets ahead of the wall clock.
    const auto begin = std::chrono::steady_clock::now();
    testing::internal::CaptureStderr();
    const std::vector<Delivery> got = playLive();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_LE(double(MIDASextPlayPosition()), wall * kHostSampleRate + 48);
    expectOnTime(got, kLiveFrames);
    EXPECT_TRUE(MIDASclose());
}

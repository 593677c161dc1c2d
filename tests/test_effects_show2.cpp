// The whole show in virtual time, first title to banner: every entry with its cues, the captures.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "host.h"
#include "midas.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

struct Entry {
    double start = 0.0, end = 0.0;
    int swaps = 0;
};

std::vector<std::pair<std::string, Entry>> parseEntries(const std::string& json) {
    std::vector<std::pair<std::string, Entry>> entries;
    const std::regex row(
        R"re(\{"name": "(\w+)", "start": ([0-9.]+), "end": ([0-9.]+), "swaps": ([0-9]+))re");
    for (std::sregex_iterator it(json.begin(), json.end(), row), end; it != end; ++it)
        entries.push_back(
            {(*it)[1], {std::stod((*it)[2]), std::stod((*it)[3]), std::stoi((*it)[4])}});
    return entries;
}

std::vector<std::pair<double, int>> parseCues(const std::string& json) {
    std::vector<std::pair<double, int>> cues;
    const std::regex row(R"(\{"t": ([0-9.]+), "value": ([0-9]+)\})");
    for (std::sregex_iterator it(json.begin(), json.end(), row), end; it != end; ++it)
        cues.push_back({std::stod((*it)[1]), std::stoi((*it)[2])});
    return cues;
}

// Show times of the song's sync commands, found by playing the song in virtual time.
std::vector<double> songCueTimes(std::size_t count) {
    static std::vector<double> times;
    times.clear();
    hostInitVirtual(nullptr, 0, 0);
    MIDASstartup();
    MIDASinit();
    MIDASmodule module = MIDASloadModule((std::string(TARNOVEL_ASSETS) + "/Zudavez.xm").c_str());
    if (!module) return times;
    MIDASmodulePlayHandle handle = MIDASplayModule(module, TRUE);
    MIDASsetMusicSyncCallback(handle, [](unsigned, unsigned, unsigned) {});
    MIDASextSetSyncObserver([](unsigned, void*) { times.push_back(hostNowSeconds()); }, nullptr);
    MIDASstartBackgroundPlay(0);
    while (times.size() < count && hostNowSeconds() < 900) hostSleep(100);
    MIDASstopModule(handle);
    MIDASfreeModule(module);
    MIDASstopBackgroundPlay();
    MIDASclose();
    return times;
}

const char* const kShowOrder[] = {
    "setRenderState",
    "showTitles",
    "flatShadingScene",
    "texturedShadingScene",
    "environmentMappingScene",
    "rotationScene",
    "wavingFlagScene",
    "parameterizedSurfaceScene",
    "phongShadingScene",
    "showCredits",
    "fadeOutMusic",
    "showContactPages",
    "closeDisplay",
};

struct SceneCapture {
    const char* entry;
    const char* capture;
    int order;  // the scene's place among the seven
};

const SceneCapture kLaterScenes[] = {
    {"rotationScene", "Rotation.raw", 3},
    {"wavingFlagScene", "Canadian Flag.raw", 4},
    {"parameterizedSurfaceScene", "3D Parameterization.raw", 5},
    {"phongShadingScene", "Phong Shading.raw", 6},
};

}  // namespace

TEST(LaterScenesInTheShow, PlayFromTheFirstTitleToTheBannerAndCaptureOnS) {
    const fs::path dir = makeTempDir("whole-show");
    for (const auto& entry : fs::directory_iterator(TARNOVEL_ASSETS))
        fs::create_symlink(entry.path(), dir / entry.path().filename());

    // The titles take the first ten cues, then every scene a start cue and an end cue: press
    // 's' in the middle of each later scene's stretch of music.
    const std::vector<double> cue = songCueTimes(24);
    ASSERT_EQ(cue.size(), 24u);
    std::string keys;
    for (const SceneCapture& scene : kLaterScenes) {
        const double middle = (cue[10 + 2 * scene.order] + cue[11 + 2 * scene.order]) / 2.0;
        char at[64];
        std::snprintf(at, sizeof at, "%.2f:s", middle);
        keys += (keys.empty() ? "" : ",") + std::string(at);
    }

    const CommandResult show =
        runCommand(std::string(TARNOVEL_RECORD) + " --assets '" + dir.string() +
                       "' --stats stats.json --max-seconds 1200 --keys " + keys,
                   dir.string());
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("Tarnovel"), std::string::npos) << "the closing banner";

    const std::string stats = readFile(dir / "stats.json");
    const auto entries = parseEntries(stats);
    ASSERT_EQ(entries.size(), std::size(kShowOrder)) << stats.substr(0, 2000);
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].first, kShowOrder[i]);

    // Every effect scene takes one start cue and one end cue while it runs.
    const auto cues = parseCues(stats);
    std::map<std::string, Entry> byName(entries.begin(), entries.end());
    for (std::size_t i = 2; i < 9; ++i) {
        SCOPED_TRACE(kShowOrder[i]);
        const Entry& e = byName[kShowOrder[i]];
        int started = 0, ended = 0;
        for (const auto& [t, value] : cues)
            if (t > e.start && t < e.end) (value == 2 ? started : ended) += 1;
        EXPECT_EQ(started, 1);
        EXPECT_EQ(ended, 1);
        EXPECT_GT(e.swaps, 300);
    }

    // The later scenes, half-way through: a picture over the screen, not a black frame.
    for (const SceneCapture& scene : kLaterScenes) {
        SCOPED_TRACE(scene.capture);
        const std::string raw = readFile(dir / scene.capture);
        ASSERT_EQ(raw.size(), 921600u);
        int lit = 0;
        for (int y = 0; y < 480; y += 8)
            for (int x = 0; x < 640; x += 8) {
                const auto* p = reinterpret_cast<const unsigned char*>(&raw[(y * 640 + x) * 3]);
                lit += p[0] + p[1] + p[2] > 60;
            }
        EXPECT_GT(lit, 1500);
    }
    fs::remove_all(dir);
}

// Tests of the three object scenes inside the whole show, played by the recorder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "host.h"
#include "midas.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

struct Entry {
    double start = 0.0, end = 0.0;
    int swaps = 0;
};

std::map<std::string, Entry> parseEntries(const std::string& json) {
    std::map<std::string, Entry> entries;
    const std::regex row(
        R"re(\{"name": "(\w+)", "start": ([0-9.]+), "end": ([0-9.]+), "swaps": ([0-9]+))re");
    for (std::sregex_iterator it(json.begin(), json.end(), row), end; it != end; ++it)
        entries[(*it)[1]] = {std::stod((*it)[2]), std::stod((*it)[3]), std::stoi((*it)[4])};
    return entries;
}

std::vector<std::pair<double, int>> parseCues(const std::string& json) {
    std::vector<std::pair<double, int>> cues;
    const std::regex row(R"(\{"t": ([0-9.]+), "value": ([0-9]+)\})");
    for (std::sregex_iterator it(json.begin(), json.end(), row), end; it != end; ++it)
        cues.push_back({std::stod((*it)[1]), std::stoi((*it)[2])});
    return cues;
}

struct SceneRow {
    const char* entry;
    const char* capture;
};

const SceneRow kScenes[] = {
    {"flatShadingScene", "Flat Shading.raw"},
    {"texturedShadingScene", "Gouraud Shading and Specular Highlights.raw"},
    {"environmentMappingScene", "Environment Mapping.raw"},
};

// Show time of the song's `index`-th sync command, found by playing the song in virtual time.
double songCueTime(std::size_t index) {
    static std::vector<double> times;
    hostInitVirtual(nullptr, 0, 0);
    MIDASstartup();
    MIDASinit();
    MIDASmodule module = MIDASloadModule((std::string(TARNOVEL_ASSETS) + "/Zudavez.xm").c_str());
    if (!module) return 0.0;
    MIDASmodulePlayHandle handle = MIDASplayModule(module, TRUE);
    MIDASsetMusicSyncCallback(handle, [](unsigned, unsigned, unsigned) {});
    MIDASextSetSyncObserver([](unsigned, void*) { times.push_back(hostNowSeconds()); }, nullptr);
    MIDASstartBackgroundPlay(0);
    while (times.size() <= index && hostNowSeconds() < 600) hostSleep(100);
    MIDASstopModule(handle);
    MIDASfreeModule(module);
    MIDASstopBackgroundPlay();
    MIDASclose();
    return index < times.size() ? times[index] : 0.0;
}

}  // namespace

TEST(ObjectScenesInTheShow, TakeTheirCuesDrawAndCaptureOnS) {
    const fs::path dir = makeTempDir("show-scenes");
    for (const auto& entry : fs::directory_iterator(TARNOVEL_ASSETS))
        fs::create_symlink(entry.path(), dir / entry.path().filename());
    // The rest of the show is not needed: stop a few seconds after the third scene's end cue
    // (cues 0 to 9 are the titles', then each scene takes a start and an end cue).
    const double thirdEnd = songCueTime(15);
    ASSERT_GT(thirdEnd, 0.0);
    const std::string limit = " --max-seconds " + std::to_string(int(thirdEnd) + 5);
    const std::string record = std::string(TARNOVEL_RECORD) + " --assets '" + dir.string() + "'";

    CommandResult first = runCommand(record + " --stats first.json" + limit, dir.string());
    const std::string stats = readFile(dir / "first.json");
    const auto entries = parseEntries(stats);
    const auto cues = parseCues(stats);
    std::string keys;
    for (const SceneRow& scene : kScenes) {
        SCOPED_TRACE(scene.entry);
        ASSERT_EQ(entries.count(scene.entry), 1u) << first.err;
        const Entry& e = entries.at(scene.entry);
        // A start cue, then an end cue, during the scene; a few seconds of frames.
        int started = 0, ended = 0;
        for (const auto& [t, value] : cues)
            if (t > e.start && t < e.end) (value == 2 ? started : ended) += 1;
        EXPECT_EQ(started, 1);
        EXPECT_EQ(ended, 1);
        EXPECT_GT(e.swaps, 300);
        char at[64];
        std::snprintf(at, sizeof at, "%.2f:s", (e.start + e.end) / 2.0);
        keys += (keys.empty() ? "" : ",") + std::string(at);
    }

    runCommand(record + " --keys " + keys + limit, dir.string());
    for (const SceneRow& scene : kScenes) {
        SCOPED_TRACE(scene.capture);
        const std::string raw = readFile(dir / scene.capture);
        ASSERT_EQ(raw.size(), 921600u);
        // Half-way through its stretch of music the scene stands in the middle of the picture
        // (the torus shows the background through its hole).
        int lit = 0;
        for (int y = 180; y < 300; y += 4)
            for (int x = 260; x < 380; x += 4) {
                const auto* p = reinterpret_cast<const unsigned char*>(&raw[(y * 640 + x) * 3]);
                lit += p[0] + p[1] + p[2] > 60;
            }
        EXPECT_GT(lit, 300);
    }
    fs::remove_all(dir);
}

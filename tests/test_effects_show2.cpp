// The whole show in virtual time, first title to banner: every entry with its cues, the captures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "host.h"
#include "midas.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

// Show times of the song's first `count` sync commands, found by playing it in virtual time.
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
// The captures of the four later scenes, the fourth to seventh of the seven.
const char* const kCaptures[] = {"Rotation.raw", "Canadian Flag.raw", "3D Parameterization.raw",
                                 "Phong Shading.raw"};

}  // namespace

TEST(LaterScenesInTheShow, PlayFromTheFirstTitleToTheBannerAndCaptureOnS) {
    const fs::path dir = makeTempDir("whole-show");
    for (const auto& entry : fs::directory_iterator(TARNOVEL_ASSETS))
        fs::create_symlink(entry.path(), dir / entry.path().filename());

    // The titles take the first ten cues, then every scene a start cue and an end cue: 's'
    // in the middle of each later scene's stretch of music.
    const std::vector<double> cue = songCueTimes(24);
    ASSERT_EQ(cue.size(), 24u);
    std::string keys;
    for (int scene = 3; scene < 7; ++scene) {
        char at[64];
        std::snprintf(at, sizeof at, "%s%.2f:s", keys.empty() ? "" : ",",
                      (cue[10 + 2 * scene] + cue[11 + 2 * scene]) / 2.0);
        keys += at;
    }
    const CommandResult show =
        runCommand(std::string(TARNOVEL_RECORD) + " --assets '" + dir.string() +
                       "' --stats stats.json --max-seconds 1200 --keys " + keys,
                   dir.string());
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("Tarnovel"), std::string::npos) << "the closing banner";

    // Every entry in order; every effect scene takes one start and one end cue while it runs.
    const std::string stats = readFile(dir / "stats.json");
    std::vector<double> cueTimes[3];
    const std::regex cueRow(R"(\{"t": ([0-9.]+), "value": ([12])\})");
    for (std::sregex_iterator it(stats.begin(), stats.end(), cueRow), end; it != end; ++it)
        cueTimes[std::stoi((*it)[2])].push_back(std::stod((*it)[1]));
    const std::regex entryRow(R"re(\{"name": "(\w+)", "start": ([0-9.]+), "end": ([0-9.]+))re");
    std::size_t index = 0;
    for (std::sregex_iterator it(stats.begin(), stats.end(), entryRow), end; it != end;
         ++it, ++index) {
        ASSERT_LT(index, std::size(kShowOrder));
        EXPECT_EQ((*it)[1], kShowOrder[index]);
        if (index < 2 || index > 8) continue;
        const double start = std::stod((*it)[2]), finish = std::stod((*it)[3]);
        for (int value : {1, 2})
            EXPECT_EQ(std::count_if(cueTimes[value].begin(), cueTimes[value].end(),
                                    [&](double t) { return t > start && t < finish; }),
                      1)
                << kShowOrder[index] << " cue " << value;
    }
    EXPECT_EQ(index, std::size(kShowOrder));
    for (const char* capture : kCaptures)
        EXPECT_EQ(fs::exists(dir / capture) ? fs::file_size(dir / capture) : 0, 921600u) << capture;
    fs::remove_all(dir);
}

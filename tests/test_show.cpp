// Whole-show tests: the recorder plays the show in virtual time from the built data files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

const std::string recorder = TARNOVEL_RECORD;
const std::string liveShow = TARNOVEL_BINARY;
const std::string assets = TARNOVEL_ASSETS;

struct CueRow {
    double t;
    int value;
};

std::vector<CueRow> parseCues(const std::string& json) {
    std::vector<CueRow> cues;
    const std::regex row(R"(\{"t": ([0-9.]+), "value": ([0-9]+)\})");
    for (std::sregex_iterator it(json.begin(), json.end(), row), end; it != end; ++it)
        cues.push_back({std::stod((*it)[1]), std::stoi((*it)[2])});
    return cues;
}

// The statistics less the figures that measure the machine rather than the show.
std::string withoutWallFigures(const std::string& json) {
    static const std::regex wall(R"("wall_seconds": [0-9.]+)");
    static const std::regex render(R"("render_ms": \{[^}]*\})");
    return std::regex_replace(std::regex_replace(json, wall, ""), render, "");
}

std::vector<std::string> listFiles(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return out;
}

}  // namespace

TEST(WholeShow, PlaysToTheEndAndIsDeterministic) {
    const fs::path dir = makeTempDir("show");
    std::string stats[2];
    std::string console[2];
    for (int run = 0; run < 2; ++run) {
        const fs::path out = dir / std::to_string(run);
        fs::create_directories(out);
        const CommandResult r =
            runCommand("'" + recorder + "' --assets '" + assets + "' --stats '" +
                       (out / "stats.json").string() + "' --frames '" + (out / "frames").string() +
                       "' --every 900 --wav '" + (out / "audio.wav").string() + "'");
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        console[run] = r.out;
        stats[run] = readFile(out / "stats.json");
    }
    // Two runs: the same console output, statistics, frames and audio.
    EXPECT_EQ(console[0], console[1]);
    EXPECT_EQ(withoutWallFigures(stats[0]), withoutWallFigures(stats[1]));
    const auto frames0 = listFiles(dir / "0" / "frames");
    ASSERT_EQ(frames0, listFiles(dir / "1" / "frames"));
    ASSERT_FALSE(frames0.empty());
    for (const auto& name : frames0)
        EXPECT_EQ(readFile(dir / "0" / "frames" / name), readFile(dir / "1" / "frames" / name))
            << name;
    const std::string audio = readFile(dir / "0" / "audio.wav");
    EXPECT_GT(audio.size(), 44u + 48000u * 4u * 5u);
    EXPECT_EQ(audio, readFile(dir / "1" / "audio.wav"));

    // The console ends with the sixteen banner lines.
    const auto out = lines(console[0]);
    ASSERT_GE(out.size(), 16u);
    const std::vector<std::string> banner(out.end() - 16, out.end());
    EXPECT_EQ(banner[0], "");
    EXPECT_EQ(banner[4], "  Contact Info:");
    EXPECT_EQ(banner[6], "  Home Address:                        Web:           ");

    EXPECT_NE(stats[0].find("\"exit_status\": 0"), std::string::npos);
    // The entries appear in the show's order, the render state first and the display last.
    const auto first = stats[0].find("\"name\": \"setRenderState\"");
    const auto fade = stats[0].find("\"name\": \"fadeOutMusic\"");
    const auto last = stats[0].find("\"name\": \"closeDisplay\"");
    EXPECT_NE(first, std::string::npos);
    EXPECT_LT(first, fade);
    EXPECT_LT(fade, last);
    // The pages' frame counts: titles 4 x (128 + 128) + 1 + 128, credits 15 x (64 + 64) + 64,
    // the contact pages one black frame and two pages.
    const std::regex swapsOf(
        R"re(\{"name": "(\w+)", "start": [0-9.]+, "end": [0-9.]+, "swaps": ([0-9]+))re");
    std::map<std::string, int> swaps;
    for (std::sregex_iterator it(stats[0].begin(), stats[0].end(), swapsOf), end; it != end; ++it)
        swaps[(*it)[1]] = std::stoi((*it)[2]);
    EXPECT_EQ(swaps["showTitles"], 1153);
    EXPECT_EQ(swaps["showCredits"], 1984);
    EXPECT_EQ(swaps["showContactPages"], 3);

    // The cues the sound layer delivered: the show's schedule, in order, at rising times.
    const auto cues = parseCues(stats[0]);
    std::vector<int> expected;
    for (int i = 0; i < 5 + 7 + 15; ++i) expected.insert(expected.end(), {2, 1});
    expected.insert(expected.end(), {2, 2});
    ASSERT_GE(cues.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(cues[i].value, expected[i]) << "cue " << i;
        if (i) {
            EXPECT_GT(cues[i].t, cues[i - 1].t) << "cue " << i;
        }
    }
    // Each effect scene runs 15 to 30 s from its start cue to its end cue, and the show lasts
    // 4 to 6 minutes from launch to the last credit cue.
    for (int scene = 0; scene < 7; ++scene) {
        const double run = cues[11 + 2 * scene].t - cues[10 + 2 * scene].t;
        EXPECT_GE(run, 15.0) << "scene " << scene;
        EXPECT_LE(run, 30.0) << "scene " << scene;
    }
    EXPECT_GE(cues[expected.size() - 1].t, 240.0);
    EXPECT_LE(cues[expected.size() - 1].t, 360.0);
    fs::remove_all(dir);
}

TEST(WholeShow, SongMissingIsFatalBeforeTheDisplayOpens) {
    const fs::path dir = makeTempDir("nosong");
    const CommandResult r = runCommand("'" + recorder + "' --stats s.json", dir.string());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\"Zudavez.xm\" not found.  Fatal Error.\n");
    // The statistics are written however the run ends; no entry of the show ran.
    const std::string stats = readFile(dir / "s.json");
    EXPECT_NE(stats.find("\"exit_status\": 255"), std::string::npos);
    EXPECT_NE(stats.find("\"swaps\": 0"), std::string::npos);
    EXPECT_NE(stats.find("\"entries\": []"), std::string::npos);
    fs::remove_all(dir);
}

TEST(WholeShow, LiveShowWithoutDisplayGivesTheBoardMessage) {
    // The live program with no window system: the sound system starts, then the board check
    // fails with the 1999 message and status -1.
    const CommandResult r =
        runCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy '" +
                       liveShow + "'",
                   assets);
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_EQ(r.out, "\nSorry.  You require a Voodoo graphics video card to run this program.");
}

TEST(WholeShow, SongThatIsNotAModuleIsFatal) {
    const fs::path dir = makeTempDir("badsong");
    {
        std::FILE* f = std::fopen((dir / "Zudavez.xm").c_str(), "w");
        std::fputs("this is not a module\n", f);
        std::fclose(f);
    }
    const CommandResult r = runCommand("'" + recorder + "'", dir.string());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Fatal Error:  Couldn't load \"Zudavez.xm\"", 0), 0u) << r.out;
    fs::remove_all(dir);
}

TEST(WholeShow, TimeLimitStopsTheShowWithStatistics) {
    const fs::path dir = makeTempDir("limit");
    const CommandResult r =
        runCommand("'" + recorder + "' --assets '" + assets + "' --max-seconds 2 --stats '" +
                   (dir / "s.json").string() + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("time limit"), std::string::npos);
    const std::string stats = readFile(dir / "s.json");
    EXPECT_NE(stats.find("\"exit_status\": 3"), std::string::npos);
    fs::remove_all(dir);
}

// A kernel width the rasterizer does not have is named on the console, and the show goes on
// with the widest the processor has.
TEST(WholeShow, AnUnknownKernelWidthIsNamedAndTheShowGoesOn) {
    const fs::path dir = makeTempDir("lanes");
    const CommandResult r =
        runCommand("TARNOVEL_VECTOR_LANES=12 '" + recorder + "' --assets '" + assets +
                   "' --max-seconds 2 --stats '" + (dir / "s.json").string() + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("TARNOVEL_VECTOR_LANES is \"12\"; it can be 8 or 16"), std::string::npos)
        << r.err;
    fs::remove_all(dir);
}

TEST(WholeShow, BadOptionsAreRefusedWithUsage) {
    for (const char* args :
         {"--every 5", "--keys 12:", "--keys x:s", "--bogus", "--max-seconds -1"}) {
        const CommandResult r = runCommand("'" + recorder + "' " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage: tarnovel-record"), std::string::npos) << args;
    }
}

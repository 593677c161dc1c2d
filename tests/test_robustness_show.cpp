// Bad inputs in the whole show, played by the recorder: a data folder with damaged textures and
// objects, captures that cannot be written and bursts of keys, where the show goes on to its
// end; and songs the show cannot follow, where it ends at once or says why it waits.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "song_schedule.h"
#include "test_robustness.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

const std::string recorder = TARNOVEL_RECORD;
const std::string assets = TARNOVEL_ASSETS;

// A folder with links to the built data files, which a test may then replace one by one.
fs::path linkedAssets(const std::string& stem) {
    const fs::path dir = makeTempDir(stem);
    for (const auto& entry : fs::directory_iterator(assets))
        fs::create_symlink(entry.path(), dir / entry.path().filename());
    return dir;
}

void replaceFile(const fs::path& path, const std::string& bytes) {
    fs::remove(path);
    std::ofstream(path, std::ios::binary) << bytes;
}

// Show time, in seconds, of the song's `index`-th cue.
double cueSeconds(std::size_t index) {
    return song::cueSchedule().at(index).row * song::kRowSeconds;
}

// The middle of effect scene `scene` (0 to 6, in the show's order) as the song schedules it:
// its start cue is cue 10 + 2 x scene, its end cue the next.
double sceneMiddle(int scene) {
    return (cueSeconds(std::size_t(10 + 2 * scene)) + cueSeconds(std::size_t(11 + 2 * scene))) /
           2.0;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void writeSong(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

TEST(ShowWithBadData, GoesOnPastDamagedFilesFailedCapturesAndKeyBursts) {
    const fs::path dir = linkedAssets("baddata");
    // The textured scene's backdrop cut in half, its skin in a format nobody knows, the
    // environment-mapping scene's object with a word among its numbers.
    const std::string backdrop = readFile(fs::path(assets) / "DENDRI.3df");
    replaceFile(dir / "DENDRI.3df", backdrop.substr(0, backdrop.size() / 2));
    std::string skin = readFile(fs::path(assets) / "REDDUS.3df");
    skin.replace(skin.find("rgb565"), 6, "rgb555");
    replaceFile(dir / "REDDUS.3df", skin);
    replaceFile(dir / "Torus4Pt2Radius.3d", "12\n0 0 zero\n");
    // The Phong scene's mask with a corner that names a point it does not have.
    replaceFile(dir / "MASK.PLG", "mask 3 1\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 1 7\n");
    // The first two scenes' captures: a folder in the way, and a disk that is full.
    fs::create_directory(dir / "Flat Shading.raw");
    fs::create_symlink("/dev/full", dir / "Gouraud Shading and Specular Highlights.raw");

    char keys[256];
    std::snprintf(keys, sizeof keys, "%.2f:s,%.2f:s", sceneMiddle(0), sceneMiddle(1));
    std::string script = keys;
    // A burst of sixty keys at one instant, two seconds after the second capture: the scene
    // reads one a frame and goes on.
    const double burst = sceneMiddle(1) + 2.0;
    for (int i = 0; i < 60; ++i) {
        std::snprintf(keys, sizeof keys, ",%.2f:%c", burst, 'a' + i % 26);
        script += keys;
    }
    const CommandResult r =
        runCommand("'" + recorder + "' --assets '" + dir.string() + "' --keys '" + script +
                       "' --stats stats.json --max-seconds 900",
                   dir.string());
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const char* messages[] = {
        "Error:  Screen Dump to \"Flat Shading.raw\" failed.\n\n",
        "Error.  Can't find \"DENDRI.3df\" texture file.\n\n",
        "Error.  Can't find \"REDDUS.3df\" texture file.\n\n",
        "Error:  Screen Dump to \"Gouraud Shading and Specular Highlights.raw\" failed.\n\n",
        "Error:  Object file \"Torus4Pt2Radius.3d\" holds something that is not a number.\n\n",
        "Error:  Polygon 0 of \"MASK.PLG\" names point 7, but the file has 3 points.\n\n",
    };
    std::size_t at = 0;
    for (const char* message : messages) {
        const std::size_t found = r.out.find(message, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << message << r.out;
        at = found;
    }
    EXPECT_TRUE(contains(r.err, "\"DENDRI.3df\" refused: file is truncated")) << r.err;
    EXPECT_TRUE(contains(r.err, "\"REDDUS.3df\" refused: unknown texture format")) << r.err;
    // The show went on to its end: every entry ran and the banner closes the console.
    const std::string stats = readFile(dir / "stats.json");
    for (const char* entry :
         {"\"texturedShadingScene\"", "\"environmentMappingScene\"", "\"phongShadingScene\"",
          "\"showCredits\"", "\"showContactPages\"", "\"closeDisplay\""})
        EXPECT_TRUE(contains(stats, entry)) << entry;
    EXPECT_TRUE(contains(r.out, "  Contact Info:\n  \n  Home Address:"));
    // Nothing was written through the folder, and the full disk kept nothing.
    EXPECT_TRUE(fs::is_directory(dir / "Flat Shading.raw"));
    EXPECT_TRUE(fs::is_empty(dir / "Flat Shading.raw"));
    fs::remove_all(dir);
}

// Songs the show cannot follow end it at start-up, before the display opens, with a message
// that names the song and says what is wrong with it.
TEST(ShowWithBadSong, EndsAtStartUpWithTheReason) {
    const fs::path dir = makeTempDir("badsongs");
    const std::vector<std::uint8_t> good = songWith({0, 1}, 0, {{0, 0, 2}, {0, 4, 1}}, 16);
    const std::string whole(good.begin(), good.end());
    const struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"empty", "", "Fatal Error:  Couldn't load \"Zudavez.xm\": the file is empty.\n\n"},
        {"truncated", whole.substr(0, whole.size() - 20),
         "Fatal Error:  Couldn't load \"Zudavez.xm\": the module is damaged: the file ends "
         "inside its sample data.\n\n"},
        {"no sync commands",
         [] {
             const auto bytes = songWith({0, 1}, 0, {}, 16);
             return std::string(bytes.begin(), bytes.end());
         }(),
         "Fatal Error:  \"Zudavez.xm\" has no sync commands (W01 and W02) to follow.\n\n"},
        {"only other sync values",
         [] {
             const auto bytes = songWith({0, 1}, 0, {{0, 0, 3}, {1, 0, 7}}, 16);
             return std::string(bytes.begin(), bytes.end());
         }(),
         "Fatal Error:  \"Zudavez.xm\" has no sync commands (W01 and W02) to follow.\n\n"},
        {"start cues only",
         [] {
             const auto bytes = songWith({0, 1}, 0, {{0, 0, 2}, {1, 0, 2}}, 16);
             return std::string(bytes.begin(), bytes.end());
         }(),
         "Fatal Error:  \"Zudavez.xm\" has no sync commands (W01 and W02) to follow.\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        replaceFile(dir / "Zudavez.xm", c.bytes);
        const CommandResult r = runCommand("'" + recorder + "' --stats s.json", dir.string());
        EXPECT_EQ(r.status, 255) << r.err;
        EXPECT_EQ(r.out, c.message);
        // No entry of the show ran: the display was never opened.
        EXPECT_TRUE(contains(readFile(dir / "s.json"), "\"entries\": []"));
    }
    fs::remove_all(dir);
}

// A song that carries the show's cues only on its first pass and then loops into patterns
// without any: the show takes what comes, then waits on the next cue and says so; the
// recorder's time limit ends the run with its statistics.
TEST(ShowWithBadSong, CuesOnlyOnTheFirstPassLeaveAWaitThatIsReported) {
    const fs::path dir = makeTempDir("firstpass");
    fs::create_symlink(fs::path(assets) / "font6000.3df", dir / "font6000.3df");
    // The first title page's start and end cues, in pattern 0; the song loops to pattern 1.
    writeSong(dir / "Zudavez.xm", songWith({0, 1}, 1, {{0, 0, 2}, {0, 8, 1}}, 16));
    const CommandResult r =
        runCommand("'" + recorder + "' --stats s.json --max-seconds 80", dir.string());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err,
                         "tarnovel: no cue from the music for 60 seconds; the song may "
                         "have no more sync commands."))
        << r.err;
    EXPECT_TRUE(contains(r.err, "time limit")) << r.err;
    const std::string stats = readFile(dir / "s.json");
    EXPECT_TRUE(contains(stats, "\"exit_status\": 3"));
    EXPECT_TRUE(contains(stats, "\"showTitles\""));
    EXPECT_FALSE(contains(stats, "\"flatShadingScene\""));
    fs::remove_all(dir);
}

// Tests of the PLG loader: lookup, limits, winding and split, the line quirks, refusals; the mask.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver.h"
#include "object3d.h"
#include "pipeline.h"
#include "plg_loader.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

Object3d object;  // 58 KB: static rather than on the test's stack

class PlgLoader : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
        std::memcpy(savedStart, startDirectory, sizeof savedStart);
        dir = makeTempDir("plg");
        std::snprintf(startDirectory, kStartDirectorySize, "%s", dir.c_str());
    }
    void TearDown() override {
        std::memcpy(startDirectory, savedStart, sizeof savedStart);
        EXPECT_EQ(chdir(savedDir), 0);
        fs::remove_all(dir);
    }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    // `points` points one a line, then `polygons` lines of `polygon`.
    static std::string file(long points, long polygons, const std::string& polygon) {
        std::string text =
            "object " + std::to_string(points) + " " + std::to_string(polygons) + "\n";
        for (long p = 0; p < points; ++p) text += std::to_string(p) + " 0.5 -2e1\n";
        for (long p = 0; p < polygons; ++p) text += polygon + "\n";
        return text;
    }
    // Loads `name` standing in `from` (the test's folder by default); the console output.
    std::string load(const char* name, bool* ok, const fs::path& from = {}) {
        EXPECT_EQ(chdir((from.empty() ? dir : from).c_str()), 0);
        return captureStdout([&] { *ok = loadPlgObject(name, &object); });
    }
    // The stored triangles, "a b c" each.
    static std::vector<std::string> triangles() {
        std::vector<std::string> list;
        for (int i = 0; i < object.triangleCount; ++i)
            list.push_back(std::to_string(object.cornerA[i]) + " " +
                           std::to_string(object.cornerB[i]) + " " +
                           std::to_string(object.cornerC[i]));
        return list;
    }

    fs::path dir;
    char savedDir[PATH_MAX] = {};
    char savedStart[kStartDirectorySize] = {};
};

using Triangles = std::vector<std::string>;

}  // namespace

TEST_F(PlgLoader, ReversesEachPolygonSplitsQuadrilateralsAndSkipsWhatIsNotAPolygon) {
    write("mix.plg",
          "mix 7 5\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n-2.5e-1 +3.5 7\n5 5 5\n6 6 6 after the points\n"
          "0x8001 4 0 1 2 3\n0x8002 3 4 5 6 and words 7 7\n0x8003 2 5 6\n0x8004 4 3 2 6 5\n"
          "0x8005 0\n");
    bool ok = false;
    EXPECT_EQ(load("mix.plg", &ok), "");
    ASSERT_TRUE(ok);
    ASSERT_EQ(object.pointCount, 7);
    EXPECT_EQ(object.pointX[4], -0.25f);
    EXPECT_EQ(object.pointY[4], 3.5f);
    EXPECT_EQ(object.pointZ[4], 7.0f);
    EXPECT_EQ(triangles(), (Triangles{"0 2 1", "0 3 2", "4 6 5", "3 6 2", "3 5 6"}));

    // The colour field must begin its line: indented, the colour is read as the vertex count,
    // here 3, and the corners are the next three numbers. Windows line ends are fine.
    write("indented.plg",
          "in-dented_1 5 2\r\n0 0 0\r\n1 0 0\r\n1 1 0\r\n0 1 0\r\n2 2 2\r\n"
          " 3 4 0 1 2 3\r\n3 4 0 1 2 3\r\n");
    EXPECT_EQ(load("indented.plg", &ok), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(triangles(), (Triangles{"4 1 0", "0 2 1", "0 3 2"}));
}

TEST_F(PlgLoader, LooksInThePlgFolderThenTheStartDirectoryAndStaysWhereItFoundTheFile) {
    bool ok = true;
    EXPECT_EQ(load("shape.plg", &ok), "Error:  Couldn't load OBJ_INPUT file!");
    EXPECT_FALSE(ok);

    // The start directory, when the loader stands elsewhere.
    fs::create_directory(dir / "elsewhere");
    write("shape.plg", file(4, 1, "0x1 3 0 1 2"));
    EXPECT_EQ(load("shape.plg", &ok, dir / "elsewhere"), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(object.pointCount, 4);
    EXPECT_EQ(fs::current_path(), fs::canonical(dir));

    // The PLG folder, a relative name under the current directory, comes first.
    fs::create_directory(dir / plgDirectory);
    write(std::string(plgDirectory) + "/shape.plg", file(6, 1, "0x1 3 0 1 2"));
    EXPECT_EQ(load("shape.plg", &ok), "");
    EXPECT_EQ(object.pointCount, 6);
    EXPECT_EQ(fs::current_path(), fs::canonical(dir / plgDirectory));
}

TEST_F(PlgLoader, LimitsAreInclusiveAndCheckedBeforeAnythingIsStored) {
    bool ok = false;
    // 2361 points and 4973 triangles: 2486 quadrilaterals and one triangle.
    std::string full = file(2361, 2487, "0x1 4 2360 0 1 2");
    write("full.plg", full.replace(full.rfind("0x1 4"), 16, "0x2 3 0 1 2"));
    EXPECT_EQ(load("full.plg", &ok), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(object.pointCount, 2361);
    EXPECT_EQ(object.triangleCount, 4973);
    EXPECT_EQ(triangles().back(), "0 2 1");

    const std::pair<std::string, std::string> refusals[] = {
        {file(2362, 1, "0x1 3 0 1 2"),
         "Error:  Too many points.\nMaximum Points = 2361\nObject Points = 2362\n\n"},
        {"w -1 1\n0 0 0\n",
         "Error:  Too many points.\nMaximum Points = 2361\nObject Points = 65535\n\n"},
        {file(4, 2487, "0x1 4 0 1 2 3"),
         "Error:  Too many polygons.\nMaximum Polys = 4973\nObject Polygons = 4974\n\n"},
        // A five-pointed polygon ends the load even when the triangles would fit.
        {"five 5 3\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n2 2 2\n0x1 3 0 1 2\n0x1 3 2 3 4\n0x1 5 0 1 2 3 4\n",
         "Error:  5 or greater pointed polygon.\n\n"},
    };
    for (const auto& [text, message] : refusals) {
        write("over.plg", text);
        EXPECT_EQ(load("over.plg", &ok), message);
        EXPECT_FALSE(ok);
        EXPECT_EQ(object.pointCount + object.triangleCount, 0);
    }
    // Counts are taken as their low 16 bits: 65539 points are 3.
    write("wraps.plg", "w 65539 1\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 1 2\n");
    EXPECT_EQ(load("wraps.plg", &ok), "");
    EXPECT_EQ(object.pointCount, 3);
}

TEST_F(PlgLoader, TruncatedAndBrokenFilesAreRefusedWithAMessage) {
    const std::string whole =
        "cut 4 3\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n0x1 3 0 1 2\n0x2 1 3\n0x3 4 0 1 2 3";
    // Every cut before the last digit ends inside something the loader still has to read.
    bool ok = true;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        write("cut.plg", whole.substr(0, length));
        EXPECT_EQ(load("cut.plg", &ok), "Error:  OBJ_INPUT file \"cut.plg\" ends early.\n\n")
            << length;
        EXPECT_EQ(object.pointCount + object.triangleCount, 0);
    }
    write("cut.plg", whole);
    EXPECT_EQ(load("cut.plg", &ok), "");

    const std::pair<const char*, const char*> cases[] = {
        {"bad 3 1\n0 0 0\n1 x 0\n0 1 0\n0x1 3 0 1 1\n",
         "Error:  OBJ_INPUT file \"bad.plg\" holds something that is not a number.\n\n"},
        {"bad 3 1\n0 0 0\n1 nan 0\n0 1 0\n0x1 3 0 1 2\n",
         "Error:  Point 1 of \"bad.plg\" is not a finite number.\n\n"},
        {"bad 3 2\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 1 2\n0x1 4 0 1 2 3\n",
         "Error:  Polygon 1 of \"bad.plg\" names point 3, but the file has 3 points.\n\n"},
        {"bad 3 1\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 -1 65536\n",
         "Error:  Polygon 0 of \"bad.plg\" names point -1, but the file has 3 points.\n\n"},
    };
    for (const auto& [text, message] : cases) {
        write("bad.plg", text);
        EXPECT_EQ(load("bad.plg", &ok), message);
        EXPECT_FALSE(ok);
        EXPECT_EQ(object.pointCount + object.triangleCount, 0);
    }
}

TEST_F(PlgLoader, TheMaskMixesTrianglesAndQuadrilateralsAndFacesTheViewer) {
    const std::string text = readFile(fs::path(TARNOVEL_ASSETS) / "MASK.PLG");
    int corners[10] = {};
    for (std::size_t at = text.find("\n0x"); at != std::string::npos;
         at = text.find("\n0x", at + 1))
        ++corners[text[text.find(' ', at) + 1] - '0'];
    EXPECT_GT(corners[3], 100);
    EXPECT_GT(corners[4], 100);

    std::snprintf(startDirectory, kStartDirectorySize, "%s", TARNOVEL_ASSETS);
    bool ok = false;
    EXPECT_EQ(load("MASK.PLG", &ok), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(object.triangleCount, corners[3] + 2 * corners[4]);

    // At rest (the viewer looks along +z) the normals face the viewer, and the nearest point,
    // the tip of the nose, lies in the middle of the face.
    static Vector3 normal[kMaxPoints];
    prepareObject(&object);
    computeVertexNormals(object, normal);
    int facing = 0, nearest = 0;
    for (int p = 0; p < object.pointCount; ++p) {
        facing += normal[p].z < 0.0f;
        if (object.pointZ[p] < object.pointZ[nearest]) nearest = p;
    }
    EXPECT_GT(facing, object.pointCount * 95 / 100);
    EXPECT_LT(std::fabs(object.pointX[nearest]), 10.0f);
}

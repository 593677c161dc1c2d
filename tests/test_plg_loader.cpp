// Tests of the PLG loader: lookup, limits, winding and split, the line quirks, refusals; the mask.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver.h"
#include "object3d.h"
#include "pipeline.h"
#include "plg_loader.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

Object3d object;  // 58 KB: static rather than on the test's stack
Vector3 normal[kMaxPoints];

class PlgLoader : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
        std::memcpy(savedStart, startDirectory, sizeof savedStart);
        dir = makeTempDir("plg");
        ASSERT_EQ(chdir(dir.c_str()), 0);
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
    // Loads `name` from the test's folder, returning the console output.
    std::string load(const char* name, bool* ok) {
        EXPECT_EQ(chdir(dir.c_str()), 0);
        return captureStdout([&] { *ok = loadPlgObject(name, &object); });
    }
    void expectTriangles(std::initializer_list<std::array<int, 3>> triangles) {
        ASSERT_EQ(object.triangleCount, triangles.size());
        int i = 0;
        for (const auto& t : triangles) {
            EXPECT_EQ(object.cornerA[i], t[0]) << i;
            EXPECT_EQ(object.cornerB[i], t[1]) << i;
            EXPECT_EQ(object.cornerC[i], t[2]) << i;
            ++i;
        }
    }

    fs::path dir;
    char savedDir[PATH_MAX] = {};
    char savedStart[kStartDirectorySize] = {};
};

}  // namespace

TEST_F(PlgLoader, ReversesEachPolygonAndSplitsQuadrilateralsAlongTheirFirstDiagonal) {
    write("mix.plg",
          "mix 7 5\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n-2.5e-1 +3.5 7\n5 5 5\n6 6 6\n"
          "0x8001 4 0 1 2 3\n"
          "0x8002 3 4 5 6\n"
          "0x8003 2 5 6\n"
          "0x8004 4 3 2 6 5\n"
          "0x8005 0\n");
    bool ok = false;
    EXPECT_EQ(load("mix.plg", &ok), "");
    ASSERT_TRUE(ok);
    ASSERT_EQ(object.pointCount, 7);
    EXPECT_EQ(object.pointX[4], -0.25f);
    EXPECT_EQ(object.pointY[4], 3.5f);
    EXPECT_EQ(object.pointZ[4], 7.0f);
    expectTriangles({{0, 2, 1}, {0, 3, 2}, {4, 6, 5}, {3, 6, 2}, {3, 5, 6}});
}

TEST_F(PlgLoader, AMissingFileGivesItsMessageAlone) {
    bool ok = true;
    EXPECT_EQ(load("nowhere.plg", &ok), "Error:  Couldn't load OBJ_INPUT file!");
    EXPECT_FALSE(ok);
    EXPECT_EQ(object.pointCount, 0);
    EXPECT_EQ(object.triangleCount, 0);
}

TEST_F(PlgLoader, LooksInThePlgFolderThenTheStartDirectoryAndStaysWhereItFoundTheFile) {
    // The start directory is not where the loader stands when it is called.
    const fs::path elsewhere = dir / "elsewhere";
    fs::create_directory(elsewhere);
    write("shape.plg", file(4, 1, "0x1 3 0 1 2"));
    bool ok = false;
    std::string out = captureStdout([&] {
        EXPECT_EQ(chdir(elsewhere.c_str()), 0);
        ok = loadPlgObject("shape.plg", &object);
    });
    EXPECT_EQ(out, "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(object.pointCount, 4);
    EXPECT_EQ(fs::current_path(), fs::canonical(dir));

    // The PLG folder, a relative name under the current directory, comes first.
    fs::create_directory(dir / plgDirectory);
    std::ofstream(dir / plgDirectory / "shape.plg") << file(6, 1, "0x1 3 0 1 2");
    EXPECT_EQ(load("shape.plg", &ok), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(object.pointCount, 6);
    EXPECT_EQ(fs::current_path(), fs::canonical(dir / plgDirectory));
}

TEST_F(PlgLoader, LimitsAreInclusiveAndCheckedBeforeAnythingIsStored) {
    bool ok = false;
    // 2361 points and 4973 triangles: 2486 quadrilaterals and one triangle.
    std::string full = file(2361, 2486, "0x1 4 2360 0 1 2");
    full += "0x2 3 0 1 2\n";
    full.replace(full.find(" 2486\n"), 6, " 2487\n");
    write("full.plg", full);
    EXPECT_EQ(load("full.plg", &ok), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(object.pointCount, 2361);
    EXPECT_EQ(object.triangleCount, 4973);
    EXPECT_EQ(object.cornerA[4972], 0);
    EXPECT_EQ(object.cornerB[4972], 2);
    EXPECT_EQ(object.cornerC[4972], 1);

    write("points.plg", file(2362, 1, "0x1 3 0 1 2"));
    EXPECT_EQ(load("points.plg", &ok),
              "Error:  Too many points.\nMaximum Points = 2361\nObject Points = 2362\n\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(object.pointCount, 0);

    write("polygons.plg", file(4, 2487, "0x1 4 0 1 2 3"));
    EXPECT_EQ(load("polygons.plg", &ok),
              "Error:  Too many polygons.\nMaximum Polys = 4973\nObject Polygons = 4974\n\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(object.triangleCount, 0);

    // Counts are taken as their low 16 bits: 65539 points are 3.
    write("wraps.plg", "w 65539 1\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 1 2\n");
    EXPECT_EQ(load("wraps.plg", &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(object.pointCount, 3);
    write("negative.plg", "w -1 1\n0 0 0\n");
    EXPECT_EQ(load("negative.plg", &ok),
              "Error:  Too many points.\nMaximum Points = 2361\nObject Points = 65535\n\n");
}

TEST_F(PlgLoader, AFivePointedPolygonEndsTheLoadEvenWhenTheTrianglesWouldFit) {
    std::string text = file(5, 3, "0x1 3 0 1 2");
    text.replace(text.rfind("0x1 3 0 1 2"), 11, "0x1 5 0 1 2 3 4");
    write("five.plg", text);
    bool ok = true;
    EXPECT_EQ(load("five.plg", &ok), "Error:  5 or greater pointed polygon.\n\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(object.triangleCount, 0);
}

TEST_F(PlgLoader, LineQuirks) {
    bool ok = false;
    // Text after the last point and after a polygon's indices is skipped with the line.
    write("extra.plg",
          "extra 4 2\n0 0 0\n1 0 0\n1 1 0\n0 1 0 the last point\n"
          "0x10 3 0 1 2 and some words 7 7 7\n0x11 3 1 2 3\n");
    EXPECT_EQ(load("extra.plg", &ok), "");
    ASSERT_TRUE(ok);
    expectTriangles({{0, 2, 1}, {1, 3, 2}});

    // The colour field must begin its line: indented, the colour is read as the vertex count,
    // here 3, and the corners are the next three numbers.
    write("indented.plg",
          "indented 5 2\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n2 2 2\n"
          " 3 4 0 1 2 3\n3 4 0 1 2 3\n");
    EXPECT_EQ(load("indented.plg", &ok), "");
    ASSERT_TRUE(ok);
    expectTriangles({{4, 1, 0}, {0, 2, 1}, {0, 3, 2}});

    // Windows line ends and a header name with odd characters.
    write("crlf.plg", "my-mask_1.0 3 1\r\n0 0 0\r\n1 0 0\r\n0 1 0\r\n0x1 3 0 1 2\r\n");
    EXPECT_EQ(load("crlf.plg", &ok), "");
    ASSERT_TRUE(ok);
    expectTriangles({{0, 2, 1}});
}

TEST_F(PlgLoader, TruncatedAndBrokenFilesAreRefusedWithAMessage) {
    const std::string whole =
        "cut 4 3\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n0x1 3 0 1 2\n0x2 1 3\n0x3 4 0 1 2 3";
    // Every cut before the last digit ends inside something the loader still has to read.
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        write("cut.plg", whole.substr(0, length));
        bool ok = true;
        EXPECT_EQ(load("cut.plg", &ok), "Error:  OBJ_INPUT file \"cut.plg\" ends early.\n\n");
        EXPECT_FALSE(ok);
        EXPECT_EQ(object.pointCount, 0);
        EXPECT_EQ(object.triangleCount, 0);
    }
    write("cut.plg", whole);
    bool ok = false;
    EXPECT_EQ(load("cut.plg", &ok), "");
    EXPECT_TRUE(ok);

    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"bad three 1\n",
         "Error:  OBJ_INPUT file \"bad.plg\" holds something that is not a number.\n\n"},
        {"bad 2 1\n0 0 0\n1 x 0\n0x1 3 0 1 1\n",
         "Error:  OBJ_INPUT file \"bad.plg\" holds something that is not a number.\n\n"},
        {"bad 3 1\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 one 2\n",
         "Error:  OBJ_INPUT file \"bad.plg\" holds something that is not a number.\n\n"},
        {"bad 3 1\n0 0 0\n1 nan 0\n0 1 0\n0x1 3 0 1 2\n",
         "Error:  Point 1 of \"bad.plg\" is not a finite number.\n\n"},
        {"bad 3 1\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 1 3\n",
         "Error:  Polygon 0 of \"bad.plg\" names point 3, but the file has 3 points.\n\n"},
        {"bad 3 2\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 1 2\n0x1 4 0 1 2 -1\n",
         "Error:  Polygon 1 of \"bad.plg\" names point -1, but the file has 3 points.\n\n"},
        {"bad 3 1\n0 0 0\n1 0 0\n0 1 0\n0x1 3 0 1 65536\n",
         "Error:  Polygon 0 of \"bad.plg\" names point 65536, but the file has 3 points.\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        write("bad.plg", c.text);
        bool refused = false;
        EXPECT_EQ(load("bad.plg", &refused), c.message);
        EXPECT_FALSE(refused);
        EXPECT_EQ(object.pointCount, 0);
        EXPECT_EQ(object.triangleCount, 0);
    }
}

TEST(MaskFile, IsAFaceOfTrianglesAndQuadrilateralsWithinTheLimitsTurnedTowardsTheViewer) {
    const std::string text = readFile(fs::path(TARNOVEL_ASSETS) / "MASK.PLG");
    int triangles = 0, quadrilaterals = 0;
    for (std::size_t at = text.find("\n0x"); at != std::string::npos;
         at = text.find("\n0x", at + 1)) {
        const std::size_t blank = text.find(' ', at);
        triangles += text.compare(blank, 3, " 3 ") == 0;
        quadrilaterals += text.compare(blank, 3, " 4 ") == 0;
    }
    EXPECT_GT(triangles, 100);
    EXPECT_GT(quadrilaterals, 100);

    char saved[kStartDirectorySize];
    std::memcpy(saved, startDirectory, sizeof saved);
    std::snprintf(startDirectory, kStartDirectorySize, "%s", TARNOVEL_ASSETS);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    bool ok = false;
    const std::string out = captureStdout([&] { ok = loadPlgObject("MASK.PLG", &object); });
    EXPECT_EQ(chdir(cwd), 0);
    std::memcpy(startDirectory, saved, sizeof saved);
    EXPECT_EQ(out, "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(object.triangleCount, triangles + 2 * quadrilaterals);

    // Seen from the front at rest (the viewer looks along +z), the mask's normals face the
    // viewer; the nose stands out towards the viewer from the middle of the face.
    prepareObject(&object);
    computeVertexNormals(object, normal);
    int facing = 0;
    float nearest = 0.0f, nearestX = 0.0f;
    for (int p = 0; p < object.pointCount; ++p) {
        facing += normal[p].z < 0.0f;
        if (object.pointZ[p] < nearest) {
            nearest = object.pointZ[p];
            nearestX = object.pointX[p];
        }
    }
    EXPECT_GT(facing, object.pointCount * 95 / 100);
    EXPECT_LT(std::fabs(nearestX), 10.0f);
}

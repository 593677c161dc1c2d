// Tests of the .3d object loader: limits as read, the quad split, lookup folder, refusals.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>

#include "object3d.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

Object3d object;  // 58 KB: static rather than on the test's stack

class ObjectLoader : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
        dir = makeTempDir("object");
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(savedDir), 0);
        fs::remove_all(dir);
    }

    static void write(const std::string& name, const std::string& text) {
        std::ofstream(name) << text;
    }
    // A file of `points` points on a line and `quads` copies of the quad (1, 2, 3, 4).
    static std::string grid(long points, long quads) {
        std::string text = std::to_string(points) + "\n";
        for (long p = 0; p < points; ++p) text += std::to_string(p) + " 0.5 -2e1\n";
        text += std::to_string(quads) + "\n";
        for (long q = 0; q < quads; ++q) text += "1 2 3 4\n";
        return text;
    }
    // Loads `name`, returning the console output; `ok` gets the result.
    static std::string load(const char* name, bool* ok) {
        return captureStdout([&] { *ok = loadObject3d(name, &object); });
    }

    fs::path dir;
    char savedDir[PATH_MAX] = {};
};

}  // namespace

TEST_F(ObjectLoader, ReadsPointsAndSplitsQuadsKeepingTheirWinding) {
    write("shape.3d", "5\n0 0 0  1 0 0\t1 1 0\n0 1 0\n-2.5e-1 +3.5 7\n2\n1 2 3 4   2 5 3 1\n");
    bool ok = false;
    EXPECT_EQ(load("shape.3d", &ok), "");
    ASSERT_TRUE(ok);
    ASSERT_EQ(object.pointCount, 5);
    EXPECT_EQ(object.pointX[4], -0.25f);
    EXPECT_EQ(object.pointY[4], 3.5f);
    EXPECT_EQ(object.pointZ[4], 7.0f);
    ASSERT_EQ(object.triangleCount, 4);
    const int expected[4][3] = {{0, 1, 2}, {0, 2, 3}, {1, 4, 2}, {1, 2, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(object.cornerA[i], expected[i][0]) << i;
        EXPECT_EQ(object.cornerB[i], expected[i][1]) << i;
        EXPECT_EQ(object.cornerC[i], expected[i][2]) << i;
    }
}

TEST_F(ObjectLoader, PointLimitIsInclusiveAndReportsTheCountAsRead) {
    bool ok = false;
    write("full.3d", grid(2361, 1));
    EXPECT_EQ(load("full.3d", &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(object.pointCount, 2361);

    write("over.3d", grid(2362, 1));
    EXPECT_EQ(load("over.3d", &ok), "Maximum Points = 2361\nObject Points = 2362\n\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(object.pointCount, 0);

    // Counts whose low 16 bits would pass are judged whole.
    for (const char* count : {"65539", "-1", "4294967299"}) {
        write("wraps.3d", std::string(count) + "\n0 0 0\n0 0 0\n0 0 0\n1\n1 2 3 1\n");
        EXPECT_EQ(load("wraps.3d", &ok),
                  "Maximum Points = 2361\nObject Points = " + std::string(count) + "\n\n");
        EXPECT_FALSE(ok) << count;
    }
}

TEST_F(ObjectLoader, PolygonLimitCountsTrianglesAndReportsTheDoubledCount) {
    bool ok = false;
    write("full.3d", grid(4, 2486));
    EXPECT_EQ(load("full.3d", &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(object.triangleCount, 4972);

    write("over.3d", grid(4, 2487));
    EXPECT_EQ(load("over.3d", &ok),
              "Error:  Too many polygons.\nMaximum Polys = 4973\nObject Polygons = 4974\n\n");
    EXPECT_FALSE(ok);

    // 32768 quads double to 65536, which 16 bits would see as 0; 65537 would be 1 quad.
    const std::pair<const char*, const char*> wrapping[] = {
        {"32768", "65536"}, {"65537", "131074"}, {"-3", "-6"}};
    for (const auto& [quads, reported] : wrapping) {
        write("wraps.3d", "4\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n" + std::string(quads) + "\n1 2 3 4\n");
        EXPECT_EQ(load("wraps.3d", &ok),
                  "Error:  Too many polygons.\nMaximum Polys = 4973\n"
                  "Object Polygons = " +
                      std::string(reported) + "\n\n");
        EXPECT_FALSE(ok) << quads;
        EXPECT_EQ(object.triangleCount, 0);
    }
}

TEST_F(ObjectLoader, BadFilesAreRefusedWithAMessageAndAnEmptyObject) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {nullptr, "Error:  Can't open \"bad.3d\" object file.\n\n"},
        {"", "Error:  Object file \"bad.3d\" ends early.\n\n"},
        {"3\n0 0 0\n1 1", "Error:  Object file \"bad.3d\" ends early.\n\n"},
        {"3\n0 0 0 1 1 1 2 2 2\n", "Error:  Object file \"bad.3d\" ends early.\n\n"},
        {"3\n0 0 0 1 1 1 2 2 2\n2\n1 2 3 3\n1 2", "Error:  Object file \"bad.3d\" ends early.\n\n"},
        {"three\n", "Error:  Object file \"bad.3d\" holds something that is not a number.\n\n"},
        {"3\n0 0 0 1 x 1 2 2 2\n1\n1 2 3 3\n",
         "Error:  Object file \"bad.3d\" holds something that is not a number.\n\n"},
        {"3\n0 0 0 1 1 1 2 2 2\n1\n1 2 3.5 3\n",
         "Error:  Object file \"bad.3d\" holds something that is not a number.\n\n"},
        {"2\n0 0 0 1 inf 1\n1\n1 2 2 1\n",
         "Error:  Point 2 of \"bad.3d\" is not a finite number.\n\n"},
        {"3\n0 0 0 1 1 1 2 2 2\n2\n1 2 3 3\n1 0 2 3\n",
         "Error:  Quad 2 of \"bad.3d\" names point 0; its points run from 1 to 3.\n\n"},
        {"3\n0 0 0 1 1 1 2 2 2\n1\n1 2 3 4\n",
         "Error:  Quad 1 of \"bad.3d\" names point 4; its points run from 1 to 3.\n\n"},
        {"3\n0 0 0 1 1 1 2 2 2\n1\n1 2 65539 3\n",
         "Error:  Quad 1 of \"bad.3d\" names point 65539; its points run from 1 to 3.\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        fs::remove("bad.3d");
        if (c.text) write("bad.3d", c.text);
        bool ok = true;
        EXPECT_EQ(load("bad.3d", &ok), c.message);
        EXPECT_FALSE(ok);
        EXPECT_EQ(object.pointCount, 0);
        EXPECT_EQ(object.triangleCount, 0);
    }
}

TEST_F(ObjectLoader, LooksInTheObjectFolderFirstAndStaysThere) {
    write("ring.3d", grid(3, 0));
    fs::create_directory(objectDirectory);
    std::ofstream(fs::path(objectDirectory) / "ring.3d") << grid(5, 0);
    bool ok = false;
    EXPECT_EQ(load("ring.3d", &ok), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(object.pointCount, 5);
    EXPECT_EQ(fs::current_path(), fs::canonical(dir / objectDirectory));
}

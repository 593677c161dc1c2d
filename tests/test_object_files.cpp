// Tests of the generated .3d objects: limits, closed and outward-wound, in front of the viewer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <utility>

#include "object3d.h"
#include "pipeline.h"
#include "test_util.h"

namespace {

Object3d object;

class ObjectFiles : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(savedDir, sizeof savedDir), nullptr);
        ASSERT_EQ(chdir(TARNOVEL_ASSETS), 0);
        bool ok = false;
        const std::string out = captureStdout([&] { ok = loadObject3d(GetParam(), &object); });
        EXPECT_EQ(out, "");
        ASSERT_TRUE(ok);
    }
    void TearDown() override { EXPECT_EQ(chdir(savedDir), 0); }
    char savedDir[PATH_MAX] = {};
};

bool degenerate(int i) {
    return object.cornerA[i] == object.cornerB[i] || object.cornerB[i] == object.cornerC[i] ||
           object.cornerA[i] == object.cornerC[i];
}

}  // namespace

TEST_P(ObjectFiles, AreClosedAndWoundOutwards) {
    EXPECT_GT(object.pointCount, 100);
    EXPECT_GT(object.triangleCount, 200);
    // Every edge of a closed surface is run once each way by its two triangles.
    std::map<std::pair<int, int>, int> edges;
    double volume6 = 0.0;
    for (int i = 0; i < object.triangleCount; ++i) {
        if (degenerate(i)) continue;
        const int c[3] = {object.cornerA[i], object.cornerB[i], object.cornerC[i]};
        for (int k = 0; k < 3; ++k) ++edges[{c[k], c[(k + 1) % 3]}];
        const Vector3 n = triangleCross(object, i);
        const double cx = (object.pointX[c[0]] + object.pointX[c[1]] + object.pointX[c[2]]) / 3.0;
        const double cy = (object.pointY[c[0]] + object.pointY[c[1]] + object.pointY[c[2]]) / 3.0;
        const double cz = (object.pointZ[c[0]] + object.pointZ[c[1]] + object.pointZ[c[2]]) / 3.0;
        volume6 += cx * n.x + cy * n.y + cz * n.z;
    }
    int unmatched = 0;
    for (const auto& [edge, count] : edges)
        if (count != 1 || edges.count({edge.second, edge.first}) == 0) ++unmatched;
    EXPECT_EQ(unmatched, 0);
    // With the normal (C - B) x (A - B) pointing out, the enclosed volume comes out positive:
    // the faces that meet the viewer are the ones the library keeps.
    EXPECT_GT(volume6, 0.0);
}

TEST_P(ObjectFiles, StayInFrontOfTheViewerAfterPreparation) {
    prepareObject(&object);
    float farthest = 0.0f;
    for (int p = 0; p < object.pointCount; ++p)
        farthest = std::max(farthest, std::sqrt(object.pointX[p] * object.pointX[p] +
                                                object.pointY[p] * object.pointY[p] +
                                                object.pointZ[p] * object.pointZ[p]));
    // Depth 1400 less the wobble of 100 must leave room.
    EXPECT_LT(farthest, 1000.0f);
    EXPECT_GT(farthest, 500.0f);
}

INSTANTIATE_TEST_SUITE_P(Generated, ObjectFiles,
                         ::testing::Values("orlen_comp3553.3d", "bowl.3d", "Torus4Pt2Radius.3d"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find_first_of("_."));
                         });

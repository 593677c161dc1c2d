// Tests of the object scenes' pipeline: normals, culling agreement, projection, lighting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "object3d.h"
#include "pipeline.h"
#include "scene_frame.h"

namespace {

Object3d object;
Vector3 normals[kMaxTriangles];

class Pipeline : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { buildTrigTables(); }
    void SetUp() override {
        std::memset(&object, 0, sizeof(object));
        slideOffset = 0.0f;
    }
    static void addPoint(float x, float y, float z) {
        const int p = object.pointCount++;
        object.pointX[p] = x;
        object.pointY[p] = y;
        object.pointZ[p] = z;
    }
    static void addTriangle(int a, int b, int c) {
        const int i = object.triangleCount++;
        object.cornerA[i] = std::uint16_t(a);
        object.cornerB[i] = std::uint16_t(b);
        object.cornerC[i] = std::uint16_t(c);
    }
    // A torus of `around` x `tube` points, quads split as the loader splits them.
    static void torus(int around, int tube) {
        for (int i = 0; i < around; ++i)
            for (int j = 0; j < tube; ++j) {
                const double u = 2 * M_PI * i / around, v = 2 * M_PI * j / tube;
                addPoint(float((4 + 2 * std::cos(v)) * std::cos(u)),
                         float((4 + 2 * std::cos(v)) * std::sin(u)), float(2 * std::sin(v)));
            }
        auto at = [&](int i, int j) { return (i % around) * tube + (j % tube); };
        for (int i = 0; i < around; ++i)
            for (int j = 0; j < tube; ++j) {
                addTriangle(at(i, j), at(i + 1, j), at(i + 1, j + 1));
                addTriangle(at(i, j), at(i + 1, j + 1), at(i, j + 1));
            }
    }
};

}  // namespace

TEST_F(Pipeline, PreparationCentresAndScalesByTheTruncatedMeanDistance) {
    // Mirrored pairs keep the centre at the origin; the distances count as 0, 0, 5 and 5.
    addPoint(0.9f + 10.0f, -0.9f, 0.5f);
    addPoint(-0.9f + 10.0f, 0.9f, -0.5f);
    addPoint(3.7f + 10.0f, 0.0f, -4.2f);
    addPoint(-3.7f + 10.0f, 0.0f, 4.2f);
    prepareObject(&object);
    const float factor = 500.0f / 2.5f;
    EXPECT_NEAR(object.pointX[2], 3.7f * factor, 0.01f);
    EXPECT_NEAR(object.pointZ[2], -4.2f * factor, 0.01f);
    EXPECT_NEAR(object.pointX[0], 0.9f * factor, 0.01f);
    EXPECT_NEAR(object.pointX[0] + object.pointX[1], 0.0f, 1e-3f);
}

TEST_F(Pipeline, PreparationOfDegenerateObjectsStaysFinite) {
    // Within one unit of its centre: scaled by the exact mean distance instead of 500 / 0.
    addPoint(0.5f, 0.0f, 0.0f);
    addPoint(-0.5f, 0.0f, 0.0f);
    prepareObject(&object);
    EXPECT_FLOAT_EQ(object.pointX[0], 500.0f);
    EXPECT_FLOAT_EQ(object.pointX[1], -500.0f);

    // All points in one place: moved to the origin, nothing divided by zero.
    object.pointCount = 0;
    addPoint(3.0f, 3.0f, 3.0f);
    addPoint(3.0f, 3.0f, 3.0f);
    prepareObject(&object);
    EXPECT_EQ(object.pointX[0], 0.0f);
    EXPECT_EQ(object.pointY[1], 0.0f);

    object.pointCount = 0;
    prepareObject(&object);  // no points: nothing to do
}

TEST_F(Pipeline, FaceNormalTowardsTheViewerMeansTheLibraryKeepsTheTriangle) {
    // Corners clockwise as the viewer sees them (x right, y up): the winding the loader keeps
    // for faces that are drawn.
    addPoint(0.0f, 0.0f, 0.0f);
    addPoint(0.0f, 100.0f, 0.0f);
    addPoint(100.0f, 0.0f, 0.0f);
    addPoint(50.0f, 50.0f, 0.0f);
    addTriangle(0, 1, 2);
    addTriangle(0, 3, 3);  // corners on one line
    computeFaceNormals(object, normals);
    EXPECT_EQ(normals[0].x, 0.0f);
    EXPECT_EQ(normals[0].y, 0.0f);
    EXPECT_EQ(normals[0].z, -1.0f);
    EXPECT_EQ(normals[1].x, 0.0f);
    EXPECT_EQ(normals[1].z, 0.0f);

    GrVertex v[4];
    rotateAndProject(object, ObjectAngles{0, 0, 0}, Vector3{0.0f, 0.0f, 1000.0f}, v);
    const float area =
        (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
    EXPECT_LT(area, 0.0f) << "positive-area culling would drop a face that meets the eye";
}

TEST_F(Pipeline, VertexNormalsMatchASearchOfEveryTriangleForEveryPoint) {
    torus(24, 12);
    addPoint(9.0f, 9.0f, 9.0f);  // used by no triangle
    computeVertexNormals(object, normals);
    for (int p = 0; p < object.pointCount - 1; ++p) {
        Vector3 sum = {0, 0, 0};
        int count = 0;
        for (int i = 0; i < object.triangleCount; ++i) {
            if (object.cornerA[i] != p && object.cornerB[i] != p && object.cornerC[i] != p)
                continue;
            const Vector3 n = triangleCross(object, i);
            sum.x += n.x;
            sum.y += n.y;
            sum.z += n.z;
            ++count;
        }
        const Vector3 mean = {sum.x / count, sum.y / count, sum.z / count};
        const float length = std::sqrt(mean.x * mean.x + mean.y * mean.y + mean.z * mean.z);
        ASSERT_EQ(normals[p].x, mean.x / length) << p;
        ASSERT_EQ(normals[p].y, mean.y / length) << p;
        ASSERT_EQ(normals[p].z, mean.z / length) << p;
        // On a torus that is wound outwards, each normal leaves the tube's core circle.
        const float px = object.pointX[p], py = object.pointY[p], pz = object.pointZ[p];
        const float ring = std::sqrt(px * px + py * py);
        const float out = normals[p].x * (px - 4 * px / ring) +
                          normals[p].y * (py - 4 * py / ring) + normals[p].z * pz;
        EXPECT_GT(out, 1.9f) << p;
    }
    const Vector3 unused = normals[object.pointCount - 1];
    EXPECT_EQ(unused.x, 0.0f);
    EXPECT_EQ(unused.y, 0.0f);
    EXPECT_EQ(unused.z, 0.0f);
}

TEST_F(Pipeline, PlanarMappingSpansTheTextureAcrossTheExtent) {
    float s[3], t[3];
    addPoint(-300.0f, 20.0f, 5.0f);
    addPoint(100.0f, -60.0f, 1.0f);
    addPoint(0.0f, 100.0f, -9.0f);
    computePlanarMapping(object, s, t);
    EXPECT_EQ(s[0], 0.0f);
    EXPECT_EQ(s[1], 256.0f);
    EXPECT_EQ(s[2], 192.0f);
    EXPECT_EQ(t[1], 0.0f);
    EXPECT_EQ(t[2], 256.0f);
    EXPECT_EQ(t[0], 128.0f);

    object.pointX[1] = object.pointX[2] = -300.0f;  // no x extent at all
    computePlanarMapping(object, s, t);
    EXPECT_EQ(s[0], 128.0f);
    EXPECT_EQ(s[1], 128.0f);
}

TEST_F(Pipeline, RotationAxesAndDirections) {
    const Vector3 none = {0, 0, 0};
    // A quarter turn about x takes +y to +z (away from the viewer); about y takes +x to -z;
    // about z takes +x to -y.
    Vector3 r = rotatePoint(0, 1, 0, ObjectAngles{16384, 0, 0}, none);
    EXPECT_NEAR(r.z, 1.0f, 1e-6f);
    r = rotatePoint(1, 0, 0, ObjectAngles{0, 16384, 0}, none);
    EXPECT_NEAR(r.z, -1.0f, 1e-6f);
    r = rotatePoint(1, 0, 0, ObjectAngles{0, 0, 16384}, none);
    EXPECT_NEAR(r.y, -1.0f, 1e-6f);

    // Normals turn exactly as points do, without the offsets.
    const ObjectAngles angles = {1234, 40000, 65000};
    const Vector3 p = rotatePoint(0.3f, -0.5f, 0.8f, angles, Vector3{10, 20, 30});
    const Vector3 n = rotateNormal(Vector3{0.3f, -0.5f, 0.8f}, angles);
    EXPECT_NEAR(p.x - 10.0f, n.x, 1e-5f);
    EXPECT_NEAR(p.y - 20.0f, n.y, 1e-5f);
    EXPECT_NEAR(p.z - 30.0f, n.z, 1e-5f);
    EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 0.98f, 1e-5f);
}

TEST_F(Pipeline, CentreProjectsToTheScreenCentreAndSnapsToSixteenths) {
    slideOffset = 0.0f;
    addPoint(0.0f, 0.0f, 0.0f);
    GrVertex v[1];
    rotateAndProject(object, ObjectAngles{0, 0, 0}, wobbleOffsets(WobbleAngles{0, 0, 0}, 1400.0f),
                     v);
    EXPECT_EQ(v[0].x, 320.0f);
    EXPECT_EQ(v[0].y, 240.0f);
    EXPECT_EQ(v[0].z, 1400.0f);
    EXPECT_EQ(v[0].oow, 1.0f / 1400.0f);

    // At depth 320 a camera-space unit is a pixel.
    const float offsets[][2] = {
        {0.03f, 320.0f}, {0.04f, 320.0625f}, {-0.05f, 319.9375f}, {100.49f, 420.5f}};
    for (const auto& [x, screen] : offsets) {
        projectPoint(Vector3{x, x, 320.0f}, &v[0]);
        EXPECT_EQ(v[0].x, screen) << x;
        EXPECT_EQ(v[0].y, screen - 80.0f) << x;
    }

    // The slide shifts the object sideways in camera space.
    slideOffset = 1400.0f;
    rotateAndProject(object, ObjectAngles{0, 0, 0}, wobbleOffsets(WobbleAngles{0, 0, 0}, 1400.0f),
                     v);
    EXPECT_EQ(v[0].x, 640.0f);
}

TEST_F(Pipeline, PointsAtOrBehindTheViewerAreMarkedNotDivided) {
    GrVertex v{};
    for (float z : {0.0f, -0.0f, -250.0f, 0.5f, NAN}) {
        projectPoint(Vector3{100.0f, -40.0f, z}, &v);
        EXPECT_EQ(v.oow, 0.0f) << z;
        EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y)) << z;
    }
    // Such a vertex keeps its texture values untouched rather than dividing by its depth.
    const float s[1] = {64.0f}, t[1] = {32.0f};
    v.tmuvtx[0] = {7.0f, 8.0f, 9.0f};
    setTextureCoordinates(&v, s, t, 0, 0, 0);
    EXPECT_EQ(v.tmuvtx[0].sow, 7.0f);
}

// A frame's projection and texture values are worked out for many points at once; each point
// must still get exactly what the one-point steps give it.
TEST_F(Pipeline, WholeObjectStepsGiveEachPointTheOnePointResult) {
    std::uint32_t seed = 12345;
    auto next = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * float(seed >> 8) / 16777216.0f;
    };
    // 8k + 5 points: the last ones are left over from the groups of eight. Some lie behind
    // the viewer, at it, or are not numbers.
    for (int p = 0; p < 8 * 37 + 5; ++p)
        addPoint(next(-600, 600), next(-600, 600), next(-600, 600));
    object.pointZ[3] = -1400.0f;
    object.pointZ[17] = NAN;
    object.pointX[40] = INFINITY;
    object.pointZ[299] = -1400.0f;
    float s[kMaxPoints], t[kMaxPoints];
    for (int p = 0; p < object.pointCount; ++p) {
        s[p] = next(-10, 300);
        t[p] = next(-10, 300);
    }
    for (int i = 0; i + 2 < object.pointCount; ++i)
        addTriangle(i, (i * 7 + 3) % object.pointCount, i + 2);

    static GrVertex whole[kMaxPoints], single[kMaxPoints];
    for (int frame = 0; frame < 6; ++frame) {
        const ObjectAngles angles{std::uint16_t(frame * 11111), std::uint16_t(frame * 7919),
                                  std::uint16_t(60000 - frame * 3001)};
        const Vector3 offset = wobbleOffsets(
            WobbleAngles{std::uint16_t(frame * 900), std::uint16_t(frame * 1300), 77}, 1000.0f);
        std::memset(whole, 0x5a, sizeof whole);
        std::memset(single, 0x5a, sizeof single);
        rotateAndProject(object, angles, offset, whole);
        for (int p = 0; p < object.pointCount; ++p)
            projectPoint(
                rotatePoint(object.pointX[p], object.pointY[p], object.pointZ[p], angles, offset),
                &single[p]);
        setPointTextureCoordinates(whole, s, t, object.pointCount);
        for (int i = 0; i < object.triangleCount; ++i)
            setTextureCoordinates(single, s, t, object.cornerA[i], object.cornerB[i],
                                  object.cornerC[i]);
        static Vector3 normal[kMaxPoints], turned[kMaxPoints];
        for (int p = 0; p < object.pointCount; ++p)
            normal[p] = {object.pointX[p] / 600.0f, object.pointY[p] / 600.0f,
                         object.pointZ[p] / 600.0f};
        rotateNormals(normal, object.pointCount, angles, turned);
        int behind = 0;
        for (int p = 0; p < object.pointCount; ++p) {
            const Vector3 one = rotateNormal(normal[p], angles);
            ASSERT_EQ(std::memcmp(&turned[p], &one, sizeof one), 0) << "normal " << p;
            behind += single[p].oow == 0.0f;
            // Bit for bit, NaN included.
            ASSERT_EQ(std::memcmp(&whole[p], &single[p], sizeof(GrVertex)), 0)
                << "frame " << frame << " point " << p;
        }
        EXPECT_GT(behind, 0);
        EXPECT_LT(behind, object.pointCount / 2);
    }
}

TEST_F(Pipeline, HeadlightAndSpecularLaws) {
    EXPECT_EQ(headlightDiffuse(-1.0f, 224.0f), 256.0f);
    EXPECT_EQ(headlightDiffuse(-1.0f, 223.0f), 255.0f);
    EXPECT_EQ(headlightDiffuse(0.0f, 223.0f), 32.0f);
    EXPECT_EQ(headlightDiffuse(-0.0f, 223.0f), 32.0f);
    EXPECT_EQ(headlightDiffuse(0.7f, 224.0f), 32.0f);
    EXPECT_FLOAT_EQ(headlightDiffuse(-0.85f, 223.0f), 32.0f + 223.0f * 0.85f);

    EXPECT_FLOAT_EQ(specularAlpha(-1.0f), 127.5f);
    EXPECT_EQ(specularAlpha(-0.85f), 0.0f);
    EXPECT_EQ(specularAlpha(0.0f), 0.0f);
    EXPECT_EQ(specularAlpha(-0.5f), 0.0f);
    EXPECT_NEAR(specularAlpha(-0.95f), 85.0f, 1e-3f);
    for (float nz = -1.0f; nz <= 1.0f; nz += 0.01f) {
        EXPECT_GE(specularAlpha(nz), 0.0f);
        EXPECT_LE(specularAlpha(nz), 127.5f);
    }
}

// Triangle setup against a plain scalar rebuild of it: every field of the setup (bounds, edges,
// the attribute planes bit for bit, the smallest 1/w) and the accept or reject decision must be
// what one double operation after another gives, whatever path the library takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_glide_support.h"

using namespace glidetest;

namespace {

// --- the setup one scalar step at a time --------------------------------------------------------

struct Snapped {
    std::int64_t x, y;
};

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return -floorDiv(-a, b);
}

Snapped snap(const GrVertex& v) {
    return {std::int64_t(std::nearbyint(double(v.x) * 16.0)),
            std::int64_t(std::nearbyint(double(v.y) * 16.0))};
}

glide::Edge edgeOf(Snapped p, Snapped q, int xRef, int yRef) {
    const std::int64_t dx = q.x - p.x, dy = q.y - p.y;
    glide::Edge e;
    e.ex = -16 * dy;
    e.ey = 16 * dx;
    e.e0 = dx * (16 * std::int64_t(yRef) + 8 - p.y) - dy * (16 * std::int64_t(xRef) + 8 - p.x);
    e.bias = dy < 0 || (dy == 0 && dx < 0) ? 0 : 1;
    return e;
}

struct Corners {
    double xa, ya, xb, yb, xc, yc, area, xRefCentre, yRefCentre;
};

glide::Plane planeOf(const Corners& k, float va, float vb, float vc) {
    const double a = va, b = vb, c = vc;
    const double dx = ((b - a) * (k.yc - k.ya) - (c - a) * (k.yb - k.ya)) / k.area;
    const double dy = ((c - a) * (k.xb - k.xa) - (b - a) * (k.xc - k.xa)) / k.area;
    glide::Plane p;
    p.c0 = float(a + dx * (k.xRefCentre - k.xa) + dy * (k.yRefCentre - k.ya));
    p.dx = float(dx);
    p.dy = float(dy);
    return p;
}

bool usable(const GrVertex& v) {
    return std::fabs(v.x) <= glide::kCoordinateLimit && std::fabs(v.y) <= glide::kCoordinateLimit &&
           v.oow > 0.0f && std::isfinite(v.oow);
}

bool scalarSetup(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                 const glide::RenderState& rs, glide::TriangleSetup* out) {
    if (!usable(a) || !usable(b) || !usable(c)) return false;
    const Snapped sa = snap(a), sb = snap(b), sc = snap(c);
    const std::int64_t area2 = (sb.x - sa.x) * (sc.y - sa.y) - (sc.x - sa.x) * (sb.y - sa.y);
    if (area2 == 0) return false;
    if (rs.cullMode == GR_CULL_POSITIVE && area2 > 0) return false;
    if (rs.cullMode == GR_CULL_NEGATIVE && area2 < 0) return false;
    const std::int64_t loX = std::min({sa.x, sb.x, sc.x}), hiX = std::max({sa.x, sb.x, sc.x});
    const std::int64_t loY = std::min({sa.y, sb.y, sc.y}), hiY = std::max({sa.y, sb.y, sc.y});
    auto clampRange = [](std::int64_t v, int lo, int hi) {
        return int(v < lo ? lo : (v > hi ? hi : v));
    };
    const int clipX0 = std::max(rs.clipMinX, 0), clipX1 = std::min(rs.clipMaxX, glide::kWidth);
    const int clipY0 = std::max(rs.clipMinY, 0), clipY1 = std::min(rs.clipMaxY, glide::kHeight);
    out->minX = clampRange(ceilDiv(loX - 8, 16), clipX0, clipX1);
    out->maxX = clampRange(floorDiv(hiX - 8, 16) + 1, clipX0, clipX1);
    out->minY = clampRange(ceilDiv(loY - 8, 16), clipY0, clipY1);
    out->maxY = clampRange(floorDiv(hiY - 8, 16) + 1, clipY0, clipY1);
    if (out->minX >= out->maxX || out->minY >= out->maxY) return false;
    out->xRef = out->minX;
    out->yRef = out->minY;
    const Snapped order[3] = {sa, area2 > 0 ? sb : sc, area2 > 0 ? sc : sb};
    for (int i = 0; i < 3; ++i)
        out->edge[i] = edgeOf(order[i], order[(i + 1) % 3], out->xRef, out->yRef);
    const Corners k{double(sa.x) / 16.0,   double(sa.y) / 16.0, double(sb.x) / 16.0,
                    double(sb.y) / 16.0,   double(sc.x) / 16.0, double(sc.y) / 16.0,
                    double(area2) / 256.0, out->xRef + 0.5,     out->yRef + 0.5};
    out->r = planeOf(k, a.r, b.r, c.r);
    out->g = planeOf(k, a.g, b.g, c.g);
    out->b = planeOf(k, a.b, b.b, c.b);
    out->a = planeOf(k, a.a, b.a, c.a);
    out->w = planeOf(k, a.oow, b.oow, c.oow);
    out->s = planeOf(k, a.tmuvtx[0].sow, b.tmuvtx[0].sow, c.tmuvtx[0].sow);
    out->t = planeOf(k, a.tmuvtx[0].tow, b.tmuvtx[0].tow, c.tmuvtx[0].tow);
    out->z = planeOf(k, a.ooz, b.ooz, c.ooz);
    out->minOow = std::min({a.oow, b.oow, c.oow});
    return true;
}

// --- comparison ---------------------------------------------------------------------------------

std::uint32_t bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

float fromBits(std::uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// The first field in which the two setups differ, or "" when they agree in every bit.
std::string difference(const glide::TriangleSetup& p, const glide::TriangleSetup& q) {
    std::ostringstream out;
    auto integer = [&out](const char* name, std::int64_t u, std::int64_t v) {
        if (u != v && out.tellp() == 0) out << name << ": " << u << " against " << v;
    };
    integer("xRef", p.xRef, q.xRef);
    integer("yRef", p.yRef, q.yRef);
    integer("minX", p.minX, q.minX);
    integer("maxX", p.maxX, q.maxX);
    integer("minY", p.minY, q.minY);
    integer("maxY", p.maxY, q.maxY);
    for (int i = 0; i < 3; ++i) {
        integer("edge e0", p.edge[i].e0, q.edge[i].e0);
        integer("edge ex", p.edge[i].ex, q.edge[i].ex);
        integer("edge ey", p.edge[i].ey, q.edge[i].ey);
        integer("edge bias", p.edge[i].bias, q.edge[i].bias);
    }
    const glide::Plane* const planes[2][8] = {{&p.r, &p.g, &p.b, &p.a, &p.w, &p.s, &p.t, &p.z},
                                              {&q.r, &q.g, &q.b, &q.a, &q.w, &q.s, &q.t, &q.z}};
    const char* const names[8] = {"r", "g", "b", "a", "w", "s", "t", "z"};
    for (int i = 0; i < 8; ++i) {
        const glide::Plane &u = *planes[0][i], &v = *planes[1][i];
        const float fu[3] = {u.c0, u.dx, u.dy}, fv[3] = {v.c0, v.dx, v.dy};
        const char* const parts[3] = {"c0", "dx", "dy"};
        // Two NaNs count as alike: which operand's NaN an addition passes on is the
        // compiler's choice of operand order, in either setup.
        for (int j = 0; j < 3; ++j)
            if (bits(fu[j]) != bits(fv[j]) && !(std::isnan(fu[j]) && std::isnan(fv[j])) &&
                out.tellp() == 0)
                out << "plane " << names[i] << " " << parts[j] << ": " << fu[j] << " (0x"
                    << std::hex << bits(fu[j]) << ") against " << fv[j] << " (0x" << bits(fv[j])
                    << std::dec << ")";
    }
    if (bits(p.minOow) != bits(q.minOow) && out.tellp() == 0)
        out << "minOow: " << p.minOow << " against " << q.minOow;
    return out.str();
}

// Sets up a triangle both ways; "" when the decision and, if accepted, every field agree.
std::string compareSetup(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                         const glide::RenderState& rs) {
    glide::TriangleSetup fast, plain;
    const bool drawn = glide::setupTriangle(a, b, c, rs, &fast);
    const bool expected = scalarSetup(a, b, c, rs, &plain);
    if (drawn != expected) return drawn ? "drawn, expected rejected" : "rejected, expected drawn";
    return drawn ? difference(fast, plain) : "";
}

// --- triangles ----------------------------------------------------------------------------------

struct Generator {
    std::mt19937 rng;
    explicit Generator(unsigned seed) : rng(seed) {}

    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
    int pick(int n) { return int(rng() % unsigned(n)); }

    // An attribute value from a mix of ordinary ranges and the awkward ones: any bit pattern
    // (NaNs with their payloads, infinities, subnormals), huge and tiny magnitudes.
    float attribute() {
        switch (pick(8)) {
            case 0:
                return fromBits(rng());
            case 1:
                return uniform(-1e30f, 1e30f);
            case 2:
                return uniform(-1e-30f, 1e-30f);
            case 3:
                return fromBits(0x7F800000u | (rng() & 0x807FFFFFu));  // NaN or infinity
            default:
                return uniform(-300.0f, 300.0f);
        }
    }

    // 1/w: mostly usable, sometimes negative, zero, huge, subnormal or not a number.
    float oneOverW() {
        switch (pick(12)) {
            case 0:
                return -uniform(0.0f, 2.0f);
            case 1:
                return 0.0f;
            case 2:
                return uniform(1e30f, 3e38f);
            case 3:
                return fromBits(1 + rng() % 0x7FFFFF);
            case 4:
                return fromBits(rng());
            default:
                return uniform(1e-4f, 2.0f);
        }
    }

    GrVertex corner(float x, float y, bool wild) {
        GrVertex v{};
        v.x = x;
        v.y = y;
        v.z = uniform(0, 1);
        if (wild) {
            v.r = attribute();
            v.g = attribute();
            v.b = attribute();
            v.a = attribute();
            v.ooz = attribute();
            v.oow = oneOverW();
            v.tmuvtx[0].sow = attribute();
            v.tmuvtx[0].tow = attribute();
        } else {
            v.r = uniform(0, 255);
            v.g = uniform(0, 255);
            v.b = uniform(0, 255);
            v.a = uniform(0, 255);
            v.ooz = uniform(0, 65535);
            v.oow = uniform(0.01f, 1.0f);
            v.tmuvtx[0].sow = uniform(0, 256) * v.oow;
            v.tmuvtx[0].tow = uniform(0, 256) * v.oow;
        }
        v.tmuvtx[0].oow = v.oow;
        return v;
    }

    // Three corners of one of the shapes the scenes and the clipper produce, and worse.
    void triangle(GrVertex* v) {
        const int shape = pick(6);
        const bool wild = pick(3) == 0;
        const float cx = uniform(-100, 740), cy = uniform(-100, 580);
        float spread = 0;
        switch (shape) {
            case 0:  // screen-sized
                spread = 300;
                break;
            case 1:  // tiny
                spread = uniform(0.01f, 2.0f);
                break;
            case 2:  // huge, up to the coordinate limit and beyond
                spread = uniform(1e4f, 2e7f);
                break;
            default:
                spread = 40;
                break;
        }
        for (int i = 0; i < 3; ++i)
            v[i] = corner(cx + uniform(-spread, spread), cy + uniform(-spread, spread), wild);
        if (shape == 3) {  // a sliver: the third corner close to the line through the first two
            const float t = uniform(-0.5f, 1.5f);
            v[2].x = v[0].x + (v[1].x - v[0].x) * t + uniform(-0.1f, 0.1f);
            v[2].y = v[0].y + (v[1].y - v[0].y) * t + uniform(-0.1f, 0.1f);
        } else if (shape == 4) {  // degenerate: corners on one line or on top of each other
            const float t = float(pick(5)) * 0.5f;
            v[2].x = v[0].x + (v[1].x - v[0].x) * t;
            v[2].y = v[0].y + (v[1].y - v[0].y) * t;
            if (pick(2)) v[1] = corner(v[0].x, v[0].y, wild);
        }
        if (pick(40) == 0) v[pick(3)].x = std::numeric_limits<float>::quiet_NaN();
        if (pick(40) == 0) v[pick(3)].y = std::numeric_limits<float>::infinity();
    }

    glide::RenderState state() {
        glide::RenderState rs;
        rs.cullMode = pick(3);
        if (pick(4) == 0) {
            rs.clipMinX = pick(700) - 30;
            rs.clipMaxX = pick(700) - 30;
            rs.clipMinY = pick(520) - 20;
            rs.clipMaxY = pick(520) - 20;
        }
        return rs;
    }
};

// --- tests ----------------------------------------------------------------------------------

TEST(TriangleSetup, RandomTrianglesMatchTheScalarSetupInEveryBit) {
    Generator gen(20261207);
    int drawn = 0, wildDrawn = 0;
    for (int i = 0; i < 200000; ++i) {
        GrVertex v[3];
        gen.triangle(v);
        const glide::RenderState rs = gen.state();
        const std::string d = compareSetup(v[0], v[1], v[2], rs);
        ASSERT_EQ(d, "") << "triangle " << i << " at (" << v[0].x << ", " << v[0].y << "), ("
                         << v[1].x << ", " << v[1].y << "), (" << v[2].x << ", " << v[2].y << ")";
        glide::TriangleSetup s;
        if (glide::setupTriangle(v[0], v[1], v[2], rs, &s)) {
            ++drawn;
            if (std::isnan(s.r.c0) || std::isnan(s.s.dx) || std::isinf(s.z.dy)) ++wildDrawn;
        }
    }
    // The mix must reach both outcomes and the non-finite planes, or it proves little.
    EXPECT_GT(drawn, 40000);
    EXPECT_LT(drawn, 180000);
    EXPECT_GT(wildDrawn, 1000);
}

// NaNs that differ in payload or sign meet in the plane arithmetic: every plane the scalar
// setup makes NaN must be NaN, and every other value the same. Every attribute of the three
// corners gets a different NaN.
TEST(TriangleSetup, NaNsInTheCornersGiveNaNPlanesWhereTheScalarSetupDoes) {
    Generator gen(77);
    for (int i = 0; i < 5000; ++i) {
        GrVertex v[3];
        for (int j = 0; j < 3; ++j)
            v[j] = gen.corner(gen.uniform(0, 640), gen.uniform(0, 480), false);
        float* const fields[3][7] = {{&v[0].r, &v[0].g, &v[0].b, &v[0].a, &v[0].ooz,
                                      &v[0].tmuvtx[0].sow, &v[0].tmuvtx[0].tow},
                                     {&v[1].r, &v[1].g, &v[1].b, &v[1].a, &v[1].ooz,
                                      &v[1].tmuvtx[0].sow, &v[1].tmuvtx[0].tow},
                                     {&v[2].r, &v[2].g, &v[2].b, &v[2].a, &v[2].ooz,
                                      &v[2].tmuvtx[0].sow, &v[2].tmuvtx[0].tow}};
        for (int j = 0; j < 3; ++j)
            for (int f = 0; f < 7; ++f)
                if (gen.pick(3) != 0)  // quiet and signalling, either sign
                    *fields[j][f] = fromBits(0x7F800000u | (gen.rng() & 0x807FFFFFu) | 1u);
        ASSERT_EQ(compareSetup(v[0], v[1], v[2], glide::RenderState{}), "") << "triangle " << i;
    }
}

// Cases at the edges of the arithmetic: planes that overflow a float or the double quotient,
// results in the float subnormals, a value exactly halfway between two floats, 1/w at its
// extremes, both windings and the clip window at the buffer edges.
TEST(TriangleSetup, HandPickedTrianglesMatchTheScalarSetup) {
    const float maxFloat = std::numeric_limits<float>::max();
    const float tinyFloat = std::numeric_limits<float>::denorm_min();
    struct Case {
        float x[3], y[3], value[3], oow[3];
    };
    const Case cases[] = {
        {{10, 20, 10}, {10, 10, 20}, {0, 255, 0}, {1, 1, 1}},
        {{0, 0.0625f, 0}, {0, 0, 0.0625f}, {-maxFloat, maxFloat, maxFloat}, {1, 1, 1}},
        {{0, 640, 0}, {0, 0, 480}, {tinyFloat, 0, 3 * tinyFloat}, {tinyFloat, 1, 2}},
        {{0, 1, 0}, {0, 0, 1}, {1, 1 + 0x1p-24f, 1}, {maxFloat, maxFloat, 1}},
        {{-16777216, 16777216, 0}, {-16777216, -16777216, 16777216}, {0, 1, 2}, {1e-30f, 1, 1}},
        {{639.97f, 0.03f, 320}, {479.97f, 0.03f, 0.5f}, {1e38f, -1e38f, 3e38f}, {0.5f, 0.25f, 1}},
        {{100, 100.0625f, 100.125f}, {100, 300, 100}, {0, 65535, 0}, {1, 1e-5f, 1}},
    };
    for (const Case& k : cases)
        for (int cull = 0; cull < 3; ++cull)
            for (int turn = 0; turn < 2; ++turn) {
                GrVertex v[3];
                for (int j = 0; j < 3; ++j) {
                    v[j] = vertex(k.x[j], k.y[j], k.value[j], -k.value[j], k.value[j] * 0.5f,
                                  k.value[j], k.oow[j], k.value[j], -k.value[j]);
                    v[j].ooz = k.value[(j + 1) % 3];
                }
                if (turn) std::swap(v[1], v[2]);
                glide::RenderState rs;
                rs.cullMode = cull;
                EXPECT_EQ(compareSetup(v[0], v[1], v[2], rs), "")
                    << "case at (" << k.x[0] << ", " << k.y[0] << ") cull " << cull;
            }
}

// The setup of small triangles straight from the vertices against the general setup: the same
// decision to draw nothing, the same bounds, planes and smallest 1/w, spans from its 32-bit
// edges equal to the general setup's rows at each kernel width the processor has, and the same
// decision on safe addressing. Triangles
// too large, or cut down to a few pixels by the clip window from far away, are left to the
// general setup. Random triangles of the general mix, and ones about the size limits, at random
// places (some off the screen's edges).
TEST(TriangleSetup, SmallTrianglesSetUpFromTheirVerticesMatchTheGeneralSetup) {
    const int before = glide::vectorLanes();
    std::vector<int> widths;
    if (glide::widestVectorLanes() >= 8) widths.push_back(8);
    if (glide::widestVectorLanes() == 16) widths.push_back(16);
    Generator gen(20261209);
    int small = 0, nothing = 0, other = 0, nearLimits = 0, safeCount = 0, unsafeCount = 0;
    int flatCount = 0, bounded = 0, tight = 0;
    for (int i = 0; i < 120000; ++i) {
        GrVertex v[3];
        if (i % 2 == 0) {
            gen.triangle(v);
        } else {
            // Up to a pixel or two either side of the largest small triangle, 16 x 32 pixels.
            const float x = gen.uniform(-20, 660), y = gen.uniform(-40, 500);
            const float w = gen.uniform(0.2f, 18.0f), h = gen.uniform(0.2f, 34.0f);
            const bool wild = gen.pick(4) == 0;
            v[0] = gen.corner(x, y, wild);
            v[1] = gen.corner(x + w * gen.uniform(0, 1), y + h, wild);
            v[2] = gen.corner(x + w, y + h * gen.uniform(0, 1), wild);
            if (gen.pick(2)) std::swap(v[1], v[2]);
            // Some with the same 1/w at every vertex, whose w plane has no slope.
            if (i % 8 == 1) v[1].oow = v[2].oow = v[0].oow;
        }
        if (!usable(v[0]) || !usable(v[1]) || !usable(v[2])) continue;
        const glide::RenderState rs = gen.state();
        glide::TriangleSetup whole;
        const bool drawn = glide::setupTriangle(v[0], v[1], v[2], rs, &whole);
        glide::SmallTriangle t;
        const glide::SmallSetup result = glide::setupSmallTriangle(v[0], v[1], v[2], rs, &t);
        const std::string where = "triangle " + std::to_string(i) + " at (" +
                                  std::to_string(v[0].x) + ", " + std::to_string(v[0].y) + ")";
        if (result == glide::SmallSetup::nothing) {
            ASSERT_FALSE(drawn) << where;
            ++nothing;
            continue;
        }
        ASSERT_TRUE(drawn) << where;
        const int width = whole.maxX - whole.minX, height = whole.maxY - whole.minY;
        if (result == glide::SmallSetup::other) {
            ++other;
            continue;
        }
        ++small;
        if (width >= glide::kNarrowWidth - 1 || height >= glide::kSmallRows - 1) ++nearLimits;
        ASSERT_LE(width, glide::kNarrowWidth) << where;
        ASSERT_LE(height, glide::kSmallRows) << where;
        // The general setup's fields as the small one keeps them.
        glide::TriangleSetup same = whole;
        same.minX = t.minX;
        same.maxX = t.maxX;
        same.minY = t.minY;
        same.maxY = t.maxY;
        same.minOow = t.minOow;
        glide::Plane* const planes[8] = {&same.r, &same.g, &same.b, &same.a,
                                         &same.w, &same.s, &same.t, &same.z};
        for (int p = 0; p < 8; ++p) *planes[p] = {t.c0[p], t.dx[p], t.dy[p]};
        ASSERT_EQ(difference(same, whole), "") << where;
        // No covered pixel's W-buffer depth, as the reference works it out, is nearer than the
        // bound that lets a triangle behind the stored depths be dropped.
        const int nearest = glide::smallTriangleNearestDepth(v[0], v[1], v[2], rs);
        if (nearest >= 0) {
            ++bounded;
            int closest = 0x10000;
            for (int y = whole.minY; y < whole.maxY; ++y) {
                int x0, x1;
                glide::rowSpan(whole, y, &x0, &x1);
                const float fy = float(y - whole.yRef);
                for (int x = x0; x < x1; ++x) {
                    const float fx = float(x - whole.xRef);
                    const float w = (whole.w.c0 + whole.w.dy * fy) + whole.w.dx * fx;
                    closest = std::min(closest, glide::wDepth(w));
                }
            }
            ASSERT_GE(closest, nearest) << where;
            // The allowance for round-off costs at most a step of the depth of the nearest
            // vertex, or the bound would drop little.
            if (nearest >= glide::wDepth(std::max({v[0].oow, v[1].oow, v[2].oow})) - 1) ++tight;
        }
        // Safe addressing, decided from the general setup's planes one double step at a time,
        // for limits from the show's textures' (2^22 texels over scales of 8 to 256) to ones that
        // put the bound about the planes' own extents.
        if (!widths.empty()) {
            const double fx = double(width) + 8.0, fy = double(height);
            auto extent = [&](const glide::Plane& p) {
                return std::fabs(double(p.c0)) + std::fabs(double(p.dy)) * fy +
                       std::fabs(double(p.dx)) * fx;
            };
            for (double limit :
                 {4194304.0 / 1.001 / 256.0, 4194304.0 / 1.001 / 8.0, 1000.0, 50.0}) {
                const double lowest = double(whole.minOow) - 1e-6 * extent(whole.w);
                const bool safe = lowest > 0.0 && extent(whole.s) < limit * lowest &&
                                  extent(whole.t) < limit * lowest;
                ASSERT_EQ(glide::smallTriangleSafe(t, limit), safe) << where << ", limit " << limit;
                safeCount += safe;
                unsafeCount += !safe;
                // The drawing's own setup of a triangle to be gathered: the same triangle, and
                // gatherable where its w has a slope and its coordinates are safe.
                glide::SmallTriangle g;
                bool gatherable = false;
                ASSERT_EQ(glide::setupSmallTriangle(v[0], v[1], v[2], rs, limit, &g, &gatherable),
                          glide::SmallSetup::small)
                    << where;
                const bool flatW = whole.w.dx == 0.0f && whole.w.dy == 0.0f &&
                                   std::isfinite(whole.w.c0) && whole.w.c0 != 0.0f;
                ASSERT_EQ(gatherable, safe && !flatW) << where << ", limit " << limit;
                ASSERT_EQ(glide::smallTriangleGatherable(t, limit), gatherable) << where;
                flatCount += flatW;
                ASSERT_TRUE(g.minX == t.minX && g.maxX == t.maxX && g.minY == t.minY &&
                            g.maxY == t.maxY && g.minOow == t.minOow)
                    << where;
                for (int e = 0; e < 3; ++e)
                    ASSERT_TRUE(g.edges.first[e] == t.edges.first[e] &&
                                g.edges.ex[e] == t.edges.ex[e] && g.edges.ey[e] == t.edges.ey[e] &&
                                g.edges.limit[e] == t.edges.limit[e])
                        << where << ", edge " << e;
                for (int p = 0; p < 8; ++p)
                    ASSERT_TRUE(std::memcmp(&g.c0[p], &t.c0[p], 4) == 0 &&
                                std::memcmp(&g.dx[p], &t.dx[p], 4) == 0 &&
                                std::memcmp(&g.dy[p], &t.dy[p], 4) == 0)
                        << where << ", plane " << p;
            }
        }
        for (int lanes : widths) {
            glide::setVectorLanes(lanes);
            std::int16_t span[glide::kSmallRows + 3][2];
            glide::narrowSpansFrom(t.edges, t.minX, width, height, span);
            for (int y = whole.minY; y < whole.maxY; ++y) {
                int x0, x1;
                glide::rowSpan(whole, y, &x0, &x1);
                const int s0 = span[y - whole.minY][0], s1 = span[y - whole.minY][1];
                if (x0 >= x1)
                    ASSERT_GE(s0, s1) << where << ", row " << y << ", " << lanes << " lanes";
                else
                    ASSERT_TRUE(s0 == x0 && s1 == x1)
                        << where << ", row " << y << ": [" << s0 << ", " << s1 << ") against ["
                        << x0 << ", " << x1 << "), " << lanes << " lanes";
            }
        }
    }
    glide::setVectorLanes(before);
    // The mix must reach every outcome, and small triangles at the size limits, or it proves
    // little.
    EXPECT_GT(small, 15000);
    EXPECT_GT(nearLimits, 1000);
    EXPECT_GT(nothing, 5000);
    EXPECT_GT(other, 5000);
    EXPECT_GT(bounded, 10000);
    EXPECT_GT(tight, bounded * 9 / 10);
    if (!widths.empty()) {
        EXPECT_GT(safeCount, 10000);
        EXPECT_GT(unsafeCount, 10000);
        EXPECT_GT(flatCount, 100);
    }
}

}  // namespace

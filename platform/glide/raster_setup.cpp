// Triangle setup and traversal: rejection, culling, edge functions, attribute planes, row spans,
// and the two triangle entry points.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "glideext.h"
#include "raster.h"
#include "raster_fast.h"

namespace glide {

namespace {

struct Snapped {
    std::int64_t x, y;  // 1/16 pixel
};

bool usable(const GrVertex& v) {
    // NaN fails every comparison, so it is refused here as well.
    return std::fabs(v.x) <= kCoordinateLimit && std::fabs(v.y) <= kCoordinateLimit &&
           v.oow > 0.0f && std::isfinite(v.oow);
}

// The nearest integer, ties to even, of |v| < 2^51: adding 1.5 * 2^52 leaves no fraction bits,
// so the sum is rounded to an integer in the default rounding mode, and taking the constant
// away again is exact. The same result as nearbyint without a library call per coordinate.
inline double roundToInteger(double v) {
    constexpr double kShift = 6755399441055744.0;
    return (v + kShift) - kShift;
}

// Vertices sit on the board's 1/16-pixel grid, so edge tests are exact integer arithmetic.
// Usable coordinates are below 2^24 pixels, 2^28 sixteenths.
Snapped snap(const GrVertex& v) {
    return {std::int64_t(roundToInteger(double(v.x) * 16.0)),
            std::int64_t(roundToInteger(double(v.y) * 16.0))};
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {  // b > 0
    std::int64_t q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return -floorDiv(-a, b);
}

// An edge from p to q of a counter-clockwise triangle; inside is to its left.
Edge makeEdge(Snapped p, Snapped q, int xRef, int yRef) {
    const std::int64_t dx = q.x - p.x, dy = q.y - p.y;
    Edge e;
    e.ex = -16 * dy;
    e.ey = 16 * dx;
    const std::int64_t px = 16 * std::int64_t(xRef) + 8, py = 16 * std::int64_t(yRef) + 8;
    e.e0 = dx * (py - p.y) - dy * (px - p.x);
    // Left edges (running down) and top edges (running left, interior below) own the pixel
    // centres that lie exactly on them; the neighbour across such an edge runs the other way.
    const bool owns = dy < 0 || (dy == 0 && dx < 0);
    e.bias = owns ? 0 : 1;
    return e;
}

struct PlaneBuilder {
    double xa, ya, xb, yb, xc, yc, area;
    double xRefCentre, yRefCentre;

    Plane operator()(float va, float vb, float vc) const {
        const double a = va, b = vb, c = vc;
        const double dx = ((b - a) * (yc - ya) - (c - a) * (yb - ya)) / area;
        const double dy = ((c - a) * (xb - xa) - (b - a) * (xc - xa)) / area;
        Plane p;
        p.c0 = float(a + dx * (xRefCentre - xa) + dy * (yRefCentre - ya));
        p.dx = float(dx);
        p.dy = float(dy);
        return p;
    }
};

bool hasAvx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

#define AVX2 __attribute__((target("avx2")))

// The planes are built four at a time in the order the setup keeps them, red, green, blue and
// alpha, then 1/w, s/w, t/w and ooz, each taken from the vertex with one load of four floats
// and one of the fourth.
static_assert(offsetof(GrVertex, g) == offsetof(GrVertex, r) + 4 &&
              offsetof(GrVertex, b) == offsetof(GrVertex, r) + 8);
static_assert(offsetof(GrVertex, tmuvtx) == offsetof(GrVertex, oow) + 4 &&
              offsetof(GrTmuVertex, sow) == 0 && offsetof(GrTmuVertex, tow) == 4 &&
              sizeof(GrTmuVertex) >= 12);
static_assert(sizeof(Plane) == 12 &&
              offsetof(TriangleSetup, w) == offsetof(TriangleSetup, r) + 48 &&
              offsetof(TriangleSetup, g) == offsetof(TriangleSetup, r) + 12 &&
              offsetof(TriangleSetup, b) == offsetof(TriangleSetup, r) + 24 &&
              offsetof(TriangleSetup, a) == offsetof(TriangleSetup, r) + 36 &&
              offsetof(TriangleSetup, s) == offsetof(TriangleSetup, w) + 12 &&
              offsetof(TriangleSetup, t) == offsetof(TriangleSetup, w) + 24 &&
              offsetof(TriangleSetup, z) == offsetof(TriangleSetup, w) + 36);

AVX2 inline __m128 firstThreeAnd(const float* three, const float* fourth) {
    return _mm_blend_ps(_mm_loadu_ps(three), _mm_broadcast_ss(fourth), 0b1000);
}

// The builder's corner differences, each in every lane.
struct PlaneLanes {
    __m256d area, ycya, ybya, xbxa, xcxa, xRef, yRef;
};

// Four planes side by side in double lanes, each lane the scalar builder's operations in its
// order (no fused steps, division by the area itself), so every lane rounds as the scalar
// code does and gives its bits. The three results of each lane are stored as that lane's
// Plane, four planes in a row from `out`.
AVX2 inline void fourPlaneValues(const PlaneLanes& p, __m128 va, __m128 vb, __m128 vc, __m128* k,
                                 __m128* x, __m128* y) {
    const __m256d a = _mm256_cvtps_pd(va), b = _mm256_cvtps_pd(vb), c = _mm256_cvtps_pd(vc);
    const __m256d ba = _mm256_sub_pd(b, a), ca = _mm256_sub_pd(c, a);
    const __m256d dx =
        _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(ba, p.ycya), _mm256_mul_pd(ca, p.ybya)), p.area);
    const __m256d dy =
        _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(ca, p.xbxa), _mm256_mul_pd(ba, p.xcxa)), p.area);
    const __m256d c0 =
        _mm256_add_pd(_mm256_add_pd(a, _mm256_mul_pd(dx, p.xRef)), _mm256_mul_pd(dy, p.yRef));
    *k = _mm256_cvtpd_ps(c0);
    *x = _mm256_cvtpd_ps(dx);
    *y = _mm256_cvtpd_ps(dy);
}

AVX2 inline void fourPlanes(const PlaneLanes& p, __m128 va, __m128 vb, __m128 vc, float* out) {
    __m128 k, x, y;
    fourPlaneValues(p, va, vb, vc, &k, &x, &y);
    // Lanes (k, x, y) of planes 0..3 to k0 x0 y0 k1 | x1 y1 k2 x2 | y2 k3 x3 y3.
    const __m128 o0 =
        _mm_blend_ps(_mm_blend_ps(_mm_permute_ps(k, 0b01000000), _mm_permute_ps(x, 0), 0b0010),
                     _mm_permute_ps(y, 0), 0b0100);
    const __m128 o1 = _mm_blend_ps(
        _mm_blend_ps(_mm_permute_ps(x, 0b10100101), _mm_permute_ps(y, 0b01010101), 0b0010),
        _mm_permute_ps(k, 0b10101010), 0b0100);
    const __m128 o2 = _mm_blend_ps(
        _mm_blend_ps(_mm_permute_ps(y, 0b11111110), _mm_permute_ps(k, 0b11111111), 0b0010),
        _mm_permute_ps(x, 0b11111111), 0b0100);
    _mm_storeu_ps(out, o0);
    _mm_storeu_ps(out + 4, o1);
    _mm_storeu_ps(out + 8, o2);
}

AVX2 inline PlaneLanes planeLanes(const PlaneBuilder& p) {
    return {_mm256_set1_pd(p.area),
            _mm256_set1_pd(p.yc - p.ya),
            _mm256_set1_pd(p.yb - p.ya),
            _mm256_set1_pd(p.xb - p.xa),
            _mm256_set1_pd(p.xc - p.xa),
            _mm256_set1_pd(p.xRefCentre - p.xa),
            _mm256_set1_pd(p.yRefCentre - p.ya)};
}

AVX2 void buildPlanesVector(const PlaneBuilder& p, const GrVertex& a, const GrVertex& b,
                            const GrVertex& c, TriangleSetup* out) {
    const PlaneLanes lanes = planeLanes(p);
    // Texture perspective uses the vertex's 1/w, as in the scalar builder.
    fourPlanes(lanes, firstThreeAnd(&a.r, &a.a), firstThreeAnd(&b.r, &b.a),
               firstThreeAnd(&c.r, &c.a), &out->r.c0);
    fourPlanes(lanes, firstThreeAnd(&a.oow, &a.ooz), firstThreeAnd(&b.oow, &b.ooz),
               firstThreeAnd(&c.oow, &c.ooz), &out->w.c0);
}

// The same planes side by side: c0, dx and dy of the eight planes each in a row.
AVX2 void buildPlanesVectorApart(const PlaneBuilder& p, const GrVertex& a, const GrVertex& b,
                                 const GrVertex& c, SmallTriangle* out) {
    const PlaneLanes lanes = planeLanes(p);
    __m128 k, x, y;
    fourPlaneValues(lanes, firstThreeAnd(&a.r, &a.a), firstThreeAnd(&b.r, &b.a),
                    firstThreeAnd(&c.r, &c.a), &k, &x, &y);
    _mm_store_ps(out->c0, k);
    _mm_store_ps(out->dx, x);
    _mm_store_ps(out->dy, y);
    fourPlaneValues(lanes, firstThreeAnd(&a.oow, &a.ooz), firstThreeAnd(&b.oow, &b.ooz),
                    firstThreeAnd(&c.oow, &c.ooz), &k, &x, &y);
    _mm_store_ps(out->c0 + 4, k);
    _mm_store_ps(out->dx + 4, x);
    _mm_store_ps(out->dy + 4, y);
}

bool hasAvx512() {
    static const bool available =
        hasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    return available;
}

#define AVX512 __attribute__((target("avx2,avx512f,avx512dq")))

// A vertex's eight attributes in the planes' order: red, green, blue, alpha, 1/w, s/w, t/w,
// ooz.
AVX512 inline __m256 eightAttributes(const GrVertex& v) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(firstThreeAnd(&v.r, &v.a)),
                                firstThreeAnd(&v.oow, &v.ooz), 1);
}

// All eight planes side by side in the eight double lanes of one vector, each lane the scalar
// builder's operations in its order, as fourPlanes does for four.
struct EightPlanes {
    __m512d c0, dx, dy;
};
AVX512 inline EightPlanes eightPlanes(const PlaneBuilder& p, const GrVertex& a, const GrVertex& b,
                                      const GrVertex& c) {
    const __m512d va = _mm512_maskz_cvtps_pd(0xFF, eightAttributes(a));
    const __m512d vb = _mm512_maskz_cvtps_pd(0xFF, eightAttributes(b));
    const __m512d vc = _mm512_maskz_cvtps_pd(0xFF, eightAttributes(c));
    const __m512d ba = _mm512_sub_pd(vb, va), ca = _mm512_sub_pd(vc, va);
    const __m512d area = _mm512_set1_pd(p.area);
    const __m512d dx = _mm512_div_pd(_mm512_sub_pd(_mm512_mul_pd(ba, _mm512_set1_pd(p.yc - p.ya)),
                                                   _mm512_mul_pd(ca, _mm512_set1_pd(p.yb - p.ya))),
                                     area);
    const __m512d dy = _mm512_div_pd(_mm512_sub_pd(_mm512_mul_pd(ca, _mm512_set1_pd(p.xb - p.xa)),
                                                   _mm512_mul_pd(ba, _mm512_set1_pd(p.xc - p.xa))),
                                     area);
    const __m512d c0 =
        _mm512_add_pd(_mm512_add_pd(va, _mm512_mul_pd(dx, _mm512_set1_pd(p.xRefCentre - p.xa))),
                      _mm512_mul_pd(dy, _mm512_set1_pd(p.yRefCentre - p.ya)));
    return {c0, dx, dy};
}

AVX512 void buildPlanes512(const PlaneBuilder& p, const GrVertex& a, const GrVertex& b,
                           const GrVertex& c, TriangleSetup* out) {
    const auto [c0, dx, dy] = eightPlanes(p, a, b, c);
    // c0 of the eight planes in lanes 0..7 and dx in 8..15 of one vector, dy in another; the
    // planes are stored as (c0, dx, dy) each, one after the other from red.
    const __m512 kx = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_maskz_cvtpd_ps(0xFF, c0)),
                                         _mm512_maskz_cvtpd_ps(0xFF, dx), 1);
    const __m512 y = _mm512_castps256_ps512(_mm512_maskz_cvtpd_ps(0xFF, dy));
    const __m512 first = _mm512_permutex2var_ps(
        kx, _mm512_setr_epi32(0, 8, 16, 1, 9, 17, 2, 10, 18, 3, 11, 19, 4, 12, 20, 5), y);
    const __m512 rest = _mm512_permutex2var_ps(
        kx, _mm512_setr_epi32(13, 21, 6, 14, 22, 7, 15, 23, 0, 0, 0, 0, 0, 0, 0, 0), y);
    _mm512_storeu_ps(&out->r.c0, first);
    _mm512_mask_storeu_ps(&out->r.c0 + 16, 0xFF, rest);
}

AVX512 void buildPlanes512Apart(const PlaneBuilder& p, const GrVertex& a, const GrVertex& b,
                                const GrVertex& c, SmallTriangle* out) {
    const auto [c0, dx, dy] = eightPlanes(p, a, b, c);
    _mm256_store_ps(out->c0, _mm512_maskz_cvtpd_ps(0xFF, c0));
    _mm256_store_ps(out->dx, _mm512_maskz_cvtpd_ps(0xFF, dx));
    _mm256_store_ps(out->dy, _mm512_maskz_cvtpd_ps(0xFF, dy));
}

void buildPlanesScalar(const PlaneBuilder& plane, const GrVertex& a, const GrVertex& b,
                       const GrVertex& c, TriangleSetup* out) {
    out->r = plane(a.r, b.r, c.r);
    out->g = plane(a.g, b.g, c.g);
    out->b = plane(a.b, b.b, c.b);
    out->a = plane(a.a, b.a, c.a);
    // Texture perspective uses the vertex's 1/w, as the board did without a separate w hint:
    // the scenes give unit 0 the same value, and the font leaves unit 0's own 1/w unset.
    out->w = plane(a.oow, b.oow, c.oow);
    out->s = plane(a.tmuvtx[0].sow, b.tmuvtx[0].sow, c.tmuvtx[0].sow);
    out->t = plane(a.tmuvtx[0].tow, b.tmuvtx[0].tow, c.tmuvtx[0].tow);
    out->z = plane(a.ooz, b.ooz, c.ooz);
}

// The widest builder of planes the processor allows, decided once rather than asked for each
// triangle. Every builder gives the same bits.
enum class Builder { scalar, avx2, avx512 };
Builder widestBuilder() {
    // Run before the constructors that ask for processor features otherwise would.
    __builtin_cpu_init();
    return hasAvx512() ? Builder::avx512 : hasAvx2() ? Builder::avx2 : Builder::scalar;
}
const Builder planeBuilder = widestBuilder();

// A triangle's snapped vertices, twice its signed area and its pixel bounds.
struct Bounds {
    Snapped a, b, c;
    std::int64_t area2;
    // The vertices' extent, in sixteenths of a pixel (usable ones are below 2^28).
    int loX, loY, hiX, hiY;
    int minX, minY, maxX, maxY;
};

// The first steps of setup: false when the triangle is degenerate, culled or covers no pixel
// centre of the clip window.
inline __attribute__((always_inline)) bool snapAndBoundScalar(const GrVertex& a, const GrVertex& b,
                                                              const GrVertex& c,
                                                              const RenderState& rs, Bounds* out) {
    const Snapped sa = snap(a), sb = snap(b), sc = snap(c);
    const std::int64_t area2 = (sb.x - sa.x) * (sc.y - sa.y) - (sc.x - sa.x) * (sb.y - sa.y);
    if (area2 == 0) return false;
    if (rs.cullMode == GR_CULL_POSITIVE && area2 > 0) return false;
    if (rs.cullMode == GR_CULL_NEGATIVE && area2 < 0) return false;
    out->a = sa;
    out->b = sb;
    out->c = sc;
    out->area2 = area2;

    // Pixel bounds: centres (16X + 8) within the vertices' extent, inside the clip window and
    // the buffers.
    // Conditional moves rather than branches: the vertices come in any order.
    auto least = [](std::int64_t p, std::int64_t q) { return q < p ? q : p; };
    auto most = [](std::int64_t p, std::int64_t q) { return q > p ? q : p; };
    const std::int64_t loX = least(least(sa.x, sb.x), sc.x), hiX = most(most(sa.x, sb.x), sc.x);
    const std::int64_t loY = least(least(sa.y, sb.y), sc.y), hiY = most(most(sa.y, sb.y), sc.y);
    auto clampRange = [](std::int64_t v, int lo, int hi) {
        return int(v < lo ? lo : (v > hi ? hi : v));
    };
    const int clipX0 = std::max(rs.clipMinX, 0), clipX1 = std::min(rs.clipMaxX, kWidth);
    const int clipY0 = std::max(rs.clipMinY, 0), clipY1 = std::min(rs.clipMaxY, kHeight);
    // Division by 16 rounded down is an arithmetic shift by 4; rounded up, the same on -v.
    auto floor16 = [](std::int64_t v) { return v >> 4; };
    auto ceil16 = [](std::int64_t v) { return -((-v) >> 4); };
    out->minX = clampRange(ceil16(loX - 8), clipX0, clipX1);
    out->maxX = clampRange(floor16(hiX - 8) + 1, clipX0, clipX1);
    out->minY = clampRange(ceil16(loY - 8), clipY0, clipY1);
    out->maxY = clampRange(floor16(hiY - 8) + 1, clipY0, clipY1);
    if (out->minX >= out->maxX || out->minY >= out->maxY) return false;
    out->loX = int(loX);
    out->hiX = int(hiX);
    out->loY = int(loY);
    out->hiY = int(hiY);
    return true;
}

// snapAndBoundScalar with the vertices' x and y side by side in vector lanes, the same results.
static_assert(offsetof(GrVertex, y) == offsetof(GrVertex, x) + 4);
AVX2 bool snapAndBoundVector(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                             const RenderState& rs, Bounds* out) {
    // 16 v is exact in single precision for usable coordinates (|v| <= 2^24), and the
    // conversion rounds it to the nearest integer, ties to even, as roundToInteger does.
    const __m128 sixteen = _mm_set1_ps(16.0f);
    const __m128 none = _mm_setzero_ps();
    const __m128i ab = _mm_cvtps_epi32(
        _mm_mul_ps(_mm_loadh_pi(_mm_loadl_pi(none, reinterpret_cast<const __m64*>(&a.x)),
                                reinterpret_cast<const __m64*>(&b.x)),
                   sixteen));
    const __m128i cc = _mm_cvtps_epi32(
        _mm_mul_ps(_mm_loadl_pi(none, reinterpret_cast<const __m64*>(&c.x)), sixteen));
    const std::int64_t ax = _mm_cvtsi128_si32(ab), ay = _mm_extract_epi32(ab, 1);
    const std::int64_t bx = _mm_extract_epi32(ab, 2), by = _mm_extract_epi32(ab, 3);
    const std::int64_t cx = _mm_cvtsi128_si32(cc), cy = _mm_extract_epi32(cc, 1);
    const std::int64_t area2 = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
    if (area2 == 0) return false;
    if (rs.cullMode == GR_CULL_POSITIVE && area2 > 0) return false;
    if (rs.cullMode == GR_CULL_NEGATIVE && area2 < 0) return false;
    // x and y of the least and the greatest, in lanes 0 and 1.
    const __m128i other = _mm_unpackhi_epi64(ab, ab);
    const __m128i lo = _mm_min_epi32(_mm_min_epi32(ab, other), cc);
    const __m128i hi = _mm_max_epi32(_mm_max_epi32(ab, other), cc);
    // The first covered centres, -((8 - lo) >> 4), and those past the last, ((hi - 8) >> 4) + 1,
    // as in snapAndBoundScalar.
    const __m128i eight = _mm_set1_epi32(8);
    const __m128i first =
        _mm_sub_epi32(_mm_setzero_si128(), _mm_srai_epi32(_mm_sub_epi32(eight, lo), 4));
    const __m128i past =
        _mm_add_epi32(_mm_srai_epi32(_mm_sub_epi32(hi, eight), 4), _mm_set1_epi32(1));
    // Within the clip window and the buffers. Where the window is empty along an axis, the
    // bounds are empty either way.
    const __m128i clip0 =
        _mm_max_epi32(_mm_setr_epi32(rs.clipMinX, rs.clipMinY, 0, 0), _mm_setzero_si128());
    const __m128i clip1 = _mm_min_epi32(_mm_setr_epi32(rs.clipMaxX, rs.clipMaxY, 0, 0),
                                        _mm_setr_epi32(kWidth, kHeight, 0, 0));
    const __m128i clip0s = _mm_unpacklo_epi64(clip0, clip0),
                  clip1s = _mm_unpacklo_epi64(clip1, clip1);
    const __m128i bounds =
        _mm_min_epi32(_mm_max_epi32(_mm_unpacklo_epi64(first, past), clip0s), clip1s);
    // minX < maxX and minY < maxY.
    const __m128i covers = _mm_cmpgt_epi32(_mm_unpackhi_epi64(bounds, bounds), bounds);
    if ((_mm_movemask_ps(_mm_castsi128_ps(covers)) & 3) != 3) return false;
    out->a = {ax, ay};
    out->b = {bx, by};
    out->c = {cx, cy};
    out->area2 = area2;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&out->loX), _mm_unpacklo_epi64(lo, hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&out->minX), bounds);
    return true;
}

// The first steps of setup (see snapAndBoundScalar), with the vector lanes where the processor
// has them.
inline __attribute__((always_inline)) bool snapAndBound(const GrVertex& a, const GrVertex& b,
                                                        const GrVertex& c, const RenderState& rs,
                                                        Bounds* out) {
    if (planeBuilder == Builder::scalar) return snapAndBoundScalar(a, b, c, rs, out);
    return snapAndBoundVector(a, b, c, rs, out);
}

// The rest of setupTriangle, after snapAndBound.
inline __attribute__((always_inline)) void finishSetup(const GrVertex& a, const GrVertex& b,
                                                       const GrVertex& c, const Bounds& bounds,
                                                       TriangleSetup* out) {
    const Snapped sa = bounds.a, sb = bounds.b, sc = bounds.c;
    const std::int64_t area2 = bounds.area2;
    out->minX = bounds.minX;
    out->maxX = bounds.maxX;
    out->minY = bounds.minY;
    out->maxY = bounds.maxY;
    out->xRef = out->minX;
    out->yRef = out->minY;

    if (area2 > 0) {
        out->edge[0] = makeEdge(sa, sb, out->xRef, out->yRef);
        out->edge[1] = makeEdge(sb, sc, out->xRef, out->yRef);
        out->edge[2] = makeEdge(sc, sa, out->xRef, out->yRef);
    } else {
        out->edge[0] = makeEdge(sa, sc, out->xRef, out->yRef);
        out->edge[1] = makeEdge(sc, sb, out->xRef, out->yRef);
        out->edge[2] = makeEdge(sb, sa, out->xRef, out->yRef);
    }

    PlaneBuilder plane{double(sa.x) / 16.0,   double(sa.y) / 16.0, double(sb.x) / 16.0,
                       double(sb.y) / 16.0,   double(sc.x) / 16.0, double(sc.y) / 16.0,
                       double(area2) / 256.0, out->xRef + 0.5,     out->yRef + 0.5};
    if (planeBuilder == Builder::avx512)
        buildPlanes512(plane, a, b, c, out);
    else if (planeBuilder == Builder::avx2)
        buildPlanesVector(plane, a, b, c, out);
    else
        buildPlanesScalar(plane, a, b, c, out);
    out->minOow = std::min({a.oow, b.oow, c.oow});
    // Usable coordinates are below 2^28 sixteenths of a pixel.
    out->vertexX[0] = int(sa.x);
    out->vertexX[1] = int(sb.x);
    out->vertexX[2] = int(sc.x);
    out->vertexY[0] = int(sa.y);
    out->vertexY[1] = int(sb.y);
    out->vertexY[2] = int(sc.y);
}

// setupTriangle for vertices known to be usable.
inline __attribute__((always_inline)) bool setupUsableTriangle(const GrVertex& a, const GrVertex& b,
                                                               const GrVertex& c,
                                                               const RenderState& rs,
                                                               TriangleSetup* out) {
    Bounds bounds;
    if (!snapAndBound(a, b, c, rs, &bounds)) return false;
    finishSetup(a, b, c, bounds, out);
    return true;
}

// An edge of a small triangle in 32 bits, the narrow form of makeEdge's at the reference pixel
// (xRef, yRef): the vertices lie near it, so every value is small.
inline void smallEdge(Snapped p, Snapped q, int xRef, int yRef, int i, NarrowEdges* out) {
    const int dx = int(q.x - p.x), dy = int(q.y - p.y);
    out->ex[i] = -16 * dy;
    out->ey[i] = 16 * dx;
    out->first[i] = dx * (16 * yRef + 8 - int(p.y)) - dy * (16 * xRef + 8 - int(p.x));
    // makeEdge's bias less one: 0 where the edge owns the centres on it, else 1. Worked out
    // without a branch: which way an edge runs is anyone's guess.
    const int owns = int(dy < 0) | (int(dy == 0) & int(dx < 0));
    out->limit[i] = -owns;
}

// True when a triangle's bounds make it a small one (see setupSmallTriangle).
inline bool isSmall(const Bounds& bounds) {
    if (bounds.maxX - bounds.minX > kNarrowWidth || bounds.maxY - bounds.minY > kSmallRows)
        return false;
    // With every vertex less than 256 pixels (2^12 sixteenths) from the first pixel's centre
    // along each axis, the edges' steps stay below 2^17 and their values over the bounds (and
    // the rows and lanes worked out past them) below 2^27. Only a triangle the clip window cuts
    // down to a few pixels can reach further.
    constexpr std::int64_t kNear = 4096;
    const std::int64_t px = 16 * std::int64_t(bounds.minX) + 8;
    const std::int64_t py = 16 * std::int64_t(bounds.minY) + 8;
    return bounds.loX > px - kNear && bounds.hiX < px + kNear && bounds.loY > py - kNear &&
           bounds.hiY < py + kNear;
}

// The three edges of a small triangle at once, each lane smallEdge's operations for one edge.
AVX2 inline __attribute__((always_inline)) void smallEdgesInline(const Bounds& bounds,
                                                                 NarrowEdges* out) {
    // The vertices' coordinates in 32 bits (usable ones are below 2^28 sixteenths), in the
    // order a, b, c; the edges run from a to b, b to c and c to a counter-clockwise, else from
    // a to c, c to b and b to a.
    const __m128i x = _mm_setr_epi32(int(bounds.a.x), int(bounds.b.x), int(bounds.c.x), 0);
    const __m128i y = _mm_setr_epi32(int(bounds.a.y), int(bounds.b.y), int(bounds.c.y), 0);
    const bool ccw = bounds.area2 > 0;
    const __m128i px = ccw ? x : _mm_shuffle_epi32(x, 0b11011000);
    const __m128i py = ccw ? y : _mm_shuffle_epi32(y, 0b11011000);
    const __m128i qx = ccw ? _mm_shuffle_epi32(x, 0b11001001) : _mm_shuffle_epi32(x, 0b11000110);
    const __m128i qy = ccw ? _mm_shuffle_epi32(y, 0b11001001) : _mm_shuffle_epi32(y, 0b11000110);
    const __m128i dx = _mm_sub_epi32(qx, px), dy = _mm_sub_epi32(qy, py);
    const __m128i zero = _mm_setzero_si128();
    const __m128i centreX = _mm_set1_epi32(16 * bounds.minX + 8);
    const __m128i centreY = _mm_set1_epi32(16 * bounds.minY + 8);
    const __m128i first = _mm_sub_epi32(_mm_mullo_epi32(dx, _mm_sub_epi32(centreY, py)),
                                        _mm_mullo_epi32(dy, _mm_sub_epi32(centreX, px)));
    // All ones, -1, where the edge owns the centres on it.
    const __m128i owns =
        _mm_or_si128(_mm_cmpgt_epi32(zero, dy),
                     _mm_and_si128(_mm_cmpeq_epi32(dy, zero), _mm_cmpgt_epi32(zero, dx)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->first), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->ex),
                     _mm_slli_epi32(_mm_sub_epi32(zero, dy), 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->ey), _mm_slli_epi32(dx, 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->limit), owns);
}

AVX2 void smallEdgesVector(const Bounds& bounds, NarrowEdges* out) {
    smallEdgesInline(bounds, out);
}

// A small triangle's bounds, kept as its own, and the builder of its planes, whose reference
// pixel is the first of the bounds.
inline __attribute__((always_inline)) PlaneBuilder smallBounds(const Bounds& bounds,
                                                               SmallTriangle* out) {
    out->minX = bounds.minX;
    out->maxX = bounds.maxX;
    out->minY = bounds.minY;
    out->maxY = bounds.maxY;
    const Snapped sa = bounds.a, sb = bounds.b, sc = bounds.c;
    return {double(sa.x) / 16.0,          double(sa.y) / 16.0, double(sb.x) / 16.0,
            double(sb.y) / 16.0,          double(sc.x) / 16.0, double(sc.y) / 16.0,
            double(bounds.area2) / 256.0, bounds.minX + 0.5,   bounds.minY + 0.5};
}

// The rest of setupSmallTriangle, for a small triangle.
void finishSmallSetup(const GrVertex& a, const GrVertex& b, const GrVertex& c, const Bounds& bounds,
                      SmallTriangle* out) {
    const PlaneBuilder plane = smallBounds(bounds, out);
    if (planeBuilder == Builder::scalar) {
        const Snapped sa = bounds.a, sb = bounds.b, sc = bounds.c;
        const int xRef = bounds.minX, yRef = bounds.minY;
        if (bounds.area2 > 0) {
            smallEdge(sa, sb, xRef, yRef, 0, &out->edges);
            smallEdge(sb, sc, xRef, yRef, 1, &out->edges);
            smallEdge(sc, sa, xRef, yRef, 2, &out->edges);
        } else {
            smallEdge(sa, sc, xRef, yRef, 0, &out->edges);
            smallEdge(sc, sb, xRef, yRef, 1, &out->edges);
            smallEdge(sb, sa, xRef, yRef, 2, &out->edges);
        }
    } else {
        smallEdgesVector(bounds, &out->edges);
    }
    if (planeBuilder == Builder::avx512) {
        buildPlanes512Apart(plane, a, b, c, out);
    } else if (planeBuilder == Builder::avx2) {
        buildPlanesVectorApart(plane, a, b, c, out);
    } else {
        TriangleSetup whole;
        buildPlanesScalar(plane, a, b, c, &whole);
        const Plane* planes[8] = {&whole.r, &whole.g, &whole.b, &whole.a,
                                  &whole.w, &whole.s, &whole.t, &whole.z};
        for (int i = 0; i < 8; ++i) {
            out->c0[i] = planes[i]->c0;
            out->dx[i] = planes[i]->dx;
            out->dy[i] = planes[i]->dy;
        }
    }
    out->minOow = std::min({a.oow, b.oow, c.oow});
}

// The magnitudes of eight floats, as doubles.
AVX512 inline __m512d magnitudes512(__m256 v) {
    return _mm512_andnot_pd(_mm512_set1_pd(-0.0), _mm512_maskz_cvtps_pd(0xFF, v));
}

// finishSmallSetup with the sixteen-lane instructions, for a triangle to be gathered: also
// whether it can be (smallTriangleGatherable for `limit`), decided from the planes' values
// while they are at hand rather than read back from what was just stored.
AVX512 bool finishSmallSetup512(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                                const Bounds& bounds, double limit, SmallTriangle* out) {
    const PlaneBuilder plane = smallBounds(bounds, out);
    smallEdgesInline(bounds, &out->edges);
    const auto [c0, dx, dy] = eightPlanes(plane, a, b, c);
    const __m256 k = _mm512_maskz_cvtpd_ps(0xFF, c0);
    const __m256 x = _mm512_maskz_cvtpd_ps(0xFF, dx);
    const __m256 y = _mm512_maskz_cvtpd_ps(0xFF, dy);
    _mm256_store_ps(out->c0, k);
    _mm256_store_ps(out->dx, x);
    _mm256_store_ps(out->dy, y);
    const float minOow = std::min({a.oow, b.oow, c.oow});
    out->minOow = minOow;
    // Plane 4 is 1/w: with no slope, every pixel's is c0 plus zeros.
    const float w = _mm_cvtss_f32(_mm256_extractf128_ps(k, 1));
    const float wdx = _mm_cvtss_f32(_mm256_extractf128_ps(x, 1));
    const float wdy = _mm_cvtss_f32(_mm256_extractf128_ps(y, 1));
    if (wdx == 0.0f && wdy == 0.0f && std::isfinite(w) && w != 0.0f) return false;
    // smallTriangleSafe's extents of the planes 1/w, s/w and t/w (lanes 4 to 6), the same double
    // operations in the same order.
    const __m512d fx = _mm512_set1_pd(double(bounds.maxX - bounds.minX) + 8.0);
    const __m512d fy = _mm512_set1_pd(double(bounds.maxY - bounds.minY));
    const __m512d extent =
        _mm512_add_pd(_mm512_add_pd(magnitudes512(k), _mm512_mul_pd(magnitudes512(y), fy)),
                      _mm512_mul_pd(magnitudes512(x), fx));
    const __m256d upper = _mm512_maskz_extractf64x4_pd(0xF, extent, 1);
    const double lowest = double(minOow) - 1e-6 * _mm256_cvtsd_f64(upper);
    if (!(lowest > 0.0)) return false;
    // NaN fails the comparison as well.
    const __mmask8 below = _mm512_cmp_pd_mask(extent, _mm512_set1_pd(limit * lowest), _CMP_LT_OQ);
    return (below & 0b01100000) == 0b01100000;
}

// The setup of a small triangle to be gathered, and whether it can be (see above).
bool finishSmallGathered(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                         const Bounds& bounds, double limit, SmallTriangle* out) {
    if (planeBuilder == Builder::avx512) return finishSmallSetup512(a, b, c, bounds, limit, out);
    finishSmallSetup(a, b, c, bounds, out);
    return smallTriangleGatherable(*out, limit);
}

}  // namespace

namespace {

// A bound of a small triangle's W-buffer depths from its vertices (nearestWDepth) without its
// planes. The plane of 1/w has slopes dx = ((b - a)(yc - ya) - (c - a)(yb - ya)) / area and dy
// likewise, and c0 = a + dx (xRef + 0.5 - xa) + dy (yRef + 0.5 - ya): bounds of their
// magnitudes times the area need no division, and where the plane's extent is at most sixteen
// times the greatest vertex 1/w, nearestWDepth with that much extent bounds the pixels' depths.
int nearestDepthFromVertices(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                             const Bounds& bounds) {
    const double xa = double(bounds.a.x) / 16.0, ya = double(bounds.a.y) / 16.0;
    const double xb = double(bounds.b.x) / 16.0, yb = double(bounds.b.y) / 16.0;
    const double xc = double(bounds.c.x) / 16.0, yc = double(bounds.c.y) / 16.0;
    const double area = std::fabs(double(bounds.area2) / 256.0);
    const double ba = std::fabs(double(b.oow) - double(a.oow));
    const double ca = std::fabs(double(c.oow) - double(a.oow));
    const double dxArea = ba * std::fabs(yc - ya) + ca * std::fabs(yb - ya);
    const double dyArea = ca * std::fabs(xb - xa) + ba * std::fabs(xc - xa);
    const double fx = double(bounds.maxX - bounds.minX) + 8.0;
    const double fy = double(bounds.maxY - bounds.minY);
    const double extentArea = std::fabs(double(a.oow)) * area +
                              dxArea * (std::fabs(bounds.minX + 0.5 - xa) + fx) +
                              dyArea * (std::fabs(bounds.minY + 0.5 - ya) + fy);
    const double most = std::max({a.oow, b.oow, c.oow});
    // NaN fails the comparison as well.
    if (!(extentArea <= 16.0 * most * area)) return -1;
    return nearestWDepth(float(most), 16.0 * most);
}

// The greatest depth stored over a small triangle's bounds (at most kNarrowWidth wide): the
// rows' sixteen values from `start` taken together first, the columns outside the bounds
// dropped once at the end.
AVX2 int greatestStoredDepth(const Bounds& bounds) {
    static_assert(kNarrowWidth == 16 && kWidth >= 16);
    const int start = std::min(bounds.minX, kWidth - 16);
    const std::uint16_t* row = board.depth.data() + (kHeight - 1 - bounds.minY) * kWidth + start;
    __m256i most = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
    for (int y = bounds.minY + 1; y < bounds.maxY; ++y) {
        row -= kWidth;
        most = _mm256_max_epu16(most, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row)));
    }
    const __m256i column = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m256i inside = _mm256_andnot_si256(
        _mm256_cmpgt_epi16(_mm256_set1_epi16(short(bounds.minX - start)), column),
        _mm256_cmpgt_epi16(_mm256_set1_epi16(short(bounds.maxX - start)), column));
    most = _mm256_and_si256(most, inside);
    const __m128i half =
        _mm_max_epu16(_mm256_castsi256_si128(most), _mm256_extracti128_si256(most, 1));
    // The greatest is 0xFFFF less the least of the complements.
    const __m128i least = _mm_minpos_epu16(_mm_xor_si128(half, _mm_set1_epi16(-1)));
    return 0xFFFF - (_mm_cvtsi128_si32(least) & 0xFFFF);
}

// How often the test below has found triangles hidden lately, for the triangles facing away and
// those facing the viewer apart: where an object is drawn without culling, its far side is often
// hidden and its near side seldom, and a test that seldom finds costs more than it saves. A find
// counts 7 up, a miss 1 down, so the score rises where more than one test in eight finds; below
// zero only every sixteenth triangle is tested, to notice when the odds change. Whether a
// triangle is tested changes no pixel.
struct HiddenOdds {
    int score[2] = {0, 0};
    unsigned probe = 0;
};
HiddenOdds hiddenOdds;

// True when a small triangle is wholly behind the depths stored over its bounds in a state with
// the W-buffer's less test, so that none of its pixels would pass on any path: stored depths
// there are at most its nearest. Gathered runs still queued only bring stored depths nearer
// when they are shaded, so a triangle hidden now stays hidden. A pending clear has not yet put
// its depth into the buffer: then nothing is tested.
bool hiddenBehindStored(const FastConfig& k, const GrVertex& a, const GrVertex& b,
                        const GrVertex& c, const Bounds& bounds) {
    if (!k.depthOn || !k.depthWBuffer || k.depthFunction != GR_CMP_LESS || board.pending.active)
        return false;
    int& score = hiddenOdds.score[bounds.area2 > 0];
    if (score < 0 && (++hiddenOdds.probe & 15) != 0) return false;
    const int nearest = nearestDepthFromVertices(a, b, c, bounds);
    if (nearest < 0) return false;
    const bool hidden = greatestStoredDepth(bounds) <= nearest;
    score = hidden ? std::min(score + 7, 64) : std::max(score - 1, -64);
    return hidden;
}

}  // namespace

int smallTriangleNearestDepth(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                              const RenderState& rs) {
    Bounds bounds;
    if (!snapAndBound(a, b, c, rs, &bounds) || !isSmall(bounds)) return -1;
    return nearestDepthFromVertices(a, b, c, bounds);
}

SmallSetup setupSmallTriangle(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                              const RenderState& rs, SmallTriangle* out) {
    Bounds bounds;
    if (!snapAndBound(a, b, c, rs, &bounds)) return SmallSetup::nothing;
    if (!isSmall(bounds)) return SmallSetup::other;
    finishSmallSetup(a, b, c, bounds, out);
    return SmallSetup::small;
}

SmallSetup setupSmallTriangle(const GrVertex& a, const GrVertex& b, const GrVertex& c,
                              const RenderState& rs, double limit, SmallTriangle* out,
                              bool* gatherable) {
    Bounds bounds;
    if (!snapAndBound(a, b, c, rs, &bounds)) return SmallSetup::nothing;
    if (!isSmall(bounds)) return SmallSetup::other;
    *gatherable = finishSmallGathered(a, b, c, bounds, limit, out);
    return SmallSetup::small;
}

bool setupTriangle(const GrVertex& a, const GrVertex& b, const GrVertex& c, const RenderState& rs,
                   TriangleSetup* out) {
    if (!usable(a) || !usable(b) || !usable(c)) return false;
    return setupUsableTriangle(a, b, c, rs, out);
}

void rowSpan(const TriangleSetup& setup, int y, int* x0, int* x1) {
    std::int64_t lo = setup.minX - setup.xRef, hi = setup.maxX - setup.xRef;  // [lo, hi)
    const std::int64_t dy = y - setup.yRef;
    for (const Edge& e : setup.edge) {
        const std::int64_t row = e.e0 + e.ey * dy;
        // Inside where row + ex * k >= bias.
        if (e.ex > 0) {
            lo = std::max(lo, ceilDiv(e.bias - row, e.ex));
        } else if (e.ex < 0) {
            hi = std::min(hi, floorDiv(row - e.bias, -e.ex) + 1);
        } else if (row < e.bias) {
            hi = lo;
        }
    }
    if (hi < lo) hi = lo;
    *x0 = int(lo) + setup.xRef;
    *x1 = int(hi) + setup.xRef;
}

namespace {
RasterPath selectedPath = RasterPath::fast;
}

void setRasterPath(RasterPath path) {
    finishDrawing();
    selectedPath = path;
}
RasterPath rasterPath() {
    return selectedPath;
}

namespace {
// The setup of the triangle being drawn, like the board a single one. Set-up writes every field
// before a stage reads it, and most triangles of a scene are rejected, so clearing a fresh setup
// on each call would cost more than the tests that reject it.
TriangleSetup current;
}  // namespace

namespace {
template <bool kUsable>
void drawTriangleOf(const GrVertex& a, const GrVertex& b, const GrVertex& c) {
    ensureBuffers();
    if (!kUsable && (!usable(a) || !usable(b) || !usable(c))) return;
    Bounds bounds;
    if (!snapAndBound(a, b, c, board.state, &bounds)) return;
    // The small triangles of a state that gathers them take a path of their own.
    if (selectedPath == RasterPath::fast && isSmall(bounds)) {
        if (const FastConfig* k = smallTriangleGathering()) {
            // A triangle no pixel of which would pass is done with.
            if (hiddenBehindStored(*k, a, b, c, bounds)) return;
            SmallTriangle small;
            if (finishSmallGathered(a, b, c, bounds, k->safeLimit, &small) &&
                gatherSmallTriangle(*k, small))
                return;
        }
    }
    TriangleSetup& setup = current;
    finishSetup(a, b, c, bounds, &setup);
    if (selectedPath == RasterPath::reference)
        shadeTriangleReference(setup);
    else
        shadeTriangleFast(setup);
}
}  // namespace

void drawTriangle(const GrVertex& a, const GrVertex& b, const GrVertex& c) {
    drawTriangleOf<false>(a, b, c);
}

}  // namespace glide

void grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
    grExtTraceTriangle(a, b, c, false);
    if (!a || !b || !c) return;
    glide::drawTriangle(*a, *b, *c);
}

namespace glide {
namespace {

// Vertices this far out are pulled in by clipping before they reach the board's range.
constexpr double kGuardBand = 8388608.0;

GrVertex lerpVertex(const GrVertex& p, const GrVertex& q, double t) {
    auto mix = [t](float a, float b) { return float(double(a) + (double(b) - double(a)) * t); };
    GrVertex v = p;
    v.x = mix(p.x, q.x);
    v.y = mix(p.y, q.y);
    v.z = mix(p.z, q.z);
    v.r = mix(p.r, q.r);
    v.g = mix(p.g, q.g);
    v.b = mix(p.b, q.b);
    v.ooz = mix(p.ooz, q.ooz);
    v.a = mix(p.a, q.a);
    v.oow = mix(p.oow, q.oow);
    v.tmuvtx[0].sow = mix(p.tmuvtx[0].sow, q.tmuvtx[0].sow);
    v.tmuvtx[0].tow = mix(p.tmuvtx[0].tow, q.tmuvtx[0].tow);
    v.tmuvtx[0].oow = mix(p.tmuvtx[0].oow, q.tmuvtx[0].oow);
    return v;
}

// Keeps the part of a convex polygon where sign * coordinate <= kGuardBand (axis 0: x, 1: y).
int clipPolygon(const GrVertex* in, int count, GrVertex* out, int axis, double sign) {
    auto inside = [&](const GrVertex& v) {
        return sign * double(axis == 0 ? v.x : v.y) <= kGuardBand;
    };
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const GrVertex& p = in[i];
        const GrVertex& q = in[(i + 1) % count];
        if (inside(p)) out[n++] = p;
        if (inside(p) != inside(q)) {
            const double pc = axis == 0 ? p.x : p.y, qc = axis == 0 ? q.x : q.y;
            out[n++] = lerpVertex(p, q, (sign * kGuardBand - pc) / (qc - pc));
        }
    }
    return n;
}

}  // namespace
}  // namespace glide

// Triangles inside the board's coordinate range need no geometric clipping: the clip window
// bounds every pixel the board draws. A triangle reaching beyond that range is cut to a guard
// band around the screen first, and the pieces are drawn with the culling decided on the whole.
void guDrawTriangleWithClip(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
    grExtTraceTriangle(a, b, c, true);
    if (!a || !b || !c) return;
    const GrVertex* v[3] = {a, b, c};
    bool inRange = true;
    for (const GrVertex* p : v) {
        // NaN fails every comparison; a positive 1/w at most the largest float is finite.
        if (!(p->oow > 0.0f && p->oow <= std::numeric_limits<float>::max())) return;
        // Coordinates within range are finite as well.
        if (!(std::fabs(p->x) <= glide::kCoordinateLimit &&
              std::fabs(p->y) <= glide::kCoordinateLimit)) {
            if (!std::isfinite(p->x) || !std::isfinite(p->y)) return;
            inRange = false;
        }
    }
    if (inRange) {
        // Every vertex is finite, within range and in front: usable.
        glide::drawTriangleOf<true>(*a, *b, *c);
        return;
    }
    const double area = (double(b->x) - a->x) * (double(c->y) - a->y) -
                        (double(c->x) - a->x) * (double(b->y) - a->y);
    if (!std::isfinite(area) || area == 0.0) return;
    const int cull = glide::board.state.cullMode;
    if ((cull == GR_CULL_POSITIVE && area > 0) || (cull == GR_CULL_NEGATIVE && area < 0)) return;

    // Each of the four cuts adds at most one vertex.
    GrVertex polygon[7] = {*a, *b, *c}, scratch[7];
    int count = 3;
    count = glide::clipPolygon(polygon, count, scratch, 0, 1.0);
    count = glide::clipPolygon(scratch, count, polygon, 0, -1.0);
    count = glide::clipPolygon(polygon, count, scratch, 1, 1.0);
    count = glide::clipPolygon(scratch, count, polygon, 1, -1.0);
    glide::ensureBuffers();
    glide::RenderState pieceState = glide::board.state;
    pieceState.cullMode = GR_CULL_DISABLE;
    for (int i = 1; i + 1 < count; ++i) {
        glide::TriangleSetup setup;
        if (!glide::setupTriangle(polygon[0], polygon[i], polygon[i + 1], pieceState, &setup))
            continue;
        if (glide::rasterPath() == glide::RasterPath::reference)
            glide::shadeTriangleReference(setup);
        else
            glide::shadeTriangleFast(setup);
    }
}

// Asset generator: MASK.PLG, a face mask with brow, eye holes, nose and mouth, in the PLG format.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Grid cells along each side: (kCells + 1)^2 points stay within the object's 2361.
constexpr int kCells = 46;
constexpr int kSide = kCells + 1;

struct Point {
    double x, y, z;
};

double gauss(double d2) {
    return std::exp(-d2);
}

double square(double v) {
    return v * v;
}

// The mask's height towards the viewer at (x, y), in face units (about 150 wide, 210 high).
double faceHeight(double x, double y) {
    const double X = x / 75.0, Y = y / 100.0;
    const double ax = std::fabs(X);
    // The shell: curving back strongly to the sides, gently to the top and the chin.
    double h = 62.0 - 58.0 * X * X - 14.0 * Y * Y;
    // Brow ridge arching over the eyes.
    h += 9.0 * gauss(square((Y - 0.45 + 0.18 * X * X) / 0.09)) * gauss(square(X / 0.75));
    // Eye sockets.
    h -= 11.0 * gauss(square((ax - 0.4) / 0.26) + square((Y - 0.22) / 0.16));
    // The nose: a bridge that grows from between the eyes down to the tip, the tip, the wings.
    if (Y < 0.34 && Y > -0.34) {
        const double along = (0.34 - Y) / 0.6;  // 0 at the bridge's top, 1 at the tip
        const double height = 5.0 + 16.0 * std::pow(std::fmin(along, 1.0), 1.3);
        const double width = 0.07 + 0.06 * along;
        const double cut = Y > -0.26 ? 1.0 : gauss(square((Y + 0.26) / 0.04));
        h += height * gauss(square(X / width)) * cut;
    }
    h += 6.0 * gauss(square(X / 0.09) + square((Y + 0.22) / 0.07));
    h += 5.0 * gauss(square((ax - 0.12) / 0.06) + square((Y + 0.26) / 0.05));
    // Cheekbones.
    h += 7.0 * gauss(square((ax - 0.45) / 0.22) + square((Y + 0.08) / 0.22));
    // Lips around the mouth, the groove above the upper lip, the chin.
    h += 6.0 * gauss(square(X / 0.3) + square((Y + 0.5) / 0.05));
    h += 6.5 * gauss(square(X / 0.26) + square((Y + 0.63) / 0.06));
    h -= 3.0 * gauss(square(X / 0.05) + square((Y + 0.38) / 0.07));
    h += 9.0 * gauss(square(X / 0.28) + square((Y + 0.88) / 0.13));
    return h;
}

// Grid parameter (u, v) in -1..1 squared to the face: the square is bent round to a disc and
// the disc stretched to an egg, wide at the cheekbones and narrow at the chin.
Point facePoint(double u, double v) {
    const double a = u * std::sqrt(1.0 - v * v / 2.0);
    const double b = v * std::sqrt(1.0 - u * u / 2.0);
    const double x = a * (74.0 + 8.0 * b - 10.0 * b * b);
    const double y = b * (b < 0.0 ? 112.0 : 96.0);
    // The viewer looks along +z: the face's front is towards -z.
    return {x, y, -faceHeight(x, y)};
}

struct Hole {
    double x, y, rx, ry;
    double norm(const Point& p) const { return square((p.x - x) / rx) + square((p.y - y) / ry); }
};

const Hole kHoles[] = {
    {-30.0, 21.0, 15.0, 7.0},
    {30.0, 21.0, 15.0, 7.0},
    {0.0, -56.5, 19.0, 3.0},
};

double angleAt(const Point& p, const Point& q, const Point& r) {
    const Point u = {q.x - p.x, q.y - p.y, q.z - p.z}, w = {r.x - p.x, r.y - p.y, r.z - p.z};
    const double lu = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
    const double lw = std::sqrt(w.x * w.x + w.y * w.y + w.z * w.z);
    if (lu == 0.0 || lw == 0.0) return 0.0;
    return std::acos(
        std::fmax(-1.0, std::fmin(1.0, (u.x * w.x + u.y * w.y + u.z * w.z) / (lu * lw))));
}

double smallestAngle(const Point& a, const Point& b, const Point& c) {
    return std::fmin(angleAt(a, b, c), std::fmin(angleAt(b, c, a), angleAt(c, a, b)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ASSET_DIR\n", argc > 0 ? argv[0] : "gen_mask");
        return 2;
    }
    std::vector<Point> point(kSide * kSide);
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i)
            point[j * kSide + i] = facePoint(-1.0 + 2.0 * i / kCells, -1.0 + 2.0 * j / kCells);

    // Cells whose middle falls in a hole are left out; the points around each hole are then
    // moved onto its rim, so the holes come out as smooth ovals.
    auto middle = [&](int i, int j) {
        const Point& p = point[j * kSide + i];
        const Point& q = point[(j + 1) * kSide + i + 1];
        return Point{(p.x + q.x) / 2.0, (p.y + q.y) / 2.0, 0.0};
    };
    std::vector<int> hole(kCells * kCells, -1);
    for (int j = 0; j < kCells; ++j)
        for (int i = 0; i < kCells; ++i)
            for (int h = 0; h < 3; ++h)
                if (kHoles[h].norm(middle(i, j)) < 1.0) hole[j * kCells + i] = h;
    std::vector<bool> rim(kSide * kSide, false);
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i) {
            int inHole = -1;
            bool kept = false;
            for (int dj = -1; dj <= 0; ++dj)
                for (int di = -1; di <= 0; ++di) {
                    const int ci = i + di, cj = j + dj;
                    if (ci < 0 || cj < 0 || ci >= kCells || cj >= kCells) continue;
                    if (hole[cj * kCells + ci] >= 0)
                        inHole = hole[cj * kCells + ci];
                    else
                        kept = true;
                }
            if (inHole < 0 || !kept) continue;
            Point& p = point[j * kSide + i];
            const Hole& e = kHoles[inHole];
            const double k = 1.0 / std::sqrt(e.norm(p));
            const double x = e.x + (p.x - e.x) * k, y = e.y + (p.y - e.y) * k;
            p = {x, y, -faceHeight(x, y)};
            rim[j * kSide + i] = true;
        }

    // Corner order counter-clockwise as the viewer sees the face (x right, y up): the loader
    // turns it round into the show's winding.
    struct Polygon {
        int count;
        int corner[4];
        unsigned colour;
    };
    std::vector<Polygon> polygons;
    for (int j = 0; j < kCells; ++j)
        for (int i = 0; i < kCells; ++i) {
            if (hole[j * kCells + i] >= 0) continue;
            const int corner[4] = {j * kSide + i, j * kSide + i + 1, (j + 1) * kSide + i + 1,
                                   (j + 1) * kSide + i};
            const Point* p[4] = {&point[corner[0]], &point[corner[1]], &point[corner[2]],
                                 &point[corner[3]]};
            // The better of the two diagonals: the split whose thinnest angle is widest.
            const double across02 =
                std::fmin(smallestAngle(*p[0], *p[1], *p[2]), smallestAngle(*p[0], *p[2], *p[3]));
            const double across13 =
                std::fmin(smallestAngle(*p[1], *p[2], *p[3]), smallestAngle(*p[1], *p[3], *p[0]));
            const int start = across02 >= across13 ? 0 : 1;
            const int a = corner[start], b = corner[start + 1], c = corner[(start + 2) % 4],
                      d = corner[(start + 3) % 4];
            // Triangles where the surface bends sharply (nose, lips) and around the holes;
            // quadrilaterals, split by the loader along a-c, elsewhere.
            const Point m = middle(i, j);
            const bool nose = std::fabs(m.x) < 18.0 && m.y > -38.0 && m.y < 30.0;
            const bool lips = std::fabs(m.x) < 30.0 && m.y > -72.0 && m.y < -40.0;
            const bool atRim = rim[corner[0]] || rim[corner[1]] || rim[corner[2]] || rim[corner[3]];
            const unsigned colour = 0x1000u + unsigned((i * 7 + j * 13) & 0xFFF);
            if (nose || lips || atRim) {
                polygons.push_back({3, {a, b, c, 0}, colour});
                polygons.push_back({3, {a, c, d, 0}, colour});
            } else {
                polygons.push_back({4, {a, b, c, d}, colour});
            }
        }

    // Only the points some polygon uses go into the file (those inside the holes do not).
    std::vector<int> number(point.size(), -1);
    std::vector<Point> used;
    for (const Polygon& polygon : polygons)
        for (int k = 0; k < polygon.count; ++k) {
            int& n = number[polygon.corner[k]];
            if (n < 0) {
                n = int(used.size());
                used.push_back(point[polygon.corner[k]]);
            }
        }

    const std::string path = std::string(argv[1]) + "/MASK.PLG";
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::fprintf(stderr, "gen_mask: cannot write %s\n", path.c_str());
        return 1;
    }
    std::fprintf(file, "mask %d %d\n", int(used.size()), int(polygons.size()));
    for (const Point& p : used) std::fprintf(file, "%.3f %.3f %.3f\n", p.x, p.y, p.z);
    int triangles = 0, quads = 0;
    for (const Polygon& polygon : polygons) {
        std::fprintf(file, "0x%04X %d", polygon.colour, polygon.count);
        for (int k = 0; k < polygon.count; ++k)
            std::fprintf(file, " %d", number[polygon.corner[k]]);
        std::fputc('\n', file);
        triangles += polygon.count - 2;
        quads += polygon.count == 4;
    }
    const bool ok = std::fclose(file) == 0;
    if (!ok) std::fprintf(stderr, "gen_mask: cannot write %s\n", path.c_str());
    std::fprintf(stderr, "gen_mask: %d points, %d polygons (%d quadrilaterals), %d triangles\n",
                 int(used.size()), int(polygons.size()), quads, triangles);
    return ok ? 0 : 1;
}

// Asset generator: the .3d objects of the object scenes, as closed quad meshes wound outwards.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Point {
    double x, y, z;
};

struct Quad {
    int a, b, c, d;  // 0-based here, written 1-based
};

struct Mesh {
    std::vector<Point> points;
    std::vector<Quad> quads;
};

Point cross(Point u, Point v) {
    return {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}
Point minus(Point u, Point v) {
    return {u.x - v.x, u.y - v.y, u.z - v.z};
}
double dot(Point u, Point v) {
    return u.x * v.x + u.y * v.y + u.z * v.z;
}

// Six times the signed volume enclosed by the mesh, with each triangle's normal taken as the
// show takes it, (C - B) x (A - B): positive when every such normal points outwards.
double signedVolume6(const Mesh& mesh) {
    double sum = 0.0;
    auto add = [&](int a, int b, int c) {
        const Point pa = mesh.points[a], pb = mesh.points[b], pc = mesh.points[c];
        const Point n = cross(minus(pc, pb), minus(pa, pb));
        const Point centroid = {(pa.x + pb.x + pc.x) / 3, (pa.y + pb.y + pc.y) / 3,
                                (pa.z + pb.z + pc.z) / 3};
        sum += dot(centroid, n);
    };
    for (const Quad& q : mesh.quads) {
        add(q.a, q.b, q.c);
        add(q.a, q.c, q.d);
    }
    return sum;
}

// A closed grid surface: `rows` x `columns` points from `surface(u, v)` with u and v from 0 to 1
// (both wrapping), added to `mesh`. The quads run (i, j), (i+1, j), (i+1, j+1), (i, j+1), whose
// normal (C - B) x (A - B) is the direction of dP/du x dP/dv.
template <typename Surface>
void addTorusGrid(Mesh* mesh, int columns, int rows, Surface surface) {
    const int base = int(mesh->points.size());
    for (int i = 0; i < columns; ++i)
        for (int j = 0; j < rows; ++j)
            mesh->points.push_back(surface(double(i) / columns, double(j) / rows));
    auto index = [&](int i, int j) { return base + (i % columns) * rows + (j % rows); };
    for (int i = 0; i < columns; ++i)
        for (int j = 0; j < rows; ++j)
            mesh->quads.push_back(
                {index(i, j), index(i + 1, j), index(i + 1, j + 1), index(i, j + 1)});
}

// A surface of revolution about the z axis, from a profile that starts and ends on the axis:
// profile point k is (radius, height). The two axis points are single poles, joined to their
// neighbouring ring by quads that repeat the pole (their second triangle has no area).
void addLathe(Mesh* mesh, const std::vector<Point>& profile, int columns) {
    const int base = int(mesh->points.size());
    const int rings = int(profile.size()) - 2;  // rings off the axis
    mesh->points.push_back({0.0, 0.0, profile.front().y});
    for (int k = 1; k <= rings; ++k)
        for (int i = 0; i < columns; ++i) {
            const double angle = 2.0 * kPi * i / columns;
            mesh->points.push_back(
                {profile[k].x * std::cos(angle), profile[k].x * std::sin(angle), profile[k].y});
        }
    const int lastPole = int(mesh->points.size());
    mesh->points.push_back({0.0, 0.0, profile.back().y});
    auto ring = [&](int k, int i) { return base + 1 + (k - 1) * columns + (i % columns); };
    // The profile runs from the outer pole over the rim to the inner pole; with the corners
    // taken against the turn about z, (C - B) x (A - B) points away from the material.
    for (int i = 0; i < columns; ++i)
        mesh->quads.push_back({base, ring(1, i), ring(1, i + 1), base});
    for (int k = 1; k < rings; ++k)
        for (int i = 0; i < columns; ++i)
            mesh->quads.push_back({ring(k, i + 1), ring(k, i), ring(k + 1, i), ring(k + 1, i + 1)});
    for (int i = 0; i < columns; ++i)
        mesh->quads.push_back({ring(rings, i + 1), ring(rings, i), lastPole, lastPole});
}

// A cube's six faces, each cut into n x n quads, pushed out onto a sphere of `radius`.
void addQuadSphere(Mesh* mesh, int n, double radius) {
    const int base = int(mesh->points.size());
    // Shared points: every grid point of the cube's surface once.
    std::vector<Point> unique;
    auto find = [&](Point p) {
        for (std::size_t i = 0; i < unique.size(); ++i)
            if (std::fabs(unique[i].x - p.x) < 1e-9 && std::fabs(unique[i].y - p.y) < 1e-9 &&
                std::fabs(unique[i].z - p.z) < 1e-9)
                return int(i);
        unique.push_back(p);
        return int(unique.size() - 1);
    };
    // Each face: an origin corner and two edge directions whose cross product points outwards.
    const Point faces[6][3] = {
        {{1, -1, -1}, {0, 2, 0}, {0, 0, 2}}, {{-1, -1, -1}, {0, 0, 2}, {0, 2, 0}},
        {{-1, 1, -1}, {0, 0, 2}, {2, 0, 0}}, {{-1, -1, -1}, {2, 0, 0}, {0, 0, 2}},
        {{-1, -1, 1}, {2, 0, 0}, {0, 2, 0}}, {{-1, -1, -1}, {0, 2, 0}, {2, 0, 0}},
    };
    std::vector<Quad> quads;
    for (const auto& face : faces) {
        auto at = [&](int i, int j) {
            const double u = double(i) / n, v = double(j) / n;
            return find({face[0].x + u * face[1].x + v * face[2].x,
                         face[0].y + u * face[1].y + v * face[2].y,
                         face[0].z + u * face[1].z + v * face[2].z});
        };
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                quads.push_back({base + at(i, j), base + at(i + 1, j), base + at(i + 1, j + 1),
                                 base + at(i, j + 1)});
    }
    for (const Point& p : unique) {
        const double length = std::sqrt(dot(p, p));
        mesh->points.push_back(
            {p.x / length * radius, p.y / length * radius, p.z / length * radius});
    }
    mesh->quads.insert(mesh->quads.end(), quads.begin(), quads.end());
}

// Turns a point about the x axis, then about the z axis (angles in radians).
Point tilt(Point p, double aboutX, double aboutZ) {
    const Point q = {p.x, p.y * std::cos(aboutX) - p.z * std::sin(aboutX),
                     p.y * std::sin(aboutX) + p.z * std::cos(aboutX)};
    return {q.x * std::cos(aboutZ) - q.y * std::sin(aboutZ),
            q.x * std::sin(aboutZ) + q.y * std::cos(aboutZ), q.z};
}

// A ring of diamond cross-section (four facets) about the z axis, then tilted.
void addFacetedRing(Mesh* mesh, int segments, double radius, double width, double depth,
                    double aboutX, double aboutZ) {
    addTorusGrid(mesh, segments, 4, [&](double u, double v) {
        const double around = 2.0 * kPi * u;
        const double facet = 2.0 * kPi * v;
        // Corners of the diamond: outside, top, inside, bottom.
        const double r = radius + width * std::cos(facet);
        const double h = depth * std::sin(facet);
        return tilt({r * std::cos(around), r * std::sin(around), h}, aboutX, aboutZ);
    });
}

// The flat shading object: a faceted ball held in three faceted rings, like an armillary
// sphere; every face is flat and large enough to show its own grey.
Mesh armillarySphere() {
    Mesh mesh;
    addQuadSphere(&mesh, 3, 100.0);
    addFacetedRing(&mesh, 20, 160.0, 18.0, 16.0, 0.0, 0.0);
    addFacetedRing(&mesh, 24, 196.0, 18.0, 16.0, kPi / 2.0, 0.0);
    addFacetedRing(&mesh, 28, 232.0, 18.0, 16.0, kPi / 2.0, kPi / 2.0);
    return mesh;
}

// A bowl with a rounded lip: outer shell, lip and inner shell as one profile about the z axis,
// opening towards -z. Units: the bowl is 200 across.
Mesh bowl() {
    const double outerRadius = 100.0, outerDepth = 62.0, wall = 8.0;
    std::vector<Point> profile;  // (radius, height) in x and y
    const int shell = 16, lip = 8;
    // Outer shell from the bottom pole (height +outerDepth) to the rim (height 0).
    for (int k = 0; k <= shell; ++k) {
        const double phi = kPi / 2.0 * k / shell;
        profile.push_back({outerRadius * std::sin(phi), outerDepth * std::cos(phi), 0.0});
    }
    // The lip: half a circle over the rim from the outer to the inner wall.
    const double lipCentre = outerRadius - wall / 2.0;
    for (int k = 1; k < lip; ++k) {
        const double phi = kPi * k / lip;
        profile.push_back(
            {lipCentre + wall / 2.0 * std::cos(phi), -wall / 2.0 * std::sin(phi), 0.0});
    }
    // Inner shell back down to the inner pole.
    for (int k = shell; k >= 0; --k) {
        const double phi = kPi / 2.0 * k / shell;
        profile.push_back(
            {(outerRadius - wall) * std::sin(phi), (outerDepth - wall) * std::cos(phi), 0.0});
    }
    Mesh mesh;
    addLathe(&mesh, profile, 48);
    return mesh;
}

// The torus with radii 4 and 2 about the z axis.
Mesh torus() {
    Mesh mesh;
    addTorusGrid(&mesh, 48, 24, [](double u, double v) {
        const double around = 2.0 * kPi * u, tube = 2.0 * kPi * v;
        const double r = 4.0 + 2.0 * std::cos(tube);
        return Point{r * std::cos(around), r * std::sin(around), 2.0 * std::sin(tube)};
    });
    return mesh;
}

bool write3d(const std::string& path, const Mesh& mesh) {
    if (signedVolume6(mesh) <= 0.0) {
        std::fprintf(stderr, "gen_objects: %s would be wound inside out\n", path.c_str());
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::fprintf(stderr, "gen_objects: cannot write %s\n", path.c_str());
        return false;
    }
    std::fprintf(file, "%d\n", int(mesh.points.size()));
    for (const Point& p : mesh.points) std::fprintf(file, "%.4f %.4f %.4f\n", p.x, p.y, p.z);
    std::fprintf(file, "%d\n", int(mesh.quads.size()));
    for (const Quad& q : mesh.quads)
        std::fprintf(file, "%d %d %d %d\n", q.a + 1, q.b + 1, q.c + 1, q.d + 1);
    const bool ok = std::fclose(file) == 0;
    if (!ok) std::fprintf(stderr, "gen_objects: cannot write %s\n", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ASSET_DIR\n", argc > 0 ? argv[0] : "gen_objects");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = write3d(dir + "/orlen_comp3553.3d", armillarySphere());
    ok = write3d(dir + "/bowl.3d", bowl()) && ok;
    ok = write3d(dir + "/Torus4Pt2Radius.3d", torus()) && ok;
    return ok ? 0 : 1;
}

// Asset generator: the object scenes' pictures, drawn procedurally with full mipmap chains.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "procedural.h"
#include "tdf_writer.h"

using procedural::Colour;
using procedural::Picture;

namespace {

constexpr int kSide = 256;
constexpr double kPi = 3.14159265358979323846;

int wrap(int v) {
    return (v % kSide + kSide) % kSide;
}

// Box blur of a tiling field, `passes` times in each direction (three passes approach a
// Gaussian of deviation about radius x 1).
std::vector<double> blurWrapped(const std::vector<double>& field, int radius, int passes) {
    std::vector<double> a = field, b(field.size());
    const double norm = 1.0 / (2 * radius + 1);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                double sum = 0.0;
                for (int k = -radius; k <= radius; ++k) sum += a[y * kSide + wrap(x + k)];
                b[y * kSide + x] = sum * norm;
            }
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                double sum = 0.0;
                for (int k = -radius; k <= radius; ++k) sum += b[wrap(y + k) * kSide + x];
                a[y * kSide + x] = sum * norm;
            }
    }
    return a;
}

// --- DENDRI: diffusion-limited aggregation on a torus -------------------------------------------

// Grows crystals from a few seeds: walkers wander from anywhere (the field wraps, so the
// picture tiles) until they touch the crystal and stick. `order` receives each cell's arrival
// number, -1 where empty.
void growDendrites(std::vector<int>* order, int particles, std::uint64_t seed) {
    constexpr int kReach = 10;  // the distance map is kept this far from the crystal
    procedural::Random random(seed);
    order->assign(kSide * kSide, -1);
    std::vector<double> distance(kSide * kSide, kReach + 1.0);
    int count = 0;
    auto stick = [&](int x, int y) {
        (*order)[y * kSide + x] = count++;
        for (int dy = -kReach; dy <= kReach; ++dy)
            for (int dx = -kReach; dx <= kReach; ++dx) {
                const double d = std::sqrt(double(dx * dx + dy * dy));
                double& cell = distance[wrap(y + dy) * kSide + wrap(x + dx)];
                if (d < cell) cell = d;
            }
    };
    for (int s = 0; s < 6; ++s) stick(random.below(kSide), random.below(kSide));
    while (count < particles) {
        int x = random.below(kSide), y = random.below(kSide);
        if (distance[y * kSide + x] < 4.0) continue;
        for (;;) {
            const double d = distance[y * kSide + x];
            if (d <= 1.5) {
                stick(x, y);
                break;
            }
            if (d > 4.0) {
                // Far from the crystal a long hop is as good as many steps of the walk.
                const int hop = int(d) - 2;
                x = wrap(x + random.below(2 * hop + 1) - hop);
                y = wrap(y + random.below(2 * hop + 1) - hop);
            } else {
                const int direction = random.below(8);
                static const int stepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
                static const int stepY[8] = {0, 1, 1, 1, 0, -1, -1, -1};
                x = wrap(x + stepX[direction]);
                y = wrap(y + stepY[direction]);
            }
        }
    }
}

Picture dendritePicture() {
    const int particles = 7000;
    std::vector<int> order;
    growDendrites(&order, particles, 0xDE4D217Eull);

    std::vector<double> body(kSide * kSide, 0.0), youth(kSide * kSide, 0.0);
    for (int i = 0; i < kSide * kSide; ++i)
        if (order[i] >= 0) {
            body[i] = 1.0;
            youth[i] = double(order[i]) / particles;
        }
    const std::vector<double> core = blurWrapped(body, 1, 1);
    const std::vector<double> glow = blurWrapped(body, 4, 3);
    const std::vector<double> age = blurWrapped(youth, 1, 1);

    const Colour deep = {0.03, 0.07, 0.10}, sea = {0.07, 0.22, 0.28};
    const Colour haze = {0.15, 0.55, 0.60};
    const Colour oldInk = {1.00, 0.86, 0.52}, youngInk = {0.62, 1.00, 0.95};
    Picture picture = procedural::makePicture(kSide, kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int i = y * kSide + x;
            const double n = procedural::fractalNoise(x / 64.0, y / 64.0, 4, 5, 11);
            Colour c = procedural::mix(deep, sea, procedural::clamp01(0.5 + 0.7 * n));
            c = procedural::add(c, procedural::scale(haze, std::min(1.0, glow[i] * 5.0) * 0.55));
            const double ink = procedural::smoothstep(0.12, 0.5, core[i]);
            const double young = core[i] > 0.0 ? procedural::clamp01(age[i] / core[i]) : 0.0;
            const Colour inkColour = procedural::mix(oldInk, youngInk, young);
            c = procedural::mix(c, inkColour, ink);
            picture.at(x, y) = c;
        }
    return picture;
}

// --- REDDUS: red dusty skin -------------------------------------------------------------------

Picture redDustPicture() {
    const Colour stops[] = {{0.20, 0.03, 0.03},
                            {0.46, 0.07, 0.05},
                            {0.68, 0.18, 0.08},
                            {0.80, 0.38, 0.20},
                            {0.88, 0.62, 0.46}};
    procedural::Random random(0x4EDD05ull);
    Picture picture = procedural::makePicture(kSide, kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            // A warped fractal gives the skin its blotches; cells give it pores and creases.
            const double wx = procedural::fractalNoise(x / 64.0, y / 64.0, 4, 3, 21) * 10.0;
            const double wy = procedural::fractalNoise(x / 64.0 + 7.3, y / 64.0, 4, 3, 22) * 10.0;
            const double blotch =
                procedural::fractalNoise((x + wx) / 64.0, (y + wy) / 64.0, 4, 6, 23);
            const procedural::CellDistances cells =
                procedural::cellNoise((x + wx) / 16.0, (y + wy) / 16.0, 16, 24);
            const double crease = procedural::smoothstep(0.0, 0.12, cells.second - cells.nearest);
            const double pore = procedural::smoothstep(0.05, 0.22, cells.nearest);
            double tone = 0.45 + 0.55 * blotch;
            tone *= 0.72 + 0.28 * crease;
            tone *= 0.85 + 0.15 * pore;
            Colour c = procedural::ramp(stops, 5, tone);
            // Dust: fine grain everywhere, a pale powder in the low places, bright specks.
            const double grain = double(procedural::hash(x, y, 25) & 0xFF) / 255.0 - 0.5;
            c = procedural::scale(c, 1.0 + 0.12 * grain);
            const double powder =
                procedural::smoothstep(0.1, 0.6,
                                       procedural::fractalNoise(x / 32.0, y / 32.0, 8, 4, 26)) *
                (1.0 - crease * 0.6);
            c = procedural::mix(c, Colour{0.86, 0.66, 0.52}, 0.35 * powder);
            if (random.uniform() < 0.012) c = procedural::mix(c, Colour{1.0, 0.88, 0.74}, 0.7);
            picture.at(x, y) = c;
        }
    return picture;
}

// --- BLUETR: blue caustic backdrop -------------------------------------------------------------

Picture blueCausticPicture() {
    const Colour stops[] = {
        {0.01, 0.03, 0.14}, {0.03, 0.12, 0.38}, {0.08, 0.34, 0.72}, {0.55, 0.82, 1.00}};
    Picture picture = procedural::makePicture(kSide, kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const double wx = procedural::fractalNoise(x / 128.0, y / 128.0, 2, 3, 31) * 14.0;
            const double wy = procedural::fractalNoise(x / 128.0, y / 128.0 + 3.1, 2, 3, 32) * 14.0;
            double light = 0.0;
            // Two nets of light of different mesh, as sunlight through two wave trains.
            const procedural::CellDistances a =
                procedural::cellNoise((x + wx) / 32.0, (y + wy) / 32.0, 8, 33);
            const procedural::CellDistances b =
                procedural::cellNoise((x - wy) / 21.333333, (y + wx) / 21.333333, 12, 34);
            light += std::pow(1.0 - procedural::smoothstep(0.0, 0.30, a.second - a.nearest), 3.0);
            light +=
                0.7 * std::pow(1.0 - procedural::smoothstep(0.0, 0.28, b.second - b.nearest), 3.0);
            const double depth = 0.5 + 0.5 * procedural::fractalNoise(x / 64.0, y / 64.0, 4, 4, 35);
            const double tone = procedural::clamp01(0.15 + 0.35 * depth + 0.45 * light);
            picture.at(x, y) = procedural::ramp(stops, 4, tone);
        }
    return picture;
}

// --- alldaypissup: environment map
// ----------------------------------------------------------------

// What a mirror sees in direction (x, y, z), y up: a sky from deep blue to a glowing horizon
// with a low sun, over a dark plain ruled in a grid that runs into the horizon haze.
Colour worldColour(double x, double y, double z) {
    const Colour zenith = {0.05, 0.12, 0.42}, skyLow = {0.42, 0.55, 0.95};
    const Colour horizonGlow = {1.00, 0.86, 0.62};
    const Colour ground = {0.10, 0.05, 0.14}, line = {0.95, 0.45, 0.85};
    const double length = std::sqrt(x * x + y * y + z * z);
    x /= length;
    y /= length;
    z /= length;
    // The sun, low in the sky behind the viewer and to the right.
    const double sx = 0.55, sy = 0.18, sz = -0.81;
    const double sunCos = x * sx + y * sy + z * sz;
    const double sun = std::pow(procedural::clamp01(sunCos), 900.0) * 3.0 +
                       std::pow(procedural::clamp01(sunCos), 24.0) * 0.45;
    if (y >= 0.0) {
        Colour c = procedural::mix(horizonGlow, skyLow, procedural::smoothstep(0.0, 0.25, y));
        c = procedural::mix(c, zenith, procedural::smoothstep(0.2, 1.0, y));
        // Streaks of cloud, thinning towards the zenith.
        const double u = x / (y + 0.15), v = z / (y + 0.15);
        const double cloud = procedural::smoothstep(
            0.05, 0.6, procedural::fractalNoise(u * 2.0 + 10.0, v * 0.6 + 10.0, 64, 4, 41));
        c = procedural::mix(c, Colour{1.0, 0.92, 0.88}, cloud * 0.55 * (1.0 - y));
        return procedural::add(c, procedural::scale(Colour{1.0, 0.85, 0.6}, sun));
    }
    // The plain at one unit below the eye: a grid of glowing lines, fading into haze.
    const double t = 1.0 / -y;
    const double px = x * t, pz = z * t;
    const double fx = std::fabs(px * 1.5 - std::round(px * 1.5));
    const double fz = std::fabs(pz * 1.5 - std::round(pz * 1.5));
    const double width = 0.04 + 0.02 * t;
    const double lines = std::max(1.0 - procedural::smoothstep(0.0, width, fx),
                                  1.0 - procedural::smoothstep(0.0, width, fz));
    Colour c = procedural::mix(ground, line, lines * 0.85);
    const double haze = procedural::smoothstep(0.0, 0.35, -y);
    return procedural::mix(horizonGlow, c, haze);
}

// The picture at texture point (s, t) is what a mirror with the normal (nx, ny, nz) reflects,
// nx = (s - 128) / 128, ny = (128 - t) / 128 and nz towards the viewer, as the scene looks it
// up. Outside the disc the rim is carried on outwards.
Picture environmentPicture() {
    Picture picture = procedural::makePicture(kSide, kSide);
    const int samples = 4;  // per axis, against the aliasing of the fine grid
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            Colour sum = {0.0, 0.0, 0.0};
            for (int j = 0; j < samples; ++j)
                for (int i = 0; i < samples; ++i) {
                    double nx = (x + (i + 0.5) / samples - 128.0) / 128.0;
                    double ny = (128.0 - (y + (j + 0.5) / samples)) / 128.0;
                    const double r2 = nx * nx + ny * ny;
                    if (r2 > 0.999) {
                        const double k = std::sqrt(0.999 / r2);
                        nx *= k;
                        ny *= k;
                    }
                    const double nz = -std::sqrt(std::max(0.0, 1.0 - nx * nx - ny * ny));
                    // The eye looks along +z; R = V - 2 (V.N) N with V = (0, 0, 1).
                    const double vn = nz;
                    sum = procedural::add(
                        sum, worldColour(-2.0 * vn * nx, -2.0 * vn * ny, 1.0 - 2.0 * vn * nz));
                }
            picture.at(x, y) = procedural::scale(sum, 1.0 / (samples * samples));
        }
    return picture;
}

bool writeTexture(const std::string& path, const Picture& picture) {
    std::string error;
    if (!tdf::write3df(path, procedural::toImage(picture, true), "rgb565", true, &error)) {
        std::fprintf(stderr, "gen_scene_textures: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ASSET_DIR\n", argc > 0 ? argv[0] : "gen_scene_textures");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = writeTexture(dir + "/DENDRI.3df", dendritePicture());
    ok = writeTexture(dir + "/REDDUS.3df", redDustPicture()) && ok;
    ok = writeTexture(dir + "/BLUETR.3df", blueCausticPicture()) && ok;
    ok = writeTexture(dir + "/alldaypissup.3df", environmentPicture()) && ok;
    return ok ? 0 : 1;
}

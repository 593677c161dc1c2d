// Asset generator: the pictures of the rotation, flag, knot and Phong scenes, drawn procedurally.
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

constexpr double kPi = 3.14159265358979323846;

// Shortest signed distance from a to b on a ring of `period`.
double wrappedDelta(double a, double b, double period) {
    double d = b - a;
    d -= period * std::round(d / period);
    return d;
}

// --- juice: citrus slices on a pink splash -----------------------------------------------------

struct Slice {
    double x, y, radius, turn;
    int segments;
    Colour flesh, rind;
};

// One slice's colour at offset (dx, dy) from its centre, or false outside it.
bool sliceColour(const Slice& slice, double dx, double dy, Colour* out) {
    const double d = std::hypot(dx, dy);
    const double r = d / slice.radius;
    if (r > 1.0) return false;
    const Colour pith = {0.98, 0.95, 0.82};
    Colour c;
    if (r > 0.9) {
        // Rind: darker towards its outer edge, dimpled by its oil glands.
        const double pores = procedural::fractalNoise(dx / 3.0 + 50.0, dy / 3.0 + 50.0, 256, 2, 71);
        c = procedural::scale(slice.rind,
                              0.95 - 0.35 * procedural::smoothstep(0.93, 1.0, r) + 0.12 * pores);
    } else if (r > 0.82) {
        c = procedural::mix(pith, slice.flesh, 0.15 * procedural::smoothstep(0.82, 0.9, r));
    } else {
        // Flesh: segments with white membranes between them and a pale core.
        double angle = std::atan2(dy, dx) - slice.turn;
        const double sector = 2.0 * kPi / slice.segments;
        angle -= sector * std::floor(angle / sector);
        const double toEdge = std::min(angle, sector - angle) * d;  // pixels to a membrane
        const double membraneWidth = 0.7 + 1.1 * r;
        const double membrane = 1.0 - procedural::smoothstep(0.0, membraneWidth, toEdge);
        // Juice sacs: streaks running out from the core, bright where they catch the light.
        const double sacs =
            procedural::fractalNoise(angle * d / 2.0 + slice.x, d / 9.0 + slice.y, 4096, 3, 72);
        c = procedural::scale(slice.flesh, 0.82 + 0.3 * sacs);
        const double sparkle = std::pow(procedural::clamp01(sacs), 6.0) * 3.0;
        c = procedural::add(c, procedural::scale(Colour{1.0, 0.95, 0.8}, sparkle * 0.5));
        // The flesh stops short of the pith in a thin bright rim.
        c = procedural::mix(c, pith, procedural::smoothstep(0.78, 0.82, r) * 0.8);
        c = procedural::mix(c, pith,
                            std::max(membrane * 0.9, 1.0 - procedural::smoothstep(0.04, 0.1, r)));
    }
    // A wet gloss from the upper left.
    const double hx = dx / slice.radius + 0.35, hy = dy / slice.radius + 0.4;
    const double gloss = std::exp(-(hx * hx + hy * hy) * 9.0) * 0.45;
    *out = procedural::add(c, Colour{gloss, gloss, gloss});
    return true;
}

Picture juicePicture() {
    const int side = 256;
    const Colour orange = {1.0, 0.55, 0.05}, orangeRind = {0.95, 0.42, 0.02};
    const Colour lemon = {1.0, 0.9, 0.2}, lemonRind = {0.98, 0.82, 0.05};
    const Colour lime = {0.55, 0.88, 0.15}, limeRind = {0.2, 0.55, 0.08};
    const Colour grapefruit = {1.0, 0.38, 0.38}, grapefruitRind = {1.0, 0.62, 0.25};
    const Slice slices[] = {
        {48, 52, 50, 0.3, 10, orange, orangeRind},
        {176, 40, 42, 1.1, 9, lemon, lemonRind},
        {120, 140, 54, 0.7, 11, grapefruit, grapefruitRind},
        {224, 150, 38, 2.0, 8, lime, limeRind},
        {30, 190, 40, 0.1, 9, lemon, lemonRind},
        {196, 236, 44, 1.6, 10, orange, orangeRind},
        {84, 248, 30, 2.6, 8, lime, limeRind},
    };
    Picture picture = procedural::makePicture(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            // A hot pink splash with paler swirls and drops of juice.
            const double swirl = procedural::fractalNoise(x / 64.0, y / 64.0, 4, 4, 73);
            Colour c = procedural::mix(Colour{0.93, 0.12, 0.45}, Colour{1.0, 0.45, 0.65},
                                       procedural::smoothstep(-0.3, 0.6, swirl));
            const procedural::CellDistances drops =
                procedural::cellNoise(x / 16.0, y / 16.0, 16, 74);
            const double drop = 1.0 - procedural::smoothstep(0.08, 0.16, drops.nearest);
            c = procedural::mix(c, Colour{1.0, 0.85, 0.9}, drop * 0.6);
            // Slices cast a soft shadow to the lower right, then lie on top in their order.
            double shadow = 0.0;
            for (const Slice& s : slices) {
                const double dx = wrappedDelta(s.x + 4.0, x + 0.5, side);
                const double dy = wrappedDelta(s.y + 5.0, y + 0.5, side);
                const double r = std::hypot(dx, dy) / s.radius;
                shadow = std::max(shadow, 1.0 - procedural::smoothstep(0.92, 1.12, r));
            }
            c = procedural::scale(c, 1.0 - 0.45 * shadow);
            for (const Slice& s : slices) {
                Colour slice;
                if (sliceColour(s, wrappedDelta(s.x, x + 0.5, side),
                                wrappedDelta(s.y, y + 0.5, side), &slice))
                    c = slice;
            }
            picture.at(x, y) = c;
        }
    return picture;
}

// --- MUTANT: reaction-diffusion flesh ----------------------------------------------------------

// Gray-Scott reaction and diffusion on a `side` x `side` torus (a power of two), grown from
// scattered seeds into a maze of living worms; returns the second chemical, about 0 to 0.45.
std::vector<float> grayScott(int side, int steps) {
    const int n = side * side, mask = side - 1;
    std::vector<float> u(n, 1.0f), v(n, 0.0f), u2(n), v2(n);
    procedural::Random random(0x3D7A47ull);
    for (int seed = 0; seed < 24; ++seed) {
        const int cx = random.below(side), cy = random.below(side), r = 2 + random.below(3);
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx) {
                const int i = ((cy + dy) & mask) * side + ((cx + dx) & mask);
                u[i] = 0.5f;
                v[i] = 0.25f + 0.1f * float(random.uniform());
            }
    }
    const float du = 1.0f, dv = 0.5f, feed = 0.0545f, kill = 0.062f;
    for (int step = 0; step < steps; ++step) {
        for (int y = 0; y < side; ++y) {
            const int up = ((y + mask) & mask) * side, here = y * side,
                      down = ((y + 1) & mask) * side;
            for (int x = 0; x < side; ++x) {
                const int l = (x + mask) & mask, r = (x + 1) & mask;
                auto laplacian = [&](const std::vector<float>& f) {
                    return 0.2f * (f[here + l] + f[here + r] + f[up + x] + f[down + x]) +
                           0.05f * (f[up + l] + f[up + r] + f[down + l] + f[down + r]) -
                           f[here + x];
                };
                const float a = u[here + x], b = v[here + x];
                const float reaction = a * b * b;
                u2[here + x] = a + du * laplacian(u) - reaction + feed * (1.0f - a);
                v2[here + x] = b + dv * laplacian(v) + reaction - (kill + feed) * b;
            }
        }
        u.swap(u2);
        v.swap(v2);
    }
    return v;
}

Picture mutantPicture() {
    const int side = 256, field = 128;
    // Grown at half the picture's size and spread over it: worms thick enough to read when
    // the backdrop zooms out to two texels a pixel.
    const std::vector<float> v = grayScott(field, 5000);
    auto at = [&](double x, double y) {
        const double fx = x / 2.0 - 0.25, fy = y / 2.0 - 0.25;
        const int x0 = int(std::floor(fx)), y0 = int(std::floor(fy));
        const double tx = fx - x0, ty = fy - y0;
        auto cell = [&](int cx, int cy) {
            return double(v[(cy & (field - 1)) * field + (cx & (field - 1))]);
        };
        const double top = cell(x0, y0) + (cell(x0 + 1, y0) - cell(x0, y0)) * tx;
        const double bottom = cell(x0, y0 + 1) + (cell(x0 + 1, y0 + 1) - cell(x0, y0 + 1)) * tx;
        return top + (bottom - top) * ty;
    };
    const Colour stops[] = {{0.10, 0.02, 0.16},
                            {0.38, 0.05, 0.45},
                            {0.85, 0.15, 0.55},
                            {0.55, 0.95, 0.25},
                            {0.98, 1.00, 0.60}};
    Picture picture = procedural::makePicture(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double level = at(x, y) / 0.4;
            // Embossed: the worms' flanks lit from the upper left.
            const double gx = at(x + 1, y) - at(x - 1, y), gy = at(x, y + 1) - at(x, y - 1);
            const double light = procedural::clamp01(0.6 - 8.0 * (gx + gy));
            const double hue = 0.5 + 0.5 * procedural::fractalNoise(x / 128.0, y / 128.0, 2, 2, 81);
            Colour c = procedural::ramp(stops, 5, procedural::clamp01(level * 0.8 + hue * 0.25));
            c = procedural::scale(c, 0.55 + 0.75 * light);
            c = procedural::add(
                c, procedural::scale(Colour{0.9, 1.0, 0.8},
                                     std::pow(procedural::clamp01(light - 0.6), 2.0) * 1.5));
            picture.at(x, y) = c;
        }
    return picture;
}

// --- c_flag3: the Canadian flag ---------------------------------------------------------------

// The maple leaf's outline in the flag's measure (9600 x 4800, y downwards, the white square
// from 2400 to 7200): eleven points, the stem at the bottom.
const double kLeaf[][2] = {
    {4890, 4430}, {4845, 3567}, {4956, 3469}, {5815, 3620}, {5699, 3300}, {5719, 3227},
    {6660, 2465}, {6448, 2366}, {6414, 2287}, {6600, 1715}, {6058, 1830}, {5985, 1792},
    {5880, 1545}, {5457, 1999}, {5346, 1942}, {5550, 890},  {5223, 1079}, {5132, 1052},
    {4800, 400},  {4468, 1052}, {4377, 1079}, {4050, 890},  {4254, 1942}, {4143, 1999},
    {3720, 1545}, {3615, 1792}, {3542, 1830}, {3000, 1715}, {3186, 2287}, {3152, 2366},
    {2940, 2465}, {3881, 3227}, {3901, 3300}, {3785, 3620}, {4644, 3469}, {4755, 3567},
    {4710, 4430},
};

bool insideLeaf(double x, double y) {
    const int count = int(sizeof kLeaf / sizeof kLeaf[0]);
    bool inside = false;
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const double xi = kLeaf[i][0], yi = kLeaf[i][1], xj = kLeaf[j][0], yj = kLeaf[j][1];
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) inside = !inside;
    }
    return inside;
}

// The flag squeezed into a square picture: the flag grid is twice as wide as it is high and
// spreads the picture's width over its own.
Picture flagPicture() {
    const int side = 256, samples = 4;
    const Colour red = {0.84, 0.13, 0.12}, white = {0.97, 0.97, 0.95};
    Picture picture = procedural::makePicture(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            Colour sum = {0.0, 0.0, 0.0};
            for (int j = 0; j < samples; ++j)
                for (int i = 0; i < samples; ++i) {
                    const double fx = (x + (i + 0.5) / samples) * 9600.0 / side;
                    const double fy = (y + (j + 0.5) / samples) * 4800.0 / side;
                    const bool band = fx < 2400.0 || fx >= 7200.0;
                    sum = procedural::add(sum, band || insideLeaf(fx, fy) ? red : white);
                }
            Colour c = procedural::scale(sum, 1.0 / (samples * samples));
            // The weave of the bunting, faint.
            const double weave = procedural::fractalNoise(x / 8.0, y / 8.0, 32, 2, 91);
            c = procedural::scale(c, 0.96 + 0.04 * weave);
            picture.at(x, y) = c;
        }
    return picture;
}

// --- maren: marbled paper ----------------------------------------------------------------------

Picture marblePicture() {
    const int side = 256;
    const Colour stops[] = {{0.02, 0.10, 0.18}, {0.05, 0.38, 0.46}, {0.45, 0.80, 0.78},
                            {0.97, 0.93, 0.80}, {0.92, 0.66, 0.22}, {0.55, 0.20, 0.10},
                            {0.02, 0.10, 0.18}};
    Picture picture = procedural::makePicture(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            // Stripes across the picture, combed twice by the tiling noise.
            const double wx = procedural::fractalNoise(x / 64.0, y / 64.0, 4, 5, 101);
            const double wy = procedural::fractalNoise(x / 64.0 + 2.7, y / 64.0, 4, 5, 102);
            const double px = x + 40.0 * wx, py = y + 40.0 * wy;
            const double comb = procedural::fractalNoise(px / 32.0, py / 32.0, 8, 3, 103);
            const double phase = (2.0 * px + py) / side + 0.35 * comb;
            const double stripe = phase - std::floor(phase);
            Colour c = procedural::ramp(stops, 7, stripe);
            // Fine veins where the colours meet.
            const double vein = std::fabs(std::sin(phase * 6.0 * kPi));
            c = procedural::scale(c, 0.8 + 0.2 * std::pow(vein, 0.3));
            picture.at(x, y) = c;
        }
    return picture;
}

// --- 128x128: bronze fish scales --------------------------------------------------------------

Picture scalePicture() {
    const int side = 128, pitch = 32, rowStep = 16;
    const double radius = 21.0;
    Picture picture = procedural::makePicture(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            // Of the scales that cover the texel, the one of the highest row lies on top (the
            // nearest centre within a row), as shingles do: each shows its lower crescent. Rows and
            // columns are counted around the texel and wrapped only to pick each scale's tint, so
            // the picture tiles.
            int bestRow = 0, bestColumn = 0;
            double bestY = 1e9, bestDistance = 1e9, bestDx = 0.0, bestDy = 0.0;
            const int firstRow = int(std::floor(py / rowStep)) - 1;
            for (int row = firstRow; row <= firstRow + 3; ++row) {
                const double cy = row * rowStep;
                const double shift = (row & 1) ? pitch / 2.0 : 0.0;
                const int firstColumn = int(std::floor((px - shift) / pitch)) - 1;
                for (int column = firstColumn; column <= firstColumn + 2; ++column) {
                    const double cx = column * pitch + shift + pitch / 2.0;
                    const double dx = px - cx, dy = py - cy;
                    const double distance = std::hypot(dx, dy);
                    if (distance > radius) continue;
                    if (cy < bestY || (cy == bestY && distance < bestDistance)) {
                        bestY = cy;
                        bestDistance = distance;
                        bestRow = row;
                        bestColumn = column;
                        bestDx = dx;
                        bestDy = dy;
                    }
                }
            }
            Colour c = {0.05, 0.03, 0.02};
            if (bestY < 1e8) {
                const int rows = side / rowStep, columns = side / pitch;
                const std::uint32_t h =
                    procedural::hash(((bestColumn % columns) + columns) % columns,
                                     ((bestRow % rows) + rows) % rows, 111);
                const double tint = double(h & 0xFF) / 255.0;
                Colour base =
                    procedural::mix(Colour{0.60, 0.30, 0.10}, Colour{0.95, 0.72, 0.30}, tint);
                // One scale in eight has gone green with age.
                if (((h >> 8) & 7) == 0) base = Colour{0.20, 0.55, 0.45};
                const double r = bestDistance / radius;
                // Shadowed under the scale above, brighter towards the free lower edge, a dark
                // lip at the rim, a sheen.
                double shade = 0.25 + 0.75 * procedural::smoothstep(0.2, 0.85, bestDy / radius);
                shade *= 1.0 - 0.8 * procedural::smoothstep(0.88, 1.0, r);
                const double sx = bestDx + 5.0, sy = bestDy - 13.0;
                const double sheen = std::exp(-(sx * sx + sy * sy) / 18.0) * 0.6;
                c = procedural::add(procedural::scale(base, shade),
                                    Colour{sheen, sheen * 0.9, sheen * 0.7});
            }
            picture.at(x, y) = c;
        }
    return picture;
}

// --- phong: the highlight ---------------------------------------------------------------------

// Brightness of the highlight at distance r (in units of 128 texels) from the centre: a tight
// white spot on a broad, soft glow, exactly black from r = 1 on.
double highlight(double r) {
    if (r >= 1.0) return 0.0;
    const double q = 1.0 - r * r;
    return std::min(1.0, 0.95 * std::pow(q, 18.0) + 0.2 * q * q * q);
}

Picture phongPicture() {
    const int side = 256;
    Picture picture = procedural::makePicture(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double r = std::hypot(x + 0.5 - 128.0, y + 0.5 - 128.0) / 128.0;
            const double level = highlight(r);
            picture.at(x, y) = Colour{level, level, level};
        }
    return picture;
}

bool writeTexture(const std::string& path, const Picture& picture, bool dither = true) {
    std::string error;
    if (!tdf::write3df(path, procedural::toImage(picture, dither), "rgb565", true, &error)) {
        std::fprintf(stderr, "gen_scene_textures2: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ASSET_DIR\n", argc > 0 ? argv[0] : "gen_scene_textures2");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = writeTexture(dir + "/juice.3df", juicePicture());
    ok = writeTexture(dir + "/MUTANT.3df", mutantPicture()) && ok;
    ok = writeTexture(dir + "/c_flag3.3df", flagPicture()) && ok;
    ok = writeTexture(dir + "/maren.3df", marblePicture()) && ok;
    ok = writeTexture(dir + "/128x128.3df", scalePicture()) && ok;
    ok = writeTexture(dir + "/phong.3df", phongPicture()) && ok;
    return ok ? 0 : 1;
}

// Procedural picture helpers: seeded generator, tileable gradient and cell noise, colours.
#include "procedural.h"

#include <algorithm>
#include <cmath>

namespace procedural {

std::uint64_t Random::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Random::uniform() {
    return double(next() >> 11) * (1.0 / 9007199254740992.0);
}

int Random::below(int n) {
    return n <= 0 ? 0 : int(next() % std::uint64_t(n));
}

std::uint32_t hash(int x, int y, std::uint32_t seed) {
    std::uint32_t h =
        seed * 0x27D4EB2Du ^ std::uint32_t(x) * 0x85EBCA6Bu ^ std::uint32_t(y) * 0xC2B2AE35u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

namespace {

int wrap(int v, int period) {
    const int m = v % period;
    return m < 0 ? m + period : m;
}

double fade(double t) {
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

double lattice(int ix, int iy, int period, std::uint32_t seed, double fx, double fy) {
    const std::uint32_t h = hash(wrap(ix, period), wrap(iy, period), seed);
    const double angle = double(h) * (6.283185307179586 / 4294967296.0);
    return std::cos(angle) * fx + std::sin(angle) * fy;
}

}  // namespace

double gradientNoise(double x, double y, int period, std::uint32_t seed) {
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const int ix = int(fx0), iy = int(fy0);
    const double fx = x - fx0, fy = y - fy0;
    const double n00 = lattice(ix, iy, period, seed, fx, fy);
    const double n10 = lattice(ix + 1, iy, period, seed, fx - 1.0, fy);
    const double n01 = lattice(ix, iy + 1, period, seed, fx, fy - 1.0);
    const double n11 = lattice(ix + 1, iy + 1, period, seed, fx - 1.0, fy - 1.0);
    const double u = fade(fx), v = fade(fy);
    const double top = n00 + (n10 - n00) * u;
    const double bottom = n01 + (n11 - n01) * u;
    return (top + (bottom - top) * v) * 1.41421356;
}

double fractalNoise(double x, double y, int period, int octaves, std::uint32_t seed) {
    double sum = 0.0, amplitude = 1.0, norm = 0.0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * gradientNoise(x, y, period, seed + std::uint32_t(o) * 7919u);
        norm += amplitude;
        x *= 2.0;
        y *= 2.0;
        period *= 2;
        amplitude *= 0.5;
    }
    return sum / norm;
}

CellDistances cellNoise(double x, double y, int period, std::uint32_t seed) {
    const int ix = int(std::floor(x)), iy = int(std::floor(y));
    double nearest = 1e9, second = 1e9;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int cx = ix + dx, cy = iy + dy;
            const std::uint32_t h = hash(wrap(cx, period), wrap(cy, period), seed);
            const double px = cx + double(h & 0xFFFF) / 65536.0;
            const double py = cy + double(h >> 16) / 65536.0;
            const double d = std::hypot(px - x, py - y);
            if (d < nearest) {
                second = nearest;
                nearest = d;
            } else if (d < second) {
                second = d;
            }
        }
    return {nearest, second};
}

Colour mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
Colour scale(Colour c, double k) {
    return {c.r * k, c.g * k, c.b * k};
}
Colour add(Colour a, Colour b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
double clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

Colour ramp(const Colour* stops, int count, double t) {
    if (count == 1) return stops[0];
    const double position = clamp01(t) * (count - 1);
    const int i = std::min(int(position), count - 2);
    return mix(stops[i], stops[i + 1], position - i);
}

Picture makePicture(int width, int height) {
    Picture p;
    p.width = width;
    p.height = height;
    p.pixels.assign(std::size_t(width) * height, Colour{0.0, 0.0, 0.0});
    return p;
}

tdf::Image toImage(const Picture& picture, bool ditherFor565) {
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    tdf::Image image;
    image.width = picture.width;
    image.height = picture.height;
    image.argb.resize(picture.pixels.size());
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const Colour& c = picture.at(x, y);
            const double d = ditherFor565 ? (bayer[y & 3][x & 3] + 0.5) / 16.0 - 0.5 : 0.0;
            auto channel = [&](double v, double step) {
                const double value = clamp01(v) * 255.0 + d * step;
                return std::uint32_t(std::clamp(std::lround(value), 0l, 255l));
            };
            image.argb[std::size_t(y) * picture.width + x] =
                0xFF000000u | channel(c.r, 8.2) << 16 | channel(c.g, 4.0) << 8 | channel(c.b, 8.2);
        }
    return image;
}

}  // namespace procedural

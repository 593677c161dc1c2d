// Procedural picture helpers for the asset generators: seeded noise, colours, 3DF hand-over.
#pragma once

#include <cstdint>
#include <vector>

#include "tdf_writer.h"

namespace procedural {

// A small deterministic generator (SplitMix64): the same seed gives the same pictures on every
// machine, which the standard library's distributions do not promise.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [0, 1).
    double uniform();
    // Uniform in 0 .. n - 1.
    int below(int n);

  private:
    std::uint64_t state_;
};

// A hash of integer lattice coordinates and a seed, uniform over 32 bits.
std::uint32_t hash(int x, int y, std::uint32_t seed);

// Gradient noise in about -1 .. 1 on a lattice of `period` x `period` cells that repeats, so a
// picture sampled over one period tiles without a seam. x and y are in lattice cells.
double gradientNoise(double x, double y, int period, std::uint32_t seed);
// Fractal sum of `octaves` octaves of gradientNoise, each of double frequency and half
// amplitude, normalised to about -1 .. 1; the base period repeats as gradientNoise's.
double fractalNoise(double x, double y, int period, int octaves, std::uint32_t seed);

// Distances to the nearest and the second nearest of one jittered point per cell of a
// `period` x `period` lattice that repeats; x and y in cells, distances in cells.
struct CellDistances {
    double nearest;
    double second;
};
CellDistances cellNoise(double x, double y, int period, std::uint32_t seed);

struct Colour {
    double r, g, b;  // 0 .. 1, may overshoot before clamping
};

Colour mix(Colour a, Colour b, double t);
Colour scale(Colour c, double k);
Colour add(Colour a, Colour b);
double clamp01(double v);
double smoothstep(double edge0, double edge1, double x);
// Piecewise-linear colour ramp through `count` evenly spaced stops, t in 0 .. 1.
Colour ramp(const Colour* stops, int count, double t);

// A floating-point picture, rows from the top.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Colour> pixels;
    Colour& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    const Colour& at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};
Picture makePicture(int width, int height);

// Clamps to 0 .. 255 with an ordered dither of one step of a 5-6-5 texel, so that smooth
// gradients keep their shape in 16-bit textures instead of breaking into bands.
tdf::Image toImage(const Picture& picture, bool ditherFor565);

}  // namespace procedural

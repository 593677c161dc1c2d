// Sound synthesis for the song generator: oscillators, filters and envelopes that render the
// song's instruments (drums, bass, lead, pads, plucks, effects) into tracker samples.
#pragma once

#include <cstdint>
#include <vector>

#include "xm_writer.h"

namespace synth {

constexpr double kPi = 3.14159265358979323846;

// A small deterministic noise source (xorshift32), so that every build renders the same sounds.
class Noise {
  public:
    explicit Noise(std::uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
    double white();  // uniform in [-1, 1)

  private:
    std::uint32_t state_;
};

// A second-order IIR section with the usual audio cookbook designs.
class Biquad {
  public:
    static Biquad lowPass(double rate, double frequency, double q);
    static Biquad highPass(double rate, double frequency, double q);
    static Biquad bandPass(double rate, double frequency, double q);  // 0 dB at the centre
    double run(double x);
    void reset() { x1_ = x2_ = y1_ = y2_ = 0; }

  private:
    double b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// --- tuning: how a sample's frames map onto the tracker's notes -------------------------------

// The relative note and finetune that make note `note` (1 = C-0 ... 49 = C-4) play the sample
// at `rate` frames per second. The finetune's step is 1/128 semitone, so the error is at most
// half of that.
struct Tuning {
    std::int8_t relativeNote = 0;
    std::int8_t finetune = 0;
};
Tuning tuningForRate(double rate, int note = 49);
// For pitched data with `cyclesPerFrame` cycles of its fundamental per frame: the tuning that
// makes every note sound at its own pitch (A-4 = 440 Hz).
Tuning tuningForPitch(double cyclesPerFrame);
// The frame rate at which the tracker plays a sample for `note` with `tuning` (linear
// frequencies: 8363 Hz at C-4 with no relative note or finetune).
double playbackRate(int note, Tuning tuning);
// A note's pitch in Hz (49 = C-4 = 261.63 Hz).
double noteFrequency(int note);

// Scales `signal` to `peak` (0..1 of full scale) and rounds it to 16-bit frames.
std::vector<std::int16_t> toPcm(const std::vector<double>& signal, double peak);
// Largest absolute value of a signal.
double peakOf(const std::vector<double>& signal);

// --- periodic waves ---------------------------------------------------------------------------

// Harmonic amplitudes (index 0 = fundamental) of band-limited classic waves, each summed with
// sine phase, so that every cycle starts and ends at zero.
std::vector<double> sawHarmonics(int count);
std::vector<double> squareHarmonics(int count);
std::vector<double> pulseHarmonics(int count, double width);  // width 0..1 of the cycle
std::vector<double> triangleHarmonics(int count);
// A gentle low-pass in the harmonic domain: harmonic k (from 1) scaled by 1 / (1 + (k/cut)^2)
// to the power `order` / 2.
std::vector<double> tilt(std::vector<double> harmonics, double cut, double order);
// Mixes two harmonic lists (a·x + b·y), the shorter padded with zeros.
std::vector<double> mix(const std::vector<double>& x, double a, const std::vector<double>& y,
                        double b);

// A voiced tone whose brightness decays from a bright attack into a steady, looped cycle, the
// way a synthesiser's filter envelope sounds: harmonic k of the `harmonics` is weighted with a
// cutoff that falls from `startCut` to `endCut` harmonics with the time constant `decayCycles`
// (in cycles of the fundamental). After `cycles` cycles the last cycle is looped.
struct ToneParams {
    std::vector<double> harmonics;
    int cycleFrames = 128;  // frames per cycle of the fundamental
    int cycles = 64;        // cycles before the loop
    double startCut = 32;
    double endCut = 4;
    double decayCycles = 12;
    double peak = 0.9;
};
xm::Sample toneSample(const char* name, const ToneParams& params);

// A looped ensemble of slightly detuned copies of one wave (a "super" saw or a string pad):
// voice i makes `cycles + detune[i]` whole cycles in `loopFrames` frames, so the loop is
// seamless; the pitch is that of the centre (detune 0). Phases are drawn from `seed`.
struct EnsembleParams {
    std::vector<double> harmonics;
    int loopFrames = 16384;
    int cycles = 256;
    std::vector<double> detune = {-3, -1, 0, 1, 3};  // whole cycles per loop
    std::vector<double> gains = {0.7, 0.9, 1.0, 0.9, 0.7};
    std::uint32_t seed = 1;
    double peak = 0.9;
};
xm::Sample ensembleSample(const char* name, const EnsembleParams& params);

// --- drums and effects ------------------------------------------------------------------------
// Each renders a one-shot at `rate` frames per second and returns it tuned to play at that rate
// on C-4.

struct KickParams {
    double rate = 25060;  // 8363 Hz nineteen semitones up
    double seconds = 0.42;
    double startHz = 150, endHz = 44;
    double pitchTime = 0.03;  // time constant of the pitch fall
    double decayTime = 0.14;  // time constant of the body
    double click = 0.35;      // level of the short click at the attack
    double drive = 1.6;       // soft saturation: rounder and louder
    double peak = 0.95;
};
xm::Sample kickSample(const KickParams& params);

xm::Sample snareSample(double rate, std::uint32_t seed);
xm::Sample clapSample(double rate, std::uint32_t seed);
// A metallic hi-hat: six detuned square oscillators and noise, band-passed high; `decayTime` a
// few tens of milliseconds for a closed hat, a few tenths of a second for an open one.
xm::Sample hatSample(const char* name, double rate, double seconds, double decayTime,
                     std::uint32_t seed);
xm::Sample crashSample(double rate, double seconds, std::uint32_t seed);
// Band-passed noise around `centreHz` (at the rate it was made at), looped seamlessly: pitched
// up by the tracker it becomes a rising noise sweep.
xm::Sample noiseLoopSample(double rate, int frames, double centreHz, double q, std::uint32_t seed);

}  // namespace synth

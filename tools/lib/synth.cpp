// Sound synthesis for the song generator: band-limited waves, filter-envelope tones, detuned
// ensembles and drum models, rendered into 16-bit tracker samples with their tuning.
#include "synth.h"

#include <algorithm>
#include <cmath>

namespace synth {

namespace {

constexpr double kBaseRate = 8363.0;  // the tracker plays C-4 at this rate with no tuning
constexpr int kMiddleC = 49;          // C-4

// Runs `filter` over a periodic buffer twice and keeps the second pass, so that the filter's
// state wraps around and the result joins seamlessly when looped.
std::vector<double> filterCircular(const std::vector<double>& in, Biquad filter) {
    std::vector<double> out(in.size());
    for (double v : in) filter.run(v);
    for (std::size_t i = 0; i < in.size(); ++i) out[i] = filter.run(in[i]);
    return out;
}

// A short fade at the end of a one-shot, so that cutting it off does not click.
void fadeTail(std::vector<double>& v, double rate, double seconds) {
    const std::size_t n = std::min(v.size(), std::size_t(rate * seconds));
    for (std::size_t i = 0; i < n; ++i) v[v.size() - 1 - i] *= double(i) / double(n);
}

double softClip(double x, double drive) {
    return std::tanh(drive * x) / std::tanh(drive);
}

xm::Sample oneShot(const char* name, const std::vector<double>& signal, double rate, double peak) {
    xm::Sample s;
    s.name = name;
    s.data = toPcm(signal, peak);
    const Tuning t = tuningForRate(rate);
    s.relativeNote = t.relativeNote;
    s.finetune = t.finetune;
    return s;
}

}  // namespace

double Noise::white() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return double(state_) / 2147483648.0 - 1.0;
}

Biquad Biquad::lowPass(double rate, double frequency, double q) {
    const double w = 2 * kPi * frequency / rate, c = std::cos(w), alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha;
    Biquad f;
    f.b0_ = (1 - c) / 2 / a0;
    f.b1_ = (1 - c) / a0;
    f.b2_ = f.b0_;
    f.a1_ = -2 * c / a0;
    f.a2_ = (1 - alpha) / a0;
    return f;
}

Biquad Biquad::highPass(double rate, double frequency, double q) {
    const double w = 2 * kPi * frequency / rate, c = std::cos(w), alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha;
    Biquad f;
    f.b0_ = (1 + c) / 2 / a0;
    f.b1_ = -(1 + c) / a0;
    f.b2_ = f.b0_;
    f.a1_ = -2 * c / a0;
    f.a2_ = (1 - alpha) / a0;
    return f;
}

Biquad Biquad::bandPass(double rate, double frequency, double q) {
    const double w = 2 * kPi * frequency / rate, c = std::cos(w), alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha;
    Biquad f;
    f.b0_ = alpha / a0;
    f.b1_ = 0;
    f.b2_ = -alpha / a0;
    f.a1_ = -2 * c / a0;
    f.a2_ = (1 - alpha) / a0;
    return f;
}

double Biquad::run(double x) {
    const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
    x2_ = x1_;
    x1_ = x;
    y2_ = y1_;
    y1_ = y;
    return y;
}

// --- tuning -------------------------------------------------------------------------------------

Tuning tuningForRate(double rate, int note) {
    const double semitones = 12.0 * std::log2(rate / kBaseRate) - double(note - kMiddleC);
    const double whole = std::round(semitones);
    // The tracker halves the finetune when it computes a period, so only even steps count.
    const double fine = 2.0 * std::round((semitones - whole) * 64.0);
    Tuning t;
    t.relativeNote = std::int8_t(std::clamp(whole, -96.0, 95.0));
    t.finetune = std::int8_t(std::clamp(fine, -128.0, 126.0));
    return t;
}

Tuning tuningForPitch(double cyclesPerFrame) {
    return tuningForRate(noteFrequency(kMiddleC) / cyclesPerFrame, kMiddleC);
}

double playbackRate(int note, Tuning tuning) {
    return kBaseRate * std::exp2(double(note - kMiddleC + tuning.relativeNote) / 12.0 +
                                 double(tuning.finetune) / 1536.0);
}

double noteFrequency(int note) {
    return 440.0 * std::exp2(double(note - 58) / 12.0);
}

double peakOf(const std::vector<double>& signal) {
    double peak = 0;
    for (double v : signal) peak = std::max(peak, std::fabs(v));
    return peak;
}

std::vector<std::int16_t> toPcm(const std::vector<double>& signal, double peak) {
    const double top = peakOf(signal);
    const double scale = top > 0 ? peak * 32767.0 / top : 0.0;
    std::vector<std::int16_t> out;
    out.reserve(signal.size());
    for (double v : signal)
        out.push_back(std::int16_t(std::clamp(std::lround(v * scale), -32767L, 32767L)));
    return out;
}

// --- periodic waves
// -------------------------------------------------------------------------------

std::vector<double> sawHarmonics(int count) {
    std::vector<double> h(std::size_t(std::max(count, 0)));
    for (int k = 1; k <= count; ++k) h[std::size_t(k - 1)] = 1.0 / k;
    return h;
}

std::vector<double> squareHarmonics(int count) {
    std::vector<double> h(std::size_t(std::max(count, 0)));
    for (int k = 1; k <= count; k += 2) h[std::size_t(k - 1)] = 1.0 / k;
    return h;
}

std::vector<double> pulseHarmonics(int count, double width) {
    // A pulse is the difference of two saws shifted by the width; in sine phase only the
    // part of each harmonic that is in phase with the fundamental's sine is kept, which
    // keeps the pulse's spectrum envelope (its nulls at multiples of 1/width).
    std::vector<double> h(std::size_t(std::max(count, 0)));
    for (int k = 1; k <= count; ++k) h[std::size_t(k - 1)] = std::sin(kPi * k * width) / k;
    return h;
}

std::vector<double> triangleHarmonics(int count) {
    std::vector<double> h(std::size_t(std::max(count, 0)));
    for (int k = 1; k <= count; k += 2)
        h[std::size_t(k - 1)] = ((k / 2) % 2 == 0 ? 1.0 : -1.0) / (double(k) * k);
    return h;
}

std::vector<double> tilt(std::vector<double> harmonics, double cut, double order) {
    for (std::size_t i = 0; i < harmonics.size(); ++i) {
        const double r = double(i + 1) / cut;
        harmonics[i] *= std::pow(1.0 + r * r, -order / 2.0);
    }
    return harmonics;
}

std::vector<double> mix(const std::vector<double>& x, double a, const std::vector<double>& y,
                        double b) {
    std::vector<double> out(std::max(x.size(), y.size()), 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) out[i] += a * x[i];
    for (std::size_t i = 0; i < y.size(); ++i) out[i] += b * y[i];
    return out;
}

xm::Sample toneSample(const char* name, const ToneParams& params) {
    const int period = std::max(params.cycleFrames, 8);
    const int cycles = std::max(params.cycles, 2);
    // Harmonics at or above half the cycle would alias inside the sample itself.
    const std::size_t usable = std::min(params.harmonics.size(), std::size_t(period / 2 - 1));
    std::vector<double> signal(std::size_t(period) * std::size_t(cycles));
    std::vector<double> weight(usable);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const double cyclePos = double(i) / period;
        // The last cycle is the loop: its spectrum must not move, or the loop would not join.
        const double t = std::min(cyclePos, double(cycles - 1));
        const double cut =
            params.endCut + (params.startCut - params.endCut) * std::exp(-t / params.decayCycles);
        const double x = double(i % std::size_t(period)) / period;
        double v = 0;
        for (std::size_t k = 0; k < usable; ++k) {
            const double r = double(k + 1) / cut;
            // Four poles' worth of roll-off above the cutoff.
            const double w = 1.0 / ((1.0 + r * r) * (1.0 + r * r));
            v += params.harmonics[k] * w * std::sin(2 * kPi * double(k + 1) * x);
        }
        signal[i] = v;
    }
    xm::Sample s;
    s.name = name;
    s.data = toPcm(signal, params.peak);
    s.loop = xm::Loop::forward;
    s.loopStart = std::uint32_t(period * (cycles - 1));
    s.loopLength = std::uint32_t(period);
    const Tuning t = tuningForPitch(1.0 / period);
    s.relativeNote = t.relativeNote;
    s.finetune = t.finetune;
    return s;
}

xm::Sample ensembleSample(const char* name, const EnsembleParams& params) {
    const int frames = std::max(params.loopFrames, 16);
    std::vector<double> signal(std::size_t(frames), 0.0);
    Noise noise(params.seed);
    const double highest = 0.45 * frames;  // cycles per loop a harmonic may reach
    for (std::size_t voice = 0; voice < params.detune.size(); ++voice) {
        const double cycles = params.cycles + std::round(params.detune[voice]);
        const double gain = voice < params.gains.size() ? params.gains[voice] : 1.0;
        for (std::size_t k = 0; k < params.harmonics.size(); ++k) {
            const double harmonicCycles = cycles * double(k + 1);
            if (harmonicCycles >= highest) break;
            const double amp = gain * params.harmonics[k];
            if (amp == 0) continue;
            const double phase = (noise.white() + 1.0) * kPi;
            const double step = 2 * kPi * harmonicCycles / frames;
            for (int i = 0; i < frames; ++i)
                signal[std::size_t(i)] += amp * std::sin(step * i + phase);
        }
    }
    xm::Sample s;
    s.name = name;
    s.data = toPcm(signal, params.peak);
    s.loop = xm::Loop::forward;
    s.loopStart = 0;
    s.loopLength = std::uint32_t(frames);
    const Tuning t = tuningForPitch(double(params.cycles) / frames);
    s.relativeNote = t.relativeNote;
    s.finetune = t.finetune;
    return s;
}

// --- drums and effects
// ------------------------------------------------------------------------------

xm::Sample kickSample(const KickParams& params) {
    const double rate = params.rate;
    const int frames = int(params.seconds * rate);
    Noise noise(0x1234567u);
    Biquad clickFilter = Biquad::lowPass(rate, 3500, 0.7);
    std::vector<double> v(static_cast<std::size_t>(frames));
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = i / rate;
        const double frequency =
            params.endHz + (params.startHz - params.endHz) * std::exp(-t / params.pitchTime);
        phase += 2 * kPi * frequency / rate;
        // A two-millisecond rise keeps the first frame from jumping out of silence.
        const double attack = std::min(1.0, t / 0.002);
        const double body = std::sin(phase) * attack * std::exp(-t / params.decayTime);
        const double click = clickFilter.run(noise.white()) * std::exp(-t / 0.004) * params.click;
        v[std::size_t(i)] = softClip(body + click, params.drive);
    }
    fadeTail(v, rate, 0.02);
    return oneShot("kick", v, rate, params.peak);
}

xm::Sample snareSample(double rate, std::uint32_t seed) {
    const int frames = int(0.32 * rate);
    Noise noise(seed);
    Biquad high = Biquad::highPass(rate, 1400, 0.7);
    Biquad low = Biquad::lowPass(rate, 9000, 0.7);
    std::vector<double> v(static_cast<std::size_t>(frames));
    double p1 = 0, p2 = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = i / rate;
        // Two drum-head modes, dropping a little in pitch as the hit dies away.
        p1 += 2 * kPi * (180 + 40 * std::exp(-t / 0.01)) / rate;
        p2 += 2 * kPi * (330 + 60 * std::exp(-t / 0.01)) / rate;
        const double attack = std::min(1.0, t / 0.001);
        const double body = (0.65 * std::sin(p1) * std::exp(-t / 0.045) +
                             0.3 * std::sin(p2) * std::exp(-t / 0.03)) *
                            attack;
        const double wires = low.run(high.run(noise.white())) * std::exp(-t / 0.085) * 1.1;
        v[std::size_t(i)] = softClip(body + wires, 1.3);
    }
    fadeTail(v, rate, 0.02);
    return oneShot("snare", v, rate, 0.9);
}

xm::Sample clapSample(double rate, std::uint32_t seed) {
    const int frames = int(0.4 * rate);
    Noise noise(seed);
    Biquad band = Biquad::bandPass(rate, 1250, 1.1);
    Biquad high = Biquad::highPass(rate, 700, 0.7);
    std::vector<double> v(static_cast<std::size_t>(frames));
    // Several hands a few milliseconds apart, then the room.
    static const double kHits[] = {0.0, 0.009, 0.019, 0.027};
    for (int i = 0; i < frames; ++i) {
        const double t = i / rate;
        double env = 0;
        for (double hit : kHits)
            if (t >= hit) env = std::max(env, std::exp(-(t - hit) / 0.0045));
        if (t >= kHits[3]) env = std::max(env, 0.55 * std::exp(-(t - kHits[3]) / 0.11));
        v[std::size_t(i)] = high.run(band.run(noise.white())) * env;
    }
    // Saturation thickens the bursts, so the clap carries in a full mix.
    const double top = peakOf(v);
    for (double& x : v) x = softClip(x / top, 2.5);
    fadeTail(v, rate, 0.03);
    return oneShot("clap", v, rate, 0.9);
}

xm::Sample hatSample(const char* name, double rate, double seconds, double decayTime,
                     std::uint32_t seed) {
    const int frames = int(seconds * rate);
    Noise noise(seed);
    // The ratios of the six square oscillators of a classic analogue drum machine's cymbal.
    static const double kOscillators[] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    double phases[6] = {0, 0.13, 0.29, 0.41, 0.57, 0.73};
    Biquad band = Biquad::bandPass(rate, 9500, 0.9);
    Biquad high = Biquad::highPass(rate, 6500, 0.7);
    std::vector<double> v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const double t = i / rate;
        double metal = 0;
        for (int o = 0; o < 6; ++o) {
            phases[o] += kOscillators[o] * 1.7 / rate;
            phases[o] -= std::floor(phases[o]);
            metal += phases[o] < 0.5 ? 1.0 : -1.0;
        }
        const double source = metal / 6.0 + 0.6 * noise.white();
        const double attack = std::min(1.0, t / 0.0008);
        v[std::size_t(i)] = high.run(band.run(source)) * attack * std::exp(-t / decayTime);
    }
    const double top = peakOf(v);
    for (double& x : v) x = softClip(x / top, 2.0);
    fadeTail(v, rate, std::min(0.02, seconds / 4));
    return oneShot(name, v, rate, 0.9);
}

xm::Sample crashSample(double rate, double seconds, std::uint32_t seed) {
    // A short burst followed by a looped, steady wash: the instrument's volume envelope makes
    // the long decay, so the sample stays small.
    const int loopFrames = int(0.5 * rate);
    const int headFrames = int(seconds * rate);
    Noise noise(seed);
    std::vector<double> wash(static_cast<std::size_t>(loopFrames));
    double phases[6] = {0, 0.11, 0.23, 0.37, 0.51, 0.67};
    static const double kOscillators[] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    for (int i = 0; i < loopFrames; ++i) {
        double metal = 0;
        for (int o = 0; o < 6; ++o) {
            phases[o] += kOscillators[o] * 2.3 / rate;
            phases[o] -= std::floor(phases[o]);
            metal += phases[o] < 0.5 ? 1.0 : -1.0;
        }
        wash[std::size_t(i)] = 0.25 * metal / 6.0 + noise.white();
    }
    wash = filterCircular(wash, Biquad::highPass(rate, 3200, 0.6));
    wash = filterCircular(wash, Biquad::lowPass(rate, 13000, 0.6));
    // The head is the wash's own last frames (so it runs into the loop's start without a seam)
    // with a broadband hit on top that has died away by the time the loop begins.
    Biquad hitFilter = Biquad::highPass(rate, 900, 0.7);
    std::vector<double> v;
    v.reserve(std::size_t(headFrames + loopFrames));
    for (int i = 0; i < headFrames; ++i) {
        const double t = i / rate;
        const int from = ((i - headFrames) % loopFrames + loopFrames) % loopFrames;
        const double hit =
            hitFilter.run(noise.white()) * std::exp(-t / 0.03) * (1.0 - double(i) / headFrames);
        v.push_back(wash[std::size_t(from)] * 0.8 + hit * 1.2);
    }
    for (double w : wash) v.push_back(w * 0.8);
    xm::Sample s = oneShot("crash", v, rate, 0.9);
    s.loop = xm::Loop::forward;
    s.loopStart = std::uint32_t(headFrames);
    s.loopLength = std::uint32_t(loopFrames);
    return s;
}

xm::Sample noiseLoopSample(double rate, int frames, double centreHz, double q, std::uint32_t seed) {
    Noise noise(seed);
    std::vector<double> v(std::size_t(std::max(frames, 16)));
    for (double& x : v) x = noise.white();
    v = filterCircular(v, Biquad::bandPass(rate, centreHz, q));
    v = filterCircular(v, Biquad::bandPass(rate, centreHz * 1.5, q * 0.7));
    xm::Sample s = oneShot("noise", v, rate, 0.9);
    s.loop = xm::Loop::forward;
    s.loopStart = 0;
    s.loopLength = std::uint32_t(v.size());
    return s;
}

}  // namespace synth

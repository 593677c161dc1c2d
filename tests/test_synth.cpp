// Tests of the song's sound synthesis: tuning onto the tracker's notes, pitched instruments
// sounding at their notes when a player plays them, seamless loops, and drums whose energy
// lies where each drum's should.
#include <gtest/gtest.h>

#include <cmath>
#include <libopenmpt/libopenmpt.hpp>
#include <string>
#include <vector>

#include "composition.h"
#include "synth.h"
#include "xm_writer.h"

namespace {

constexpr int kRate = 48000;

const std::vector<xm::Instrument>& songInstruments() {
    static const std::vector<xm::Instrument> list = composition::instruments();
    return list;
}

// Renders `seconds` of one note of `instrument` through libopenmpt, left channel.
std::vector<float> play(const xm::Instrument& instrument, int note, double seconds) {
    xm::Module m;
    m.channels = 2;
    m.patterns.emplace_back(64, 2);
    m.orders = {0};
    m.patterns[0].at(0, 0) = {std::uint8_t(note), 1, 0, 0, 0};
    m.instruments.push_back(instrument);
    std::string error;
    const std::vector<std::uint8_t> bytes = xm::encode(m, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    openmpt::module player(bytes);
    std::vector<float> stereo(std::size_t(seconds * kRate) * 2);
    player.read_interleaved_stereo(kRate, stereo.size() / 2, stereo.data());
    std::vector<float> left(stereo.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = stereo[i * 2];
    return left;
}

// The fundamental of a steady stretch, by the lag of the best normalised autocorrelation
// between half and twice the expected period.
double measurePitch(const std::vector<float>& x, std::size_t from, double expectedHz) {
    const int expected = int(kRate / expectedHz);
    const std::size_t n = std::size_t(kRate / 10);
    auto correlation = [&](int lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t i = from; i < from + n; ++i) {
            xy += double(x[i]) * x[i + std::size_t(lag)];
            xx += double(x[i]) * x[i];
            yy += double(x[i + std::size_t(lag)]) * x[i + std::size_t(lag)];
        }
        return xy / std::sqrt(xx * yy + 1e-30);
    };
    int best = expected;
    double bestValue = -2;
    for (int lag = expected * 2 / 3; lag <= expected * 3 / 2; ++lag) {
        const double c = correlation(lag);
        if (c > bestValue) bestValue = c, best = lag;
    }
    // Parabolic refinement around the best whole lag.
    const double a = correlation(best - 1), b = bestValue, c = correlation(best + 1);
    const double shift = (a - c) / (2 * (a - 2 * b + c));
    return kRate / (best + (std::isfinite(shift) ? shift : 0.0));
}

// The centre of gravity of a sample's spectrum, in Hz at the rate it plays at on C-4.
double spectralCentroid(const xm::Sample& s) {
    const double rate = synth::playbackRate(49, {s.relativeNote, s.finetune});
    const std::size_t n = std::min<std::size_t>(s.data.size(), 4096);
    double weighted = 0, total = 0;
    for (std::size_t k = 1; k < n / 2; k += 2) {
        double re = 0, im = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double w = 2 * synth::kPi * double(k) * double(i) / double(n);
            re += s.data[i] * std::cos(w);
            im -= s.data[i] * std::sin(w);
        }
        const double power = re * re + im * im;
        weighted += power * double(k) * rate / double(n);
        total += power;
    }
    return weighted / total;
}

double rms(const std::vector<std::int16_t>& v, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(v[i]) * v[i];
    return std::sqrt(sum / double(to - from));
}

}  // namespace

TEST(SynthTuning, MapsRatesAndPitchesOntoTheTrackersNotes) {
    for (double rate : {8363.0, 11025.0, 25060.0, 33452.0, 44100.0, 66977.0}) {
        for (int note : {25, 49, 61}) {
            const synth::Tuning t = synth::tuningForRate(rate, note);
            const double cents = 1200 * std::log2(synth::playbackRate(note, t) / rate);
            EXPECT_LE(std::fabs(cents), 100.0 / 128 + 1e-9) << rate << " Hz on note " << note;
        }
    }
    // A 128-frame cycle tuned by pitch: A-4 plays it 440 times a second.
    const synth::Tuning t = synth::tuningForPitch(1.0 / 128);
    EXPECT_NEAR(synth::playbackRate(58, t) / 128, 440.0, 440.0 * 0.001);
    EXPECT_NEAR(synth::noteFrequency(58), 440.0, 1e-9);
    EXPECT_NEAR(synth::noteFrequency(49), 261.626, 0.001);
}

TEST(SynthInstruments, PitchedOnesSoundAtTheirNotes) {
    struct Case {
        int instrument;
        int note;
    };
    // Each at a note from the range the song plays it in.
    const Case cases[] = {{composition::kBass, 34}, {composition::kWarmBass, 37},
                          {composition::kLead, 58}, {composition::kLead, 70},
                          {composition::kPad, 52},  {composition::kPluck, 61},
                          {composition::kKeys, 58}, {composition::kChip, 58}};
    for (const Case& c : cases) {
        SCOPED_TRACE(songInstruments()[std::size_t(c.instrument - 1)].name + " note " +
                     std::to_string(c.note));
        const std::vector<float> sound =
            play(songInstruments()[std::size_t(c.instrument - 1)], c.note, 1.0);
        const double want = synth::noteFrequency(c.note);
        // Measured where the attack is over; within a tenth of a semitone.
        const double got = measurePitch(sound, kRate / 4, want);
        EXPECT_NEAR(1200 * std::log2(got / want), 0.0, 10.0) << got << " Hz for " << want;
    }
}

TEST(SynthInstruments, LoopsJoinWithoutASeam) {
    for (const xm::Instrument& ins : songInstruments()) {
        for (const xm::Sample& s : ins.samples) {
            if (s.loop == xm::Loop::none) continue;
            SCOPED_TRACE(s.name);
            ASSERT_LE(s.loopStart + s.loopLength, s.data.size());
            const std::size_t a = s.loopStart, b = s.loopStart + s.loopLength;
            // The step from the loop's last frame back to its first is no bigger than the
            // steps the wave takes inside the loop.
            int largest = 0;
            for (std::size_t i = a + 1; i < b; ++i)
                largest = std::max(largest, std::abs(s.data[i] - s.data[i - 1]));
            EXPECT_LE(std::abs(s.data[a] - s.data[b - 1]), largest);
            // And the loop carries sound: a silent loop would hold a note at nothing.
            EXPECT_GT(rms(s.data, a, b), 1000.0);
        }
    }
}

TEST(SynthInstruments, DrumsPutTheirEnergyWhereTheyShould) {
    const auto& list = songInstruments();
    const xm::Sample& kick = list[composition::kKick - 1].samples[0];
    const xm::Sample& snare = list[composition::kSnare - 1].samples[0];
    const xm::Sample& clap = list[composition::kClap - 1].samples[0];
    const xm::Sample& hat = list[composition::kClosedHat - 1].samples[0];
    const xm::Sample& openHat = list[composition::kOpenHat - 1].samples[0];
    EXPECT_LT(spectralCentroid(kick), 250.0);
    EXPECT_GT(spectralCentroid(snare), 700.0);
    EXPECT_LT(spectralCentroid(snare), 5000.0);
    EXPECT_GT(spectralCentroid(clap), 800.0);
    EXPECT_LT(spectralCentroid(clap), 4000.0);
    EXPECT_GT(spectralCentroid(hat), 6000.0);
    EXPECT_GT(spectralCentroid(openHat), 6000.0);
    // Each dies away: its last tenth far quieter than its first, and the open hat rings on
    // longer than the closed one.
    for (const xm::Sample* s : {&kick, &snare, &clap, &hat, &openHat}) {
        SCOPED_TRACE(s->name);
        const std::size_t n = s->data.size();
        EXPECT_LT(rms(s->data, n * 9 / 10, n), rms(s->data, 0, n / 10) / 10);
    }
    EXPECT_GT(openHat.data.size(), hat.data.size() * 3);
}

TEST(SynthInstruments, AreTheSameOnEveryBuildAndNeverClip) {
    const std::vector<xm::Instrument> again = composition::instruments();
    ASSERT_EQ(again.size(), songInstruments().size());
    ASSERT_EQ(again.size(), std::size_t(composition::kInstrumentCount));
    for (std::size_t i = 0; i < again.size(); ++i) {
        SCOPED_TRACE(again[i].name);
        ASSERT_EQ(again[i].samples.size(), 1u);
        EXPECT_EQ(again[i].samples[0].data, songInstruments()[i].samples[0].data);
        int peak = 0;
        for (std::int16_t v : again[i].samples[0].data) peak = std::max(peak, std::abs(int(v)));
        EXPECT_LE(peak, 32767 * 96 / 100);
        EXPECT_GT(peak, 32767 / 2) << "made at a sensible level";
    }
}

// Writes the interim song "Zudavez.xm": a synthesised beat and bass line carrying the show's
// start and end cues (W02, W01) at the rows of the song schedule.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "song_schedule.h"
#include "xm_writer.h"

namespace {

// Drum samples are made at four times the 8363 Hz base rate and played at C-4 two octaves up,
// i.e. at the rate they were made at.
constexpr double kRate = 8363.0 * 4;
constexpr std::int8_t kNativeRelativeNote = 24;
constexpr double kPi = 3.14159265358979323846;

enum Channel { kKick, kSnare, kHat, kBass, kLead, kCue, kChannels };
enum InstrumentNumber {
    kKickInstrument = 1,
    kSnareInstrument,
    kHatInstrument,
    kBassInstrument,
    kLeadInstrument
};

// A small deterministic noise source (xorshift), so that the song is the same on every build.
struct Noise {
    std::uint32_t state = 0x9E3779B9u;
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return double(state) / 2147483648.0 - 1.0;
    }
};

std::int16_t toSample(double v) {
    v = std::fmax(-1.0, std::fmin(1.0, v));
    return std::int16_t(std::lround(v * 30000.0));
}

xm::Sample kickSample() {
    xm::Sample s;
    s.name = "kick";
    s.relativeNote = kNativeRelativeNote;
    const int frames = int(0.35 * kRate);
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = i / kRate;
        // The pitch falls fast from 160 Hz to 45 Hz: the thump of a synthesised bass drum.
        const double frequency = 45.0 + 115.0 * std::exp(-t / 0.035);
        phase += 2 * kPi * frequency / kRate;
        const double click = t < 0.004 ? (1.0 - t / 0.004) * 0.3 : 0.0;
        s.data.push_back(toSample(std::sin(phase) * std::exp(-t / 0.16) * 0.95 + click));
    }
    return s;
}

xm::Sample snareSample() {
    xm::Sample s;
    s.name = "snare";
    s.relativeNote = kNativeRelativeNote;
    Noise noise;
    const int frames = int(0.25 * kRate);
    for (int i = 0; i < frames; ++i) {
        const double t = i / kRate;
        const double body = std::sin(2 * kPi * 185.0 * t) * std::exp(-t / 0.045);
        const double rattle = noise.next() * std::exp(-t / 0.075);
        s.data.push_back(toSample(0.55 * body + 0.6 * rattle));
    }
    return s;
}

xm::Sample hatSample() {
    xm::Sample s;
    s.name = "hat";
    s.relativeNote = kNativeRelativeNote;
    Noise noise;
    noise.state = 0x2545F491u;
    const int frames = int(0.07 * kRate);
    double previous = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = i / kRate;
        // The difference of successive noise values keeps only the hiss at the top.
        const double n = noise.next();
        const double high = (n - previous) * 0.5;
        previous = n;
        s.data.push_back(toSample(high * std::exp(-t / 0.018) * 0.8));
    }
    return s;
}

// One cycle of 128 frames, looped: played at C-4 two octaves up it sounds at 261.3 Hz; the
// finetune of 2/128 semitone brings it to middle C.
xm::Sample cycleSample(const std::string& name, int harmonics, double pulseWidth) {
    xm::Sample s;
    s.name = name;
    s.relativeNote = kNativeRelativeNote;
    s.finetune = 2;
    constexpr int kCycle = 128;
    std::vector<double> wave(kCycle, 0.0);
    double peak = 0;
    for (int i = 0; i < kCycle; ++i) {
        const double x = double(i) / kCycle;
        double v = 0;
        for (int n = 1; n <= harmonics; ++n) {
            // A saw (pulseWidth 0) or a pulse wave, built from its first harmonics only so the
            // loop stays free of aliasing at the notes the song plays.
            const double rolloff = std::exp(-double(n) / (harmonics * 0.6));
            if (pulseWidth <= 0)
                v += std::sin(2 * kPi * n * x) / n * rolloff;
            else
                v += std::sin(kPi * n * pulseWidth) * std::cos(2 * kPi * n * x) / n * rolloff;
        }
        wave[std::size_t(i)] = v;
        peak = std::fmax(peak, std::fabs(v));
    }
    for (double v : wave) s.data.push_back(toSample(v / peak * 0.9));
    s.loop = xm::Loop::forward;
    s.loopStart = 0;
    s.loopLength = kCycle;
    return s;
}

xm::Instrument oneShot(const std::string& name, xm::Sample sample) {
    xm::Instrument ins;
    ins.name = name;
    ins.samples.push_back(std::move(sample));
    return ins;
}

xm::Instrument bassInstrument() {
    xm::Instrument ins;
    ins.name = "bass";
    ins.samples.push_back(cycleSample("saw", 24, 0));
    ins.volumeEnvelope.enabled = true;
    ins.volumeEnvelope.points = {{0, 64}, {4, 52}, {24, 38}, {96, 0}};
    ins.fadeout = 1024;
    return ins;
}

// Two samples over the keyboard: a square below C-5, a thinner pulse from C-5 up.
xm::Instrument leadInstrument() {
    xm::Instrument ins;
    ins.name = "pluck";
    ins.samples.push_back(cycleSample("square", 16, 0.5));
    ins.samples.push_back(cycleSample("pulse", 16, 0.25));
    for (int note = 0; note < 96; ++note) ins.keymap[std::size_t(note)] = note >= 60 ? 1 : 0;
    ins.volumeEnvelope.enabled = true;
    ins.volumeEnvelope.points = {{0, 64}, {3, 44}, {12, 18}, {30, 0}};
    ins.fadeout = 2048;
    ins.vibrato = {0, 0, 2, 10};
    return ins;
}

struct Section {
    bool kickOnEveryBeat;
    bool snare;
    bool lead;
};

std::uint8_t note(const char* name) {
    return xm::noteNumber(name);
}

void put(xm::Cell& cell, std::uint8_t noteNumber, int instrument, int volume) {
    cell.note = noteNumber;
    cell.instrument = std::uint8_t(instrument);
    cell.volume = xm::volumeColumn(volume);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_song OUTDIR\n");
        return 2;
    }
    const std::vector<song::Cue> cues = song::cueSchedule();
    const int rows = song::songRows();
    // Sections of the arrangement follow the show: titles, effect scenes, credits, outro.
    const int scenesFrom = cues[10].row;
    const int creditsFrom = cues[24].row;
    const int outroFrom = song::loopRow();

    // A four-bar progression, Am F C G, one chord per 16-row bar.
    static const char* const kBassRoots[4][2] = {
        {"A-2", "A-3"}, {"F-2", "F-3"}, {"C-3", "C-4"}, {"G-2", "G-3"}};
    static const char* const kArpeggios[4][4] = {{"A-4", "C-5", "E-5", "C-5"},
                                                 {"F-4", "A-4", "C-5", "A-4"},
                                                 {"E-4", "G-4", "C-5", "G-4"},
                                                 {"D-4", "G-4", "B-4", "G-4"}};

    std::vector<xm::Cell> grid(std::size_t(rows) * kChannels);
    auto cell = [&](int row, int channel) -> xm::Cell& {
        return grid[std::size_t(row) * kChannels + std::size_t(channel)];
    };
    for (int row = 0; row < rows; ++row) {
        Section section{false, false, false};
        if (row >= scenesFrom && row < creditsFrom) section = {true, true, true};
        if (row >= creditsFrom && row < outroFrom) section = {true, true, false};
        if (row >= outroFrom) section = {false, false, true};
        const int inBar = row % 16;
        const int chord = (row / 16) % 4;
        if (inBar % 4 == 0 && (section.kickOnEveryBeat || inBar % 8 == 0))
            put(cell(row, kKick), note("C-4"), kKickInstrument, 64);
        if (section.snare && inBar % 8 == 4)
            put(cell(row, kSnare), note("C-4"), kSnareInstrument, 50);
        if (inBar % 2 == 0)
            put(cell(row, kHat), note("C-4"), kHatInstrument, inBar % 4 == 2 ? 40 : 22);
        if (inBar % 2 == 0) {
            // Eighths on the root, the octave on the off-beats of the second half-bar.
            const bool octave = inBar >= 8 && inBar % 4 == 2;
            put(cell(row, kBass), note(kBassRoots[chord][octave ? 1 : 0]), kBassInstrument, 52);
        }
        if (section.lead && inBar % 2 == 0) {
            const char* name = kArpeggios[chord][(inBar / 2) % 4];
            // An octave up in every other bar, where the thinner pulse sample takes over.
            std::uint8_t n = note(name);
            if ((row / 16) % 2 == 1) n = std::uint8_t(n + 12);
            put(cell(row, kLead), n, kLeadInstrument, 26);
        }
    }
    for (const song::Cue& cue : cues) {
        xm::Cell& c = cell(cue.row, kCue);
        c.effect = xm::kEffectSync;
        c.param = cue.value;
    }

    xm::Module module;
    module.name = "Zudavez";
    module.channels = kChannels;
    module.speed = song::kSpeed;
    module.tempo = song::kTempo;
    module.linearFrequencies = true;
    const int patterns = rows / song::kRowsPerPattern;
    for (int p = 0; p < patterns; ++p) {
        xm::Pattern pattern(song::kRowsPerPattern, kChannels);
        for (int r = 0; r < song::kRowsPerPattern; ++r)
            for (int c = 0; c < kChannels; ++c)
                pattern.at(r, c) = cell(p * song::kRowsPerPattern + r, c);
        module.patterns.push_back(std::move(pattern));
        module.orders.push_back(std::uint8_t(p));
    }
    module.restart = outroFrom / song::kRowsPerPattern;
    module.instruments.push_back(oneShot("kick", kickSample()));
    module.instruments.push_back(oneShot("snare", snareSample()));
    module.instruments.push_back(oneShot("hat", hatSample()));
    module.instruments.push_back(bassInstrument());
    module.instruments.push_back(leadInstrument());

    const std::string path = std::string(argv[1]) + "/Zudavez.xm";
    std::string error;
    if (!xm::writeXm(path, module, &error)) {
        std::fprintf(stderr, "gen_song: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// The soundtrack "Zudavez" in A minor at 125 BPM: a calm pad-and-bell opening under the title
// pages, a drop into the effect scenes that grows from scene to scene (clap, arpeggios, lead,
// a change of chords, a breakdown, rolling bass, a lift into B minor), a warm major-key groove
// for the credits and a gentle looped tail for the music's fade-out.
#include "composition.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "song_schedule.h"
#include "synth.h"

namespace composition {

namespace {

// ================================ instruments ================================================

// Drum samples are made at rates the tracker reaches exactly from C-4 with whole semitones.
constexpr double kRate19 = 25060.0;  // 8363 Hz nineteen semitones up (kick)
constexpr double kRate24 = 33452.0;  // two octaves up (snare, clap, crash)
constexpr double kRate28 = 42148.0;  // twenty-eight semitones up (hats)
constexpr double kRate12 = 16726.0;  // one octave up (noise sweep)

xm::Instrument instrument(const char* name, xm::Sample sample, std::vector<xm::EnvelopePoint> env,
                          int sustain, std::uint16_t fadeout) {
    xm::Instrument ins;
    ins.name = name;
    ins.samples.push_back(std::move(sample));
    if (!env.empty()) {
        ins.volumeEnvelope.enabled = true;
        ins.volumeEnvelope.points = std::move(env);
        ins.volumeEnvelope.sustain = sustain;
    }
    ins.fadeout = fadeout;
    return ins;
}

xm::Instrument kickInstrument() {
    return instrument("kick", synth::kickSample(synth::KickParams{}), {}, -1, 0);
}

xm::Instrument crashInstrument() {
    // The looped wash dies away on the envelope over about four seconds.
    return instrument("crash", synth::crashSample(kRate24, 0.25, 0xC0FFEEu),
                      {{0, 64}, {12, 40}, {40, 22}, {100, 9}, {200, 0}}, -1, 0);
}

xm::Instrument bassInstrument() {
    // A saw with some square in it, bright for a moment and then round: the scenes' bass.
    synth::ToneParams params;
    params.harmonics = synth::mix(synth::sawHarmonics(60), 0.7, synth::squareHarmonics(60), 0.5);
    params.cycleFrames = 128;
    params.cycles = 48;
    params.startCut = 22;
    params.endCut = 5;
    params.decayCycles = 7;
    return instrument("bass", synth::toneSample("bass", params),
                      {{0, 64}, {4, 54}, {16, 38}, {40, 20}, {80, 0}}, -1, 1200);
}

xm::Instrument warmBassInstrument() {
    // Round and held: a triangle with a little of the saw's second harmonic.
    synth::ToneParams params;
    params.harmonics = synth::mix(synth::triangleHarmonics(15), 1.0, synth::sawHarmonics(6), 0.25);
    params.cycleFrames = 64;
    params.cycles = 2;
    params.startCut = 6;
    params.endCut = 6;
    return instrument("warm bass", synth::toneSample("warm bass", params),
                      {{0, 0}, {3, 64}, {24, 54}}, 2, 700);
}

xm::Instrument leadInstrument() {
    // Three saws a few cents apart, the highest harmonics rolled off so that it sings rather
    // than buzzes; a vibrato that comes in as a note is held.
    synth::EnsembleParams params;
    params.harmonics = synth::tilt(synth::sawHarmonics(20), 7.0, 1.5);
    params.loopFrames = 7680;
    params.cycles = 160;
    params.detune = {-1, 0, 1};
    params.gains = {0.8, 1.0, 0.8};
    params.seed = 0x1EADu;
    xm::Instrument ins = instrument("lead", synth::ensembleSample("lead", params),
                                    {{0, 0}, {1, 64}, {8, 52}, {24, 46}}, 3, 1500);
    ins.vibrato = {0, 48, 5, 10};
    return ins;
}

xm::Instrument padInstrument() {
    synth::EnsembleParams params;
    params.harmonics = synth::tilt(synth::sawHarmonics(28), 5.0, 2.0);
    params.loopFrames = 16384;
    params.cycles = 256;
    params.detune = {-4, -2, -1, 0, 1, 2, 4};
    params.gains = {0.5, 0.7, 0.9, 1.0, 0.9, 0.7, 0.5};
    params.seed = 0x9AD5u;
    return instrument("pad", synth::ensembleSample("pad", params),
                      {{0, 0}, {12, 40}, {32, 64}, {64, 58}}, 3, 380);
}

xm::Instrument pluckInstrument() {
    synth::ToneParams params;
    params.harmonics =
        synth::mix(synth::pulseHarmonics(30, 0.3), 1.0, synth::sawHarmonics(30), 0.4);
    params.cycleFrames = 64;
    params.cycles = 96;
    params.startCut = 20;
    params.endCut = 3;
    params.decayCycles = 16;
    return instrument("pluck", synth::toneSample("pluck", params),
                      {{0, 64}, {6, 40}, {20, 16}, {48, 0}}, -1, 1500);
}

xm::Instrument keysInstrument() {
    // A soft electric-piano bell: a few harmonics whose upper ones die away first.
    synth::ToneParams params;
    params.harmonics = {1.0, 0.45, 0.25, 0.3, 0.08, 0.12, 0.04, 0.06, 0.02, 0.03};
    params.cycleFrames = 64;
    params.cycles = 160;
    params.startCut = 9;
    params.endCut = 1.4;
    params.decayCycles = 60;
    return instrument("keys", synth::toneSample("keys", params),
                      {{0, 64}, {8, 48}, {50, 26}, {150, 8}, {250, 0}}, -1, 900);
}

xm::Instrument chipInstrument() {
    synth::ToneParams params;
    params.harmonics = synth::tilt(synth::pulseHarmonics(24, 0.25), 12.0, 1.0);
    params.cycleFrames = 64;
    params.cycles = 2;
    params.startCut = 40;
    params.endCut = 40;
    xm::Sample sample = synth::toneSample("chip", params);
    sample.panning = 96;  // its arpeggio effect leaves no room for a panning command
    return instrument("chip", std::move(sample), {{0, 64}, {4, 50}, {12, 44}}, 2, 2400);
}

xm::Instrument sweepInstrument() {
    return instrument("noise sweep", synth::noiseLoopSample(kRate12, 8192, 1200, 0.8, 0x5EEDu),
                      {{0, 64}, {1, 64}}, 1, 2600);
}

// ================================ harmony ====================================================

int nn(const char* name) {
    const int n = xm::noteNumber(name);
    if (n == 0) {
        // Only a typing error in the score below can get here.
        std::fprintf(stderr, "composition: \"%s\" is not a note\n", name);
        std::abort();
    }
    return n;
}

struct Chord {
    int bass;
    std::array<int, 3> pad;
    int chipRoot;
    int chipArp;  // the tracker's arpeggio effect: two intervals in semitones above the root
};

Chord chord(const char* bass, const char* a, const char* b, const char* c, const char* chip,
            int arp) {
    return {nn(bass), {nn(a), nn(b), nn(c)}, nn(chip), arp};
}

Chord transposed(Chord c, int semitones) {
    c.bass += semitones;
    for (int& n : c.pad) n += semitones;
    c.chipRoot += semitones;
    return c;
}

const Chord kAm = chord("A-2", "A-3", "C-4", "E-4", "A-4", 0x37);
const Chord kF = chord("F-2", "A-3", "C-4", "F-4", "F-4", 0x47);
const Chord kC = chord("C-3", "G-3", "C-4", "E-4", "C-5", 0x47);
const Chord kG = chord("G-2", "G-3", "B-3", "D-4", "G-4", 0x47);
const Chord kEm = chord("E-2", "G-3", "B-3", "E-4", "E-4", 0x37);
const Chord kE = chord("E-2", "G#3", "B-3", "E-4", "E-4", 0x47);
const Chord kEsus = chord("E-2", "A-3", "B-3", "E-4", "E-4", 0x57);
const Chord kFmaj7 = chord("F-2", "A-3", "C-4", "E-4", "F-4", 0x47);
const Chord kG6 = chord("G-2", "G-3", "B-3", "E-4", "G-4", 0x47);
const Chord kEm7 = chord("E-2", "G-3", "B-3", "D-4", "E-4", 0x37);
const Chord kAm7 = chord("A-2", "G-3", "C-4", "E-4", "A-4", 0x37);

// One chord per bar, four-bar cycles.
using Progression = std::array<Chord, 4>;
const Progression kMinor = {kAm, kF, kC, kG};         // the main cycle
const Progression kLift = {kF, kG, kEm, kAm};         // the rotation scene's cycle
const Progression kWarm = {kFmaj7, kG6, kEm7, kAm7};  // credits and tail

// Melodies, one bar of sixteenth-note rows per group: "A5:3" is A-5 held three rows, "r:2" is
// two rows of rest (the note is released).
const char* const kThemeA[4] = {"A5:3 E5:3 A5:2 B5:2 C6:2 B5:2 A5:2", "C6:3 A5:3 F5:4 A5:2 C6:4",
                                "G5:3 E5:3 C5:2 D5:2 E5:2 G5:2 E5:2", "D5:3 B4:3 G4:4 B4:2 D5:4"};
const char* const kThemeB[4] = {"E6:3 D6:3 C6:4 B5:2 C6:4", "A5:6 C6:4 A5:2 G5:2 F5:2",
                                "E5:3 G5:3 C6:4 E6:2 D6:2 C6:2", "B5:6 D6:4 B5:2 G5:4"};
const char* const kThemeC[4] = {"A5:3 C6:3 A5:2 G5:4 F5:4", "G5:3 B5:3 D6:2 B5:4 G5:4",
                                "E5:3 G5:3 B5:2 A5:4 G5:4", "A5:6 E5:2 A5:2 B5:2 C6:4"};
const char* const kCreditTheme[8] = {
    "E5:8 C5:4 D5:4",      "D5:8 B4:4 G4:4", "G4:6 B4:2 D5:4 E5:4", "C5:8 B4:4 A4:4",
    "A5:6 G5:2 E5:4 C5:4", "B4:6 D5:2 G5:8", "E5:4 D5:4 B4:4 G4:4", "A4:12 r:4"};

// ================================ the score ==================================================

constexpr int kRows = song::kRowsPerBar;

// Where each channel sits in the stereo picture (0 left, 128 centre, 255 right).
// The chip channel is panned by its sample, since its notes carry the arpeggio effect.
constexpr std::array<int, kChannels> kPan = {128, 128, 168, 88, 128, 60,  128, 196,
                                             116, 200, 150, 70, 128, 128, 140, 128};

class Score {
  public:
    explicit Score(int rows) : rows_(rows), cells_(std::size_t(rows) * kChannels) {}

    xm::Cell& at(int row, int channel) {
        return cells_[std::size_t(row) * kChannels + std::size_t(channel)];
    }

    // A note with its instrument and volume; channels off the centre get their panning with
    // every note, since a new note resets the panning to the sample's.
    void note(int row, int channel, int noteNumber, int ins, int volume, int effect = 0,
              int param = 0) {
        if (row < 0 || row >= rows_) return;
        xm::Cell& c = at(row, channel);
        c.note = std::uint8_t(noteNumber);
        c.instrument = std::uint8_t(ins);
        c.volume = xm::volumeColumn(std::clamp(volume, 0, 64));
        c.effect = std::uint8_t(effect);
        c.param = std::uint8_t(param);
        if (effect == 0 && kPan[std::size_t(channel)] != 128) {
            c.effect = 8;
            c.param = std::uint8_t(kPan[std::size_t(channel)]);
        }
    }
    void release(int row, int channel) {
        if (row < 0 || row >= rows_) return;
        at(row, channel) = xm::Cell{};
        at(row, channel).note = xm::kKeyOff;
    }

    // A bar of drum hits: '.' nothing, '1'..'9' a hit at that ninth of full volume.
    void drums(int bar, int channel, int ins, const char* pattern, double level = 1.0) {
        for (int step = 0; step < kRows && pattern[step]; ++step) {
            const char ch = pattern[step];
            if (ch >= '1' && ch <= '9')
                note(bar * kRows + step, channel, nn("C-4"), ins,
                     int(std::lround((ch - '0') * 64.0 / 9.0 * level)));
        }
    }

    // A bar of bass: 'R' the chord's root, 'O' its octave, 'F' its fifth, '.' nothing,
    // '=' release.
    void bass(int bar, const Chord& c, int ins, const char* pattern, int volume) {
        for (int step = 0; step < kRows && pattern[step]; ++step) {
            const int row = bar * kRows + step;
            switch (pattern[step]) {
                case 'R':
                    note(row, kBassChannel, c.bass, ins, volume);
                    break;
                case 'O':
                    note(row, kBassChannel, c.bass + 12, ins, volume - 4);
                    break;
                case 'F':
                    note(row, kBassChannel, c.bass + 7, ins, volume - 4);
                    break;
                case '=':
                    release(row, kBassChannel);
                    break;
                default:
                    break;
            }
        }
    }

    // The pad's three voices, struck on the bar line.
    void pad(int bar, const Chord& c, int volume) {
        for (int v = 0; v < 3; ++v)
            note(bar * kRows, kPadChannel1 + v, c.pad[std::size_t(v)], kPad, volume);
    }
    void padRelease(int bar) {
        for (int v = 0; v < 3; ++v) release(bar * kRows, kPadChannel1 + v);
    }

    // A bar of arpeggio over the chord: '0'..'2' the pad's notes an octave up, '3' the lowest
    // two octaves up; the echo channel repeats it a dotted eighth later.
    void arp(int bar, const Chord& c, int ins, const char* pattern, int volume, int octave = 0) {
        for (int step = 0; step < kRows && pattern[step]; ++step) {
            const char ch = pattern[step];
            if (ch < '0' || ch > '3') continue;
            const int k = ch - '0';
            const int n = (k == 3 ? c.pad[0] + 24 : c.pad[std::size_t(k)] + 12) + 12 * octave;
            echoed(bar * kRows + step, kArpChannel, kArpEchoChannel, n, ins, volume);
        }
    }

    // A melody line (see the themes above) from `bar` on, with its echo.
    void melody(int bar, const char* line, int ins, int volume, int transpose = 0,
                int channel = kLeadChannel, int echoChannel = kLeadEchoChannel) {
        int row = bar * kRows;
        const std::string text(line);
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find(' ', at);
            if (end == std::string::npos) end = text.size();
            const std::string token = text.substr(at, end - at);
            at = end + 1;
            if (token.empty()) continue;
            const std::size_t colon = token.find(':');
            const std::string pitch = token.substr(0, colon);
            const int length = std::atoi(token.c_str() + colon + 1);
            if (pitch == "r") {
                release(row, channel);
                release(row + kEchoRows, echoChannel);
            } else {
                // "A5" or "C#6" in the line; the tracker spells them "A-5", "C#6".
                const std::string name =
                    pitch.size() == 2 ? pitch.substr(0, 1) + "-" + pitch.substr(1) : pitch;
                echoed(row, channel, echoChannel, nn(name.c_str()) + transpose, ins, volume);
            }
            row += length;
        }
    }
    void phrase(int bar, const char* const* lines, int count, int ins, int volume,
                int transpose = 0) {
        for (int i = 0; i < count; ++i) melody(bar + i, lines[i], ins, volume, transpose);
    }
    void endPhrase(int bar) {
        release(bar * kRows, kLeadChannel);
        release(bar * kRows + kEchoRows, kLeadEchoChannel);
    }

    // The chip voice: a held note whose pitch runs through the chord on every tick, struck on
    // each step that the pattern marks.
    void chip(int bar, const Chord& c, const char* pattern, int volume) {
        for (int step = 0; step < kRows && pattern[step]; ++step) {
            if (pattern[step] == 'x')
                note(bar * kRows + step, kChipChannel, c.chipRoot, kChip, volume, 0, c.chipArp);
            else if (pattern[step] == '=')
                release(bar * kRows + step, kChipChannel);
        }
    }

    void crash(int bar, int volume) { note(bar * kRows, kCrashChannel, nn("C-4"), kCrash, volume); }

    // A rising noise sweep over `bars` bars ending on the next bar line: the tracker's
    // portamento pulls the band-passed noise up while its volume grows.
    void sweep(int bar, int bars, int from, int to) {
        const int first = bar * kRows, count = bars * kRows;
        const int slide = bars == 1 ? 8 : 4;  // sixteenths of a semitone per tick
        for (int i = 0; i < count; ++i) {
            const int volume = from + (to - from) * i / (count - 1);
            if (i == 0) {
                note(first, kFxChannel, nn("C-3"), kSweep, volume, 1, slide);
            } else {
                xm::Cell& c = at(first + i, kFxChannel);
                c.volume = xm::volumeColumn(volume);
                c.effect = 1;
                c.param = std::uint8_t(slide);
            }
        }
        release(first + count, kFxChannel);
    }

  private:
    static constexpr int kEchoRows = 3;  // a dotted eighth

    void echoed(int row, int channel, int echoChannel, int n, int ins, int volume) {
        note(row, channel, n, ins, volume);
        note(row + kEchoRows, echoChannel, n, ins, volume * 2 / 5);
    }

    int rows_;
    std::vector<xm::Cell> cells_;
};

// ---- drum patterns (one bar each) ----
const char* const kFourOnFloor = "9...9...9...9...";
const char* const kHalfTime = "9.......9.......";
const char* const kBackbeat = "....9.......9...";
const char* const kOffbeatHat = "..8...8...8...8.";
const char* const kSixteenthHat = "3.6.3.6.3.6.3.6.";
const char* const kBusyHat = "4747474747474747";
const char* const kBetweenHat = ".5.4.5.4.5.4.5.4";
const char* const kShaker = "2323232323232323";
const char* const kRollEighths = "4.4.4.4.5.5.5.5.";
const char* const kRollSixteenths = "5555666677778899";

// ---- the sections ----

void intro(Score& s) {
    // A held A minor swelling out of a low wind.
    s.pad(0, kAm, 26);
    s.sweep(0, 2, 2, 10);
    s.melody(1, "r:8 E5:4 A5:4", kKeys, 20, 0, kArpChannel, kArpEchoChannel);
}

void titles(Score& s) {
    const int first = song::kTitlesBar;
    for (int b = 0; b < 16; ++b) {
        const int bar = first + b;
        const Chord& c = kMinor[std::size_t(b % 4)];
        const int page = b / 4;  // pages 1 to 4
        s.pad(bar, c, 30 + 2 * page);
        if (page < 3) s.note(bar * kRows, kBassChannel, c.bass, kWarmBass, 24 + 3 * page);
        // Bells an octave above the pad, sparse at first and then in eighths.
        s.arp(bar, c, kKeys, page == 0 ? "0...1...2...1..." : "0.1.2.1.0.1.2.3.", 22 + 2 * page);
        if (page >= 1) s.drums(bar, kHatChannel, kClosedHat, kShaker, 0.6 + 0.15 * page);
        if (page >= 2 && b % 4 == 3)
            s.drums(bar, kOpenHatChannel, kOpenHat, "..........4.....", 1.0);
        if (page == 2) s.melody(bar, kThemeA[b % 4], kKeys, 26, 0, kLeadChannel, kLeadEchoChannel);
        if (page == 3) {
            s.melody(bar, kThemeA[b % 4], kLead, 26);
            s.drums(bar, kKickChannel, kKick, kHalfTime, 0.55);
            s.bass(bar, c, kBass, "R.....R...R...R.", 30);
        }
    }
    s.endPhrase(first + 16);
    // Page 5, "TO BE CONTINUED...", appears at once: a hit, then the tension of E major and a
    // sweep that lands on the first scene.
    const int last = first + 16;
    const Chord tension[4] = {kF, kG, kEsus, kE};
    for (int b = 0; b < 4; ++b) {
        const int bar = last + b;
        s.pad(bar, tension[b], 40);
        s.note(bar * kRows, kBassChannel, tension[b].bass, kWarmBass, 36);
        s.chip(bar, tension[b], "x.......x.......", 12);
    }
    s.crash(last, 44);
    s.drums(last, kKickChannel, kKick, "9...............");
    s.melody(last, "E6:6 D6:2 C6:8", kLead, 30);
    s.melody(last + 1, "B5:8 D6:8", kLead, 30);
    s.melody(last + 2, "E6:16", kLead, 28);
    s.melody(last + 3, "r:16", kLead, 0);
    s.sweep(last + 2, 2, 4, 44);
    s.drums(last + 2, kSnareChannel, kSnare, kRollEighths, 0.7);
    s.drums(last + 3, kSnareChannel, kSnare, kRollSixteenths, 0.8);
    s.chip(last + 4, kE, "=", 0);
}

// What a scene's twelve bars carry; each scene switches on more of it.
struct SceneParts {
    const Progression* chords = &kMinor;
    int transpose = 0;
    bool clap = false;
    bool openHats = false;
    bool busyHats = false;
    const char* bassPattern = "..R...R...R...R.";
    const char* arpPattern = nullptr;  // pluck arpeggio
    int arpFromBar = 0;
    bool chip = false;
    const char* const* theme1 = nullptr;   // lead, bars 0-3
    const char* const* theme2 = nullptr;   // lead, bars 4-7
    const char* const* theme3 = nullptr;   // lead, bars 8-9 (two bars)
    std::array<Chord, 2> turn = {kF, kE};  // the last two bars' chords, as they sound
    int breakdownBars = 0;                 // bars at the start without kick and bass
    int level = 0;                         // a little more drive as the show goes on
};

void scene(Score& s, int index, const SceneParts& p) {
    const int first = song::kScenesBar + index * song::kSceneBlockBars;
    s.crash(first, 46 + p.level);
    for (int b = 0; b < song::kSceneBlockBars; ++b) {
        const int bar = first + b;
        // The last two bars turn towards the next scene over F and E (or their lift).
        const Chord c = b >= 10 ? p.turn[std::size_t(b - 10)]
                                : transposed((*p.chords)[std::size_t(b % 4)], p.transpose);
        const bool breakdown = b < p.breakdownBars;
        const bool lastBar = b == 11;

        s.pad(bar, c, breakdown ? 38 : 28);
        if (!lastBar && !breakdown) {
            s.drums(bar, kKickChannel, kKick, kFourOnFloor, (52.0 + p.level) / 64.0);
            s.bass(bar, c, kBass, p.bassPattern, 46 + p.level / 2);
        }
        if (breakdown) s.note(bar * kRows, kBassChannel, c.bass, kWarmBass, 34);
        // A breakdown still lands on the scene's downbeat.
        if (breakdown && b == 0) s.drums(bar, kKickChannel, kKick, "9...............");
        if (!lastBar) {
            if (p.clap && !breakdown) s.drums(bar, kSnareChannel, kClap, kBackbeat, 0.9);
            const char* hats = p.busyHats ? kBusyHat : p.openHats ? kBetweenHat : kOffbeatHat;
            s.drums(bar, kHatChannel, kClosedHat, hats, 0.85);
            if (p.openHats && !breakdown) s.drums(bar, kOpenHatChannel, kOpenHat, kOffbeatHat, 0.7);
        }
        if (p.arpPattern && b >= p.arpFromBar && b < 11) s.arp(bar, c, kPluck, p.arpPattern, 24);
        if (p.chip && b < 10) s.chip(bar, c, b % 2 ? "x.....x.....x..." : "x.....x...x.x.x.", 18);
    }
    if (p.chip) s.chip(first + 10, p.turn[0], "=", 0);
    if (p.theme1) s.phrase(first, p.theme1, 4, kLead, 44, p.transpose);
    if (p.theme2) s.phrase(first + 4, p.theme2, 4, kLead, 44, p.transpose);
    if (p.theme3) s.phrase(first + 8, p.theme3, 2, kLead, 42, p.transpose);
    if (p.theme1 || p.theme2 || p.theme3) s.endPhrase(first + 10);
    if (p.breakdownBars > 0) {
        // The drums come back with a roll in the breakdown's last bar.
        const int lastBreak = first + p.breakdownBars - 1;
        s.drums(lastBreak, kSnareChannel, kSnare, kRollSixteenths, 0.7);
        s.sweep(lastBreak, 1, 4, 30);
        s.crash(first + p.breakdownBars, 44);
    }
    // The leave: a fill and a sweep into the next downbeat.
    s.drums(first + 10, kSnareChannel, kSnare, "............5.5.", 0.7);
    s.drums(first + 11, kSnareChannel, kSnare, kRollSixteenths, 0.75 + p.level / 100.0);
    s.sweep(first + 10, 2, 4, 40);
}

void scenes(Score& s) {
    SceneParts p;
    // 1, flat shading: the drop. Kick, offbeat bass and hats under the pad.
    p.arpPattern = "0.1.2.3.0.1.2.3.";
    p.arpFromBar = 4;
    scene(s, 0, p);
    // 2, texture mapping: clap and open hats, the pluck from the start, octave bass, the chip.
    p.clap = true;
    p.openHats = true;
    p.bassPattern = "..R...O...R...O.";
    p.arpFromBar = 0;
    p.chip = true;
    p.level = 2;
    scene(s, 1, p);
    // 3, environment mapping: the lead takes the main theme; the chip makes room.
    p.chip = false;
    p.theme1 = kThemeA;
    p.theme2 = kThemeB;
    p.theme3 = kThemeA;
    p.arpPattern = "0..1..2.0..1..3.";
    scene(s, 2, p);
    // 4, rotation: new chords and a new tune over bouncing octaves and busier hats.
    p.chords = &kLift;
    p.theme1 = kThemeC;
    p.theme2 = kThemeC;
    p.theme3 = kThemeC;
    p.bassPattern = "R.O.R.O.R.O.R.O.";
    p.busyHats = true;
    p.arpPattern = "3210321032103210";
    scene(s, 3, p);
    // 5, waving flag: a four-bar breakdown with the chip, then everything again.
    p.chords = &kMinor;
    p.breakdownBars = 4;
    p.theme1 = kThemeB;
    p.theme2 = kThemeA;
    p.theme3 = kThemeB;
    p.busyHats = false;
    p.chip = true;
    p.bassPattern = "..R...O...R...O.";
    p.arpPattern = "0.1.2.3.0.1.2.3.";
    scene(s, 4, p);
    // 6, parameterized surface: rolling sixteenth bass, busy hats, a straight arpeggio.
    p.breakdownBars = 0;
    p.chip = false;
    p.theme1 = kThemeA;
    p.theme2 = kThemeB;
    p.theme3 = kThemeA;
    p.bassPattern = ".RRR.RRR.RRR.ROR";
    p.busyHats = true;
    p.arpPattern = "0123012301230123";
    p.turn = {kF, kG};  // G leads up into the next scene's B minor
    p.level = 4;
    scene(s, 5, p);
    // 7, Phong shading: a whole tone up, everything at once.
    p.transpose = 2;
    p.turn = {transposed(kC, 2), transposed(kG, 2)};  // D and A, then the credits' F
    p.chip = true;
    p.theme1 = kThemeB;
    p.theme2 = kThemeA;
    p.theme3 = kThemeB;
    p.level = 6;
    scene(s, 6, p);
}

void credits(Score& s) {
    const int first = song::kCreditsBar;
    const int bars = (song::kCreditPages - 1) * song::kCreditBlockBars;
    for (int b = 0; b < bars + song::kLastPageBars; ++b) {
        const int bar = first + b;
        const Chord& c = kWarm[std::size_t(b % 4)];
        const int page = b / 4;  // 0-based credit page
        const bool groove = page >= 2 && page < 12;
        const bool full = page >= 6 && page < 12;
        s.pad(bar, c, full ? 30 : 36);
        s.arp(bar, c, kKeys, page < 2 ? "0...1...2...1..." : "0.1.2.1.3.1.2.1.", 22);
        if (groove) {
            s.drums(bar, kKickChannel, kKick, kFourOnFloor, full ? 0.8 : 0.65);
            s.bass(bar, c, kBass, full ? "..R...R...R...RO" : "R.....R...R.....", 40);
            s.drums(bar, kHatChannel, kClosedHat, full ? kSixteenthHat : kShaker, 0.6);
            if (full) {
                s.drums(bar, kSnareChannel, kClap, kBackbeat, 0.55);
                s.drums(bar, kOpenHatChannel, kOpenHat, "..........5.....", 0.8);
            }
        } else {
            s.note(bar * kRows, kBassChannel, c.bass, kWarmBass, 32);
            if (page >= 12) s.drums(bar, kKickChannel, kKick, kHalfTime, 0.55);
        }
        if (page >= 4 && page < 12 && b % 8 == 0)
            s.phrase(bar, kCreditTheme, 8, page >= 6 ? kLead : kKeys, page >= 6 ? 28 : 30);
    }
    s.endPhrase(first + 48);
    s.crash(first + 8, 36);
    s.crash(first + 24, 40);
    s.crash(first + 48, 34);
    // The last page: bells alone over the pad.
    s.phrase(song::kLastPageBar, kCreditTheme + 4, 4, kKeys, 28);
}

void tail(Score& s) {
    // A steady, gentle stretch that loops while the music fades to nothing: its end leads back
    // into its own start.
    for (int b = 0; b < song::kTailBars; ++b) {
        const int bar = song::kTailBar + b;
        const Chord& c = kWarm[std::size_t(b % 4)];
        s.pad(bar, c, 32);
        s.note(bar * kRows, kBassChannel, c.bass, kWarmBass, 32);
        s.arp(bar, c, kKeys, "0.1.2.1.3.1.2.1.", 22);
        s.drums(bar, kKickChannel, kKick, kHalfTime, 0.5);
        s.drums(bar, kHatChannel, kClosedHat, kShaker, 0.6);
    }
    s.phrase(song::kTailBar, kCreditTheme, 8, kKeys, 26);
}

}  // namespace

std::vector<xm::Instrument> instruments() {
    std::vector<xm::Instrument> list;
    list.push_back(kickInstrument());
    list.push_back(instrument("snare", synth::snareSample(kRate24, 0x5A4Eu), {}, -1, 0));
    list.push_back(instrument("clap", synth::clapSample(kRate24, 0xC1A9u), {}, -1, 0));
    list.push_back(instrument(
        "closed hat", synth::hatSample("closed hat", kRate28, 0.09, 0.022, 0x4A7u), {}, -1, 0));
    list.push_back(instrument("open hat", synth::hatSample("open hat", kRate28, 0.36, 0.12, 0x0A7u),
                              {}, -1, 0));
    list.push_back(crashInstrument());
    list.push_back(bassInstrument());
    list.push_back(warmBassInstrument());
    list.push_back(leadInstrument());
    list.push_back(padInstrument());
    list.push_back(pluckInstrument());
    list.push_back(keysInstrument());
    list.push_back(chipInstrument());
    list.push_back(sweepInstrument());
    // Each instrument holds one sample, so every note plays sample 0 (the keymap's zeros).
    return list;
}

xm::Module compose() {
    Score score(song::songRows());
    intro(score);
    titles(score);
    scenes(score);
    credits(score);
    tail(score);
    for (const song::Cue& cue : song::cueSchedule()) {
        xm::Cell& c = score.at(cue.row, kCueChannel);
        c.effect = xm::kEffectSync;
        c.param = cue.value;
    }

    xm::Module module;
    module.name = "Zudavez";
    module.channels = kChannels;
    module.speed = song::kSpeed;
    module.tempo = song::kTempo;
    module.linearFrequencies = true;
    // Patterns of up to four bars that never straddle a section line, so that the tail, where
    // the song loops, begins on a pattern of its own.
    const int lines[] = {0,
                         song::kTitlesBar,
                         song::kScenesBar,
                         song::kCreditsBar,
                         song::kLastPageBar,
                         song::kTailBar,
                         song::kSongBars};
    for (std::size_t i = 0; i + 1 < std::size(lines); ++i) {
        for (int bar = lines[i]; bar < lines[i + 1]; bar += 4) {
            if (bar * kRows == song::loopRow()) module.restart = int(module.orders.size());
            const int bars = std::min(4, lines[i + 1] - bar);
            xm::Pattern pattern(bars * kRows, kChannels);
            for (int r = 0; r < bars * kRows; ++r)
                for (int c = 0; c < kChannels; ++c) pattern.at(r, c) = score.at(bar * kRows + r, c);
            module.orders.push_back(std::uint8_t(module.patterns.size()));
            module.patterns.push_back(std::move(pattern));
        }
    }
    module.instruments = instruments();
    return module;
}

}  // namespace composition

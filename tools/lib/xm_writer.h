// Writing FastTracker 2 modules (.xm): header, order list, packed patterns, instruments with
// envelopes and 16-bit delta-coded samples, for the song generators.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace xm {

// Notes count from 1 (C-0) to 96 (B-7); 97 releases the note (key off); 0 is an empty cell.
constexpr std::uint8_t kNoNote = 0;
constexpr std::uint8_t kKeyOff = 97;
// Effect numbers as stored in the file: 0-9, then A = 10 ... Z = 35.
constexpr std::uint8_t kEffectPatternBreak = 0x0D;  // Dxx
constexpr std::uint8_t kEffectJump = 0x0B;          // Bxx
constexpr std::uint8_t kEffectSpeed = 0x0F;         // Fxx: < 32 speed, >= 32 tempo (BPM)
constexpr std::uint8_t kEffectSync = 32;            // Wxx: a synchronisation command
// Volume column: 0x10 + v sets volume v (0..64).
constexpr std::uint8_t volumeColumn(int volume) {
    return std::uint8_t(0x10 + volume);
}

// "C-4", "C#4", "A-3" -> 1..96; 0 for anything else.
std::uint8_t noteNumber(const std::string& name);

struct Cell {
    std::uint8_t note = kNoNote;
    std::uint8_t instrument = 0;  // 1..128, 0 = none
    std::uint8_t volume = 0;      // volume column byte, 0 = none
    std::uint8_t effect = 0;
    std::uint8_t param = 0;
};

struct Pattern {
    int rows = 64;
    int channels = 0;
    std::vector<Cell> cells;  // row-major: rows x channels

    Pattern() = default;
    Pattern(int rowCount, int channelCount)
        : rows(rowCount), channels(channelCount), cells(std::size_t(rowCount * channelCount)) {}
    Cell& at(int row, int channel) { return cells[std::size_t(row * channels + channel)]; }
    const Cell& at(int row, int channel) const {
        return cells[std::size_t(row * channels + channel)];
    }
};

struct EnvelopePoint {
    std::uint16_t tick = 0;   // position in ticks from the note's start
    std::uint16_t value = 0;  // 0..64 (volume), 0..64 with 32 centred (panning)
};

struct Envelope {
    bool enabled = false;
    std::vector<EnvelopePoint> points;  // at most 12, the first at tick 0, ticks rising
    int sustain = -1;                   // point index the note holds on until key off, or -1
    int loopStart = -1;                 // loop between two point indices, or -1
    int loopEnd = -1;
};

enum class Loop : std::uint8_t { none = 0, forward = 1, pingPong = 2 };

struct Sample {
    std::string name;
    std::vector<std::int16_t> data;  // 16-bit mono frames
    Loop loop = Loop::none;
    std::uint32_t loopStart = 0;  // in frames
    std::uint32_t loopLength = 0;
    std::uint8_t volume = 64;      // 0..64
    std::int8_t finetune = 0;      // -128..127 in 1/128 of a semitone
    std::uint8_t panning = 128;    // 0..255
    std::int8_t relativeNote = 0;  // semitones added to every note (0: C-4 plays at 8363 Hz)
};

struct AutoVibrato {
    std::uint8_t type = 0;
    std::uint8_t sweep = 0;
    std::uint8_t depth = 0;
    std::uint8_t rate = 0;
};

struct Instrument {
    std::string name;
    std::vector<Sample> samples;            // at most 16
    std::array<std::uint8_t, 96> keymap{};  // sample index for each note
    Envelope volumeEnvelope;
    Envelope panningEnvelope;
    std::uint16_t fadeout = 0;  // 0..4095: volume lost per tick after key off, in 1/32768
    AutoVibrato vibrato;
};

struct Module {
    std::string name;
    std::string tracker = "Tarnovel xm_writer";
    int channels = 8;  // 2..32, even (as FT2 requires)
    int speed = 6;     // ticks per row, 1..31
    int tempo = 125;   // BPM, 32..255: a tick lasts 2.5 / tempo seconds
    int restart = 0;   // order index the song loops to
    bool linearFrequencies = true;
    std::vector<std::uint8_t> orders;  // pattern index per song position, 1..256 entries
    std::vector<Pattern> patterns;
    std::vector<Instrument> instruments;  // at most 128
};

// Checks every limit of the format; false with the reason in `error`.
bool validate(const Module& module, std::string* error);
// The file's bytes; empty (with `error`) when the module does not validate.
std::vector<std::uint8_t> encode(const Module& module, std::string* error);
// Writes the module to `path`; false with the reason in `error`.
bool writeXm(const std::string& path, const Module& module, std::string* error);

}  // namespace xm

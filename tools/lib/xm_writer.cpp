// FastTracker 2 module writer: validates a module against the format's limits and lays it out
// as FT2 2.04 writes it (little-endian fields, packed patterns, delta-coded samples).
#include "xm_writer.h"

#include <cstdio>
#include <memory>

namespace xm {

namespace {

constexpr std::uint32_t kModuleHeaderSize = 276;  // counted from the size field on
constexpr std::uint32_t kPatternHeaderSize = 9;
constexpr std::uint32_t kInstrumentHeaderSize = 263;
constexpr std::uint32_t kSampleHeaderSize = 40;
constexpr int kEnvelopePoints = 12;

class Writer {
  public:
    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint16_t v) {
        u8(std::uint8_t(v));
        u8(std::uint8_t(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(std::uint16_t(v));
        u16(std::uint16_t(v >> 16));
    }
    // A fixed-width text field: cut to the width, padded with zero bytes.
    void text(const std::string& s, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) u8(i < s.size() ? std::uint8_t(s[i]) : 0);
    }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    std::size_t size() const { return bytes.size(); }
    void patch16(std::size_t at, std::uint16_t v) {
        bytes[at] = std::uint8_t(v);
        bytes[at + 1] = std::uint8_t(v >> 8);
    }

    std::vector<std::uint8_t> bytes;
};

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool validateEnvelope(const Envelope& env, const std::string& where, std::string* error) {
    const int n = int(env.points.size());
    if (n > kEnvelopePoints) return fail(error, where + ": more than 12 envelope points");
    if (env.enabled && n == 0) return fail(error, where + ": an enabled envelope needs points");
    for (int i = 0; i < n; ++i) {
        if (env.points[std::size_t(i)].value > 64)
            return fail(error, where + ": envelope value above 64");
        if (i == 0 && env.points[0].tick != 0)
            return fail(error, where + ": the first envelope point must be at tick 0");
        if (i > 0 && env.points[std::size_t(i)].tick <= env.points[std::size_t(i - 1)].tick)
            return fail(error, where + ": envelope ticks must rise");
    }
    if (env.sustain >= n) return fail(error, where + ": sustain point out of range");
    if ((env.loopStart >= 0) != (env.loopEnd >= 0))
        return fail(error, where + ": an envelope loop needs both ends");
    if (env.loopStart >= 0 && (env.loopStart > env.loopEnd || env.loopEnd >= n))
        return fail(error, where + ": envelope loop out of range");
    return true;
}

bool validateSample(const Sample& s, const std::string& where, std::string* error) {
    // Lengths are stored in bytes in a 32-bit field.
    if (s.data.size() > 0x7FFFFFFFu / 2) return fail(error, where + ": sample too long");
    if (s.volume > 64) return fail(error, where + ": sample volume above 64");
    if (s.loop != Loop::none) {
        if (s.loopLength == 0) return fail(error, where + ": empty sample loop");
        if (std::uint64_t(s.loopStart) + s.loopLength > s.data.size())
            return fail(error, where + ": sample loop runs past the sample's end");
    }
    return true;
}

void writeEnvelopePoints(Writer& w, const Envelope& env) {
    for (int i = 0; i < kEnvelopePoints; ++i) {
        if (i < int(env.points.size())) {
            w.u16(env.points[std::size_t(i)].tick);
            w.u16(env.points[std::size_t(i)].value);
        } else {
            w.u32(0);
        }
    }
}

std::uint8_t envelopeFlags(const Envelope& env) {
    std::uint8_t flags = 0;
    if (env.enabled) flags |= 1;
    if (env.sustain >= 0) flags |= 2;
    if (env.loopStart >= 0) flags |= 4;
    return flags;
}

// FT2's packed cell: a flag byte (bit 7 set) naming the fields that follow, or, when all five
// are present, the five bytes as they are (the note's bit 7 is clear).
void writeCell(Writer& w, const Cell& c) {
    std::uint8_t mask = 0;
    if (c.note) mask |= 1;
    if (c.instrument) mask |= 2;
    if (c.volume) mask |= 4;
    if (c.effect) mask |= 8;
    if (c.param) mask |= 16;
    if (mask != 0x1F) w.u8(std::uint8_t(0x80 | mask));
    if (mask & 1) w.u8(c.note);
    if (mask & 2) w.u8(c.instrument);
    if (mask & 4) w.u8(c.volume);
    if (mask & 8) w.u8(c.effect);
    if (mask & 16) w.u8(c.param);
}

void writePattern(Writer& w, const Pattern& p) {
    w.u32(kPatternHeaderSize);
    w.u8(0);  // packing type
    w.u16(std::uint16_t(p.rows));
    const std::size_t sizeAt = w.size();
    w.u16(0);
    const std::size_t begin = w.size();
    for (const Cell& c : p.cells) writeCell(w, c);
    w.patch16(sizeAt, std::uint16_t(w.size() - begin));
}

void writeInstrument(Writer& w, const Instrument& ins) {
    w.u32(kInstrumentHeaderSize);
    w.text(ins.name, 22);
    w.u8(0);  // type
    w.u16(std::uint16_t(ins.samples.size()));
    w.u32(kSampleHeaderSize);
    for (std::uint8_t k : ins.keymap) w.u8(k);
    writeEnvelopePoints(w, ins.volumeEnvelope);
    writeEnvelopePoints(w, ins.panningEnvelope);
    const Envelope& v = ins.volumeEnvelope;
    const Envelope& p = ins.panningEnvelope;
    w.u8(std::uint8_t(v.points.size()));
    w.u8(std::uint8_t(p.points.size()));
    w.u8(std::uint8_t(v.sustain < 0 ? 0 : v.sustain));
    w.u8(std::uint8_t(v.loopStart < 0 ? 0 : v.loopStart));
    w.u8(std::uint8_t(v.loopEnd < 0 ? 0 : v.loopEnd));
    w.u8(std::uint8_t(p.sustain < 0 ? 0 : p.sustain));
    w.u8(std::uint8_t(p.loopStart < 0 ? 0 : p.loopStart));
    w.u8(std::uint8_t(p.loopEnd < 0 ? 0 : p.loopEnd));
    w.u8(envelopeFlags(v));
    w.u8(envelopeFlags(p));
    w.u8(ins.vibrato.type);
    w.u8(ins.vibrato.sweep);
    w.u8(ins.vibrato.depth);
    w.u8(ins.vibrato.rate);
    w.u16(ins.fadeout);
    // MIDI settings and reserved bytes up to the header's full size.
    w.zeros(kInstrumentHeaderSize - 241);

    for (const Sample& s : ins.samples) {
        w.u32(std::uint32_t(s.data.size() * 2));
        const bool looped = s.loop != Loop::none;
        w.u32(looped ? s.loopStart * 2 : 0);
        w.u32(looped ? s.loopLength * 2 : 0);
        w.u8(s.volume);
        w.u8(std::uint8_t(s.finetune));
        w.u8(std::uint8_t(0x10 | std::uint8_t(s.loop)));  // 16-bit data, loop kind
        w.u8(s.panning);
        w.u8(std::uint8_t(s.relativeNote));
        w.u8(0);
        w.text(s.name, 22);
    }
    // Sample data: each frame stored as the difference from the previous one, wrapping.
    for (const Sample& s : ins.samples) {
        std::int16_t previous = 0;
        for (std::int16_t v : s.data) {
            w.u16(std::uint16_t(std::uint16_t(v) - std::uint16_t(previous)));
            previous = v;
        }
    }
}

}  // namespace

std::uint8_t noteNumber(const std::string& name) {
    static const char* const kNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                           "F#", "G-", "G#", "A-", "A#", "B-"};
    if (name.size() != 3 || name[2] < '0' || name[2] > '7') return 0;
    for (int i = 0; i < 12; ++i)
        if (name.compare(0, 2, kNames[i]) == 0) return std::uint8_t(1 + (name[2] - '0') * 12 + i);
    return 0;
}

bool validate(const Module& m, std::string* error) {
    if (m.channels < 2 || m.channels > 32 || m.channels % 2 != 0)
        return fail(error, "channel count must be even, 2 to 32");
    if (m.speed < 1 || m.speed > 31) return fail(error, "speed must be 1 to 31");
    if (m.tempo < 32 || m.tempo > 255) return fail(error, "tempo must be 32 to 255");
    if (m.orders.empty() || m.orders.size() > 256) return fail(error, "1 to 256 orders needed");
    if (m.restart < 0 || m.restart >= int(m.orders.size()))
        return fail(error, "restart position outside the order list");
    if (m.patterns.empty() || m.patterns.size() > 256) return fail(error, "1 to 256 patterns");
    for (std::uint8_t o : m.orders)
        if (o >= m.patterns.size()) return fail(error, "order names a missing pattern");
    for (std::size_t i = 0; i < m.patterns.size(); ++i) {
        const Pattern& p = m.patterns[i];
        const std::string where = "pattern " + std::to_string(i);
        if (p.rows < 1 || p.rows > 256) return fail(error, where + ": 1 to 256 rows");
        if (p.channels != m.channels) return fail(error, where + ": wrong channel count");
        if (p.cells.size() != std::size_t(p.rows * p.channels))
            return fail(error, where + ": cell count does not match rows x channels");
        for (const Cell& c : p.cells) {
            if (c.note > kKeyOff) return fail(error, where + ": note out of range");
            if (c.instrument > 128) return fail(error, where + ": instrument out of range");
            if (c.volume != 0 && c.volume < 0x10) return fail(error, where + ": bad volume byte");
            if (c.effect > 35) return fail(error, where + ": effect out of range");
        }
    }
    if (m.instruments.size() > 128) return fail(error, "more than 128 instruments");
    for (std::size_t i = 0; i < m.instruments.size(); ++i) {
        const Instrument& ins = m.instruments[i];
        const std::string where = "instrument " + std::to_string(i + 1);
        if (ins.samples.size() > 16) return fail(error, where + ": more than 16 samples");
        for (std::uint8_t k : ins.keymap)
            if (k != 0 && k >= ins.samples.size())
                return fail(error, where + ": keymap names a missing sample");
        if (ins.fadeout > 0xFFF) return fail(error, where + ": fade-out above 4095");
        if (!validateEnvelope(ins.volumeEnvelope, where + " volume", error)) return false;
        if (!validateEnvelope(ins.panningEnvelope, where + " panning", error)) return false;
        for (std::size_t s = 0; s < ins.samples.size(); ++s)
            if (!validateSample(ins.samples[s], where + " sample " + std::to_string(s), error))
                return false;
    }
    return true;
}

std::vector<std::uint8_t> encode(const Module& m, std::string* error) {
    if (!validate(m, error)) return {};
    Writer w;
    w.text("Extended Module: ", 17);
    w.text(m.name, 20);
    w.u8(0x1A);
    w.text(m.tracker, 20);
    w.u16(0x0104);
    w.u32(kModuleHeaderSize);
    w.u16(std::uint16_t(m.orders.size()));
    w.u16(std::uint16_t(m.restart));
    w.u16(std::uint16_t(m.channels));
    w.u16(std::uint16_t(m.patterns.size()));
    w.u16(std::uint16_t(m.instruments.size()));
    w.u16(m.linearFrequencies ? 1 : 0);
    w.u16(std::uint16_t(m.speed));
    w.u16(std::uint16_t(m.tempo));
    for (int i = 0; i < 256; ++i) w.u8(i < int(m.orders.size()) ? m.orders[std::size_t(i)] : 0);
    for (const Pattern& p : m.patterns) writePattern(w, p);
    for (const Instrument& ins : m.instruments) writeInstrument(w, ins);
    return std::move(w.bytes);
}

bool writeXm(const std::string& path, const Module& m, std::string* error) {
    const std::vector<std::uint8_t> bytes = encode(m, error);
    if (bytes.empty()) return false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                         std::fclose);
    if (!file) return fail(error, "cannot create " + path);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return fail(error, "cannot write " + path);
    if (std::fclose(file.release()) != 0) return fail(error, "cannot finish writing " + path);
    return true;
}

}  // namespace xm

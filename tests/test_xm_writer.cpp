// Tests of the FT2 module writer: the file layout, a round trip through libopenmpt, samples,
// loops and envelopes as a player renders them, and the format's limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <libopenmpt/libopenmpt.hpp>
#include <string>
#include <vector>

#include "xm_writer.h"

namespace {

std::uint32_t le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + std::size_t(i)];
    return v;
}

xm::Sample squareSample(int frames, bool loop) {
    xm::Sample s;
    s.name = "square";
    for (int i = 0; i < frames; ++i) s.data.push_back(i % 32 < 16 ? 12000 : -12000);
    if (loop) {
        s.loop = xm::Loop::forward;
        s.loopStart = 0;
        s.loopLength = std::uint32_t(frames);
    }
    return s;
}

// A two-channel module that plays one C-4 of `instrument` at its start.
xm::Module oneNote(const xm::Instrument& instrument) {
    xm::Module m;
    m.channels = 2;
    m.patterns.emplace_back(64, 2);
    m.orders = {0};
    m.patterns[0].at(0, 0) = {xm::noteNumber("C-4"), 1, 0, 0, 0};
    m.instruments.push_back(instrument);
    return m;
}

// Mean square of the rendered signal from `from` to `to` seconds.
double energy(const xm::Module& m, double from, double to) {
    std::string error;
    const std::vector<std::uint8_t> bytes = xm::encode(m, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    openmpt::module player(bytes);
    constexpr int kRate = 48000;
    std::vector<float> buffer(std::size_t(to * kRate) * 2);
    const std::size_t got = player.read_interleaved_stereo(kRate, buffer.size() / 2, buffer.data());
    double sum = 0;
    for (std::size_t i = std::size_t(from * kRate) * 2; i < got * 2; ++i)
        sum += double(buffer[i]) * buffer[i];
    return sum / ((to - from) * kRate * 2);
}

}  // namespace

TEST(XmWriter, HeaderAndPackedPatternFollowTheFileLayout) {
    xm::Module m;
    m.name = "layout";
    m.channels = 2;
    m.speed = 3;
    m.tempo = 150;
    m.patterns.emplace_back(1, 2);
    m.orders = {0, 0};
    m.restart = 1;
    m.patterns[0].at(0, 0) = {49, 1, 0x40, xm::kEffectSync, 2};  // all five fields
    std::string error;
    const std::vector<std::uint8_t> b = xm::encode(m, &error);
    ASSERT_EQ(b.size(), 336u + 9 + 6) << error;
    EXPECT_EQ(std::string(b.begin(), b.begin() + 17), "Extended Module: ");
    EXPECT_EQ(std::string(b.begin() + 17, b.begin() + 23), "layout");
    EXPECT_EQ(b[37], 0x1A);
    // Version, header size, then song length, restart, channels, patterns, instruments,
    // flags (linear frequencies), speed and tempo.
    EXPECT_EQ(le(b, 58, 2), 0x0104u);
    EXPECT_EQ(le(b, 60, 4), 276u);
    const std::uint32_t fields[] = {2, 1, 2, 1, 0, 1, 3, 150};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(le(b, 64 + 2 * std::size_t(i), 2), fields[i]) << i;
    // Pattern header, then the full cell as five plain bytes and the empty one as a bare flag.
    EXPECT_EQ(le(b, 336, 4), 9u);
    EXPECT_EQ(le(b, 341, 2), 1u);
    EXPECT_EQ(le(b, 343, 2), 6u);
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 345, b.end()),
              (std::vector<std::uint8_t>{49, 1, 0x40, 32, 2, 0x80}));
}

TEST(XmWriter, SamplesAreStoredAsWrappingDeltas) {
    xm::Instrument ins;
    ins.name = "deltas";
    xm::Sample s;
    s.data = {0, 32767, -32768, 100, -100, 5};
    s.loop = xm::Loop::forward;
    s.loopStart = 1;
    s.loopLength = 4;
    ins.samples.push_back(s);
    std::string error;
    const std::vector<std::uint8_t> b = xm::encode(oneNote(ins), &error);
    ASSERT_FALSE(b.empty()) << error;
    // The sample data closes the file; its header (40 bytes) comes just before it.
    const std::size_t data = b.size() - 12, header = data - 40;
    EXPECT_EQ(le(b, header, 4), 12u);     // length in bytes
    EXPECT_EQ(le(b, header + 4, 4), 2u);  // loop start in bytes
    EXPECT_EQ(le(b, header + 8, 4), 8u);  // loop length in bytes
    EXPECT_EQ(b[header + 14], 0x11);      // 16-bit, forward loop
    std::int16_t value = 0;
    for (std::size_t i = 0; i < s.data.size(); ++i) {
        value = std::int16_t(std::uint16_t(value) + le(b, data + 2 * i, 2));
        EXPECT_EQ(value, s.data[i]) << i;
    }
}

TEST(XmWriter, RoundTripThroughLibopenmpt) {
    xm::Module m;
    m.name = "roundtrip";
    m.channels = 6;
    m.speed = 5;
    m.tempo = 140;
    m.patterns.emplace_back(32, 6);
    m.patterns.emplace_back(64, 6);
    m.orders = {1, 0, 1};
    m.restart = 1;
    m.patterns[0].at(0, 5) = {0, 0, 0, xm::kEffectSync, 2};
    m.patterns[1].at(10, 0) = {0, 0, 0, xm::kEffectSync, 1};
    m.patterns[1].at(63, 3) = {0, 0, 0, xm::kEffectSync, 0x7F};
    m.patterns[1].at(3, 2) = {xm::noteNumber("C-4"), 2, xm::volumeColumn(32), 0x0A, 0x0F};
    xm::Instrument lead;
    lead.name = "lead";
    lead.samples = {squareSample(64, true), squareSample(32, true)};
    lead.samples[1].name = "high";
    for (int k = 48; k < 96; ++k) lead.keymap[std::size_t(k)] = 1;
    lead.volumeEnvelope.enabled = true;
    lead.volumeEnvelope.points = {{0, 64}, {10, 40}, {40, 0}};
    lead.volumeEnvelope.sustain = 1;
    xm::Instrument drum;
    drum.name = "drum";
    drum.samples = {squareSample(500, false)};
    m.instruments = {lead, drum};

    std::string error;
    const std::vector<std::uint8_t> bytes = xm::encode(m, &error);
    ASSERT_FALSE(bytes.empty()) << error;
    openmpt::module player(bytes);
    EXPECT_EQ(player.get_metadata("type"), "xm");
    EXPECT_EQ(player.get_metadata("title"), "roundtrip");
    EXPECT_EQ(player.get_num_channels(), 6);
    ASSERT_EQ(player.get_num_orders(), 3);
    EXPECT_EQ(player.get_order_pattern(0), 1);
    EXPECT_EQ(player.get_order_pattern(1), 0);
    EXPECT_EQ(player.get_pattern_num_rows(0), 32);
    EXPECT_EQ(player.get_pattern_num_rows(1), 64);
    EXPECT_EQ(player.get_current_speed(), 5);
    EXPECT_EQ(player.get_current_tempo(), 140);
    EXPECT_EQ(player.get_instrument_names(), (std::vector<std::string>{"lead", "drum"}));
    EXPECT_EQ(player.get_sample_names(), (std::vector<std::string>{"square", "high", "square"}));

    using M = openmpt::module;
    // libopenmpt counts notes from its own C-0, an octave below FT2's: FT2's C-4 is its 61.
    EXPECT_EQ(player.get_pattern_row_channel_command(1, 3, 2, M::command_note), 61);
    EXPECT_EQ(player.get_pattern_row_channel_command(1, 3, 2, M::command_instrument), 2);
    EXPECT_EQ(player.get_pattern_row_channel_command(1, 3, 2, M::command_volume), 32);
    EXPECT_EQ(player.format_pattern_row_channel_command(1, 3, 2, M::command_effect), "A");
    EXPECT_EQ(player.get_pattern_row_channel_command(1, 3, 2, M::command_parameter), 0x0F);
    struct Sync {
        int pattern, row, channel, value;
    };
    for (const Sync& s : {Sync{0, 0, 5, 2}, Sync{1, 10, 0, 1}, Sync{1, 63, 3, 0x7F}}) {
        EXPECT_EQ(player.format_pattern_row_channel_command(s.pattern, s.row, s.channel,
                                                            M::command_effect),
                  "W");
        EXPECT_EQ(player.get_pattern_row_channel_command(s.pattern, s.row, s.channel,
                                                         M::command_parameter),
                  s.value);
    }
    // A one-pass length: orders 1, 0, 1 at 5 ticks of 2.5/140 s per row.
    EXPECT_NEAR(player.get_duration_seconds(), (64 + 32 + 64) * 5 * 2.5 / 140, 0.01);
}

TEST(XmWriter, LoopsAndEnvelopesShapeTheSoundAsWritten) {
    xm::Instrument plain;
    plain.samples = {squareSample(1000, false)};  // 0.12 s at C-4
    const double shortNote = energy(oneNote(plain), 0.5, 1.0);
    EXPECT_EQ(shortNote, 0.0);
    EXPECT_GT(energy(oneNote(plain), 0.0, 0.1), 0.0);

    xm::Instrument looped;
    looped.samples = {squareSample(1000, true)};
    EXPECT_GT(energy(oneNote(looped), 1.0, 1.5), 1e-4);

    // An envelope falling to 0 over 25 ticks (0.5 s) silences even a looped sample...
    xm::Instrument decaying = looped;
    decaying.volumeEnvelope.enabled = true;
    decaying.volumeEnvelope.points = {{0, 64}, {25, 0}};
    EXPECT_GT(energy(oneNote(decaying), 0.0, 0.2), 1e-4);
    EXPECT_EQ(energy(oneNote(decaying), 0.7, 1.5), 0.0);

    // ...unless it holds on a sustain point until the note is released.
    xm::Instrument held = decaying;
    held.volumeEnvelope.points = {{0, 64}, {10, 48}, {25, 0}};
    held.volumeEnvelope.sustain = 1;
    EXPECT_GT(energy(oneNote(held), 1.0, 1.5), 1e-4);

    // Key off at row 8 (0.96 s) lets the envelope run on to 0 after the sustain.
    xm::Module released = oneNote(held);
    released.patterns[0].at(8, 0).note = xm::kKeyOff;
    EXPECT_GT(energy(released, 0.5, 0.9), 1e-4);
    EXPECT_EQ(energy(released, 1.5, 2.0), 0.0);
}

TEST(XmWriter, RefusesWhatTheFormatCannotHold) {
    auto refused = [](const xm::Module& m, const std::string& why) {
        std::string error;
        EXPECT_FALSE(xm::validate(m, &error)) << why;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        EXPECT_TRUE(xm::encode(m, &error).empty());
    };
    xm::Instrument ins;
    ins.samples = {squareSample(100, true)};
    const xm::Module good = oneNote(ins);
    std::string error;
    ASSERT_TRUE(xm::validate(good, &error)) << error;

    xm::Module m = good;
    m.channels = 3;
    refused(m, "channel");
    m = good;
    m.orders = {0, 1};
    refused(m, "missing pattern");
    m = good;
    m.patterns[0].cells.pop_back();
    refused(m, "cell count");
    m = good;
    m.instruments[0].samples[0].loopLength = 101;
    refused(m, "loop runs past");
    m = good;
    m.instruments[0].volumeEnvelope.points = {{0, 64}, {5, 10}, {5, 0}};
    refused(m, "ticks must rise");

    EXPECT_FALSE(xm::writeXm("/nonexistent-folder/x.xm", good, &error));
    EXPECT_NE(error.find("/nonexistent-folder/x.xm"), std::string::npos);
}

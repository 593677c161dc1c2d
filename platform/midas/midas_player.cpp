// Module loading and chunked rendering over libopenmpt, with the row watch that turns each
// newly begun row's W commands into sync events.
#include "midas_player.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <libopenmpt/libopenmpt.hpp>
#include <ostream>
#include <streambuf>

namespace midas {

namespace {

// libopenmpt writes its warnings to a log stream; the sound layer reports through its own
// error text instead, so the log goes nowhere.
class NullBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
};

std::ostream& nullLog() {
    static NullBuffer buffer;
    static std::ostream stream(&buffer);
    return stream;
}

std::uint32_t le(const std::vector<char>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | std::uint8_t(b[at + std::size_t(i)]);
    return v;
}

// libopenmpt plays what it can of a cut-off file. An FT2 module's sizes are all stated up
// front, so a file that ends before its patterns, instruments and samples do is refused here
// as damaged rather than played with parts missing (and cues lost).
bool xmIsWhole(const std::vector<char>& b, std::string* error) {
    static const char kMagic[] = "Extended Module: ";
    if (b.size() < 17 || std::memcmp(b.data(), kMagic, 17) != 0) return true;  // not an XM
    const std::uint64_t size = b.size();
    auto damaged = [&](const char* where) {
        *error = std::string("the module is damaged: the file ends inside its ") + where;
        return false;
    };
    if (size < 80) return damaged("header");
    // Version 1.04 is the layout FT2 2.x writes; older layouts are left to libopenmpt.
    if (le(b, 58, 2) < 0x0104) return true;
    std::uint64_t at = 60 + std::uint64_t(le(b, 60, 4));
    const unsigned patterns = le(b, 70, 2), instruments = le(b, 72, 2);
    for (unsigned p = 0; p < patterns; ++p) {
        if (at + 9 > size) return damaged("patterns");
        at += std::uint64_t(le(b, at, 4)) + le(b, at + 7, 2);
        if (at > size) return damaged("patterns");
    }
    for (unsigned i = 0; i < instruments; ++i) {
        if (at + 29 > size) return damaged("instruments");
        const std::uint64_t headerSize = le(b, at, 4);
        const unsigned samples = le(b, at + 27, 2);
        std::uint64_t sampleHeaderSize = 40;
        if (samples > 0) {
            if (at + 33 > size) return damaged("instruments");
            sampleHeaderSize = le(b, at + 29, 4);
            // Sample headers shorter than the part read here overlap, a layout no tracker
            // writes; libopenmpt judges those. (Walking them could also take 65535 samples of
            // 65535 instruments without moving through the file.)
            if (sampleHeaderSize < 18) return true;
        }
        at += headerSize;
        std::uint64_t data = 0;
        for (unsigned s = 0; s < samples; ++s) {
            const std::uint64_t h = at + s * sampleHeaderSize;
            if (h + 18 > size) return damaged("sample headers");
            std::uint64_t length = le(b, h, 4);
            // ModPlug's 4-bit ADPCM samples: half the bytes plus a 16-byte table.
            if (std::uint8_t(b[std::size_t(h + 17)]) == 0xAD) length = (length + 1) / 2 + 16;
            data += length;
        }
        at += samples * sampleHeaderSize + data;
        if (at > size) return damaged("sample data");
    }
    return true;
}

}  // namespace

std::unique_ptr<openmpt::module> openModule(const std::vector<char>& bytes, SyncTable* table,
                                            std::string* error) {
    if (bytes.empty()) {
        *error = "the file is empty";
        return nullptr;
    }
    if (!xmIsWhole(bytes, error)) return nullptr;
    std::unique_ptr<openmpt::module> module;
    try {
        module = std::make_unique<openmpt::module>(bytes, nullLog());
    } catch (const std::exception& e) {
        *error = std::string("not a module libopenmpt can play (") + e.what() + ")";
        return nullptr;
    }
    try {
        if (module->get_num_orders() < 1 || module->get_num_channels() < 1) {
            *error = "the module has no song to play";
            return nullptr;
        }
        // In FT2 modules W is no effect at all, and libopenmpt keeps it as a command without
        // effect that its pattern API names "W". Other formats use the letter for real effects
        // (a global volume slide in S3M and IT), so only XM songs carry sync commands.
        const bool syncs = module->get_metadata("type") == "xm";
        const int patterns = module->get_num_patterns();
        const int channels = module->get_num_channels();
        table->assign(std::size_t(patterns), {});
        for (int p = 0; p < patterns; ++p) {
            const int rows = module->get_pattern_num_rows(p);
            auto& pattern = (*table)[std::size_t(p)];
            pattern.assign(std::size_t(std::max(rows, 0)), {});
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < channels; ++c)
                    if (syncs && module->format_pattern_row_channel_command(
                                     p, r, c, openmpt::module::command_effect) == "W")
                        pattern[std::size_t(r)].push_back(module->get_pattern_row_channel_command(
                            p, r, c, openmpt::module::command_parameter));
        }
    } catch (const std::exception& e) {
        *error = std::string("the module's patterns cannot be read (") + e.what() + ")";
        return nullptr;
    }
    return module;
}

Playback::Playback(std::unique_ptr<openmpt::module> module, std::shared_ptr<const SyncTable> table,
                   bool loop)
    : module_(std::move(module)), table_(std::move(table)), scratch_(kChunkFrames * 2) {
    // MIDAS looped a song forever; without looping it plays once and falls silent.
    module_->set_repeat_count(loop ? -1 : 0);
    // Without looping, stop at the song's last row rather than fade on into its loop.
    module_->ctl_set_text("play.at_end", "stop");
}

Playback::~Playback() = default;

void Playback::setDraft(bool draft) {
    if (draft == draft_) return;
    draft_ = draft;
    try {
        // 1: the nearest sample point; 0 and -1: libopenmpt's own defaults.
        module_->set_render_param(openmpt::module::RENDER_INTERPOLATIONFILTER_LENGTH,
                                  draft ? 1 : 0);
        module_->set_render_param(openmpt::module::RENDER_VOLUMERAMPING_STRENGTH, draft ? 0 : -1);
    } catch (const std::exception&) {
        // A library that refuses the setting keeps rendering at full quality.
    }
}

void Playback::render(std::int16_t* out, std::size_t frames, unsigned volume,
                      std::vector<SyncEvent>* events) {
    frames = std::min(frames, kChunkFrames);
    std::size_t got = 0;
    if (!ended_) {
        try {
            got = module_->read_interleaved_stereo(kSampleRate, frames, scratch_.data());
        } catch (const std::exception&) {
            got = 0;
        }
        if (got < frames) ended_ = true;
    }
    // Rendering in float and scaling here keeps the output free of libopenmpt's dither noise,
    // so two runs give the same samples.
    const float gain = float(volume) / 64.0f * 32768.0f;
    for (std::size_t i = 0; i < got * 2; ++i) {
        const float v = std::clamp(scratch_[i] * gain, -32768.0f, 32767.0f);
        out[i] = std::int16_t(std::lrint(v));
    }
    std::fill(out + got * 2, out + frames * 2, std::int16_t(0));

    // A short read means the song ended inside this chunk; no row can begin that close to the
    // end, since every row lasts at least one tick (far longer than a chunk).
    if (got < frames || got == 0) return;
    // A new row shows as a change of song position. libopenmpt does not report ticks, so a row
    // that plays again straight after itself (a one-row pattern loop, a jump onto its own row)
    // looks unchanged and its commands come once.
    const int order = module_->get_current_order();
    const int row = module_->get_current_row();
    if (order == order_ && row == row_) return;
    order_ = order;
    row_ = row;
    const int pattern = module_->get_current_pattern();
    if (pattern < 0 || std::size_t(pattern) >= table_->size()) return;
    const auto& rows = (*table_)[std::size_t(pattern)];
    if (row < 0 || std::size_t(row) >= rows.size()) return;
    for (std::uint8_t value : rows[std::size_t(row)])
        events->push_back({value, unsigned(order), unsigned(row)});
}

}  // namespace midas

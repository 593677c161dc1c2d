// Fuzz target: the sound layer's song loading (the completeness check of FT2 modules, the
// parse, the table of sync commands) and the first tenth of a second of looped playback with
// its row watch, which looks rows up in that table.
#include <cstdint>
#include <libopenmpt/libopenmpt.hpp>
#include <memory>
#include <string>
#include <vector>

#include "midas_player.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<char> bytes(data, data + size);
    auto table = std::make_shared<midas::SyncTable>();
    std::string error;
    std::unique_ptr<openmpt::module> module = midas::openModule(bytes, table.get(), &error);
    if (!module) return 0;
    midas::Playback playback(std::move(module), table, true);
    std::int16_t out[midas::kChunkFrames * 2];
    std::vector<midas::SyncEvent> events;
    for (int chunk = 0; chunk < 100 && !playback.ended(); ++chunk)
        playback.render(out, midas::kChunkFrames, 64, &events);
    return 0;
}

// The song's cost: ten seconds of the show's music rendered in 1 ms chunks as the sound layer
// renders it, at full quality (heard: the audio device, a recording with audio) and in draft
// quality (heard by no one: a recording without audio).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <libopenmpt/libopenmpt.hpp>

#include "midas_player.h"

namespace {

void BM_SongRender(benchmark::State& state, bool draft) {
    std::ifstream in(std::string(TARNOVEL_ASSETS) + "/Zudavez.xm", std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    auto table = std::make_shared<midas::SyncTable>();
    std::string error;
    auto module = midas::openModule(bytes, table.get(), &error);
    if (!module) {
        state.SkipWithError(("the song cannot be read: " + error).c_str());
        return;
    }
    midas::Playback playback(std::move(module), table, true);
    playback.setDraft(draft);
    constexpr std::size_t kSeconds = 10;
    std::vector<std::int16_t> out(midas::kChunkFrames * 2);
    std::vector<midas::SyncEvent> events;
    for (auto _ : state) {
        for (std::size_t i = 0; i < kSeconds * midas::kSampleRate / midas::kChunkFrames; ++i) {
            playback.render(out.data(), midas::kChunkFrames, 64, &events);
            events.clear();
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["x real time"] = benchmark::Counter(
        double(kSeconds) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_SongRender, full, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SongRender, draft, true)->Unit(benchmark::kMillisecond);

}  // namespace

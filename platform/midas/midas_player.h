// Inside the sound layer: a loaded module with its table of sync commands, and one playing
// instance that renders in short chunks and reports the sync commands of each row it begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midas.h"

namespace openmpt {
class module;
}

namespace midas {

// Show time and audio run at one rate; every render is cut into chunks of at most 1 ms so that
// a row's sync commands are reported within that much audio of the row's start.
constexpr int kSampleRate = 48000;
constexpr std::size_t kChunkFrames = 48;

// The W values of every row of every pattern, in channel order.
using SyncTable = std::vector<std::vector<std::vector<std::uint8_t>>>;

struct SyncEvent {
    unsigned value;
    unsigned order;
    unsigned row;
};

// Parses `bytes` as a module; on success fills `table` with the sync commands of every row.
// Returns nullptr with the reason in `error` when the bytes are not a playable module.
std::unique_ptr<openmpt::module> openModule(const std::vector<char>& bytes, SyncTable* table,
                                            std::string* error);

class Playback {
  public:
    Playback(std::unique_ptr<openmpt::module> module, std::shared_ptr<const SyncTable> table,
             bool loop);
    ~Playback();
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // Renders `frames` (at most kChunkFrames) interleaved stereo frames at `volume` (0..64)
    // and appends the sync commands of a row that began inside them. After the song's end
    // (when not looping) the output is silence.
    void render(std::int16_t* out, std::size_t frames, unsigned volume,
                std::vector<SyncEvent>* events);
    bool ended() const { return ended_; }
    // Draft quality for output that nobody hears: no interpolation between sample points and
    // no volume ramps. Only the samples change; the song's timing, and so every row and sync
    // command, stays where full quality puts it.
    void setDraft(bool draft);

  private:
    std::unique_ptr<openmpt::module> module_;
    std::shared_ptr<const SyncTable> table_;
    std::vector<float> scratch_;
    int order_ = -1;
    int row_ = -1;
    bool ended_ = false;
    bool draft_ = false;
};

}  // namespace midas

struct MIDASmoduleRecord {
    std::vector<char> bytes;  // the file, parsed anew for every play
    std::shared_ptr<const midas::SyncTable> sync;
};

// Music synchronisation: the sync callback raises the two cues; pages and scenes take them.
#include "music.h"

#include <cstdio>

#include "host.h"

std::atomic<std::uint8_t> startCue{0};
std::atomic<std::uint8_t> endCue{0};
MIDASmodulePlayHandle playHandle = 0;

void MIDAS_CALL onMusicSync(unsigned syncInfo, unsigned, unsigned) {
    // Runs on the playback thread: store one byte and return.
    if (syncInfo == 1)
        endCue.store(1);
    else if (syncInfo == 2)
        startCue.store(1);
}

namespace {

// No stretch of a song written for the show waits this long for a cue.
constexpr std::int64_t kCuePatience = 60 * kHostSampleRate;

// Spins until the cue is raised. A song whose sync commands stop (a loop that carries none)
// leaves the show waiting for ever, as it always did; but it says so once, on standard error,
// so that a silent hang is not taken for a crash.
void spinOnCue(std::atomic<std::uint8_t>& cue) {
    const std::int64_t since = hostNow();
    bool told = false;
    while (cue.load() == 0) {
        hostIdle();
        if (!told && hostNow() - since >= kCuePatience) {
            told = true;
            std::fprintf(stderr,
                         "tarnovel: no cue from the music for %d seconds; the song may have no "
                         "more sync commands. Close the window or press Ctrl+C to stop.\n",
                         int(kCuePatience / kHostSampleRate));
        }
    }
}

}  // namespace

void takeCueAtPage(std::atomic<std::uint8_t>& cue) {
    spinOnCue(cue);
    cue.store(0);
    hostSleep(350);
}

void takeStartCueAtScene() {
    spinOnCue(startCue);
    startCue.store(0);
}

void fadeOutMusic() {
    for (int volume = 64; volume >= 0; --volume) {
        hostSleep(150);
        if (!MIDASsetMusicVolume(playHandle, unsigned(volume))) {
            std::printf("Error:  MIDASsetMusicVolume unsuccessful.\n\n");
            hostExit(-1);
        }
    }
}

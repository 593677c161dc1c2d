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

void takeCueAtPage(std::atomic<std::uint8_t>& cue) {
    while (cue.load() == 0) hostIdle();
    cue.store(0);
    hostSleep(350);
}

void takeStartCueAtScene() {
    while (startCue.load() == 0) hostIdle();
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

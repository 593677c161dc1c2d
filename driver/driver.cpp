// The demo driver: start-up in its fixed order, the show's entries, shutdown and the banner.
#include "driver.h"

#include <cstdio>

#include "display.h"
#include "host.h"
#include "midas.h"
#include "music.h"
#include "show.h"

char startDirectory[kStartDirectorySize];

namespace {

const char songName[] = "Zudavez.xm";

// Where the song may lie, in search order. The 1990s drive paths are kept as they were: on
// this platform each is a relative directory name that normally does not exist, so its probe
// looks in the directory that was current at the time.
const char* const songDirectories[13] = {
    "e:\\sound\\songs\\orlen\\xm",
    "e:\\sound\\songs\\orlen\\xm\\best",
    "e:\\sound\\songs\\orlen\\xm\\undone\\0-99",
    "e:\\sound\\songs\\brask",
    "e:\\sound\\songs\\tallow\\quillon",
    "e:\\sound\\songs\\orlen\\xm\\undone\\100-199",
    "e:\\sound\\songs\\rustwire",
    "e:\\sound\\songs\\xm",
    "e:\\sound\\songs\\orlen\\xm\\classic",
    "e:\\sound\\songs\\mod",
    "c:\\midas112\\samples\\data",
    "e:\\sound\\songs\\tallow\\morrin",
    startDirectory,
};

MIDASmodule songModule = nullptr;

[[noreturn]] void fatal(const char* message) {
    std::fputs(message, stdout);
    hostExit(-1);
}

}  // namespace

bool findSong() {
    for (const char* directory : songDirectories) {
        // A failed change leaves the working directory where it was; the probe goes on there.
        hostChdir(directory);
        if (std::FILE* file = std::fopen(songName, "r")) {
            std::fclose(file);
            return true;
        }
    }
    return false;
}

void printBanner() {
    // Values of the right-hand column start at column 39, under "Web:".
    auto twoColumns = [](const char* left, const char* right, bool padRight) {
        char line[256];
        int n = std::snprintf(line, sizeof line, "  %-37s%s", left, right);
        if (padRight)
            while (n < 54 && n < int(sizeof line) - 1) line[n++] = ' ';
        line[n] = '\0';
        std::printf("%s\n", line);
    };
    std::printf("\n");
    std::printf("  %s\n", bannerShowName);
    std::printf("  %s\n", bannerTagLine);
    std::printf("  \n");
    std::printf("  Contact Info:\n");
    std::printf("  \n");
    std::printf("  Home Address:                        Web:           \n");
    std::printf("  \n");
    twoColumns("Orlen Marsk", contactEmail, true);
    twoColumns(contactAddressLine1, contactWeb, false);
    std::printf("  %s\n", contactAddressLine2);
    std::printf("  %s\n", contactCountry);
    std::printf("  %s\n", contactPostalCode);
    std::printf("  \n");
    std::printf("  \n");
    std::printf("  \n");
}

void runDemo() {
    if (!hostGetCwd(startDirectory, sizeof startDirectory)) {
        std::printf("_GetCWD Error.  No Current Directory.  Your computer is fucked!\n");
        std::printf("\n");
        hostExit(1);
    }
    if (!MIDASstartup()) fatal("Fatal Error:  Couldn't start up MIDAS.\n\n");
    if (!MIDASinit())
        fatal("Fatal Error:  Couldn't init MIDAS.  Sound possibly already in use.\n\n");
    if (!findSong()) {
        std::printf("\"%s\" not found.  Fatal Error.\n", songName);
        hostExit(-1);
    }
    // A song that is there but cannot be played would leave the show waiting for cues that
    // never come: that is fatal too.
    songModule = MIDASloadModule(songName);
    if (!songModule) {
        std::printf("Fatal Error:  Couldn't load \"%s\": %s.\n\n", songName, MIDASextLastError());
        hostExit(-1);
    }
    // Without both cue values the show would wait on its first page for ever.
    if (MIDASextSyncCommandCount(songModule, 1) == 0 ||
        MIDASextSyncCommandCount(songModule, 2) == 0) {
        std::printf("Fatal Error:  \"%s\" has no sync commands (W01 and W02) to follow.\n\n",
                    songName);
        hostExit(-1);
    }
    playHandle = MIDASplayModule(songModule, TRUE);
    if (!playHandle) {
        std::printf("Fatal Error:  Couldn't play \"%s\": %s.\n\n", songName, MIDASextLastError());
        hostExit(-1);
    }
    if (!MIDASsetMusicSyncCallback(playHandle, onMusicSync))
        fatal("Fatal Error:  Couldn't set music synchronization callback function.\n\n");
    if (!openDisplay()) hostExit(-1);
    setFloatPrecision();
    if (!MIDASsetMusicVolume(playHandle, 64))
        fatal("Error:  MIDASsetMusicVolume unsuccessful.\n\n");
    MIDASstartBackgroundPlay(0);

    for (const ShowEntry* entry = showEntries; entry->run; ++entry) {
        hostBeginEntry(entry->name);
        entry->run();
    }
    hostBeginEntry(nullptr);

    MIDASstopModule(playHandle);
    MIDASfreeModule(songModule);
    MIDASstopBackgroundPlay();
    MIDASclose();
    printBanner();
    hostExit(0);
}

// The song's cue rows: each page or scene starts on the first row of its block and ends a
// fixed number of rows later, so every cue falls on a bar or half-bar line.
#include "song_schedule.h"

namespace song {

std::vector<Cue> cueSchedule() {
    std::vector<Cue> cues;
    auto page = [&](int bar, int endRows) {
        cues.push_back({bar * kRowsPerBar, kStartCue});
        cues.push_back({bar * kRowsPerBar + endRows, kEndCue});
    };
    for (int p = 0; p < kTitlePages - 1; ++p) page(kTitlesBar + p * kTitleBlockBars, kTitleEndRows);
    page(kScenesBar - kLastTitleBars, kLastTitleEndRows);
    for (int s = 0; s < kScenes; ++s) page(kScenesBar + s * kSceneBlockBars, kSceneEndRows);
    for (int p = 0; p < kCreditPages - 1; ++p)
        page(kCreditsBar + p * kCreditBlockBars, kCreditEndRows);
    cues.push_back({kLastPageBar * kRowsPerBar, kStartCue});
    cues.push_back({kLastPageBar * kRowsPerBar + kLastPageHoldRows, kStartCue});
    return cues;
}

int loopRow() {
    return kTailBar * kRowsPerBar;
}

int songRows() {
    return kSongBars * kRowsPerBar;
}

}  // namespace song

// The interim song's cue rows, laid out from the show's minimum spacings with some slack.
#include "song_schedule.h"

namespace song {

namespace {

// Rows between cues (0.12 s each). The show's own needs are noted beside each figure.
constexpr int kIntroRows = 16;            // one bar before the first title page
constexpr int kTitleShowRows = 44;        // 5.28 s; a page needs 4.5 s from start to end
constexpr int kTitleGapRows = 28;         // 3.36 s; a page fades out in 2.5 s
constexpr int kTitlesToScenesRows = 28;   // 3.36 s; at least 2.8 s
constexpr int kSceneRows = 168;           // 20.16 s of each effect scene
constexpr int kSceneGapRows = 24;         // 2.88 s; a scene leaves in 89 frames (1.5 s)
constexpr int kScenesToCreditsRows = 24;  // 2.88 s
constexpr int kCreditShowRows = 24;       // 2.88 s; at least 2.6 s
constexpr int kCreditGapRows = 16;        // 1.92 s; at least 1.6 s
constexpr int kLastPageRows = 24;         // 2.88 s between the last two start cues
constexpr int kOutroPatterns = 3;         // 23 s of music after the last cue, looped

}  // namespace

std::vector<Cue> cueSchedule() {
    std::vector<Cue> cues;
    int row = kIntroRows;
    for (int page = 0; page < 5; ++page) {
        if (page > 0) row += kTitleGapRows;
        cues.push_back({row, kStartCue});
        row += kTitleShowRows;
        cues.push_back({row, kEndCue});
    }
    row += kTitlesToScenesRows;
    for (int scene = 0; scene < 7; ++scene) {
        if (scene > 0) row += kSceneGapRows;
        cues.push_back({row, kStartCue});
        row += kSceneRows;
        cues.push_back({row, kEndCue});
    }
    row += kScenesToCreditsRows;
    for (int page = 0; page < 15; ++page) {
        if (page > 0) row += kCreditGapRows;
        cues.push_back({row, kStartCue});
        row += kCreditShowRows;
        cues.push_back({row, kEndCue});
    }
    row += kCreditGapRows;
    cues.push_back({row, kStartCue});
    row += kLastPageRows;
    cues.push_back({row, kStartCue});
    return cues;
}

int loopRow() {
    const int last = cueSchedule().back().row;
    return (last / kRowsPerPattern + 1) * kRowsPerPattern;
}

int songRows() {
    return loopRow() + kOutroPatterns * kRowsPerPattern;
}

}  // namespace song

// The song's layout along the show: its pace, its sections in bars and the rows of the show's
// cues (start and end), shared by the song generator and the tests that check the timing.
#pragma once

#include <cstdint>
#include <vector>

namespace song {

// Speed 6 at 125 BPM: a tick lasts 2.5 / 125 s = 20 ms, a row (a sixteenth note) 0.12 s, a
// 16-row bar 1.92 s. A tick is then a whole number of frames at the usual output rates (960
// at 48 kHz), so players do not drift from the rows' times over the song's length.
constexpr int kSpeed = 6;
constexpr int kTempo = 125;
constexpr int kRowsPerBar = 16;
constexpr int kRowsPerPattern = 64;
constexpr double kRowSeconds = kSpeed * 2.5 / kTempo;
constexpr double kBarSeconds = kRowsPerBar * kRowSeconds;

// Sync values the show reacts to.
constexpr std::uint8_t kStartCue = 2;
constexpr std::uint8_t kEndCue = 1;

struct Cue {
    int row;  // rows from the song's start
    std::uint8_t value;
};

// Where the song's sections lie, in bars from its start. Titles, scenes and credits each
// consist of equal blocks, one per page or scene, that begin on the block's start cue.
constexpr int kIntroBars = 2;       // before the first title page
constexpr int kTitleBlockBars = 4;  // per title page 1 to 4
constexpr int kTitleEndRows = 40;   // a title page's end cue, rows after its start cue
constexpr int kLastTitleBars = 4;   // page 5 and the run-up to the first scene
constexpr int kLastTitleEndRows = 32;
constexpr int kSceneBlockBars = 12;  // per effect scene
constexpr int kSceneEndRows = 160;   // 10 bars: the scene's end cue; then 2 bars for its leave
constexpr int kCreditBlockBars = 4;  // per credit page 1 to 15
constexpr int kCreditEndRows = 48;
constexpr int kLastPageBars = 4;  // page 16, whose second start cue ends the credits
constexpr int kLastPageHoldRows = 32;
constexpr int kTailBars = 8;  // played while the music fades, and looped

constexpr int kTitlePages = 5;
constexpr int kScenes = 7;
constexpr int kCreditPages = 16;

constexpr int kTitlesBar = kIntroBars;
constexpr int kScenesBar = kTitlesBar + (kTitlePages - 1) * kTitleBlockBars + kLastTitleBars;
constexpr int kCreditsBar = kScenesBar + kScenes * kSceneBlockBars;
constexpr int kLastPageBar = kCreditsBar + (kCreditPages - 1) * kCreditBlockBars;
constexpr int kTailBar = kLastPageBar + kLastPageBars;
constexpr int kSongBars = kTailBar + kTailBars;

// Every cue of the show in the order the show takes them: five title pages (start, end),
// seven effect scenes (start, end), fifteen credit pages (start, end), then start, start.
std::vector<Cue> cueSchedule();

// Rows in the whole song, and the row the song loops back to: the start of the tail, after
// the last cue, so that a looping song carries no further cues.
int songRows();
int loopRow();

}  // namespace song

// The interim song's layout: its pace and the rows of the show's cues (start and end), shared
// by the song generator and the tests that check the cue order and spacing.
#pragma once

#include <cstdint>
#include <vector>

namespace song {

// Speed 6 at 125 BPM: a tick lasts 2.5 / 125 s = 20 ms, a row 0.12 s, a 16-row bar 1.92 s.
constexpr int kSpeed = 6;
constexpr int kTempo = 125;
constexpr int kRowsPerPattern = 64;
constexpr double kRowSeconds = kSpeed * 2.5 / kTempo;

// Sync values the show reacts to.
constexpr std::uint8_t kStartCue = 2;
constexpr std::uint8_t kEndCue = 1;

struct Cue {
    int row;  // rows from the song's start
    std::uint8_t value;
};

// Every cue of the show in the order the show takes them: five title pages (start, end),
// seven effect scenes (start, end), fifteen credit pages (start, end), then start, start.
std::vector<Cue> cueSchedule();

// Rows in the whole song (whole patterns), and the row the song loops back to: the first
// pattern after the last cue, so that a looping song carries no further cues.
int songRows();
int loopRow();

}  // namespace song

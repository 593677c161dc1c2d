// The show in pictures: when to take each still, and the contact sheet of them.
//
// A still of each page type and effect scene is taken at a moment picked from a recording's
// statistics; the contact sheet puts the stills side by side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stills {

struct StatsEntry {
    std::string name;
    double start = 0, end = 0;
};

struct StatsCue {
    double t = 0;
    unsigned value = 0;
};

// Reads the entries and cues of a statistics file as tarnovel-record --stats writes it.
// False and `error` when the text holds no entries.
bool readStats(const std::string& json, std::vector<StatsEntry>* entries,
               std::vector<StatsCue>* cues, std::string* error);

struct Still {
    std::string entry;   // the show's entry, e.g. "flatShadingScene"
    std::string file;    // e.g. "flat-shading.png"
    std::string label;   // e.g. "Flat shading"
    double seconds = 0;  // show time of the moment
};

// One still for each page type and effect scene that the statistics hold, in show order. A
// page or scene is at its best between its start cue and its end cue (faded or slid in, not yet
// leaving): the still is taken half-way between them. The contact pages, which wait for keys
// whatever the cues say, and an entry without such a pair of cues are taken half-way through.
// Subjects that the show does not have are named in `absent`.
std::vector<Still> planStills(const std::vector<StatsEntry>& entries,
                              const std::vector<StatsCue>& cues, std::vector<std::string>* absent);

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // 8-bit RGB, top row first
};

// The contact sheet: each picture at half size with its label below, five to a row. The label
// font is Debian's DejaVu Sans; without it the sheet has no labels and `warning` says so.
Picture contactSheet(const std::vector<Picture>& pictures, const std::vector<std::string>& labels,
                     std::string* warning);

}  // namespace stills

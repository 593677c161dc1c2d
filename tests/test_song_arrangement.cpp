// Tests of the song's arrangement as written into the module: a calm opening, scenes that
// drive and differ from one another, and cues that land on the music's own downbeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

#include "composition.h"
#include "song_schedule.h"
#include "xm_writer.h"

namespace {

// The module's cells in song order, as one long list of rows.
struct Flat {
    std::vector<std::vector<xm::Cell>> rows;
};

Flat flatten(const xm::Module& m) {
    Flat f;
    for (std::uint8_t p : m.orders) {
        const xm::Pattern& pattern = m.patterns[p];
        for (int r = 0; r < pattern.rows; ++r) {
            std::vector<xm::Cell> row;
            for (int c = 0; c < pattern.channels; ++c) row.push_back(pattern.at(r, c));
            f.rows.push_back(std::move(row));
        }
    }
    return f;
}

const xm::Module& module() {
    static const xm::Module m = composition::compose();
    return m;
}

const Flat& flat() {
    static const Flat f = flatten(module());
    return f;
}

int countNotes(int fromBar, int toBar, int instrument) {
    int n = 0;
    for (int r = fromBar * song::kRowsPerBar; r < toBar * song::kRowsPerBar; ++r)
        for (const xm::Cell& c : flat().rows[std::size_t(r)])
            if (c.note > 0 && c.note < xm::kKeyOff && c.instrument == instrument) ++n;
    return n;
}

using Event = std::tuple<int, int, int, int>;  // channel, row in the block, note, instrument

std::set<Event> sceneEvents(int scene) {
    std::set<Event> events;
    const int first = (song::kScenesBar + scene * song::kSceneBlockBars) * song::kRowsPerBar;
    for (int r = 0; r < song::kSceneEndRows; ++r)
        for (int c = 0; c < composition::kChannels; ++c) {
            const xm::Cell& cell = flat().rows[std::size_t(first + r)][std::size_t(c)];
            if (cell.note) events.insert({c, r, cell.note, cell.instrument});
        }
    return events;
}

}  // namespace

TEST(SongArrangement, IsAValidModuleThatPlaysEveryInstrument) {
    std::string error;
    EXPECT_TRUE(xm::validate(module(), &error)) << error;
    EXPECT_EQ(int(flat().rows.size()), song::songRows());
    EXPECT_EQ(module().tempo, song::kTempo);
    EXPECT_EQ(module().speed, song::kSpeed);
    for (int ins = 1; ins <= composition::kInstrumentCount; ++ins)
        EXPECT_GT(countNotes(0, song::kSongBars, ins), 0)
            << module().instruments[std::size_t(ins - 1)].name << " is never played";
}

TEST(SongArrangement, OpensCalmlyAndDrivesThroughTheScenes) {
    // The first three title pages: no drums but a soft shaker, no driving bass.
    const int calmTo = song::kTitlesBar + 3 * song::kTitleBlockBars;
    for (int ins : {composition::kKick, composition::kSnare, composition::kClap, composition::kBass,
                    composition::kCrash})
        EXPECT_EQ(countNotes(0, calmTo, ins), 0) << "instrument " << ins;
    EXPECT_GT(countNotes(0, calmTo, composition::kPad), 0);
    EXPECT_GT(countNotes(0, calmTo, composition::kKeys), 0);
    // Every scene has a four-on-the-floor kick for most of its run, and a lead from the third
    // scene on.
    for (int s = 0; s < song::kScenes; ++s) {
        SCOPED_TRACE("scene " + std::to_string(s + 1));
        const int first = song::kScenesBar + s * song::kSceneBlockBars;
        EXPECT_GE(countNotes(first, first + 10, composition::kKick), 24);
        EXPECT_GT(countNotes(first, first + 10, composition::kBass), 0);
        if (s >= 2) {
            EXPECT_GT(countNotes(first, first + 10, composition::kLead), 10);
        }
    }
}

TEST(SongArrangement, VariesFromSceneToScene) {
    for (int a = 0; a < song::kScenes; ++a) {
        for (int b = a + 1; b < song::kScenes; ++b) {
            const std::set<Event> x = sceneEvents(a), y = sceneEvents(b);
            std::vector<Event> shared;
            std::set_intersection(x.begin(), x.end(), y.begin(), y.end(),
                                  std::back_inserter(shared));
            const double overlap = double(shared.size()) / double(std::max(x.size(), y.size()));
            EXPECT_LT(overlap, 0.85) << "scenes " << a + 1 << " and " << b + 1;
        }
    }
}

TEST(SongArrangement, CuesLandOnTheMusicsDownbeats) {
    const std::vector<song::Cue> schedule = song::cueSchedule();
    std::vector<song::Cue> found;
    for (int r = 0; r < int(flat().rows.size()); ++r)
        for (const xm::Cell& c : flat().rows[std::size_t(r)])
            if (c.effect == xm::kEffectSync) found.push_back({r, c.param});
    ASSERT_EQ(found.size(), schedule.size()) << "no sync command but the schedule's";
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].row, schedule[i].row);
        EXPECT_EQ(found[i].value, schedule[i].value);
    }
    // Each scene starts on a crash with the kick, after a noise sweep in the bar before.
    for (int s = 0; s < song::kScenes; ++s) {
        SCOPED_TRACE("scene " + std::to_string(s + 1));
        const int row = schedule[std::size_t(10 + 2 * s)].row;
        const auto& cells = flat().rows[std::size_t(row)];
        EXPECT_EQ(cells[composition::kCrashChannel].instrument, composition::kCrash);
        EXPECT_EQ(cells[composition::kKickChannel].instrument, composition::kKick);
        EXPECT_EQ(
            countNotes(row / song::kRowsPerBar - 2, row / song::kRowsPerBar, composition::kSweep),
            1);
    }
}

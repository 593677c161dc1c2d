// The soundtrack "Zudavez": its instruments, its channels and the arrangement along the show's
// sections, put together as an FT2 module carrying the show's cues.
#pragma once

#include "xm_writer.h"

namespace composition {

// Channels of the module, one part each. The echo channels repeat their part a dotted eighth
// later, softer and panned to the other side, as trackers faked a delay.
enum Channel {
    kKickChannel,
    kSnareChannel,  // snare and clap
    kHatChannel,
    kOpenHatChannel,
    kBassChannel,
    kPadChannel1,
    kPadChannel2,
    kPadChannel3,
    kLeadChannel,
    kLeadEchoChannel,
    kArpChannel,
    kArpEchoChannel,
    kChipChannel,
    kFxChannel,  // noise sweeps
    kCrashChannel,
    kCueChannel,  // the show's W commands, nothing else
    kChannels
};

// Instrument numbers as the patterns name them (1-based, as in the file).
enum Instrument {
    kKick = 1,
    kSnare,
    kClap,
    kClosedHat,
    kOpenHat,
    kCrash,
    kBass,
    kWarmBass,
    kLead,
    kPad,
    kPluck,
    kKeys,
    kChip,
    kSweep,
    kInstrumentCount = kSweep
};

// The instruments, synthesised (index i is instrument i + 1).
std::vector<xm::Instrument> instruments();

// The whole song: instruments, patterns in song order, the cues of the song schedule, and the
// restart position at the start of the tail.
xm::Module compose();

}  // namespace composition

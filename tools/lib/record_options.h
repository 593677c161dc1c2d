// Command-line options of tarnovel-record, with the key-script parser.
#pragma once

#include <string>
#include <vector>

#include "host.h"
#include "record_output.h"

struct RecordOptions {
    std::string assets;
    std::vector<HostKeyEvent> keys;
    std::string statsFile;
    std::string framesDir;
    long every = 0;
    std::string wavFile;
    std::string outFile;
    record::VideoFormat outFormat = record::VideoFormat::none;
    int scale = 1;  // whole-pixel enlargement of the video and the frames
    std::string stillsDir;
    std::string stillsFrom;  // statistics of an earlier run, to pick the stills' moments
    double maxSeconds = 0;
    bool help = false;

    // Turns relative output paths into absolute ones against the current directory.
    void makePathsAbsolute();
    // Creates the frames (or stills) folder when missing; false with a message when it cannot
    // be used.
    bool prepareFramesDir(std::string* error) const;
    bool prepareStillsDir(std::string* error) const;
};

// Parses "12.5:s,300:space,306:esc" into key events in time order.
bool parseKeyScript(const std::string& text, std::vector<HostKeyEvent>* keys, std::string* error);

bool parseRecordOptions(int argc, char** argv, RecordOptions* options, std::string* error);

const char* recordUsage();

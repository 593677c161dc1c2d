// tarnovel-record: the show in virtual time, with statistics, frames, audio, video and stills.
#include <stb_image_write.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver.h"
#include "glideext.h"
#include "host.h"
#include "midas.h"
#include "record_options.h"
#include "record_output.h"
#include "stills.h"
#include "video_export.h"
#include "wav_writer.h"

namespace {

using WallClock = std::chrono::steady_clock;

// The recorder's own exit status when the video could not be made.
constexpr int kExitVideoFailed = 4;
// How often the progress line is redrawn, in wall seconds.
constexpr double kProgressInterval = 0.25;

struct Entry {
    std::string name;
    double start = 0, end = 0;
    long swaps = 0;
    std::vector<double> renderMs;
};

struct Cue {
    double t;
    unsigned value;
};

struct Recorder {
    RecordOptions options;
    WallClock::time_point wallStart = WallClock::now();
    std::vector<Entry> entries;
    bool inEntry = false;
    std::vector<Cue> cues;
    long swaps = 0;
    // Drawing cost: wall time since the last swap returned, less the time spent waiting.
    bool haveLastSwap = false;
    WallClock::time_point lastSwapReturn;
    double waitAtLastSwap = 0;
    std::int64_t nextFrameTick = 0;
    std::vector<unsigned char> rgb;
    bool frameErrorShown = false;

    VideoExport video;
    bool videoFailed = false;

    std::vector<stills::Still> stillPlan;
    std::vector<bool> stillTaken;
    std::vector<std::size_t> stillsWritten;  // indices into stillPlan, in the order taken
    std::vector<stills::Picture> stillPictures;
    std::vector<std::string> stillLabels;

    bool showProgress = false;
    bool progressShown = false;
    double lastProgress = 0;
    double expectedSeconds = 0;
};

Recorder rec;

double wallSeconds() {
    return std::chrono::duration<double>(WallClock::now() - rec.wallStart).count();
}

void drawProgress(std::int64_t frames) {
    const double wall = wallSeconds();
    if (wall - rec.lastProgress < kProgressInterval) return;
    rec.lastProgress = wall;
    rec.progressShown = true;
    const std::string line =
        record::progressLine(hostNowSeconds(), frames, wall, rec.expectedSeconds);
    // Carriage return, the line, then erase whatever a longer line left to the right.
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
}

// Takes the progress line off the terminal, so that what follows starts on a clean line.
void clearProgress() {
    if (!rec.progressShown) return;
    rec.progressShown = false;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

// The host stops a show that passes --max-seconds with a message of its own: that message
// starts on a line of its own.
void onClock(std::int64_t now, void*) {
    if (rec.options.maxSeconds > 0 && now > std::int64_t(rec.options.maxSeconds * kHostSampleRate))
        clearProgress();
}

void videoFailed(const std::string& error) {
    clearProgress();
    std::fprintf(stderr, "tarnovel-record: %s\n", error.c_str());
    rec.videoFailed = true;
}

// Feeds the video the sound rendered so far. Runs as a clock listener registered after the
// sound layer's own, so that the sound is rendered up to the clock when this reads it.
void onClockAudio(std::int64_t, void*) {
    if (!rec.video.active()) return;
    std::size_t frames = 0;
    const std::int16_t* audio = MIDASextAudio(&frames);
    std::string error;
    if (!rec.video.addAudio(audio, frames, false, &error)) {
        videoFailed(error);
        hostExit(kExitVideoFailed);
    }
}

void onEntry(const char* name, void*) {
    if (!name) clearProgress();
    // The show has started its sound layer by its first entry; listening to the clock from now
    // on comes after the sound layer's own listener.
    static bool listening = false;
    if (!listening && rec.video.active()) hostAddClockListener(onClockAudio, nullptr);
    listening = true;
    const double now = hostNowSeconds();
    if (rec.inEntry) rec.entries.back().end = now;
    rec.inEntry = name != nullptr;
    if (name) rec.entries.push_back({name, now, now, 0, {}});
    rec.haveLastSwap = false;
}

void onSwap(bool before, void*) {
    if (before) {
        ++rec.swaps;
        if (rec.inEntry) {
            Entry& e = rec.entries.back();
            ++e.swaps;
            // Only frames drawn between two swaps of the same entry count: the first frame of
            // an entry carries its loading.
            if (rec.haveLastSwap) {
                const double total =
                    std::chrono::duration<double>(WallClock::now() - rec.lastSwapReturn).count();
                const double waited = hostWaitWallSeconds() - rec.waitAtLastSwap;
                e.renderMs.push_back(std::max(0.0, total - waited) * 1000.0);
            }
        }
    } else {
        rec.haveLastSwap = true;
        rec.lastSwapReturn = WallClock::now();
        rec.waitAtLastSwap = hostWaitWallSeconds();
    }
}

void onSync(unsigned value, void*) {
    rec.cues.push_back({hostNowSeconds(), value});
}

void writeFrame(std::int64_t tick) {
    const int scale = rec.options.scale;
    const int width = record::kScreenWidth * scale, height = record::kScreenHeight * scale;
    rec.rgb.resize(std::size_t(width) * height * 3);
    record::screenToRgb(grExtFrontBuffer(), scale, rec.rgb.data());
    char name[64];
    std::snprintf(name, sizeof name, "/frame_%07lld.png", static_cast<long long>(tick));
    const std::string path = rec.options.framesDir + name;
    if (!stbi_write_png(path.c_str(), width, height, 3, rec.rgb.data(), width * 3) &&
        !rec.frameErrorShown) {
        rec.frameErrorShown = true;
        std::fprintf(stderr, "tarnovel-record: cannot write frame \"%s\"\n", path.c_str());
    }
}

void takeStills(std::int64_t tick) {
    for (std::size_t i = 0; i < rec.stillPlan.size(); ++i) {
        if (rec.stillTaken[i] ||
            std::int64_t(rec.stillPlan[i].seconds * record::kFramesPerSecond) != tick)
            continue;
        rec.stillTaken[i] = true;
        stills::Picture picture;
        picture.width = record::kScreenWidth;
        picture.height = record::kScreenHeight;
        picture.rgb.resize(std::size_t(picture.width) * picture.height * 3);
        record::screenToRgb(grExtFrontBuffer(), 1, picture.rgb.data());
        const std::string path = rec.options.stillsDir + "/" + rec.stillPlan[i].file;
        if (!stbi_write_png(path.c_str(), picture.width, picture.height, 3, picture.rgb.data(),
                            picture.width * 3)) {
            std::fprintf(stderr, "tarnovel-record: cannot write the still \"%s\"\n", path.c_str());
            continue;
        }
        rec.stillsWritten.push_back(i);
        rec.stillPictures.push_back(std::move(picture));
        rec.stillLabels.push_back(rec.stillPlan[i].label);
    }
}

void writeFramesUpTo(std::int64_t tick) {
    if (rec.options.every > 0)
        for (; rec.nextFrameTick <= tick; ++rec.nextFrameTick)
            if (rec.nextFrameTick % rec.options.every == 0) writeFrame(rec.nextFrameTick);
}

void onTick(std::int64_t tick, void*) {
    writeFramesUpTo(tick);
    // Ticks come one by one, in order, from tick 0: the video gets exactly one frame each.
    if (rec.video.active() && tick == rec.video.frames()) {
        std::string error;
        if (!rec.video.addFrame(grExtFrontBuffer(), &error)) {
            videoFailed(error);
            hostExit(kExitVideoFailed);
        }
    }
    if (!rec.stillPlan.empty()) takeStills(tick);
    if (rec.showProgress) drawProgress(tick + 1);
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string number(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6f", v);
    return buffer;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(std::ceil(p * values.size())) - 1);
    return values[index];
}

void writeStats(int status) {
    std::FILE* f = std::fopen(rec.options.statsFile.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "tarnovel-record: cannot write statistics to \"%s\"\n",
                     rec.options.statsFile.c_str());
        return;
    }
    const double wall = std::chrono::duration<double>(WallClock::now() - rec.wallStart).count();
    std::string out = "{\n";
    out += "  \"exit_status\": " + std::to_string(status & 0xFF) + ",\n";
    out += "  \"show_seconds\": " + number(hostNowSeconds()) + ",\n";
    out += "  \"wall_seconds\": " + number(wall) + ",\n";
    out += "  \"swaps\": " + std::to_string(rec.swaps) + ",\n";
    out += "  \"cues\": [";
    for (std::size_t i = 0; i < rec.cues.size(); ++i)
        out += std::string(i ? ",\n    " : "\n    ") + "{\"t\": " + number(rec.cues[i].t) +
               ", \"value\": " + std::to_string(rec.cues[i].value) + "}";
    out += rec.cues.empty() ? "],\n" : "\n  ],\n";
    out += "  \"entries\": [";
    for (std::size_t i = 0; i < rec.entries.size(); ++i) {
        const Entry& e = rec.entries[i];
        const double median = percentile(e.renderMs, 0.5);
        const double p99 = percentile(e.renderMs, 0.99);
        const double max =
            e.renderMs.empty() ? 0.0 : *std::max_element(e.renderMs.begin(), e.renderMs.end());
        out += std::string(i ? ",\n    " : "\n    ") + "{\"name\": " + jsonString(e.name) +
               ", \"start\": " + number(e.start) + ", \"end\": " + number(e.end) +
               ", \"swaps\": " + std::to_string(e.swaps) +
               ", \"render_ms\": {\"median\": " + number(median) + ", \"p99\": " + number(p99) +
               ", \"max\": " + number(max) + "}}";
    }
    out += rec.entries.empty() ? "]\n" : "\n  ]\n";
    out += "}\n";
    std::fputs(out.c_str(), f);
    std::fclose(f);
}

void finishVideo() {
    // The last tick may have begun without ending: its picture is shown for part of a frame,
    // which makes a whole frame of the video.
    const std::int64_t ticks = (hostNow() + kHostTickSamples - 1) / kHostTickSamples;
    std::string error;
    while (rec.video.active() && rec.video.frames() < ticks)
        if (!rec.video.addFrame(grExtFrontBuffer(), &error)) break;
    std::size_t frames = 0;
    const std::int16_t* audio = MIDASextAudio(&frames);
    const std::int64_t done = rec.video.frames();
    if (error.empty() && rec.video.addAudio(audio, frames, true, &error) &&
        rec.video.finish(&error)) {
        std::fprintf(stderr,
                     "tarnovel-record: wrote \"%s\": %.2f s of show, %lld frames, in %.1f s\n",
                     rec.options.outFile.c_str(), double(done) / record::kFramesPerSecond,
                     static_cast<long long>(done), wallSeconds());
    } else {
        videoFailed(error);
    }
}

void finishStills() {
    for (std::size_t i = 0; i < rec.stillPlan.size(); ++i)
        if (!rec.stillTaken[i])
            std::fprintf(stderr, "tarnovel-record: no still of %s: the show ended before %.2f s\n",
                         rec.stillPlan[i].entry.c_str(), rec.stillPlan[i].seconds);
    if (rec.stillPictures.empty()) return;
    std::string warning;
    const stills::Picture sheet =
        stills::contactSheet(rec.stillPictures, rec.stillLabels, &warning);
    if (!warning.empty()) std::fprintf(stderr, "tarnovel-record: %s\n", warning.c_str());
    const std::string path = rec.options.stillsDir + "/contact-sheet.png";
    if (!stbi_write_png(path.c_str(), sheet.width, sheet.height, 3, sheet.rgb.data(),
                        sheet.width * 3))
        std::fprintf(stderr, "tarnovel-record: cannot write the contact sheet \"%s\"\n",
                     path.c_str());

    // An index of the stills that were taken, for people browsing the folder.
    const std::string indexPath = rec.options.stillsDir + "/README.md";
    std::FILE* index = std::fopen(indexPath.c_str(), "w");
    if (!index) {
        std::fprintf(stderr, "tarnovel-record: cannot write \"%s\"\n", indexPath.c_str());
        return;
    }
    std::fputs(
        "# Tarnovel in stills\n\n"
        "One picture of each page type and effect scene, taken by `make stills` half-way "
        "between the cues that start and end it.\n\n"
        "![Contact sheet](contact-sheet.png)\n\n"
        "| still | entry of the show | show time |\n|---|---|---|\n",
        index);
    for (std::size_t i : rec.stillsWritten)
        std::fprintf(index, "| [%s](%s) | `%s` | %.2f s |\n", rec.stillPlan[i].label.c_str(),
                     rec.stillPlan[i].file.c_str(), rec.stillPlan[i].entry.c_str(),
                     rec.stillPlan[i].seconds);
    std::fclose(index);
}

void onShutdown(void*) {
    int status = hostExitStatus();
    clearProgress();
    if (rec.inEntry) rec.entries.back().end = hostNowSeconds();
    rec.inEntry = false;
    // The picture on screen when the show ended is part of the record too.
    writeFramesUpTo(hostTick());
    if (rec.video.active()) finishVideo();
    if (rec.videoFailed) status = kExitVideoFailed;
    if (!rec.stillPlan.empty()) finishStills();
    if (!rec.options.wavFile.empty()) {
        std::size_t frames = 0;
        const std::int16_t* audio = MIDASextAudio(&frames);
        const std::size_t wanted = static_cast<std::size_t>(hostNow());
        if (!writeWav(rec.options.wavFile, audio, std::min(frames, wanted), 48000))
            std::fprintf(stderr, "tarnovel-record: cannot write audio to \"%s\"\n",
                         rec.options.wavFile.c_str());
    }
    if (!rec.options.statsFile.empty()) writeStats(status);
    // A video that could not be made fails the run, however the show itself ended. This hook
    // is the last to run (the first registered), so leaving here skips nothing of the show's.
    if (rec.videoFailed && hostExitStatus() != kExitVideoFailed) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::exit(kExitVideoFailed);
    }
}

// Reads the statistics of an earlier run and plans the stills; false with a message.
bool planStills() {
    std::FILE* f = std::fopen(rec.options.stillsFrom.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "tarnovel-record: cannot read the statistics \"%s\": %s\n",
                     rec.options.stillsFrom.c_str(), std::strerror(errno));
        return false;
    }
    std::string json;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) json.append(buffer, n);
    std::fclose(f);
    std::vector<stills::StatsEntry> entries;
    std::vector<stills::StatsCue> cues;
    std::string error;
    if (!stills::readStats(json, &entries, &cues, &error)) {
        std::fprintf(stderr, "tarnovel-record: \"%s\": %s\n", rec.options.stillsFrom.c_str(),
                     error.c_str());
        return false;
    }
    std::vector<std::string> absent;
    rec.stillPlan = stills::planStills(entries, cues, &absent);
    rec.stillTaken.assign(rec.stillPlan.size(), false);
    if (!absent.empty()) {
        std::string names;
        for (const std::string& a : absent) names += (names.empty() ? "" : ", ") + a;
        std::fprintf(stderr, "tarnovel-record: no stills of %s: not in the show\n", names.c_str());
    }
    if (rec.stillPlan.empty()) {
        std::fprintf(stderr, "tarnovel-record: nothing in \"%s\" to take stills of\n",
                     rec.options.stillsFrom.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    if (!parseRecordOptions(argc, argv, &rec.options, &error)) {
        std::fprintf(stderr, "tarnovel-record: %s\n%s", error.c_str(), recordUsage());
        return 2;
    }
    if (rec.options.help) {
        std::fputs(recordUsage(), stdout);
        return 0;
    }
    // Output files named relative to where the recorder was started stay there, although the
    // show moves the working directory.
    rec.options.makePathsAbsolute();
    if (!rec.options.assets.empty() && chdir(rec.options.assets.c_str()) != 0) {
        std::fprintf(stderr, "tarnovel-record: cannot enter the data folder \"%s\": %s\n",
                     rec.options.assets.c_str(), std::strerror(errno));
        return 2;
    }
    if (rec.options.every > 0 && !rec.options.prepareFramesDir(&error)) {
        std::fprintf(stderr, "tarnovel-record: %s\n", error.c_str());
        return 2;
    }
    if (!rec.options.stillsDir.empty() &&
        (!rec.options.prepareStillsDir(&error) || !planStills())) {
        if (!error.empty()) std::fprintf(stderr, "tarnovel-record: %s\n", error.c_str());
        return 2;
    }
    // A dead ffmpeg must show as a failed write, not end the recorder.
    std::signal(SIGPIPE, SIG_IGN);
    if (!rec.options.outFile.empty() &&
        !rec.video.start(rec.options.outFile, rec.options.outFormat, rec.options.scale, &error)) {
        std::fprintf(stderr, "tarnovel-record: %s\n", error.c_str());
        return kExitVideoFailed;
    }
    rec.showProgress = isatty(STDERR_FILENO) != 0;
    rec.expectedSeconds = record::expectedShowSeconds();
    if (rec.options.maxSeconds > 0)
        rec.expectedSeconds = std::min(rec.expectedSeconds, rec.options.maxSeconds);

    hostInitVirtual(rec.options.keys.data(), rec.options.keys.size(), rec.options.maxSeconds);
    hostAddEntryListener(onEntry, nullptr);
    hostAddSwapListener(onSwap, nullptr);
    hostAddTickListener(onTick, nullptr);
    hostAddClockListener(onClock, nullptr);
    hostAddShutdownHook(onShutdown, nullptr);
    MIDASextSetSyncObserver(onSync, nullptr);
    MIDASextKeepAudio(!rec.options.wavFile.empty() || rec.video.active());
    runDemo();
}

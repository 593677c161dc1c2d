// tarnovel-record: the show in virtual time, deterministic, with statistics, frames and audio.
#include <stb_image_write.h>
#include <unistd.h>

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
#include "wav_writer.h"

namespace {

using WallClock = std::chrono::steady_clock;

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
    std::vector<unsigned char> rgb = std::vector<unsigned char>(640 * 480 * 3);
    bool frameErrorShown = false;
};

Recorder rec;

void onEntry(const char* name, void*) {
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

void onSync(unsigned value, void*) { rec.cues.push_back({hostNowSeconds(), value}); }

void writeFrame(std::int64_t tick) {
    const std::uint16_t* pixels = grExtFrontBuffer();
    for (int i = 0; i < 640 * 480; ++i) {
        const unsigned p = pixels[i];
        const unsigned r = p >> 11, g = (p >> 5) & 63, b = p & 31;
        rec.rgb[i * 3 + 0] = static_cast<unsigned char>((r << 3) | (r >> 2));
        rec.rgb[i * 3 + 1] = static_cast<unsigned char>((g << 2) | (g >> 4));
        rec.rgb[i * 3 + 2] = static_cast<unsigned char>((b << 3) | (b >> 2));
    }
    char name[64];
    std::snprintf(name, sizeof name, "/frame_%07lld.png", static_cast<long long>(tick));
    const std::string path = rec.options.framesDir + name;
    if (!stbi_write_png(path.c_str(), 640, 480, 3, rec.rgb.data(), 640 * 3) &&
        !rec.frameErrorShown) {
        rec.frameErrorShown = true;
        std::fprintf(stderr, "tarnovel-record: cannot write frame \"%s\"\n", path.c_str());
    }
}

void onTick(std::int64_t tick, void*) {
    if (rec.options.every <= 0) return;
    for (; rec.nextFrameTick <= tick; ++rec.nextFrameTick)
        if (rec.nextFrameTick % rec.options.every == 0) writeFrame(rec.nextFrameTick);
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
        const double max = e.renderMs.empty()
                               ? 0.0
                               : *std::max_element(e.renderMs.begin(), e.renderMs.end());
        out += std::string(i ? ",\n    " : "\n    ") + "{\"name\": " + jsonString(e.name) +
               ", \"start\": " + number(e.start) + ", \"end\": " + number(e.end) +
               ", \"swaps\": " + std::to_string(e.swaps) + ", \"render_ms\": {\"median\": " +
               number(median) + ", \"p99\": " + number(p99) + ", \"max\": " + number(max) + "}}";
    }
    out += rec.entries.empty() ? "]\n" : "\n  ]\n";
    out += "}\n";
    std::fputs(out.c_str(), f);
    std::fclose(f);
}

void onShutdown(void*) {
    const int status = hostExitStatus();
    if (rec.inEntry) rec.entries.back().end = hostNowSeconds();
    rec.inEntry = false;
    // The picture on screen when the show ended is part of the record too.
    if (rec.options.every > 0) onTick(hostTick(), nullptr);
    if (!rec.options.wavFile.empty()) {
        std::size_t frames = 0;
        const std::int16_t* audio = MIDASextAudio(&frames);
        const std::size_t wanted = static_cast<std::size_t>(hostNow());
        if (!writeWav(rec.options.wavFile, audio, std::min(frames, wanted), 48000))
            std::fprintf(stderr, "tarnovel-record: cannot write audio to \"%s\"\n",
                         rec.options.wavFile.c_str());
    }
    if (!rec.options.statsFile.empty()) writeStats(status);
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

    hostInitVirtual(rec.options.keys.data(), rec.options.keys.size(), rec.options.maxSeconds);
    hostAddEntryListener(onEntry, nullptr);
    hostAddSwapListener(onSwap, nullptr);
    hostAddTickListener(onTick, nullptr);
    hostAddShutdownHook(onShutdown, nullptr);
    MIDASextSetSyncObserver(onSync, nullptr);
    MIDASextKeepAudio(!rec.options.wavFile.empty());
    runDemo();
}

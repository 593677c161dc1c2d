// Parsing of tarnovel-record's options and of its key scripts.
#include "record_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

bool parseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

bool parseKeyName(const std::string& name, int* key) {
    if (name == "esc" || name == "escape") {
        *key = 27;
    } else if (name == "space") {
        *key = ' ';
    } else if (name == "enter") {
        *key = 13;
    } else if (name.size() == 1 && name[0] > 32 && name[0] < 127) {
        *key = static_cast<unsigned char>(name[0]);
    } else {
        return false;
    }
    return true;
}

std::string absolute(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    const auto p = std::filesystem::absolute(path, ec);
    return ec ? path : p.string();
}

}  // namespace

bool parseKeyScript(const std::string& text, std::vector<HostKeyEvent>* keys, std::string* error) {
    keys->clear();
    std::size_t pos = 0;
    while (pos <= text.size() && !text.empty()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(pos, comma - pos);
        const std::size_t colon = item.find(':');
        double seconds = 0;
        int key = 0;
        if (colon == std::string::npos || !parseNumber(item.substr(0, colon), &seconds) ||
            seconds < 0 || seconds > 1e6 || !parseKeyName(item.substr(colon + 1), &key)) {
            *error = "bad key \"" + item +
                     "\" in --keys: expected SECONDS:KEY, KEY one character or esc, space, enter";
            return false;
        }
        keys->push_back({static_cast<std::int64_t>(std::llround(seconds * kHostSampleRate)), key});
        pos = comma + 1;
        if (comma == text.size()) break;
    }
    std::stable_sort(keys->begin(), keys->end(),
                     [](const HostKeyEvent& a, const HostKeyEvent& b) { return a.at < b.at; });
    return true;
}

bool parseRecordOptions(int argc, char** argv, RecordOptions* o, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *error = "option " + arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            o->help = true;
        } else if (arg == "--assets") {
            if (!value(&o->assets)) return false;
        } else if (arg == "--keys") {
            if (!value(&v) || !parseKeyScript(v, &o->keys, error)) return false;
        } else if (arg == "--stats") {
            if (!value(&o->statsFile)) return false;
        } else if (arg == "--frames") {
            if (!value(&o->framesDir)) return false;
        } else if (arg == "--every") {
            double n = 0;
            if (!value(&v)) return false;
            if (!parseNumber(v, &n) || n < 1 || n > 1e9 || n != std::floor(n)) {
                *error = "--every needs a whole number of retrace ticks, 1 or more";
                return false;
            }
            o->every = static_cast<long>(n);
        } else if (arg == "--wav") {
            if (!value(&o->wavFile)) return false;
        } else if (arg == "--out") {
            if (!value(&o->outFile)) return false;
            o->outFormat = record::videoFormatOf(o->outFile);
            if (o->outFormat == record::VideoFormat::none) {
                *error = "--out \"" + o->outFile +
                         "\": the video's name must end in .mp4 (H.264 and AAC) or .mkv "
                         "(lossless video and FLAC)";
                return false;
            }
        } else if (arg == "--scale") {
            double n = 0;
            if (!value(&v)) return false;
            if (!parseNumber(v, &n) || n < 1 || n > record::kMaxScale || n != std::floor(n)) {
                *error =
                    "--scale needs a whole number from 1 to " + std::to_string(record::kMaxScale);
                return false;
            }
            o->scale = static_cast<int>(n);
        } else if (arg == "--stills") {
            if (!value(&o->stillsDir)) return false;
        } else if (arg == "--from") {
            if (!value(&o->stillsFrom)) return false;
        } else if (arg == "--max-seconds") {
            if (!value(&v)) return false;
            if (!parseNumber(v, &o->maxSeconds) || o->maxSeconds <= 0) {
                *error = "--max-seconds needs a positive number of seconds";
                return false;
            }
        } else {
            *error = "unknown option \"" + arg + "\"";
            return false;
        }
    }
    if (!o->framesDir.empty() && o->every == 0) o->every = 60;
    if (o->framesDir.empty() && o->every != 0) {
        *error = "--every needs --frames DIR";
        return false;
    }
    if (o->stillsDir.empty() != o->stillsFrom.empty()) {
        *error = "--stills DIR and --from FILE go together";
        return false;
    }
    if (o->scale != 1 && o->outFile.empty() && o->framesDir.empty()) {
        *error = "--scale needs --out or --frames";
        return false;
    }
    return true;
}

void RecordOptions::makePathsAbsolute() {
    statsFile = absolute(statsFile);
    framesDir = absolute(framesDir);
    wavFile = absolute(wavFile);
    outFile = absolute(outFile);
    stillsDir = absolute(stillsDir);
    stillsFrom = absolute(stillsFrom);
}

bool RecordOptions::prepareFramesDir(std::string* error) const {
    std::error_code ec;
    std::filesystem::create_directories(framesDir, ec);
    if (ec || !std::filesystem::is_directory(framesDir)) {
        *error = "cannot use the frames folder \"" + framesDir + "\"";
        return false;
    }
    return true;
}

bool RecordOptions::prepareStillsDir(std::string* error) const {
    std::error_code ec;
    std::filesystem::create_directories(stillsDir, ec);
    if (ec || !std::filesystem::is_directory(stillsDir)) {
        *error = "cannot use the stills folder \"" + stillsDir + "\"";
        return false;
    }
    return true;
}

const char* recordUsage() {
    return "usage: tarnovel-record [--assets DIR] [--keys LIST] [--stats FILE]\n"
           "                       [--frames DIR [--every N]] [--wav FILE] [--out FILE]\n"
           "                       [--scale N] [--stills DIR --from FILE] [--max-seconds S]\n"
           "Plays the whole show in virtual time, as fast as the processor allows.\n"
           "  --assets DIR       folder with the data files (default: the current folder)\n"
           "  --keys LIST        key presses at show times, e.g. \"12.5:s,300:space,306:esc\"\n"
           "  --stats FILE       statistics as JSON (cues, entries, drawing times)\n"
           "  --frames DIR       a PNG of the screen every N retrace ticks (default 60)\n"
           "  --every N          the N for --frames\n"
           "  --wav FILE         the music as it sounded\n"
           "  --out FILE         a video at 60 frames a second with the music, through ffmpeg:\n"
           "                     FILE.mp4 is H.264 and AAC, FILE.mkv lossless video and FLAC\n"
           "  --scale N          enlarge the video and the frames N times (1 to 4), pixels kept\n"
           "  --stills DIR       one picture of each page type and effect scene, and a contact\n"
           "                     sheet of them, at moments picked from --from FILE: the\n"
           "                     statistics (--stats) of an earlier run of the same show\n"
           "  --max-seconds S    stop a show that runs longer than S seconds of show time\n";
}

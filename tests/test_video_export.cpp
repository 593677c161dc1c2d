// Tests of the video export: stretches of the show recorded through ffmpeg and read back.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

const std::string recorder = TARNOVEL_RECORD;
const std::string assets = TARNOVEL_ASSETS;

std::string record(const std::string& args) {
    return "'" + recorder + "' --assets '" + assets + "' " + args;
}

bool haveFfmpeg() {
    return runCommand("{ command -v ffmpeg && command -v ffprobe; }").status == 0;
}

using Stream = std::map<std::string, std::string>;

// The streams of a media file as ffprobe reports them, one map of fields per stream.
std::vector<Stream> probe(const fs::path& file) {
    const CommandResult r = runCommand(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,pix_fmt,"
        "r_frame_rate,avg_frame_rate,start_time,duration,nb_frames,sample_rate,channels "
        "-of default '" +
        file.string() + "'");
    std::vector<Stream> streams;
    std::size_t pos = 0;
    while (pos < r.out.size()) {
        std::size_t nl = r.out.find('\n', pos);
        if (nl == std::string::npos) nl = r.out.size();
        const std::string line = r.out.substr(pos, nl - pos);
        pos = nl + 1;
        if (line == "[STREAM]") streams.emplace_back();
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && !streams.empty())
            streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

double number(const Stream& s, const std::string& key) {
    const auto it = s.find(key);
    return it == s.end() ? std::nan("") : std::atof(it->second.c_str());
}

double showSeconds(const std::string& stats) {
    std::smatch m;
    const std::regex field(R"("show_seconds": ([0-9.]+))");
    return std::regex_search(stats, m, field) ? std::stod(m[1]) : -1.0;
}

struct Cue {
    double t;
    int value;
};

std::vector<Cue> cuesOf(const std::string& stats) {
    std::vector<Cue> cues;
    const std::regex row(R"(\{"t": ([0-9.]+), "value": ([0-9]+)\})");
    for (std::sregex_iterator it(stats.begin(), stats.end(), row), end; it != end; ++it)
        cues.push_back({std::stod((*it)[1]), std::stoi((*it)[2])});
    return cues;
}

// The start and end of an entry of the show, or {-1, -1}.
std::pair<double, double> entryOf(const std::string& stats, const std::string& name) {
    std::smatch m;
    const std::regex row("\\{\"name\": \"" + name + R"(", "start": ([0-9.]+), "end": ([0-9.]+))");
    if (!std::regex_search(stats, m, row)) return {-1, -1};
    return {std::stod(m[1]), std::stod(m[2])};
}

std::vector<std::int16_t> samplesOf(const std::string& bytes) {
    std::vector<std::int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// The shift (in sample frames) of `b` against `a` around frame `at` that lines the two up
// best, searched over +-`range` frames on the left channel.
int bestLag(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b, int at,
            int range) {
    constexpr int kWindow = 4800;
    double best = -1e300;
    int bestLag = 0;
    for (int lag = -range; lag <= range; ++lag) {
        double sum = 0;
        for (int i = at; i < at + kWindow; ++i) {
            const int j = i + lag;
            if (j < 0 || std::size_t(2 * j) >= b.size() || std::size_t(2 * i) >= a.size()) continue;
            sum += double(a[2 * i]) * b[2 * j];
        }
        if (sum > best) best = sum, bestLag = lag;
    }
    return bestLag;
}

}  // namespace

TEST(VideoExport, Mp4HasTheShowsLengthAt60FpsAndPictureAndSoundAgree) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const fs::path dir = makeTempDir("video-mp4");
    // Where the last title page starts: it appears at once at full brightness, so the frame that
    // first shows it is plain to see. A quick run without video finds its cue.
    const CommandResult pre = runCommand(record("--max-seconds 45 --stats pre.json"), dir.string());
    const std::string preStats = readFile(dir / "pre.json");
    const auto titles = entryOf(preStats, "showTitles");
    std::vector<double> titleStarts;
    for (const Cue& c : cuesOf(preStats))
        if (c.value == 2 && c.t >= titles.first && c.t <= titles.second) titleStarts.push_back(c.t);
    ASSERT_EQ(titleStarts.size(), 5u) << preStats;
    const double cue = titleStarts.back();

    char limit[32];
    std::snprintf(limit, sizeof limit, "%.3f", cue + 1.5);
    const CommandResult r = runCommand(
        record(std::string("--out show.mp4 --wav show.wav --stats show.json --max-seconds ") +
               limit),
        dir.string());
    EXPECT_EQ(r.status, 3) << r.err;  // the time limit ended it
    EXPECT_NE(r.err.find("wrote"), std::string::npos) << r.err;
    const double show = showSeconds(readFile(dir / "show.json"));
    ASSERT_GT(show, cue);
    const std::int64_t frames = std::int64_t(std::ceil(show * 60 - 1e-6));

    const std::vector<Stream> streams = probe(dir / "show.mp4");
    ASSERT_EQ(streams.size(), 2u);
    const bool videoFirst = streams[0].at("codec_type") == "video";
    const Stream& v = videoFirst ? streams[0] : streams[1];
    const Stream& a = videoFirst ? streams[1] : streams[0];
    EXPECT_EQ(v.at("codec_name"), "h264");
    EXPECT_EQ(v.at("pix_fmt"), "yuv420p");
    EXPECT_EQ(v.at("width"), "640");
    EXPECT_EQ(v.at("height"), "480");
    EXPECT_EQ(v.at("r_frame_rate"), "60/1");
    EXPECT_EQ(v.at("avg_frame_rate"), "60/1");
    EXPECT_EQ(number(v, "nb_frames"), double(frames));
    EXPECT_EQ(a.at("codec_name"), "aac");
    EXPECT_EQ(a.at("sample_rate"), "48000");
    EXPECT_EQ(a.at("channels"), "2");
    for (const Stream* s : {&v, &a}) {
        EXPECT_NEAR(number(*s, "start_time"), 0.0, 1e-3) << s->at("codec_name");
        EXPECT_NEAR(number(*s, "duration"), show, 1.0 / 60) << s->at("codec_name");
    }

    // The picture: the page shows from the first retrace after its cue and the show's pause of
    // 350 ms, which puts it in frame ceil((cue + 0.35) * 60).
    // Small grey pictures are enough to tell a page from black.
    constexpr std::size_t kSmall = 80 * 60;
    const CommandResult pictures = runCommand(
        "ffmpeg -v error -i show.mp4 -vf scale=80:60:flags=area -fps_mode passthrough "
        "-f rawvideo -pix_fmt gray -",
        dir.string());
    ASSERT_EQ(pictures.out.size(), std::size_t(frames) * kSmall) << pictures.err;
    auto brightest = [&](std::int64_t frame) {
        int most = 0;
        for (std::size_t i = 0; i < kSmall; ++i)
            most = std::max(most, int(std::uint8_t(pictures.out[frame * kSmall + i])));
        return most;
    };
    // The page holds to the end of the stretch; before it, the screen is black.
    const int page = brightest(frames - 1);
    ASSERT_GT(page, 80);
    const std::int64_t expected = std::int64_t(std::ceil((cue + 0.35) * 60));
    std::int64_t first = -1;
    for (std::int64_t f = std::int64_t((cue - 0.3) * 60); f < frames && first < 0; ++f)
        if (brightest(f) > page / 2) first = f;
    EXPECT_NEAR(double(first), double(expected), 1.0) << "cue at " << cue << " s";

    // The sound: the show's own, lined up with the show clock from time 0, and as long as the
    // pictures.
    const CommandResult sound =
        runCommand("ffmpeg -v error -i show.mp4 -f s16le -ac 2 -ar 48000 -", dir.string());
    const std::vector<std::int16_t> exported = samplesOf(sound.out);
    const std::string wav = readFile(dir / "show.wav");
    ASSERT_GT(wav.size(), 44u);
    const std::vector<std::int16_t> original = samplesOf(wav.substr(44));
    EXPECT_NEAR(double(exported.size() / 2), double(frames * 800), 800.0);
    const int at = int(cue * 48000);
    EXPECT_LE(std::abs(bestLag(original, exported, at, 1600)), 800)
        << "sound and show clock disagree by more than a frame";
    fs::remove_all(dir);
}

TEST(VideoExport, LosslessExportsAreIdenticalAndHoldTheShowsPixelsAndSamples) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const fs::path dir = makeTempDir("video-mkv");
    // Six seconds take in the first title page fading in.
    const CommandResult first = runCommand(
        record("--out a.mkv --frames frames --every 60 --wav a.wav --max-seconds 6"), dir.string());
    EXPECT_EQ(first.status, 3) << first.err;
    const CommandResult second = runCommand(record("--out b.mkv --max-seconds 6"), dir.string());
    EXPECT_EQ(second.status, 3) << second.err;
    const std::string a = readFile(dir / "a.mkv"), b = readFile(dir / "b.mkv");
    ASSERT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == b) << "two exports of the same show differ";

    const std::vector<Stream> streams = probe(dir / "a.mkv");
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[0].at("width"), "640");
    EXPECT_EQ(streams[0].at("height"), "480");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "60/1");
    EXPECT_EQ(streams[1].at("codec_name"), "flac");

    // Every 60th frame decodes to the PNG the recorder wrote at that tick, pixel for pixel.
    const CommandResult decoded = runCommand(
        "ffmpeg -v error -i a.mkv -vf \"select=not(mod(n\\,60))\" -fps_mode passthrough "
        "-f rawvideo -pix_fmt rgb24 -",
        dir.string());
    const std::size_t frameBytes = 640 * 480 * 3;
    ASSERT_EQ(decoded.out.size(), 7 * frameBytes) << decoded.err;  // ticks 0, 60, ..., 360
    bool lit = false;
    for (int i = 0; i < 7; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%07d.png", i * 60);
        int w = 0, h = 0, n = 0;
        unsigned char* png = stbi_load((dir / "frames" / name).c_str(), &w, &h, &n, 3);
        ASSERT_NE(png, nullptr) << name;
        ASSERT_EQ(w * h * 3, int(frameBytes));
        EXPECT_EQ(std::memcmp(png, decoded.out.data() + i * frameBytes, frameBytes), 0) << name;
        lit = lit || std::any_of(png, png + frameBytes, [](unsigned char p) { return p != 0; });
        stbi_image_free(png);
    }
    EXPECT_TRUE(lit) << "the stretch shows nothing but black: a weak check";

    // The sound decodes to the show's samples from time 0, then silence to the last frame.
    const CommandResult sound = runCommand("ffmpeg -v error -i a.mkv -f s16le -", dir.string());
    const std::string wav = readFile(dir / "a.wav").substr(44);
    ASSERT_GE(sound.out.size(), wav.size());
    EXPECT_TRUE(sound.out.compare(0, wav.size(), wav) == 0);
    EXPECT_EQ(sound.out.size(), std::size_t(361) * 800 * 4);
    EXPECT_EQ(sound.out.find_first_not_of('\0', wav.size()), std::string::npos);
    fs::remove_all(dir);
}

TEST(VideoExport, ScaleEnlargesVideoAndFramesByWholePixels) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const fs::path dir = makeTempDir("video-scale");
    const CommandResult small =
        runCommand(record("--frames one --every 300 --max-seconds 5.1"), dir.string());
    EXPECT_EQ(small.status, 3) << small.err;
    const CommandResult large =
        runCommand(record("--frames two --every 300 --scale 2 --max-seconds 5.1"), dir.string());
    EXPECT_EQ(large.status, 3) << large.err;
    // Tick 300 is inside the first title page's fade-in.
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0, n = 0;
    unsigned char* one = stbi_load((dir / "one/frame_0000300.png").c_str(), &w1, &h1, &n, 3);
    unsigned char* two = stbi_load((dir / "two/frame_0000300.png").c_str(), &w2, &h2, &n, 3);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(w2, 2 * w1);
    EXPECT_EQ(h2, 2 * h1);
    int lit = 0, wrong = 0;
    for (int y = 0; y < h2 && w2 == 2 * w1 && h2 == 2 * h1; ++y)
        for (int x = 0; x < w2; ++x)
            for (int c = 0; c < 3; ++c) {
                const unsigned char want = one[((y / 2) * w1 + x / 2) * 3 + c];
                wrong += two[(y * w2 + x) * 3 + c] != want;
                lit += want != 0;
            }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(lit, 0);
    stbi_image_free(one);
    stbi_image_free(two);

    // The video takes the enlarged size: three times is 1920x1440.
    const CommandResult video =
        runCommand(record("--out big.mp4 --scale 3 --max-seconds 0.5"), dir.string());
    EXPECT_EQ(video.status, 3) << video.err;
    const std::vector<Stream> streams = probe(dir / "big.mp4");
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(streams[0].at("width"), "1920");
    EXPECT_EQ(streams[0].at("height"), "1440");
    EXPECT_NEAR(number(streams[0], "nb_frames"), 31, 0.5);
    fs::remove_all(dir);
}

TEST(VideoExport, MissingOrFailingFfmpegIsReportedAndLeavesNoFiles) {
    const fs::path dir = makeTempDir("video-noffmpeg");
    const CommandResult missing =
        runCommand("PATH=/nonexistent " + record("--out show.mp4"), dir.string());
    EXPECT_EQ(missing.status, 4);
    EXPECT_NE(missing.err.find("needs ffmpeg, which is not on the PATH"), std::string::npos)
        << missing.err;
    EXPECT_FALSE(fs::exists(dir / "show.mp4"));

    const CommandResult badName = runCommand(record("--out show.avi"), dir.string());
    EXPECT_EQ(badName.status, 2);
    EXPECT_NE(badName.err.find("must end in .mp4"), std::string::npos) << badName.err;

    // An ffmpeg that takes nothing and fails: the show stops at once with ffmpeg's word.
    fs::create_directory(dir / "bin");
    {
        std::FILE* f = std::fopen((dir / "bin" / "ffmpeg").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("#!/bin/sh\necho \"Unknown encoder 'libx264'\" >&2\nexit 1\n", f);
        std::fclose(f);
        fs::permissions(dir / "bin" / "ffmpeg", fs::perms::owner_all);
    }
    const CommandResult failing =
        runCommand("PATH='" + (dir / "bin").string() + ":/usr/bin:/bin' " +
                       record("--out show.mkv --stats s.json"),
                   dir.string());
    EXPECT_EQ(failing.status, 4) << failing.err;
    EXPECT_NE(failing.err.find("Unknown encoder 'libx264'"), std::string::npos) << failing.err;
    EXPECT_NE(readFile(dir / "s.json").find("\"exit_status\": 4"), std::string::npos);
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_TRUE(e.path().filename() == "bin" || e.path().filename() == "s.json")
            << e.path() << " was left behind";
    fs::remove_all(dir);
}

// Stills of the show: their moments from a recording's statistics, and the contact sheet.
#include "stills.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <regex>

#include "stb_truetype.h"

namespace stills {

namespace {

struct Subject {
    const char* entry;
    const char* file;
    const char* label;
    int page;  // which of the entry's pages (start cues), from 0; -1: the entry ignores cues
};

// Every page type and effect scene the show has, in the order the show plays them.
const Subject kSubjects[] = {
    {"showTitles", "title.png", "Title page", 0},
    {"flatShadingScene", "flat-shading.png", "Flat shading", 0},
    {"texturedShadingScene", "textured-shading.png", "Texture, Gouraud, specular", 0},
    {"environmentMappingScene", "environment-mapping.png", "Environment mapping", 0},
    {"rotationScene", "rotation.png", "Rotation", 0},
    {"wavingFlagScene", "waving-flag.png", "Waving flag", 0},
    {"parameterizedSurfaceScene", "parameterized-surface.png", "Parameterized surface", 0},
    {"phongShadingScene", "phong-shading.png", "Phong shading", 0},
    // The first credit page is two words; the second shows what a credit page is.
    {"showCredits", "credits.png", "Credit page", 1},
    // The contact pages wait for keys, whatever the music's cues say.
    {"showContactPages", "contact.png", "Contact page", -1},
};

constexpr unsigned kStartCue = 2;
constexpr unsigned kEndCue = 1;

constexpr const char* kLabelFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr int kColumns = 5;
constexpr int kGap = 8;
constexpr int kLabelHeight = 26;
constexpr float kLabelPixels = 16.0f;
constexpr std::uint8_t kBackground = 0x20;
constexpr std::uint8_t kInk = 0xE0;

// Half-way between the entry's start cue number `page` and the end cue after it (or the end of
// the entry when no end cue follows); the middle of the entry when it has too few start cues or
// does not follow cues.
double momentOf(const StatsEntry& entry, const std::vector<StatsCue>& cues, int page) {
    if (page < 0) return (entry.start + entry.end) / 2;
    const StatsCue* start = nullptr;
    int starts = 0;
    for (const StatsCue& c : cues) {
        if (c.t < entry.start || c.t > entry.end) continue;
        if (c.value == kStartCue && starts++ == page) start = &c;
        if (start && c.value == kEndCue) return (start->t + c.t) / 2;
    }
    return start ? (start->t + entry.end) / 2 : (entry.start + entry.end) / 2;
}

// The label font, or an empty buffer when it cannot be read.
std::vector<unsigned char> readFont() {
    std::ifstream in(kLabelFont, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// Draws `text` centred in the strip [x0, x0 + width) whose baseline is at row `baseline`.
void drawLabel(Picture* sheet, const stbtt_fontinfo& font, const std::string& text, int x0,
               int width, int baseline) {
    const float scale = stbtt_ScaleForPixelHeight(&font, kLabelPixels);
    auto advanceOf = [&](std::size_t i) {
        int advance = 0, bearing = 0;
        stbtt_GetCodepointHMetrics(&font, text[i], &advance, &bearing);
        int kern =
            i + 1 < text.size() ? stbtt_GetCodepointKernAdvance(&font, text[i], text[i + 1]) : 0;
        return (advance + kern) * scale;
    };
    float textWidth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) textWidth += advanceOf(i);
    float pen = x0 + std::max(0.0f, (width - textWidth) / 2);
    std::vector<unsigned char> glyph;
    for (std::size_t i = 0; i < text.size(); ++i) {
        int gx0, gy0, gx1, gy1;
        stbtt_GetCodepointBitmapBox(&font, text[i], scale, scale, &gx0, &gy0, &gx1, &gy1);
        const int gw = gx1 - gx0, gh = gy1 - gy0;
        if (gw > 0 && gh > 0) {
            glyph.assign(std::size_t(gw) * gh, 0);
            stbtt_MakeCodepointBitmap(&font, glyph.data(), gw, gh, gw, scale, scale, text[i]);
            const int left = int(std::lround(pen)) + gx0, top = baseline + gy0;
            for (int y = 0; y < gh; ++y)
                for (int x = 0; x < gw; ++x) {
                    const int px = left + x, py = top + y;
                    if (px < x0 || px >= x0 + width || py < 0 || py >= sheet->height) continue;
                    const unsigned cover = glyph[std::size_t(y) * gw + x];
                    std::uint8_t* p = &sheet->rgb[(std::size_t(py) * sheet->width + px) * 3];
                    for (int c = 0; c < 3; ++c)
                        p[c] = std::uint8_t((p[c] * (255 - cover) + kInk * cover + 127) / 255);
                }
        }
        pen += advanceOf(i);
    }
}

}  // namespace

bool readStats(const std::string& json, std::vector<StatsEntry>* entries,
               std::vector<StatsCue>* cues, std::string* error) {
    entries->clear();
    cues->clear();
    static const std::regex entryRow(
        R"re(\{"name": "(\w+)", "start": ([0-9.]+), "end": ([0-9.]+))re");
    static const std::regex cueRow(R"(\{"t": ([0-9.]+), "value": ([0-9]+)\})");
    for (std::sregex_iterator it(json.begin(), json.end(), entryRow), end; it != end; ++it)
        entries->push_back({(*it)[1], std::stod((*it)[2]), std::stod((*it)[3])});
    for (std::sregex_iterator it(json.begin(), json.end(), cueRow), end; it != end; ++it)
        cues->push_back({std::stod((*it)[1]), unsigned(std::stoul((*it)[2]))});
    if (entries->empty()) {
        *error = "no show entries in it: not the statistics of tarnovel-record --stats";
        return false;
    }
    return true;
}

std::vector<Still> planStills(const std::vector<StatsEntry>& entries,
                              const std::vector<StatsCue>& cues, std::vector<std::string>* absent) {
    std::vector<std::pair<double, Still>> found;
    for (const Subject& s : kSubjects) {
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [&](const StatsEntry& e) { return e.name == s.entry; });
        if (it == entries.end()) {
            if (absent) absent->push_back(s.entry);
            continue;
        }
        found.push_back({it->start, {s.entry, s.file, s.label, momentOf(*it, cues, s.page)}});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Still> plan;
    for (auto& f : found) plan.push_back(std::move(f.second));
    return plan;
}

Picture contactSheet(const std::vector<Picture>& pictures, const std::vector<std::string>& labels,
                     std::string* warning) {
    Picture sheet;
    if (pictures.empty()) return sheet;
    int tileW = 0, tileH = 0;
    for (const Picture& p : pictures) {
        tileW = std::max(tileW, p.width / 2);
        tileH = std::max(tileH, p.height / 2);
    }
    const int count = int(pictures.size());
    const int columns = std::min(kColumns, count);
    const int rows = (count + columns - 1) / columns;
    sheet.width = kGap + columns * (tileW + kGap);
    sheet.height = kGap + rows * (tileH + kLabelHeight + kGap);
    sheet.rgb.assign(std::size_t(sheet.width) * sheet.height * 3, kBackground);

    const std::vector<unsigned char> fontData = readFont();
    stbtt_fontinfo font{};
    const bool haveFont =
        !fontData.empty() && stbtt_InitFont(&font, fontData.data(),
                                            stbtt_GetFontOffsetForIndex(fontData.data(), 0)) != 0;
    if (!haveFont && warning)
        *warning = std::string("no labels on the contact sheet: cannot read the font \"") +
                   kLabelFont + "\" (Debian package fonts-dejavu-core)";

    for (int i = 0; i < count; ++i) {
        const Picture& p = pictures[i];
        const int x0 = kGap + (i % columns) * (tileW + kGap);
        const int y0 = kGap + (i / columns) * (tileH + kLabelHeight + kGap);
        // Half size: each tile pixel is the rounded mean of a 2x2 block.
        for (int y = 0; y < p.height / 2; ++y)
            for (int x = 0; x < p.width / 2; ++x)
                for (int c = 0; c < 3; ++c) {
                    auto at = [&](int sx, int sy) {
                        return unsigned(p.rgb[(std::size_t(sy) * p.width + sx) * 3 + c]);
                    };
                    const unsigned sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) +
                                         at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1);
                    sheet.rgb[(std::size_t(y0 + y) * sheet.width + x0 + x) * 3 + c] =
                        std::uint8_t((sum + 2) / 4);
                }
        if (haveFont && i < int(labels.size()))
            drawLabel(&sheet, font, labels[i], x0, tileW, y0 + tileH + kLabelHeight - 8);
    }
    return sheet;
}

}  // namespace stills

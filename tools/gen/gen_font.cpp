// Asset generator: draws the bitmap font texture "font6000.3df" from an outline font.
#include <cstdio>
#include <string>

#include "font_atlas.h"
#include "tdf_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ASSET_DIR\n", argc > 0 ? argv[0] : "gen_font");
        return 2;
    }
    tdf::Image atlas;
    std::string error;
    if (!fontatlas::buildFontAtlas(fontatlas::kDefaultFontPath, &atlas, &error)) {
        std::fprintf(stderr, "gen_font: %s\n", error.c_str());
        return 1;
    }
    const std::string path = std::string(argv[1]) + "/font6000.3df";
    // 5-6-5 holds the gradient well enough, and black stays exactly 0 for the chroma key. One
    // level only: the text is always drawn one texel to one pixel.
    if (!tdf::write3df(path, atlas, "rgb565", false, &error)) {
        std::fprintf(stderr, "gen_font: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

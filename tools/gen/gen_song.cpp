// Writes the show's song "Zudavez.xm": the composition with its synthesised instruments and the
// show's start and end cues (W02, W01) at the rows of the song schedule.
#include <cstdio>
#include <string>

#include "composition.h"
#include "xm_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_song OUTDIR\n");
        return 2;
    }
    const xm::Module module = composition::compose();
    const std::string path = std::string(argv[1]) + "/Zudavez.xm";
    std::string error;
    if (!xm::writeXm(path, module, &error)) {
        std::fprintf(stderr, "gen_song: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

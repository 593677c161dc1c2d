// tarnovel-texconv: converts a picture to a 3DF texture file, or a 3DF file's largest level to PNG.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "image.h"
#include "tdf_writer.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: tarnovel-texconv IN.png OUT.3df [--format NAME] [--no-mipmaps]\n"
                 "       tarnovel-texconv IN.3df OUT.png\n"
                 "pictures: PNG, BMP or TGA, sides powers of two from 1 to 256\n"
                 "formats: rgb332 a8 i8 ai44 p8 argb8332 rgb565 argb1555 argb4444 ai88 ap88\n"
                 "         (default rgb565; p8 and ap88 get a grey palette)\n");
}

bool endsWith(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string in, out, format = "rgb565";
    bool mipmaps = true, formatGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--format") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tarnovel-texconv: --format needs a format name\n");
                usage();
                return 2;
            }
            format = argv[++i];
            formatGiven = true;
        } else if (arg == "--no-mipmaps") {
            mipmaps = false;
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-' && arg.size() > 1) {
            std::fprintf(stderr, "tarnovel-texconv: unknown option \"%s\"\n", arg.c_str());
            usage();
            return 2;
        } else if (in.empty()) {
            in = arg;
        } else if (out.empty()) {
            out = arg;
        } else {
            std::fprintf(stderr, "tarnovel-texconv: too many arguments\n");
            usage();
            return 2;
        }
    }
    if (in.empty() || out.empty()) {
        usage();
        return 2;
    }

    std::string error;
    tdf::Image image;
    if (endsWith(in, ".3df")) {
        if (formatGiven || !mipmaps) {
            std::fprintf(stderr,
                         "tarnovel-texconv: --format and --no-mipmaps apply to making "
                         "a 3DF file\n");
            return 2;
        }
        if (!tdf::read3dfLargest(in, &image, &error) || !tdf::writePng(out, image, &error)) {
            std::fprintf(stderr, "tarnovel-texconv: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (!tdf::readTexturePicture(in, &image, &error) ||
        !tdf::write3df(out, image, format, mipmaps, &error)) {
        std::fprintf(stderr, "tarnovel-texconv: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// Fuzz target: tarnovel-texconv's picture input. The converter reads any picture stb_image
// reads (PNG above all) and writes it as a 3DF file; this runs the same two library calls.
// stb_image's decoder is compiled into the target from the same header Debian's libstb is
// built from (stb_image_impl.cpp), so that the fuzzer sees its branches and the sanitizers
// see its memory accesses.
#include <stb_image.h>

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "image.h"
#include "tdf_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in = fuzzing::writeInput("fuzz.png", data, size);
    // The converter decodes whatever size a header declares before it checks the size (a
    // 185-byte TGA can declare 65535 x 8963 pixels and take seconds and gigabytes to refuse;
    // see docs/robustness.md). Such inputs are left out here so that the run goes on to look
    // for memory errors; the slow decode itself has its own disabled test.
    int w = 0, h = 0, channels = 0;
    if (stbi_info(in.c_str(), &w, &h, &channels) && std::int64_t(w) * h > 1024 * 1024) return 0;
    tdf::Image image;
    std::string error;
    if (!tdf::readPicture(in, &image, &error)) return 0;
    tdf::write3df(fuzzing::scratchDir() + "/fuzz.3df", image, size % 2 ? "rgb565" : "p8",
                  size % 3 != 0, &error);
    return 0;
}

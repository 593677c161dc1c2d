// Fuzz target: tarnovel-texconv's picture input. The converter reads any picture stb_image
// reads (PNG above all) and writes it as a 3DF file; this runs the same two library calls.
// stb_image's decoder is compiled into the target from the same header Debian's libstb is
// built from (stb_image_impl.cpp), so that the fuzzer sees its branches and the sanitizers
// see its memory accesses.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "image.h"
#include "tdf_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in = fuzzing::writeInput("fuzz.png", data, size);
    tdf::Image image;
    std::string error;
    if (!tdf::readTexturePicture(in, &image, &error)) return 0;
    tdf::write3df(fuzzing::scratchDir() + "/fuzz.3df", image, size % 2 ? "rgb565" : "p8",
                  size % 3 != 0, &error);
    return 0;
}

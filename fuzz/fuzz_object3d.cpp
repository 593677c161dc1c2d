// Fuzz target: the .3d object loader (loadObject3d), and the scenes' pipeline on what it accepts.
#include <cstdint>

#include "fuzz_object_frames.h"
#include "fuzz_support.h"

namespace {

Object3d object;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::openBoardForObjects();
    // The loader tries its object folder first, which does not exist here, then where it stands.
    hostChdir(fuzzing::scratchDir().c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::writeInput("fuzz.3d", data, size);
    if (loadObject3d("fuzz.3d", &object)) fuzzing::drawObjectFrames(&object);
    return 0;
}

// Fuzz target: the PLG object loader (loadPlgObject), and the scenes' pipeline on what it
// accepts. Built once scene/plg_loader.cpp exists.
#include <cstdint>
#include <cstdio>

#include "driver.h"
#include "fuzz_object_frames.h"
#include "fuzz_support.h"
#include "plg_loader.h"

namespace {

Object3d object;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::openBoardForObjects();
    // The loader tries its PLG folder first, which does not exist here, then the start folder.
    std::snprintf(startDirectory, kStartDirectorySize, "%s", fuzzing::scratchDir().c_str());
    hostChdir(fuzzing::scratchDir().c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::writeInput("FUZZ.PLG", data, size);
    if (loadPlgObject("FUZZ.PLG", &object)) fuzzing::drawObjectFrames(&object);
    return 0;
}

// stb_image's decoder for the picture fuzz target, compiled with the fuzzer's instrumentation.
// Its functions take the place of the shared library's inside that one program.
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

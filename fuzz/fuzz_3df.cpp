// Fuzz target: a 3DF texture file through every reader of the format, then drawn with.
//
// One input goes through the library's reader (gu3dfGetInfo, gu3dfLoad) twice: as the texture
// converter's 3DF input (read3dfLargest, which decodes palettes and compression tables), and
// as the show's texture loader (loadTexture), whose download is then sampled by textured squares:
// the largest level without mipmapping, then with mipmapping a square small enough for the
// smallest level and one in between, so that texture memory is read back for any level range,
// aspect and format the reader accepts.
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "glide.h"
#include "host.h"
#include "image.h"
#include "texture.h"

namespace {

GrVertex corner(float x, float y, float s, float t, float oow) {
    GrVertex v{};
    v.x = x;
    v.y = y;
    v.r = v.g = v.b = v.a = 255.0f;
    v.oow = oow;
    v.tmuvtx[0].sow = s * oow;
    v.tmuvtx[0].tow = t * oow;
    v.tmuvtx[0].oow = oow;
    return v;
}

// A square of `side` pixels at (x, y) spanning texture coordinates 0..256 on both axes.
void drawTexturedSquare(float x, float y, float side, float oow) {
    const GrVertex a = corner(x, y, 0, 0, oow), b = corner(x + side, y, 256, 0, oow),
                   c = corner(x + side, y + side, 256, 256, oow),
                   d = corner(x, y + side, 0, 256, oow);
    grDrawTriangle(&a, &b, &c);
    guDrawTriangleWithClip(&a, &c, &d);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hostInitVirtual(nullptr, 0, 0);
    grGlideInit();
    grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                 GR_ORIGIN_LOWER_LEFT, 2, 0);
    grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE,
                 GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, FXFALSE, FXFALSE);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    // The loader looks for its file in the folder current at the call.
    hostChdir(fuzzing::scratchDir().c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::writeInput("fuzz.3df", data, size);

    // Both readers call gu3dfGetInfo and then gu3dfLoad into memory of exactly the size it gave.
    tdf::Image image;
    std::string error;
    tdf::read3dfLargest(path, &image, &error);

    textureMemoryCursor = 0;
    TextureSlot slot{};
    if (loadTexture("fuzz.3df", &slot)) {
        grTexSource(GR_TMU0, slot.startAddress, GR_MIPMAPLEVELMASK_BOTH, &slot.info);
        const bool bilinear = size % 2 == 0;
        grTexFilterMode(GR_TMU0,
                        bilinear ? GR_TEXTUREFILTER_BILINEAR : GR_TEXTUREFILTER_POINT_SAMPLED,
                        bilinear ? GR_TEXTUREFILTER_BILINEAR : GR_TEXTUREFILTER_POINT_SAMPLED);
        grTexClampMode(GR_TMU0, size % 3 ? GR_TEXTURECLAMP_WRAP : GR_TEXTURECLAMP_CLAMP,
                       size % 5 ? GR_TEXTURECLAMP_WRAP : GR_TEXTURECLAMP_CLAMP);
        grTexMipMapMode(GR_TMU0, GR_MIPMAP_DISABLE, FXFALSE);
        drawTexturedSquare(10.0f, 10.0f, 32.0f, 1.0f);
        grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST, FXFALSE);
        drawTexturedSquare(100.0f, 100.0f, 40.0f, 0.5f);
        drawTexturedSquare(400.0f, 300.0f, 1.5f, 2.0f);
        // The show never frees a texture's host copy; the target must, or every run leaks.
        std::free(slot.info.data);
    }
    return 0;
}

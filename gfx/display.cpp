// Display setup: opening and closing the board, floating-point precision, global render state.
#include "display.h"

#include <cstdio>
#if defined(__x86_64__) || defined(__i386__)
#include <fpu_control.h>
#endif

GrHwConfiguration hardwareConfiguration;

bool openDisplay() {
    grGlideInit();
    if (!grSstQueryHardware(&hardwareConfiguration)) {
        std::printf("\nSorry.  You require a Voodoo graphics video card to run this program.");
        std::fflush(stdout);
        return false;
    }
    grSstSelect(0);
    grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_RGBA,
                 GR_ORIGIN_LOWER_LEFT, 2, 0);
    grClipWindow(0, 0, 640, 480);
    return true;
}

void setFloatPrecision() {
#if defined(__x86_64__) || defined(__i386__)
    // The x87 unit computes in single precision from here on, rounding to nearest with every
    // exception masked. The show's float arithmetic runs on SSE, which is single precision
    // for floats already.
    fpu_control_t word = _FPU_DEFAULT;
    word = (word & ~fpu_control_t(_FPU_EXTENDED)) | _FPU_SINGLE;
    _FPU_SETCW(word);
#endif
}

void setRenderState() {
    grTexCombine(GR_TMU0, GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE,
                 GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, FXFALSE, FXFALSE);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    grTexFilterMode(GR_TMU0, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR);
    grTexFilterMode(GR_TMU1, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR);
    grTexFilterMode(GR_TMU2, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR);
    grTexClampMode(GR_TMU0, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP);
    grTexClampMode(GR_TMU1, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP);
    grTexClampMode(GR_TMU2, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP);
    grTexMipMapMode(GR_TMU0, GR_MIPMAP_NEAREST, FXFALSE);
    grTexMipMapMode(GR_TMU1, GR_MIPMAP_NEAREST, FXFALSE);
    grTexMipMapMode(GR_TMU2, GR_MIPMAP_NEAREST, FXFALSE);
    grDepthBufferMode(GR_DEPTHBUFFER_WBUFFER);
    grDepthBufferFunction(GR_CMP_LESS);
    grDepthMask(FXTRUE);
    grCullMode(GR_CULL_POSITIVE);
}

void closeDisplay() {
    grGlideShutdown();
}

void clearFrame() {
    grBufferClear(0, 0, 0xFFFF);
}

void showFrame() {
    grBufferSwap(1);
}

// Render state calls of the software graphics library: each stores one piece of state.
#include "glide_internal.h"

using glide::board;

namespace {

glide::TmuState* tmuState(GrChipID_t tmu) {
    if (tmu < 0 || tmu >= int(board.state.tmu.size())) return nullptr;
    return &board.state.tmu[tmu];
}

void touch() {
    ++board.state.serial;
}

}  // namespace

void grTexCombine(GrChipID_t tmu, GrCombineFunction_t rgbFunction, GrCombineFactor_t rgbFactor,
                  GrCombineFunction_t alphaFunction, GrCombineFactor_t alphaFactor,
                  FxBool rgbInvert, FxBool alphaInvert) {
    glide::TmuState* t = tmuState(tmu);
    if (!t) return;
    t->rgbFunction = rgbFunction;
    t->rgbFactor = rgbFactor;
    t->alphaFunction = alphaFunction;
    t->alphaFactor = alphaFactor;
    t->rgbInvert = rgbInvert != 0;
    t->alphaInvert = alphaInvert != 0;
    touch();
}

void grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                    GrCombineOther_t other, FxBool invert) {
    board.state.color = {function, factor, local, other, invert != 0};
    touch();
}

void grAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                    GrCombineOther_t other, FxBool invert) {
    board.state.alpha = {function, factor, local, other, invert != 0};
    touch();
}

void grConstantColorValue(GrColor_t value) {
    board.state.constantColor = value;
    touch();
}

void grAlphaBlendFunction(GrAlphaBlendFnc_t rgbSrc, GrAlphaBlendFnc_t rgbDst,
                          GrAlphaBlendFnc_t alphaSrc, GrAlphaBlendFnc_t alphaDst) {
    auto& s = board.state;
    s.blendRgbSrc = rgbSrc;
    s.blendRgbDst = rgbDst;
    s.blendAlphaSrc = alphaSrc;
    s.blendAlphaDst = alphaDst;
    touch();
}

void grChromakeyValue(GrColor_t value) {
    board.state.chromakeyValue = value;
    touch();
}

void grChromakeyMode(GrChromakeyMode_t mode) {
    board.state.chromakeyEnabled = mode == GR_CHROMAKEY_ENABLE;
    touch();
}

void grTexFilterMode(GrChipID_t tmu, GrTextureFilterMode_t minFilter,
                     GrTextureFilterMode_t magFilter) {
    glide::TmuState* t = tmuState(tmu);
    if (!t) return;
    t->minFilter = minFilter;
    t->magFilter = magFilter;
    touch();
}

void grTexClampMode(GrChipID_t tmu, GrTextureClampMode_t s, GrTextureClampMode_t t) {
    glide::TmuState* u = tmuState(tmu);
    if (!u) return;
    u->clampS = s;
    u->clampT = t;
    touch();
}

void grTexMipMapMode(GrChipID_t tmu, GrMipMapMode_t mode, FxBool lodBlend) {
    glide::TmuState* t = tmuState(tmu);
    if (!t) return;
    t->mipmapMode = mode;
    t->lodBlend = lodBlend != 0;
    touch();
}

void grDepthBufferMode(GrDepthBufferMode_t mode) {
    board.state.depthMode = mode;
    touch();
}

void grDepthBufferFunction(GrCmpFnc_t function) {
    board.state.depthFunction = function;
    touch();
}

void grDepthMask(FxBool mask) {
    board.state.depthMask = mask != 0;
    touch();
}

void grCullMode(GrCullMode_t mode) {
    board.state.cullMode = mode;
    touch();
}

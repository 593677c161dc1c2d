// The reference per-pixel stage: every pixel computed straight from the render state, in the
// plainest form, so the optimised stage has something exact to be compared with.
#include <cmath>

#include "raster.h"
#include "texformat.h"

namespace glide {

namespace {

struct Texel {
    int a, r, g, b;
};

Texel unpack(std::uint32_t argb) {
    return {int(argb >> 24), int(argb >> 16) & 0xFF, int(argb >> 8) & 0xFF, int(argb & 0xFF)};
}

// A texel coordinate index along one axis, wrapped or clamped to the level's size.
int address(int i, int size, int clampMode) {
    if (clampMode == GR_TEXTURECLAMP_CLAMP) return i < 0 ? 0 : (i >= size ? size - 1 : i);
    return i & (size - 1);
}

// Keeps a texel coordinate where the float-to-integer step is exact.
float limitCoordinate(float u) {
    return minf(maxf(u, -8388608.0f), 8388608.0f);
}

int bilinearChannel(int c00, int c10, int c01, int c11, int fu, int fv) {
    const int top = (c00 * (256 - fu) + c10 * fu) >> 8;
    const int bottom = (c01 * (256 - fu) + c11 * fu) >> 8;
    return (top * (256 - fv) + bottom * fv) >> 8;
}

Texel sample(const TextureView& view, const TmuState& tmu, const TriangleSetup& su, float fx,
             float fy) {
    auto eval = [fx, fy](const Plane& p) { return (p.c0 + p.dy * fy) + p.dx * fx; };
    const float w = eval(su.w);
    const float invW = 1.0f / w;
    const float s = eval(su.s) * invW;
    const float t = eval(su.t) * invW;

    int level = 0;
    int filter = tmu.magFilter;
    const bool mipmapping = tmu.mipmapMode != GR_MIPMAP_DISABLE && view.levels > 1;
    if (mipmapping || tmu.minFilter != tmu.magFilter) {
        // Screen-space rates of change of s and t, from the quotient rule on s/w over 1/w.
        const float dsdx = (su.s.dx - s * su.w.dx) * invW;
        const float dtdx = (su.t.dx - t * su.w.dx) * invW;
        const float dsdy = (su.s.dy - s * su.w.dy) * invW;
        const float dtdy = (su.t.dy - t * su.w.dy) * invW;
        const float rx = dsdx * dsdx + dtdx * dtdx;
        const float ry = dsdy * dsdy + dtdy * dtdy;
        const float rho2 = maxf(rx, ry) * (view.texScale * view.texScale);
        if (mipmapping) level = lodFromRho2(rho2, view.levels);
        if (rho2 > 1.0f) filter = tmu.minFilter;
    }
    const TextureLevel& l = view.level[level];
    const float scale = view.texScale / float(1 << level);
    float u = s * scale, v = t * scale;

    if (filter == GR_TEXTUREFILTER_POINT_SAMPLED) {
        u = limitCoordinate(u);
        v = limitCoordinate(v);
        const int x = address(int(std::floor(u)), l.width, tmu.clampS);
        const int y = address(int(std::floor(v)), l.height, tmu.clampT);
        return unpack(fetchTexel(view, level, x, y));
    }
    // Texel centres sit at half-integers.
    u = limitCoordinate(u - 0.5f);
    v = limitCoordinate(v - 0.5f);
    const float u0 = std::floor(u), v0 = std::floor(v);
    const int fu = int((u - u0) * 256.0f), fv = int((v - v0) * 256.0f);
    const int x0 = address(int(u0), l.width, tmu.clampS);
    const int x1 = address(int(u0) + 1, l.width, tmu.clampS);
    const int y0 = address(int(v0), l.height, tmu.clampT);
    const int y1 = address(int(v0) + 1, l.height, tmu.clampT);
    const Texel t00 = unpack(fetchTexel(view, level, x0, y0));
    const Texel t10 = unpack(fetchTexel(view, level, x1, y0));
    const Texel t01 = unpack(fetchTexel(view, level, x0, y1));
    const Texel t11 = unpack(fetchTexel(view, level, x1, y1));
    return {bilinearChannel(t00.a, t10.a, t01.a, t11.a, fu, fv),
            bilinearChannel(t00.r, t10.r, t01.r, t11.r, fu, fv),
            bilinearChannel(t00.g, t10.g, t01.g, t11.g, fu, fv),
            bilinearChannel(t00.b, t10.b, t01.b, t11.b, fu, fv)};
}

int factorValue(int factor, int localChannel, int localAlpha, int otherAlpha, int textureAlpha) {
    switch (factor) {
        case GR_COMBINE_FACTOR_ZERO:
            return 0;
        case GR_COMBINE_FACTOR_LOCAL:
            return localChannel;
        case GR_COMBINE_FACTOR_OTHER_ALPHA:
            return otherAlpha;
        case GR_COMBINE_FACTOR_LOCAL_ALPHA:
            return localAlpha;
        case GR_COMBINE_FACTOR_TEXTURE_ALPHA:
            return textureAlpha;
        case GR_COMBINE_FACTOR_ONE:
            return 255;
        case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL:
            return 255 - localChannel;
        case GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA:
            return 255 - otherAlpha;
        case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA:
            return 255 - localAlpha;
        case GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA:
            return 255 - textureAlpha;
        default:
            return 0;
    }
}

int combineValue(int function, int f, int local, int other, int localAlpha, bool invert) {
    int v;
    switch (function) {
        case GR_COMBINE_FUNCTION_ZERO:
            v = 0;
            break;
        case GR_COMBINE_FUNCTION_LOCAL:
            v = local;
            break;
        case GR_COMBINE_FUNCTION_LOCAL_ALPHA:
            v = localAlpha;
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER:
            v = mul255(other, f);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL:
            v = mul255(other, f) + local;
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA:
            v = mul255(other, f) + localAlpha;
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL:
            v = mul255Signed(other - local, f);
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL:
            v = mul255Signed(other - local, f) + local;
            break;
        case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA:
            v = mul255Signed(other - local, f) + localAlpha;
            break;
        case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL:
            v = mul255Signed(-local, f) + local;
            break;
        case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA:
            v = mul255Signed(-local, f) + localAlpha;
            break;
        default:
            v = 0;
            break;
    }
    v = clamp255(v);
    return invert ? 255 - v : v;
}

int blendFactor(int factor, int srcChannel, int srcAlpha) {
    switch (factor) {
        case GR_BLEND_ZERO:
            return 0;
        case GR_BLEND_SRC_ALPHA:
            return srcAlpha;
        case GR_BLEND_SRC_COLOR:
            return srcChannel;
        case GR_BLEND_DST_ALPHA:
            return 255;  // no alpha buffer: destination alpha reads as one
        case GR_BLEND_ONE:
            return 255;
        case GR_BLEND_ONE_MINUS_SRC_ALPHA:
            return 255 - srcAlpha;
        case GR_BLEND_ONE_MINUS_SRC_COLOR:
            return 255 - srcChannel;
        case GR_BLEND_ONE_MINUS_DST_ALPHA:
            return 0;
        default:
            return 0;
    }
}

void shadePixel(const RenderState& rs, const TextureView& view, const TriangleSetup& su, int x,
                int y) {
    const float fx = float(x - su.xRef), fy = float(y - su.yRef);
    auto eval = [fx, fy](const Plane& p) { return (p.c0 + p.dy * fy) + p.dx * fx; };
    const int index = (kHeight - 1 - y) * kWidth + x;

    const bool depthOn = rs.depthMode != GR_DEPTHBUFFER_DISABLE;
    int depth = 0;
    if (depthOn) {
        depth = rs.depthMode == GR_DEPTHBUFFER_WBUFFER ? wDepth(eval(su.w)) : zDepth(eval(su.z));
        if (!depthPasses(rs.depthFunction, depth, board.depth[index])) return;
    }

    Texel texel{0, 0, 0, 0};
    if (view.valid && usesTexture(rs)) texel = sample(view, rs.tmu[0], su, fx, fy);
    const Rgba constant = colorComponents(rs.constantColor, rs.colorFormat);
    const int iterated[4] = {iteratedChannel(eval(su.r)), iteratedChannel(eval(su.g)),
                             iteratedChannel(eval(su.b)), iteratedChannel(eval(su.a))};

    auto select = [&](int source, int channel) {
        const int textureChannel[4] = {texel.r, texel.g, texel.b, texel.a};
        const int constantChannel[4] = {constant.r, constant.g, constant.b, constant.a};
        if (source == GR_COMBINE_OTHER_TEXTURE) return textureChannel[channel];
        if (source == GR_COMBINE_OTHER_CONSTANT) return constantChannel[channel];
        return iterated[channel];
    };
    const int localAlpha = rs.alpha.local == GR_COMBINE_LOCAL_CONSTANT ? constant.a : iterated[3];
    const int otherAlpha = select(rs.alpha.other, 3);

    int other[3], color[3];
    for (int c = 0; c < 3; ++c) {
        const int local = rs.color.local == GR_COMBINE_LOCAL_CONSTANT ? (c == 0   ? constant.r
                                                                         : c == 1 ? constant.g
                                                                                  : constant.b)
                                                                      : iterated[c];
        other[c] = select(rs.color.other, c);
        const int f = factorValue(rs.color.factor, local, localAlpha, otherAlpha, texel.a);
        color[c] = combineValue(rs.color.function, f, local, other[c], localAlpha, rs.color.invert);
    }
    const int fa = factorValue(rs.alpha.factor, localAlpha, localAlpha, otherAlpha, texel.a);
    const int alpha =
        combineValue(rs.alpha.function, fa, localAlpha, otherAlpha, localAlpha, rs.alpha.invert);

    if (rs.chromakeyEnabled) {
        const Rgba key = colorComponents(rs.chromakeyValue, rs.colorFormat);
        if (other[0] == key.r && other[1] == key.g && other[2] == key.b) return;
    }

    std::uint16_t* pixel = backBuffer() + index;
    const int dst[3] = {int(expand5(*pixel >> 11)), int(expand6((*pixel >> 5) & 63)),
                        int(expand5(*pixel & 31))};
    int out[3];
    for (int c = 0; c < 3; ++c) {
        const int sf = blendFactor(rs.blendRgbSrc, color[c], alpha);
        const int df = blendFactor(rs.blendRgbDst, color[c], alpha);
        out[c] = clamp255(mul255(color[c], sf) + mul255(dst[c], df));
    }
    *pixel = ditherPixel(out[0], out[1], out[2], ditherIndex(x, y));
    if (depthOn && rs.depthMask) board.depth[index] = std::uint16_t(depth);
}

}  // namespace

void shadeTriangleReference(const TriangleSetup& setup) {
    settleClear();
    const RenderState& rs = board.state;
    TextureView view;
    resolveTexture(rs.tmu[0], false, &view);
    for (int y = setup.minY; y < setup.maxY; ++y) {
        int x0, x1;
        rowSpan(setup, y, &x0, &x1);
        for (int x = x0; x < x1; ++x) shadePixel(rs, view, setup, x, y);
    }
}

}  // namespace glide

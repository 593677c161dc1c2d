// The animated background: corner colours that cycle and a texture that turns and zooms.
#include "scene_background.h"

#include <cstring>

const std::uint16_t colourPhaseStep[4][3] = {
    {210, 320, 430},  // top left
    {350, 450, 530},  // top right
    {470, 540, 234},  // bottom right
    {540, 210, 320},  // bottom left
};

namespace {

constexpr float kBackgroundDepth = 10000.0f;
const float cornerX[4] = {0.0f, 640.0f, 640.0f, 0.0f};
const float cornerY[4] = {480.0f, 480.0f, 0.0f, 0.0f};

}  // namespace

void startAnimatedBackground(AnimatedBackground* background, float zoomAmplitude, float zoomBase) {
    std::memset(background, 0, sizeof(*background));
    for (int i = 0; i < 4; ++i) {
        GrVertex& v = background->corner[i];
        v.x = cornerX[i];
        v.y = cornerY[i];
        v.z = kBackgroundDepth;
        v.oow = 1.0f / kBackgroundDepth;
        v.a = 0.0f;
        for (int channel = 0; channel < 3; ++channel) background->colourPhase[i][channel] = 32768;
    }
    background->rotationAngle = 0;
    background->zoomAngle = 0;
    background->zoomAmplitude = zoomAmplitude;
    background->zoomBase = zoomBase;
}

void updateFadeFactor() {
    if (leaving == 1) fadeFactor = 1.0f - (-slideOffset) / 4000.0f;
}

void setBackgroundColours(AnimatedBackground* background, float base, float swing) {
    for (int i = 0; i < 4; ++i) {
        float* channel[3] = {&background->corner[i].r, &background->corner[i].g,
                             &background->corner[i].b};
        for (int c = 0; c < 3; ++c) {
            const float wave =
                float(int((cosineTable[background->colourPhase[i][c]] + 1.0f) * swing));
            *channel[c] = (base + wave) * fadeFactor;
        }
    }
}

void setBackgroundTexturePoints(AnimatedBackground* background, float k, std::uint16_t theta,
                                float cx, float cy) {
    const float ct = cosineTable[theta];
    const float st = sineTable[theta];
    for (int i = 0; i < 4; ++i) {
        GrVertex& v = background->corner[i];
        const float dx = v.x - 320.0f;
        const float dy = v.y - 240.0f;
        const float s = cx + k * (dx * ct + dy * st);
        const float t = cy + k * (dx * st - dy * ct);
        v.tmuvtx[0].sow = s / v.z;
        v.tmuvtx[0].tow = t / v.z;
        v.tmuvtx[0].oow = 1.0f / v.z;
    }
}

void updateAnimatedBackground(AnimatedBackground* background) {
    updateFadeFactor();
    setBackgroundColours(background, 0.0f, 127.5f);
    const float k = (1.0f + sineTable[background->zoomAngle]) * background->zoomAmplitude +
                    background->zoomBase;
    setBackgroundTexturePoints(background, k, background->rotationAngle, 128.0f, 128.0f);
}

void drawAnimatedBackground(const AnimatedBackground& background, const SceneTexture& texture) {
    const GrVertex* v = background.corner;
    beginSceneTexture(texture);
    grDrawTriangle(&v[kTopLeft], &v[kTopRight], &v[kBottomRight]);
    grDrawTriangle(&v[kTopLeft], &v[kBottomRight], &v[kBottomLeft]);
    endSceneTexture(texture);
}

void advanceColourPhases(AnimatedBackground* background) {
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c) background->colourPhase[i][c] += colourPhaseStep[i][c];
}

void advanceAnimatedBackground(AnimatedBackground* background) {
    background->zoomAngle += 50;
    background->rotationAngle += 20;
    advanceColourPhases(background);
}

// The effect scene frame: globals, tables, cues, slide, keys, captions and the final black frame.
#include "scene_frame.h"

#include <cmath>
#include <cstdio>

#include "capture.h"
#include "display.h"
#include "driver.h"
#include "glide.h"
#include "host.h"
#include "music.h"
#include "text.h"

float slideOffset = 4000.0f;
float slideSpeed = 0.0f;
std::uint8_t leaving = 0;
float fadeFactor = 1.0f;
char sceneKey = 'a';

float sineTable[kTableSize];
float cosineTable[kTableSize];

void startSceneFrame() {
    slideOffset = 4000.0f;
    slideSpeed = 0.0f;
    leaving = 0;
    endCue = 0;
    textureMemoryCursor = 0;
}

bool rememberStartDirectory() {
    if (!hostGetCwd(startDirectory, kStartDirectorySize)) {
        std::printf("Error:  No Current Directory. '_getcwd error'\n");
        std::printf("\n");
        return false;
    }
    return true;
}

void buildTrigTables() {
    const float pi = 3.1415927f;
    for (int i = 0; i < kTableSize; ++i) {
        const float angle = float(i) * pi * 2.0f / 65536.0f;
        sineTable[i] = float(std::sin(double(angle)));
        cosineTable[i] = float(std::cos(double(angle)));
    }
}

void loadSceneTexture(const char* fileName, SceneTexture* texture) {
    texture->loaded = loadTexture(fileName, &texture->slot);
}

void setTexturedCombine() {
    grAlphaCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA, GR_COMBINE_FACTOR_LOCAL,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
}

void waitForStartCue() {
    takeStartCueAtScene();
    sceneKey = 'a';
}

void beginSceneTexture(const SceneTexture& texture) {
    if (texture.loaded) {
        grTexSource(GR_TMU0, texture.slot.startAddress, GR_MIPMAPLEVELMASK_BOTH,
                    const_cast<GrTexInfo*>(&texture.slot.info));
        return;
    }
    grConstantColorValue(0xFFFFFFFFu);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA, GR_COMBINE_FACTOR_LOCAL,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_CONSTANT, FXFALSE);
}

void endSceneTexture(const SceneTexture& texture) {
    if (!texture.loaded) setTexturedCombine();
}

void drawObjectTriangle(const GrVertex* vertex, std::uint16_t a, std::uint16_t b, std::uint16_t c) {
    if (vertex[a].oow <= 0.0f || vertex[b].oow <= 0.0f || vertex[c].oow <= 0.0f) return;
    guDrawTriangleWithClip(&vertex[a], &vertex[b], &vertex[c]);
}

bool beginCaptions(const SceneTexture& font) {
    if (!font.loaded) return false;
    grTexSource(GR_TMU0, font.slot.startAddress, GR_MIPMAPLEVELMASK_BOTH,
                const_cast<GrTexInfo*>(&font.slot.info));
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
    grChromakeyMode(GR_CHROMAKEY_ENABLE);
    return true;
}

void drawCaption(float x, float y, const char* text) {
    drawText(255, 1, x, y, text);
}

void endCaptions() {
    grChromakeyMode(GR_CHROMAKEY_DISABLE);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
}

void drawSceneCaption(const SceneTexture& font, const char* text) {
    if (!beginCaptions(font)) return;
    drawCaption(320.0f - slideOffset, 36.0f, text);
    endCaptions();
}

bool sceneRunning() {
    return -slideOffset < 4000.0f;
}

void endCueAndSlide() {
    if (endCue != 0) leaving = 1;
    if (leaving == 1) {
        slideSpeed += 1.0f;
        slideOffset -= slideSpeed;
    } else {
        slideOffset *= 0.95f;
    }
}

void readSceneKey() {
    if (hostKeyWaiting()) sceneKey = char(hostReadKey(0));
}

void captureOnKey(const char* captureFile) {
    if (sceneKey == 's' || sceneKey == 'S') {
        captureScreen(captureFile);
        sceneKey = 0;
    }
}

void sceneKeys(const char* captureFile) {
    readSceneKey();
    captureOnKey(captureFile);
}

void finishScene() {
    clearFrame();
    showFrame();
}

// The rotation scene: a tiled picture turning ever faster about a wandering centre.
#include <cstdint>
#include <cstdio>

#include "display.h"
#include "driver.h"
#include "effects.h"
#include "glide.h"
#include "host.h"
#include "scene_background.h"
#include "scene_frame.h"

namespace {

AnimatedBackground picture;

// The turn starts at -1000 a frame (two's complement) and gains 20 every frame.
constexpr std::uint16_t kFirstTurnSpeed = 64536;
constexpr std::uint16_t kTurnAcceleration = 20;
constexpr std::uint16_t kZoomStep = 300;
constexpr std::uint16_t kCentreStepX = 200;
constexpr std::uint16_t kCentreStepY = 100;

}  // namespace

void rotationScene() {
    startSceneFrame();
    fadeFactor = 1.0f;
    // The zoom (1 + sin phi) x 1.0 + 0.5 runs from 0.5 to 2.5 texels a pixel.
    startAnimatedBackground(&picture, 1.0f, 0.5f);

    // The scene only checks that it has a working directory; startDirectory keeps the one the
    // previous loaders left.
    char directory[kStartDirectorySize];
    if (!hostGetCwd(directory, sizeof directory)) {
        std::printf("Error:  No Current Directory. '_getcwd error'\n");
        std::printf("\n");
        return;
    }
    buildTrigTables();

    SceneTexture juice, font;
    loadSceneTexture("juice.3df", &juice);
    loadSceneTexture("font6000.3df", &font);
    setTexturedCombine();
    grChromakeyValue(0);

    std::uint16_t theta = 0, turnSpeed = kFirstTurnSpeed, phi = 0;
    std::uint16_t centreX = 0, centreY = 0;
    waitForStartCue();

    while (sceneRunning()) {
        updateFadeFactor();
        // Never below half brightness before the fade: 128 to 255.
        setBackgroundColours(&picture, 128.0f, 63.5f);
        turnSpeed += kTurnAcceleration;
        const float k = (1.0f + sineTable[phi]) * picture.zoomAmplitude + picture.zoomBase;
        const float cx = 128.0f * cosineTable[centreX] + 128.0f;
        const float cy = 128.0f * sineTable[centreY] + 128.0f;
        setBackgroundTexturePoints(&picture, k, theta, cx, cy);

        clearFrame();
        drawAnimatedBackground(picture, juice);
        drawSceneCaption(font, "ROTATION");
        showFrame();

        readSceneKey();
        if (sceneKey == 'p' || sceneKey == 'P') {
            hostSleep(1000);
            sceneKey = 'a';
        }
        captureOnKey("Rotation.raw");
        endCueAndSlide();

        phi += kZoomStep;
        theta += turnSpeed;
        advanceColourPhases(&picture);
        centreX += kCentreStepX;
        centreY += kCentreStepY;
    }
    finishScene();
}

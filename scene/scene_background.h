// The animated background: a full-screen quad whose texture turns and zooms under cycling colours.
#pragma once

#include <cstdint>

#include "glide.h"
#include "scene_frame.h"

enum BackgroundCorner { kTopLeft, kTopRight, kBottomRight, kBottomLeft };

struct AnimatedBackground {
    // The screen's corners at depth 10000, in the order of BackgroundCorner.
    GrVertex corner[4];
    // Colour phase of r, g, b of each corner; 16-bit angles starting at half a turn.
    std::uint16_t colourPhase[4][3];
    std::uint16_t rotationAngle;  // theta: turn of the texture
    std::uint16_t zoomAngle;      // phi: the zoom's phase
    // Zoom k = (1 + sin phi) x zoomAmplitude + zoomBase, in texels per screen pixel.
    float zoomAmplitude;
    float zoomBase;
};

// Per-frame steps of the twelve colour phases, [corner][r, g, b].
extern const std::uint16_t colourPhaseStep[4][3];

// The backdrops behind the turning objects zoom by 1.5 + sin(phi) - kBackgroundZoomOffset: from
// 0.25 to 2.25 texels a pixel. Magnified further than four pixels a texel, the pictures would
// turn into soft blocks behind the sharp objects; one offset keeps those scenes alike.
constexpr float kBackgroundZoomOffset = 0.25f;

// Corners, depth, alpha 0, phases at half a turn, angles 0, the scene's zoom constants.
void startAnimatedBackground(AnimatedBackground* background, float zoomAmplitude, float zoomBase);
// While leaving, fadeFactor = 1 - (-slideOffset) / 4000.
void updateFadeFactor();
// Every corner channel = (base + trunc((cos phase + 1) x swing)) x fadeFactor.
void setBackgroundColours(AnimatedBackground* background, float base, float swing);
// The texture point (cx, cy) at the screen centre, turned by theta and zoomed by k about it.
void setBackgroundTexturePoints(AnimatedBackground* background, float k, std::uint16_t theta,
                                float cx, float cy);
// The whole update of a frame: fade, colours from black to full, turn and zoom about (128, 128).
void updateAnimatedBackground(AnimatedBackground* background);
// The two triangles, with the texture (or white when it is missing).
void drawAnimatedBackground(const AnimatedBackground& background, const SceneTexture& texture);
void advanceColourPhases(AnimatedBackground* background);
// End of a frame: zoom phase + 50, turn + 20, colour phases by their steps.
void advanceAnimatedBackground(AnimatedBackground* background);

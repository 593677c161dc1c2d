// The frame every effect scene runs in: shared globals, tables, start steps, slide, keys, caption.
#pragma once

#include <cstdint>

#include "texture.h"

// --- scene-frame globals, set by every scene at its start -------------------------------------
// Horizontal offset of the scene's content: added to the object's camera-space x, and the
// caption sits at 320 - slideOffset. 4000 at the start, decays towards 0, falls to -4000 to leave.
extern float slideOffset;
// Speed of the leaving slide, growing by 1 each leaving frame.
extern float slideSpeed;
// 1 from the first frame that sees the end cue.
extern std::uint8_t leaving;
// Brightness factor of the animated background; falls to 0 while the scene leaves.
extern float fadeFactor;
// The scene's key variable: 'a' before the first frame, the last key read, 0 after a capture.
extern char sceneKey;

// --- sine and cosine of 16-bit angles ---------------------------------------------------------
// Entry i holds the sine and cosine of i/65536 of a turn. A 16-bit angle indexes them directly
// and wraps by itself. Static storage, rebuilt by every scene at its start.
constexpr int kTableSize = 65536;
extern float sineTable[kTableSize];
extern float cosineTable[kTableSize];

// --- a scene's textures --------------------------------------------------------------------------
// A texture slot and whether its file loaded: a slot whose file is missing is never passed to
// the graphics library.
struct SceneTexture {
    TextureSlot slot;
    bool loaded;
};

// --- scene start, in its order ------------------------------------------------------------------
// slideOffset 4000, slideSpeed 0, leaving 0; end cue cleared; texture memory from 0. The scenes
// with the animated background set fadeFactor to 1 themselves; flat shading leaves it alone.
void startSceneFrame();
// Stores the working directory in startDirectory; on failure prints the directory message and
// returns false (the scene then returns before its first frame).
bool rememberStartDirectory();
void buildTrigTables();
// loadTexture into the slot; a failure has been reported by the loader and is remembered.
void loadSceneTexture(const char* fileName, SceneTexture* texture);
// Colour = texel x vertex colour + vertex alpha; alpha = vertex alpha.
void setTexturedCombine();
// Spins on the start cue and clears it, then sets the key variable to 'a'.
void waitForStartCue();

// --- drawing ----------------------------------------------------------------------------------
// Selects the texture for the following textured triangles. A texture whose file is missing
// is replaced by plain white (the constant colour), so its triangles still show their vertex
// colours; endSceneTexture then gives back the combine state of setTexturedCombine.
void beginSceneTexture(const SceneTexture& texture);
void endSceneTexture(const SceneTexture& texture);
// guDrawTriangleWithClip of the three vertex records, unless one lies behind the viewer
// (oow 0, see rotateAndProject): such a triangle would be drawn mirrored.
void drawObjectTriangle(const GrVertex* vertex, std::uint16_t a, std::uint16_t b, std::uint16_t c);
// Text state for captions: font as texture source, additive blending, chroma key on. Returns
// false (and sets nothing) when the font is missing; the captions are then left out.
bool beginCaptions(const SceneTexture& font);
// Full brightness, centred on x, y the top edge.
void drawCaption(float x, float y, const char* text);
// Chroma key off, blending back to replacement.
void endCaptions();
// The usual single caption at (320 - slideOffset, 36).
void drawSceneCaption(const SceneTexture& font, const char* text);

// --- after the swap -----------------------------------------------------------------------------
// True while the scene still runs: -slideOffset < 4000.
bool sceneRunning();
// Sees the end cue (sets leaving, never clears the cue), then slides one frame.
void endCueAndSlide();
// Reads a key into the key variable if one is waiting.
void readSceneKey();
// 's' or 'S' in the key variable: the displayed frame goes to `captureFile`; the variable is 0.
void captureOnKey(const char* captureFile);
// The usual key step: readSceneKey, then captureOnKey.
void sceneKeys(const char* captureFile);
// The black frame the scene leaves on the display when it returns.
void finishScene();

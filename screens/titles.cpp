// The opening titles: five pages of centred text that fade in and out on the music's cues.
#include "music.h"
#include "page.h"
#include "screens.h"

namespace {

const PageLine titlePage1[] = {{"A", 296}, {"VORTANE", 256}, {"PRODUCTION", 216}};
const PageLine titlePage2[] = {
    {"FIRST PRESENTED AT", 296}, {"KELDMOOR UNIVERSITY", 256}, {"APRIL 1999", 216}};
const PageLine titlePage3[] = {{"TARNOVEL FINAL PROJECT", 256}};
const PageLine titlePage4[] = {
    {"CODE:", 336}, {"ORLEN MARSK", 296}, {"MUSIC:", 216}, {"VANTO REILIK", 176}};
const PageLine titlePage5[] = {{"\"TO BE CONTINUED...\"", 256}};

const Page titlePages[5] = {
    PAGE_OF(titlePage1), PAGE_OF(titlePage2), PAGE_OF(titlePage3),
    PAGE_OF(titlePage4), PAGE_OF(titlePage5),
};

// The title fades step by 2: 128 frames each way.
constexpr int kTitleFadeStep = 2;

}  // namespace

void showTitles() {
    TextureSlot fontSlot;
    loadPageFont(&fontSlot);
    // The global colour combine set just before is still in force; the end cue is not cleared.
    setPageTextState(&fontSlot);

    for (int page = 0; page < 4; ++page) {
        takeCueAtPage(startCue);
        fadePageIn(titlePages[page], kTitleFadeStep);
        takeCueAtPage(endCue);
        fadePageOut(titlePages[page], kTitleFadeStep);
    }

    // The last page appears at once at full brightness.
    takeCueAtPage(startCue);
    showPageFrame(titlePages[4], 255);
    takeCueAtPage(endCue);
    fadePageOut(titlePages[4], kTitleFadeStep);

    restoreOpaqueState();
}

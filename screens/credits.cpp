// The closing credits: sixteen pages faded in and out on the music's cues; the last one stays.
#include "glide.h"
#include "music.h"
#include "page.h"
#include "screens.h"

namespace {

const PageLine creditPage1[] = {{"THANK YOU.", 256}};
const PageLine creditPage2[] = {
    {"MADE ON A PENTIUM II 350 MHZ", 316},
    {"WITH A CREATIVE 3D BLASTER VOODOO2", 276},
    {"COMPILED WITH VISUAL C++ 6.0", 236},
    {"USING THE 3DFX GLIDE 2.X SDK", 196},
};
// Sixteen lines of the board maker's own words about the library, over four pages.
const PageLine creditPage3[] = {
    {"NOTE ABOUT GLIDE...", 336},
    {"\"GLIDE IS NOT MEANT TO BE", 256},
    {"A COMPLETE GRAPHICS API. IT IS", 216},
    {"A THIN LAYER OVER THE HARDWARE", 176},
};
const PageLine creditPage4[] = {
    {"THAT OFFERS ONLY WHAT THE", 336},    {"VOODOO CHIPSET DOES ITSELF.", 296},
    {"THERE ARE NO GEOMETRY", 256},        {"TRANSFORMATIONS, NO DISPLAY", 216},
    {"LISTS AND NO LIGHTING MODEL:", 176},
};
const PageLine creditPage5[] = {
    {"THOSE BELONG TO THE PROGRAM", 316},
    {"OR TO A LIBRARY BUILT ON TOP.", 276},
    {"WHAT YOU GET IS DIRECT AND", 236},
    {"PREDICTABLE ACCESS TO THE", 196},
};
const PageLine creditPage6[] = {
    {"RASTERIZER AND THE TEXTURE", 316},   {"UNITS, WITH NOTHING IN THE WAY", 276},
    {"AND NOTHING HIDDEN, SO EVERY", 236}, {"CYCLE GOES INTO PIXELS.\"", 196},
    {"- 3DFX INTERACTIVE, INC.", 156},
};
const PageLine creditPage7[] = {{"SPECIAL THANKS TO...", 256}};
const PageLine creditPage8[] = {
    {"JORIN VALE", 436},
    {"       ", 396},
    {"2D ROTATION TECHNIQUE", 296},
    {"3D PARAMETERIZATION FORMULA", 256},
    {"3D OBJECT CREATION PROGRAM", 216},
    {"MISC. 3D PROGRAMMING TIPS", 176},
    {"ADDITIONAL DESIGN", 136},
};
const PageLine creditPage9[] = {
    {"EDRIC MOSSEL", 436},
    {"        ", 396},
    {"ORIGINAL FONT CODE", 276},
    {"3DFX SCREEN CAPTURING", 236},
    {"                           ", 96},
};
const PageLine creditPage10[] = {
    {"TRITON PRODUCTIONS", 436},
    {"PRODUCING FAST TRACKER 2", 276},
    {"USED TO COMPOSE BACKGROUND MUSIC", 236},
    {"      WWW.TRITON.SE      ", 96},
};
const PageLine creditPage11[] = {
    {"VANTO REILIK", 436},
    {"(RUSTWIRE)", 396},
    {"BACKGROUND MUSIC COMPOSITION", 276},
    {"\"SICK ON MONDAY\"", 236},
    {"      WWW.TRACKWELL.ORG      ", 96},
    {"SEARCH FOR \"RUSTWIRE\"", 56},
};
const PageLine creditPage12[] = {
    {"TOBIN ARDEN", 346},
    {"3DFX INITIALIZATION CODING", 296},
    {"PELL DORAN", 216},
    {"TEXTURE LOADING MANAGEMENT", 166},
};
const PageLine creditPage13[] = {
    {"HOUSEMARQUE INC.", 436},
    {"MIDAS DIGITAL AUDIO SYSTEM V1.1.2", 296},
    {"FREE FOR NON-COMMERICAL USAGE", 256},
    {"DISTRIBUTED WITH FULL SOURCE CODE", 216},
    {"      WWW.HOUSEMARQUE.COM      ", 96},
};
const PageLine creditPage14[] = {
    {"3DFX INTERACTIVE, INC.", 436},
    {"GLIDE VERSION 2.X", 276},
    {"SOFTWARE DEVELOPER'S KIT", 236},
    {"      WWW.3DFX.COM      ", 96},
};
const PageLine creditPage15[] = {{"(C) 1999", 276}, {"VORTANE", 236}};
const PageLine creditPage16[] = {{"TO BE CONTINUED...", 256}};

const Page creditPages[16] = {
    PAGE_OF(creditPage1),  PAGE_OF(creditPage2),  PAGE_OF(creditPage3),  PAGE_OF(creditPage4),
    PAGE_OF(creditPage5),  PAGE_OF(creditPage6),  PAGE_OF(creditPage7),  PAGE_OF(creditPage8),
    PAGE_OF(creditPage9),  PAGE_OF(creditPage10), PAGE_OF(creditPage11), PAGE_OF(creditPage12),
    PAGE_OF(creditPage13), PAGE_OF(creditPage14), PAGE_OF(creditPage15), PAGE_OF(creditPage16),
};

// The credit fades step by 4: 64 frames each way.
constexpr int kCreditFadeStep = 4;

}  // namespace

void showCredits() {
    // An end cue raised during the last effect scene must not end the first page early.
    endCue.store(0);
    TextureSlot fontSlot;
    loadPageFont(&fontSlot);
    // The effect scenes change the colour combine: texel times vertex colour again.
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    setPageTextState(&fontSlot);

    for (int page = 0; page < 15; ++page) {
        takeCueAtPage(startCue);
        fadePageIn(creditPages[page], kCreditFadeStep);
        takeCueAtPage(endCue);
        fadePageOut(creditPages[page], kCreditFadeStep);
    }

    // The last page fades in and stays; the next start cue ends the credits, and the music
    // fades out over it.
    takeCueAtPage(startCue);
    fadePageIn(creditPages[15], kCreditFadeStep);
    takeCueAtPage(startCue);

    restoreOpaqueState();
}

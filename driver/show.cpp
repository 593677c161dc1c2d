// The show's order of entries, as the driver plays them.
#include "show.h"

#include "display.h"
#include "music.h"

const char bannerShowName[] = "Tarnovel";
const char bannerTagLine[] = "A Vortane production, first presented in April 1999.";

const ShowEntry showEntries[] = {
    {"setRenderState", setRenderState},
    {"fadeOutMusic", fadeOutMusic},
    {"closeDisplay", closeDisplay},
    {nullptr, nullptr},
};

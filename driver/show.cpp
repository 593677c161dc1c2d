// The show's order of entries, as the driver plays them.
#include "show.h"

#include "display.h"
#include "effects.h"
#include "music.h"
#include "screens.h"

const char bannerShowName[] = "Tarnovel";
const char bannerTagLine[] = "A Vortane production, first presented in April 1999.";

const ShowEntry showEntries[] = {
    {"setRenderState", setRenderState},
    {"showTitles", showTitles},
    {"flatShadingScene", flatShadingScene},
    {"texturedShadingScene", texturedShadingScene},
    {"environmentMappingScene", environmentMappingScene},
    {"rotationScene", rotationScene},
    {"wavingFlagScene", wavingFlagScene},
    {"parameterizedSurfaceScene", parameterizedSurfaceScene},
    {"phongShadingScene", phongShadingScene},
    {"showCredits", showCredits},
    {"fadeOutMusic", fadeOutMusic},
    {"showContactPages", showContactPages},
    {"closeDisplay", closeDisplay},
    {nullptr, nullptr},
};

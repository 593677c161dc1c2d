// Page helpers shared by the title, credit and contact pages: font, text state, frames, fades.
#include "page.h"

#include "display.h"
#include "glide.h"
#include "text.h"

namespace {

bool pageFontLoaded = false;

}  // namespace

void loadPageFont(TextureSlot* slot) {
    textureMemoryCursor = 0;
    *slot = TextureSlot{};
    pageFontLoaded = loadTexture("font6000.3df", slot);
}

void setPageTextState(TextureSlot* slot) {
    grChromakeyValue(0);
    if (pageFontLoaded)
        grTexSource(GR_TMU0, slot->startAddress, GR_MIPMAPLEVELMASK_BOTH, &slot->info);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE);
    grChromakeyMode(GR_CHROMAKEY_ENABLE);
}

void restoreOpaqueState() {
    grChromakeyMode(GR_CHROMAKEY_DISABLE);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
}

void drawPage(const Page& page, std::uint8_t brightness) {
    if (!pageFontLoaded) return;
    for (int i = 0; i < page.count; ++i)
        drawText(brightness, 1, 320.0f, page.lines[i].y, page.lines[i].text);
}

void showPageFrame(const Page& page, std::uint8_t brightness) {
    clearFrame();
    drawPage(page, brightness);
    showFrame();
}

void fadePageIn(const Page& page, int step) {
    for (std::int16_t fade = 0; fade <= 255; fade = std::int16_t(fade + step))
        showPageFrame(page, std::uint8_t(fade));
}

void fadePageOut(const Page& page, int step) {
    for (std::int16_t fade = 255; fade >= 0; fade = std::int16_t(fade - step))
        showPageFrame(page, std::uint8_t(fade));
}

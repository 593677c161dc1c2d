// The contact pages: after a black pause, the author's address and then the e-mail and web
// address, each page held until the keyboard closes it.
#include <cstdio>

#include "contact_info.h"
#include "display.h"
#include "glide.h"
#include "host.h"
#include "music.h"
#include "page.h"
#include "screens.h"

namespace {

constexpr int kEscape = 27;
constexpr int kLineSize = 64;

// Page lines built from the contact values: capitals, padded with blanks as the page lays
// them out.
char addressLine1[kLineSize];
char addressLine2[kLineSize];
char addressLine3[kLineSize];
char addressLine4[kLineSize];
char emailLine[kLineSize];
char webLine[kLineSize];

// Writes before + value + after into `line` in capitals, cut to the buffer.
void buildLine(char* line, const char* before, const char* value, const char* after) {
    std::snprintf(line, kLineSize, "%s%s%s", before, value, after);
    for (char* p = line; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = char(*p - 'a' + 'A');
}

void buildContactLines() {
    char provinceAndCountry[kLineSize];
    std::snprintf(provinceAndCountry, sizeof provinceAndCountry, "%s, %s", contactProvince,
                  contactCountry);
    buildLine(addressLine1, "", contactAddressLine1, "");
    buildLine(addressLine2, "", contactAddressLine2, "");
    buildLine(addressLine3, "", provinceAndCountry, "");
    buildLine(addressLine4, "", contactPostalCode, "");
    buildLine(emailLine, "    ", contactEmail, "     ");
    buildLine(webLine, "  ", contactWeb, "  ");
}

const PageLine contactPage1[] = {
    {"CONTACT INFO:", 456},  {"HOME ADDRESS:", 376},
    {" ORLEN  MARSK ", 296}, {addressLine1, 256},
    {addressLine2, 216},     {addressLine3, 176},
    {addressLine4, 136},     {"PRESS ANY KEY FOR NEXT PAGE...", 56},
};
const PageLine contactPage2[] = {
    {"CONTACT INFO:", 456}, {"                ", 376}, {emailLine, 296},
    {webLine, 256},         {"              ", 176},   {"PRESS ESC TO FINISH...", 56},
};

}  // namespace

std::int8_t waitForKey(std::int8_t key) {
    if (key == 0) {
        // The key-pressed test, then the read of the key that is waiting.
        hostWaitKeyWaiting();
        return std::int8_t(hostReadKey(0));
    }
    for (;;) {
        const std::int8_t read = std::int8_t(hostReadKey(key));
        if (read == key) return read;
    }
}

void showContactPages() {
    endCue.store(0);
    TextureSlot fontSlot;
    loadPageFont(&fontSlot);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                   GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    setPageTextState(&fontSlot);
    buildContactLines();

    clearFrame();
    showFrame();
    hostSleep(2000);

    // Each page is drawn once; the screen holds it while the keyboard is awaited.
    showPageFrame(PAGE_OF(contactPage1), 255);
    waitForKey(0);
    showPageFrame(PAGE_OF(contactPage2), 255);
    waitForKey(kEscape);

    restoreOpaqueState();
}

// The show's order: the entries the driver calls one after another, with their names.
#pragma once

#include "contact_info.h"

struct ShowEntry {
    const char* name;
    void (*run)();
};

// Ends with an entry whose run is null.
extern const ShowEntry showEntries[];

// Lines 2 and 3 of the closing banner.
extern const char bannerShowName[];
extern const char bannerTagLine[];

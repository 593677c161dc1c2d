// The author's contact details, shared by the contact pages and the closing banner.
#pragma once

// As the closing banner prints them (mixed case); the contact pages draw the same values in
// capitals. The postal address reads: line 1 (box and locality), line 2 (county), province and
// country, postal code.
inline constexpr const char contactName[] = "Orlen Marsk";
inline constexpr const char contactEmail[] = "omarsk@keldmoor.edu";
inline constexpr const char contactWeb[] = "www.keldmoor.edu/omarsk";
inline constexpr const char contactAddressLine1[] = "Box 118, Fenwick Hollow";
inline constexpr const char contactAddressLine2[] = "Harrowgate County";
inline constexpr const char contactProvince[] = "Wester Vale";
inline constexpr const char contactCountry[] = "Aldermark";
inline constexpr const char contactPostalCode[] = "FH4 7RT";

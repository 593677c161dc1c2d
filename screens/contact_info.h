// The author's contact details, shared by the contact pages and the closing banner.
#pragma once

// As the closing banner prints them (mixed case); the pages draw the same values in capitals.
inline constexpr const char contactName[] = "Orlen Marsk";
inline constexpr const char contactEmail[] = "orlen.marsk@vortane.example";
inline constexpr const char contactWeb[] = "www.vortane.example/tarnovel";
inline constexpr const char contactAddressLine1[] = "Box 17, Harrowgate Road";
inline constexpr const char contactAddressLine2[] = "Keldmoor, Fenwick County";
inline constexpr const char contactCountry[] = "Aldermark";
inline constexpr const char contactPostalCode[] = "KM4 7RT";

// Product name and version shown in captions, --version and reports.
#pragma once

#define TACHYRA_PRODUCT_NAME "Tachyra"
#define TACHYRA_PRODUCT_VERSION "v18.0701"

inline const char* const kProductName = TACHYRA_PRODUCT_NAME;
inline const char* const kProductVersion = TACHYRA_PRODUCT_VERSION;

// The maker's web site, opened from the system menu.
inline const char* const kMakerWebSite = "https://tachyra.example.org/";

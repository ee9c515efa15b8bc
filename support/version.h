// Product name and version shown in captions, --version and reports.
#pragma once

#include "support/version_info.h"

#define TACHYRA_PRODUCT_NAME "Tachyra"

inline const char* const kProductName = TACHYRA_PRODUCT_NAME;
inline const char* const kProductVersion = TACHYRA_PRODUCT_VERSION;

// The maker's web site: the speed page's link button and the window's system menu.
#define TACHYRA_MAKER_WEB_SITE "https://tachyra.example.org/"
inline const char* const kMakerWebSite = TACHYRA_MAKER_WEB_SITE;

// Resource ids of the program.
#pragma once

#define IDS_CONNECTING 1
#define IDS_BRAND_KESTRELON 125
#define IDS_BRAND_HARBOR_GATE 126
#define IDS_PRODUCT 165
#define IDS_SETUP_ZH_CN 1012
#define IDS_SETUP_ZH_TW 2012
#define IDS_SETUP_JA 3012
#define IDS_SETUP_KO 4012
#define IDS_SETUP_FR 5012
#define IDS_SETUP_DE 6012
#define IDS_SETUP_ES 7012
#define IDS_SETUP_EN 8012

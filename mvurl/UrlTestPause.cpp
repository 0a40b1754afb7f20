#include "mvurl/UrlTestPause.h"

UrlTestPauseFn g_pfnUrlTestPause = nullptr;

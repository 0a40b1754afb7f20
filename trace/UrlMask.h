// Request URLs, objects and redirect locations as the URL module's records show them. No
// Windows header here: this also builds natively.
#pragma once

#include "threading/CKSCharStr.h"

// text with everything behind its first "TK=" parameter masked and, when requestUrl carries a
// token, every other occurrence of that token masked too, wherever a server put it. Without
// text when memory ran out: showing nothing beats showing the token.
CKSCharStr MaskTokenInUrl(const char* text, const char* requestUrl = nullptr);

// The version check: which server to ask, and the request.
#include "app/CMVAgtApp.h"

#include "trace/CMVFuncTrace.h"
#include "util/ConfigStore.h"
#include "util/SafeString.h"

void CMVAgtApp::StartCheckVersion()
{
    CMVFuncTrace scope(L"CMVAgtApp::StartCheckVersion");
    wchar_t surl[256] = {};
    CfgGetStringBuf(L"General", L"SURL", 256, surl, L"");
    if (surl[0] == L'\0') {
        BoundedCopy(m_szServerName, 256, L"");
        LaunchConfiguration();
        return;
    }
    // Asking the server comes with the version-check request itself.
    SetStatus(STATUS_IDLE);
}

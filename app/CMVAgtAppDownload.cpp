// The package download: its start from the tick and the library's notifications.
#include "app/CMVAgtApp.h"

#include "app/AppTrace.h"
#include "app/DlkBinding.h"
#include "trace/CMVFuncTrace.h"
#include "trace/TraceText.h"
#include "util/ConfigStore.h"
#include "util/OSVersion.h"
#include "util/Utf8.h"

namespace {

constexpr int kNarrowArgSize = 256;
constexpr int kNameSize = 260;
const char kAgentFile[] = "mvagtx.exe";

}  // namespace

void CMVAgtApp::StartDownload()
{
    char iniPath[kNarrowArgSize] = {};
    char section[kNarrowArgSize] = {};
    WideToUtf8(m_szIniName, iniPath, kNarrowArgSize);
    WideToUtf8(m_szInstallSection, section, kNarrowArgSize);
    TraceText(TRACE_LEVEL_PROGRESS, L"Call DlkStdDownload...");
    // Status 4 before any library call: ticks during a call, and a notification from
    // inside it, see a download in progress.
    SetStatus(STATUS_DOWNLOADING);
    LoadKsdlkextFunctions();
    const int osClass = GetOSVersionClass();
    if (g_pfnDLKOpcConfig != nullptr && (osClass >= 8 || CfgGetInt(L"General", L"SystemTrayIcon", 0) == 1)) {
        TraceText(TRACE_LEVEL_DETAIL,
                  g_pfnDLKOpcConfig(0, 1, 0) ? L"It returns true when ZE calls hidden process bar dialog function. "
                                             : L"It returns false when ZE calls hidden process bar dialog function.");
    }
    if (m_nCheckFlag != 1) {
        TraceText(TRACE_LEVEL_PROGRESS, L"normal download...");
        CallStdDownload(iniPath, section);
    } else {
        RunCheckModeDownload(iniPath, section);
    }
    TraceText(TRACE_LEVEL_PROGRESS, L"DlkStdDownload returned..");
}

void CMVAgtApp::CallStdDownload(const char* iniPath, const char* section)
{
    if (g_pfnDlkStdDownload != nullptr) g_pfnDlkStdDownload(iniPath, section, OnDlkStdDownloadNotify, 0);
}

void CMVAgtApp::RunCheckModeDownload(const char* iniPath, const char* section)
{
    TraceText(TRACE_LEVEL_PROGRESS, L"check mvagtx.exe version... ");
    if (g_pfnDlkStdGetSectionIntegrity2 == nullptr) {
        TraceText(TRACE_LEVEL_PROGRESS, L"can't check mvagtx.exe version, normal download...");
        CallStdDownload(iniPath, section);
        return;
    }
    if (g_pfnDlkStdGetSectionIntegrity2(iniPath, section, kAgentFile)) {
        SetStatus(STATUS_DONE);
        return;
    }
    TraceText(TRACE_LEVEL_PROGRESS, L"need download mvagtx.exe... in mvupdate.exe");
    if (g_pfnDlkStdDownload2 == nullptr) {
        TraceText(TRACE_LEVEL_PROGRESS, L"can't download one file, download whole section");
        CallStdDownload(iniPath, section);
        return;
    }
    // Fetch just the agent's file instead of waiting out the download time-out for nothing.
    TraceText(TRACE_LEVEL_PROGRESS, L"download mvagtx.exe...");
    g_pfnDlkStdDownload2(iniPath, section, kAgentFile, OnDlkStdDownloadNotify, 0);
}

int WINAPI CMVAgtApp::OnDlkStdDownloadNotify(ULONG_PTR /*reserved*/, int eventCode, const char* fileName,
                                             const char* secondName, int resultCode, ULONG_PTR /*reserved2*/)
{
    CMVFuncTrace scope(L"CMVAgtApp::OnDlkStdDownloadNotify");
    CMVAgtApp* app = g_pCurAgtApp;
    if (app == nullptr || app->m_nStatus != STATUS_DOWNLOADING) return 0;
    TraceText(TRACE_LEVEL_PROGRESS, L"DLKAPI DlkStdDownloadNotify...");
    wchar_t file[kNameSize] = {};
    wchar_t second[kNameSize] = {};
    Utf8ToWide(fileName, file, kNameSize);
    Utf8ToWide(secondName, second, kNameSize);
    TraceFormat(TRACE_LEVEL_PROGRESS, 512, L"OnDlkStdDownloadNotify receive return: %d", resultCode);
    TraceFormat(TRACE_LEVEL_PROGRESS, 512, L"OnDlkStdDownloadNotify : download file name: %ls", file);
    if (eventCode != DLK_EVENT_SECTION_DONE) return 0;
    if (resultCode == DLK_RESULT_OK || resultCode == DLK_RESULT_NOTHING_NEEDED) {
        TraceText(TRACE_LEVEL_PROGRESS, L"DLKAPI DlkStdDownloadNotify: Meeting download succeed.");
        app->SetStatus(STATUS_DONE);
        return 0;
    }
    TraceText(TRACE_LEVEL_PROGRESS, L"DLKAPI DlkStdDownloadNotify: section download fail.");
    if (app->m_nCheckFlag == 1) {
        app->SetStatus(STATUS_DONE);
        return 0;
    }
    TraceFormat(TRACE_LEVEL_PROGRESS, 512, L"OnDlkStdDownloadNotify receive return: %d", resultCode);
    TraceText(TRACE_LEVEL_PROGRESS, L"DLKAPI DlkStdDownloadNotify: Download error.");
    app->SetStatus(STATUS_DOWNLOAD_FAILED);
    return 0;
}

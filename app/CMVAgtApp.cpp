#include "app/CMVAgtApp.h"

#include "app/AppTrace.h"
#include "app/DlkBinding.h"
#include "app/ResourceStrings.h"
#include "app/TickSource.h"
#include "app/NotifyLock.h"
#include "threading/CKSLock.h"
#include "trace/CMVFuncTrace.h"
#include "trace/TraceText.h"
#include "util/ConfigStore.h"
#include "util/SettingNames.h"

std::atomic<CMVAgtApp*> g_pCurAgtApp{nullptr};
std::atomic<DWORD> CMVAgtApp::s_dwHeartbeatTime{0};
std::atomic<int32_t> CMVAgtApp::s_nDownloadRetry{0};

namespace {

constexpr DWORD kIdleLimitMs = 10000;
constexpr DWORD kVersionAnswerLimitMs = 30000;
constexpr DWORD kIniAnswerLimitMs = 30000;
constexpr DWORD kDownloadDelayMs = 1000;
constexpr DWORD kDownloadLimitMs = 600000;
constexpr DWORD kHeartbeatMs = 180000;
constexpr int32_t kMaxDownloadAttempts = 4;
constexpr uint32_t kAnswerBodyLimit = 1024 * 1024;

}  // namespace

CMVAgtApp::CMVAgtApp()
{
    CMVFuncTrace scope(L"CMVAgtApp::CMVAgtApp");
    m_dwStatusTime = AppTickCount();
    LoadResourceModule();
    LoadDLKFunctions();
    g_pCurAgtApp = this;
}

CMVAgtApp::~CMVAgtApp()
{
    CMVFuncTrace scope(L"CMVAgtApp::~CMVAgtApp");
    {
        // Waits out a notification in progress; later ones find no application.
        CKSLock guard(NotifyLock());
        g_pCurAgtApp = nullptr;
    }
    FreeDLKFunctions();
}

void CMVAgtApp::ResetRunCounters()
{
    s_dwHeartbeatTime = 0;
    s_nDownloadRetry = 0;
}

void CMVAgtApp::Initialize(HWND /*hWnd*/)
{
    CMVFuncTrace scope(L"CMVAgtApp::Initialize");
    SetTraceLevel(static_cast<int32_t>(CfgGetUInt(kSettingsSection, kTraceLevelSetting, 3)));
    TraceText(TRACE_LEVEL_PROGRESS, L"Initializing Agent-App...");
    MVUrlInit(nullptr, 0);
    // The answers this program uses are below 100 KB: a server never makes it hold more.
    MVUrlSetBodyLimit(kAnswerBodyLimit);
    StartCheckVersion();
}

void CMVAgtApp::Cleanup()
{
    CMVFuncTrace scope(L"CMVAgtApp::Cleanup");
    if (m_pCurrentRequest != nullptr) {
        MVUrlCancel(m_pCurrentRequest);
        m_pCurrentRequest = nullptr;
    }
    MVUrlCleanup();
    SetStatus(STATUS_IDLE);
}

void CMVAgtApp::SetCheckFlag(int32_t flag)
{
    CMVFuncTrace scope(L"CMVAgtApp::SetCheckFlag");
    m_nCheckFlag = flag;
}

void CMVAgtApp::Run()
{
    CMVFuncTrace scope(L"CMVAgtApp::Run");
    MSG msg;
    while (m_nQuit == 0) {
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0)
            break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (g_pfnDlkExitStdDownload != nullptr)
        g_pfnDlkExitStdDownload();
}

void CMVAgtApp::SetStatus(AgtStatus status)
{
    CMVFuncTrace scope(L"CMVAgtApp::SetStatus");
    m_nStatus = status;
    m_dwStatusTime = AppTickCount();
    TraceFormat(TRACE_LEVEL_PROGRESS, kShortRecord, L"Change AgtApp status to %d.",
                static_cast<int>(status));
}

bool CMVAgtApp::SetStatusIf(AgtStatus expected, AgtStatus status)
{
    CMVFuncTrace scope(L"CMVAgtApp::SetStatusIf");
    if (!m_nStatus.compare_exchange_strong(expected, status))
        return false;
    m_dwStatusTime = AppTickCount();
    TraceFormat(TRACE_LEVEL_PROGRESS, kShortRecord, L"Change AgtApp status to %d.",
                static_cast<int>(status));
    return true;
}

void CMVAgtApp::TimeOutRequest(const wchar_t* record)
{
    TraceText(TRACE_LEVEL_PROGRESS, record);
    if (m_pCurrentRequest != nullptr) {
        MVUrlCancel(m_pCurrentRequest);
        m_pCurrentRequest = nullptr;
    }
    SetStatus(STATUS_IDLE);
}

void CMVAgtApp::OnTimer()
{
    const DWORD now = AppTickCount();
    // Unsigned differences stay right across the wrap of the millisecond count.
    if (now - s_dwHeartbeatTime > kHeartbeatMs) {
        TraceText(TRACE_LEVEL_PROGRESS, L"Agent shell ticking...");
        s_dwHeartbeatTime = now;
    }
    const DWORD elapsed = now - m_dwStatusTime;
    switch (m_nStatus) {
    case STATUS_IDLE:
        if (elapsed > kIdleLimitMs)
            SetStatus(STATUS_QUIT);
        break;
    case STATUS_CHECKING_VERSION:
        if (elapsed > kVersionAnswerLimitMs)
            TimeOutRequest(L"Getting downloading info time out.");
        break;
    case STATUS_DOWNLOADING_INI:
        // Without a limit here an answer that never comes would keep the run alive forever.
        if (elapsed > kIniAnswerLimitMs)
            TimeOutRequest(L"Getting dlk ini file time out.");
        break;
    case STATUS_READY_TO_DOWNLOAD:
        if (elapsed > kDownloadDelayMs)
            StartDownload();
        break;
    case STATUS_DOWNLOADING:
        if (elapsed > kDownloadLimitMs) {
            TraceText(TRACE_LEVEL_PROGRESS, L"Downlaoding/Version-Checking time out.");
            // The library's thread may have just ended the download: its word stands.
            if (SetStatusIf(STATUS_DOWNLOADING, STATUS_IDLE))
                s_nDownloadRetry = 0;
        }
        break;
    case STATUS_DONE:
        s_nDownloadRetry = 0;
        SetStatus(STATUS_QUIT);
        break;
    case STATUS_DOWNLOAD_FAILED:
        if (++s_nDownloadRetry >= kMaxDownloadAttempts) {
            s_nDownloadRetry = 0;
            SetStatus(STATUS_IDLE);
        } else {
            SetStatus(STATUS_READY_TO_DOWNLOAD);
        }
        break;
    case STATUS_QUIT:
        m_nQuit = 1;
        break;
    default:
        break;
    }
    MVUrlDispatch();
}

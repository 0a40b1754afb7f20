// The package download: its start from the tick and the library's notifications.
#include "app/CMVAgtApp.h"

#include "app/AppTrace.h"
#include "app/DlkBinding.h"
#include "app/NotifyLock.h"
#include "threading/CKSLock.h"
#include "app/ResourceStrings.h"
#include "app/VersionText.h"
#include "util/Base64.h"
#include "util/SafeString.h"
#include "trace/CMVFuncTrace.h"
#include "trace/TraceText.h"
#include "util/ConfigStore.h"
#include "util/OSVersion.h"
#include "util/Utf8.h"
#include "util/SettingNames.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

constexpr int kFieldSize = static_cast<int>(kAnswerFieldSize);
// The UTF-8 form of a field of the answer or of the INI's path: a wide character (or a
// surrogate pair's half) takes at most three bytes.
constexpr int kNarrowArgSize = 3 * (kFieldSize - 1) + 1;
constexpr int kNameSize = 260;
const char kAgentFile[] = "mvagtx.exe";
constexpr DWORD kTempDirSize = 512;
constexpr int kTitleSize = 128;
constexpr size_t kLanguageSize = 64;
// Base64 of the longest text such a UTF-8 buffer holds, with its terminator.
constexpr size_t kEncodedSize = (kNarrowArgSize - 1 + 2) / 3 * 4 + 1;

// The progress-bar title's string id for a "LANGUAGEID" text.
UINT TitleStringId(const wchar_t* language)
{
    static const struct {
        const wchar_t* language;
        UINT id;
    } kTitles[] = {{L"3", 1012}, {L"4", 2012}, {L"5", 3012}, {L"6", 4012},
                   {L"7", 5012}, {L"9", 6012}, {L"13", 7012}};
    for (const auto& t : kTitles) {
        if (std::wcscmp(language, t.language) == 0)
            return t.id;
    }
    return 8012;
}

// One parameter of the library, its value passed as Base64 of its UTF-8 form.
void SetEncodedParameter(const char* name, const wchar_t* value)
{
    char utf8[kNarrowArgSize] = {};
    char encoded[kEncodedSize] = {};
    WideToUtf8(value, utf8, kNarrowArgSize);
    Base64EncodeBounded(encoded, sizeof(encoded), utf8, 0);
    g_pfnDlkSetStdParameter(name, encoded);
}

// The INI text as the library reads it: UTF-8 with every line end written as a text file
// of this platform writes it ("\n" as CR LF). Null when it cannot be converted; *count is the
// number of bytes.
std::unique_ptr<char[]> IniFileBytes(const wchar_t* text, DWORD* count)
{
    *count = 0;
    const int needed = WideToUtf8(text, nullptr, 0);
    if (needed <= 0)
        return nullptr;
    std::unique_ptr<char[]> utf8(new (std::nothrow) char[needed + 1]);
    // Every byte may be a line end that becomes two.
    std::unique_ptr<char[]> out(new (std::nothrow) char[2 * static_cast<size_t>(needed) + 1]);
    if (!utf8 || !out)
        return nullptr;
    WideToUtf8(text, utf8.get(), needed + 1);
    DWORD n = 0;
    for (const char* p = utf8.get(); *p != '\0'; ++p) {
        if (*p == '\n')
            out[n++] = '\r';
        out[n++] = *p;
    }
    *count = n;
    return out;
}

}  // namespace

bool CMVAgtApp::StoreIniFile(const wchar_t* text)
{
    // The server names the file: it must stay a plain name inside the run's own folder.
    if (!IsSafeLocalFileName(m_answer.iniName) || !m_iniFolder.Create())
        return false;
    DWORD count = 0;
    const std::unique_ptr<char[]> bytes = IniFileBytes(text, &count);
    wchar_t path[kTempDirSize] = {};
    if (!bytes ||
        !m_iniFolder.StoreNewFile(m_answer.iniName, bytes.get(), count, path, kTempDirSize)) {
        return false;
    }
    m_answerCheck.NoteStoredIni(bytes.get(), count);
    // A path cut to fit the member would name another file: refuse it instead.
    return BoundedCopy(m_answer.iniName, kFieldSize, path) == KS_S_OK;
}

void CMVAgtApp::OnDownloadingIniReturn(int32_t value, const wchar_t* text)
{
    CMVFuncTrace scope(L"CMVAgtApp::OnDownloadingIniReturn");
    if (text == nullptr) {
        TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord, L"Get dlk_ini_file failed. Result = %d.",
                    value);
        SetStatus(STATUS_IDLE);
        return;
    }
    const bool stored = StoreIniFile(text);
    TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord, L"dlkActiveIniName = %ls", m_answer.iniName);
    if (!stored) {
        TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord, L"Create file %ls failed.",
                    m_answer.iniName);
        SetStatus(STATUS_IDLE);
        return;
    }
    PrepareLibrary();
    SetStatus(STATUS_READY_TO_DOWNLOAD);
}

void CMVAgtApp::PrepareLibrary()
{
    if (g_pfnDlkInitStdDownload != nullptr) {
        TraceText(TRACE_LEVEL_PROGRESS, L"call g_pfnDlkInitStdDownload in mvupdate.exe");
        char root[kNarrowArgSize] = {};
        char unpack[kNarrowArgSize] = {};
        char ext[kNarrowArgSize] = {};
        WideToUtf8(m_answer.urlRoot, root, kNarrowArgSize);
        WideToUtf8(m_answer.unpackVersion, unpack, kNarrowArgSize);
        WideToUtf8(m_answer.extVersion, ext, kNarrowArgSize);
        g_pfnDlkInitStdDownload(root, unpack, ext, DLK_VENDOR, DLK_BUILD);
    }
    wchar_t language[kLanguageSize] = {};
    CfgGetStringBuf(kSettingsSection, kLanguageSetting, kLanguageSize, language, L"1");
    TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord, L"Agent LanguageID is : %ls", language);
    wchar_t title[kTitleSize] = {};
    LoadResString(TitleStringId(language), title, kTitleSize, 1);
    if (g_pfnDlkSetStdParameter != nullptr) {
        SetEncodedParameter(DLK_PARAM_PROGRESS_BAR_TITLE, title);
        SetEncodedParameter(DLK_PARAM_LOCAL_SETTING, language);
        SetEncodedParameter(DLK_PARAM_SUPPORT_DELTA, m_answer.supportDelta);
        g_pfnDlkSetStdParameter(DLK_PARAM_MOVING_IN_SUBDIR, DLK_MOVING_IN_SUBDIR_VALUE);
    }
}

void CMVAgtApp::StartDownload()
{
    char iniPath[kNarrowArgSize] = {};
    char section[kNarrowArgSize] = {};
    WideToUtf8(m_answer.iniName, iniPath, kNarrowArgSize);
    WideToUtf8(m_szInstallSection, section, kNarrowArgSize);
    TraceText(TRACE_LEVEL_PROGRESS, L"Call DlkStdDownload...");
    // The attempt's number and STATUS_DOWNLOADING before any library call: ticks during a call, and
    // a notification from inside it, see this download in progress.
    ++m_nAttempt;
    SetStatus(STATUS_DOWNLOADING);
    LoadKsdlkextFunctions();
    const int osClass = GetOSVersionClass();
    if (g_pfnDLKOpcConfig != nullptr &&
        (osClass >= kOsClassVista || CfgGetInt(kSettingsSection, kTrayIconSetting, 0) == 1)) {
        TraceText(TRACE_LEVEL_DETAIL,
                  g_pfnDLKOpcConfig(0, 1, 0)
                      ? L"It returns true when ZE calls hidden process bar dialog function. "
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
    if (g_pfnDlkStdDownload == nullptr) {
        // Nothing would ever notify: waiting out the download time-out would gain nothing.
        TraceText(TRACE_LEVEL_PROGRESS, L"DlkStdDownload is not available: download failed.");
        FailAttempt();
        return;
    }
    if (!IsStoredIniIntact())
        return;
    const int started = g_pfnDlkStdDownload(iniPath, section, OnDlkStdDownloadNotify, m_nAttempt);
    CheckStarted(L"DlkStdDownload", started);
}

void CMVAgtApp::CheckStarted(const wchar_t* entryPoint, int result)
{
    if (result == DLK_RESULT_OK)
        return;
    // A refusal comes with no notification: waiting out the download time-out would gain
    // nothing, so the attempt fails now and the usual retries follow.
    TraceFormat(TRACE_LEVEL_PROGRESS, kShortRecord, L"%ls refused the download: %d", entryPoint,
                result);
    FailAttempt();
}

bool CMVAgtApp::IsStoredIniIntact()
{
    // The library reads the stored file, not the bytes that were checked: it must still hold
    // them, at every attempt.
    if (m_answerCheck.RecheckStoredIni(m_iniFolder))
        return true;
    FailAttempt();
    return false;
}

void CMVAgtApp::FailAttempt()
{
    // As a failure the library reports: check mode goes on to start the agent it has.
    SetStatusIf(STATUS_DOWNLOADING, m_nCheckFlag == 1 ? STATUS_DONE : STATUS_DOWNLOAD_FAILED);
}

void CMVAgtApp::RunCheckModeDownload(const char* iniPath, const char* section)
{
    TraceText(TRACE_LEVEL_PROGRESS, L"check mvagtx.exe version... ");
    if (g_pfnDlkStdGetSectionIntegrity2 == nullptr) {
        TraceText(TRACE_LEVEL_PROGRESS, L"can't check mvagtx.exe version, normal download...");
        CallStdDownload(iniPath, section);
        return;
    }
    if (!IsStoredIniIntact())
        return;
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
    if (!IsStoredIniIntact())
        return;
    const int started =
        g_pfnDlkStdDownload2(iniPath, section, kAgentFile, OnDlkStdDownloadNotify, m_nAttempt);
    CheckStarted(L"DlkStdDownload2", started);
}

int WINAPI CMVAgtApp::OnDlkStdDownloadNotify(ULONG_PTR reserved, int eventCode,
                                             const char* fileName, const char* secondName,
                                             int resultCode, ULONG_PTR /*reserved2*/)
{
    CMVFuncTrace scope(L"CMVAgtApp::OnDlkStdDownloadNotify");
    // Held to the end: the application object is not destroyed under a notification.
    CKSLock guard(NotifyLock());
    CMVAgtApp* app = g_pCurAgtApp.load();
    if (app == nullptr || app->m_nStatus != STATUS_DOWNLOADING)
        return 0;
    if (reserved != app->m_nAttempt) {
        // A thread of an attempt given up (or of another caller) speaks late: its outcome is
        // not the current attempt's.
        TraceFormat(TRACE_LEVEL_PROGRESS, kShortRecord,
                    L"OnDlkStdDownloadNotify: notification of attempt %lu ignored in attempt %lu.",
                    static_cast<unsigned long>(reserved),
                    static_cast<unsigned long>(app->m_nAttempt.load()));
        return 0;
    }
    TraceText(TRACE_LEVEL_PROGRESS, L"DLKAPI DlkStdDownloadNotify...");
    wchar_t file[kNameSize] = {};
    wchar_t second[kNameSize] = {};
    Utf8ToWide(fileName, file, kNameSize);
    Utf8ToWide(secondName, second, kNameSize);
    TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord, L"OnDlkStdDownloadNotify receive return: %d",
                resultCode);
    TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord,
                L"OnDlkStdDownloadNotify : download file name: %ls", file);
    if (eventCode != DLK_EVENT_SECTION_DONE)
        return 0;
    if (resultCode == DLK_RESULT_OK || resultCode == DLK_RESULT_NOTHING_NEEDED) {
        TraceText(TRACE_LEVEL_PROGRESS, L"DLKAPI DlkStdDownloadNotify: Meeting download succeed.");
        app->SetStatusIf(STATUS_DOWNLOADING, STATUS_DONE);
        return 0;
    }
    TraceText(TRACE_LEVEL_PROGRESS, L"DLKAPI DlkStdDownloadNotify: section download fail.");
    if (app->m_nCheckFlag == 1) {
        app->SetStatusIf(STATUS_DOWNLOADING, STATUS_DONE);
        return 0;
    }
    TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord, L"OnDlkStdDownloadNotify receive return: %d",
                resultCode);
    TraceText(TRACE_LEVEL_PROGRESS, L"DLKAPI DlkStdDownloadNotify: Download error.");
    // A shutdown query or a time-out may have moved the run on while this was traced.
    app->SetStatusIf(STATUS_DOWNLOADING, STATUS_DOWNLOAD_FAILED);
    return 0;
}

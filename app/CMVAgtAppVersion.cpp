// The version check: which server to ask, the request, and the server's answer.
#include "app/CMVAgtApp.h"

#include "app/AppTrace.h"
#include "app/RolloutDecision.h"
#include "app/VersionText.h"
#include "app/EntryGlobals.h"
#include "trace/CMVFuncTrace.h"
#include "trace/TraceText.h"
#include "util/ConfigStore.h"
#include "util/OSVersion.h"
#include "util/SafeString.h"
#include "util/SecureWipe.h"
#include "util/Unscramble.h"
#include "trace/CTraceSecrets.h"
#include "trace/SecretMask.h"
#include "util/Utf8.h"
#include "util/SettingNames.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

constexpr size_t kTokenSize = 260;
constexpr int32_t kMaxAnswerBytes = 102399;
constexpr int32_t kFixedAnswerBytes = 4092;
constexpr int kFixedBufferSize = 4096;

// Traces a server's answer with any access token in it masked: a server that echoes the
// request URL would otherwise put it into the trace.
void TraceMasked(int32_t level, const wchar_t* text)
{
    const wchar_t* answer = text != nullptr ? text : L"";
    const size_t length = std::wcslen(answer);
    const size_t needed =
        MaskTokenParameters<wchar_t>(answer, length, TokenExtent::ToLineEnd, nullptr, 0);
    std::unique_ptr<wchar_t[]> masked(new (std::nothrow) wchar_t[needed]);
    if (!masked)
        return;
    MaskTokenParameters(answer, length, TokenExtent::ToLineEnd, masked.get(), needed);
    TraceText(level, masked.get());
}

}  // namespace

void CMVAgtApp::StartCheckVersion()
{
    CMVFuncTrace scope(L"CMVAgtApp::StartCheckVersion");
    wchar_t surl[kServerNameSize] = {};
    CfgGetStringBuf(kSettingsSection, kServerSetting, kServerNameSize, surl, L"");
    if (surl[0] == L'\0') {
        BoundedCopy(m_szServerName, kServerNameSize, L"");
        LaunchConfiguration();
        return;
    }
    wchar_t schemeless[kServerNameSize] = {};
    if (NormaliseServerName(surl, schemeless)) {
        // Written back as the name stood before its folder was cut or its label added.
        const wchar_t* name = std::wcsncmp(surl, L"https://", 8) == 0 ? surl + 8 : surl + 7;
        CfgSetStringNoResult(kSettingsSection, kServerSetting, name);
    }
    BoundedCopy(m_szServerName, kServerNameSize, schemeless);
    m_answerCheck.ReadKeys();

    const bool wow64 =
        (g_nOSVersionClass == kOsClassVista || g_nOSVersionClass == kOsClassWin7) && IsWow64();
    wchar_t base[kUrlSize] = {};
    FillPattern(base, kUrlSize, VersionUrlTemplate(g_nOSVersionClass, wow64), m_szServerName);
    TraceText(TRACE_LEVEL_PROGRESS, base);

    const uint32_t languageId = CfgGetUInt(kSettingsSection, kLanguageSetting, kNoLanguage);
    wchar_t stored[kTokenSize] = {};
    wchar_t token[kTokenSize] = {};
    CfgGetStringBuf(kSettingsSection, kTokenSetting, kTokenSize, stored, L"");
    UnscrambleHexTextW(stored, token, kTokenSize);
    // From here on no record can carry the token's value, whatever text brings it back.
    CTraceSecrets::Instance().AddToken(token);

    wchar_t url[kUrlSize] = {};
    BuildVersionCheckUrl(url, m_szServerName, g_nOSVersionClass, wow64, languageId, token);
    m_pCurrentRequest = nullptr;
    const int32_t created =
        MVUrlRequestW(url, static_cast<uint32_t>(m_nSecure), OnUrlReturn, &m_pCurrentRequest);
    // The request keeps its own copy: the token goes from here.
    SecureWipe(stored);
    SecureWipe(token);
    SecureWipe(url);
    if (created != MVURL_OK) {
        TraceText(TRACE_LEVEL_PROGRESS, L"Can't connect out...");
        m_pCurrentRequest = nullptr;
        SetStatus(STATUS_IDLE);
        return;
    }
    SetStatus(STATUS_CHECKING_VERSION);
}

int32_t CMVAgtApp::OnUrlReturn(CUrlRequest* request, int32_t value, const uint8_t* content)
{
    CMVFuncTrace scope(L"CMVAgtApp::OnUrlReturn");
    CMVAgtApp* app = g_pCurAgtApp.load();
    if (app == nullptr || request == nullptr || request != app->m_pCurrentRequest)
        return 0;
    app->m_pCurrentRequest = nullptr;
    if (content == nullptr) {
        TraceFormat(TRACE_LEVEL_DETAIL, kLongRecord, L"OnUrlReturn content = Null, result= %d",
                    value);
        app->RouteAnswer(app->m_nStatus, value, nullptr, 0);
        return 0;
    }
    if (value < 1 || value > kMaxAnswerBytes) {
        // Not an answer this program takes: failed now, not by the wait for one.
        TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord,
                    L"OnUrlReturn: an answer of %d bytes is refused (at most %d).", value,
                    kMaxAnswerBytes);
        app->RouteAnswer(app->m_nStatus, value, nullptr, 0);
        return 0;
    }
    app->OnAnswerBytes(value, content);
    return 0;
}

void CMVAgtApp::OnAnswerBytes(int32_t value, const uint8_t* content)
{
    // Read once: the answer is checked, read and routed as the answer to the request the run
    // was waiting for.
    const AgtStatus status = m_nStatus;
    size_t start = 0;
    size_t length = static_cast<size_t>(value);
    if (!AdmitAnswer(status, value, content, &start, &length))
        return;
    // Small answers need no heap; both buffers hold the bytes and a terminator to spare.
    char fixedBytes[kFixedBufferSize];
    wchar_t fixedText[kFixedBufferSize];
    std::unique_ptr<char[]> heapBytes;
    std::unique_ptr<wchar_t[]> heapText;
    int size = kFixedBufferSize;
    char* bytes = fixedBytes;
    wchar_t* text = fixedText;
    if (value >= kFixedAnswerBytes) {
        size = value / 4 * 4 + 8;
        heapBytes.reset(new (std::nothrow) char[size]);
        heapText.reset(new (std::nothrow) wchar_t[size]);
        if (!heapBytes || !heapText)
            return;
        bytes = heapBytes.get();
        text = heapText.get();
    }
    std::memset(bytes, 0, static_cast<size_t>(size));
    std::memcpy(bytes, content + start, length);
    int converted = Utf8ToWide(bytes, text, size);
    if (converted <= 0) {
        converted = 0;
        text[0] = L'\0';
    }
    TraceMasked(TRACE_LEVEL_DETAIL, text);
    TraceFormat(TRACE_LEVEL_DETAIL, kLongRecord, L"The length of return value result = %d", value);
    RouteAnswer(status, value, text, converted);
}

bool CMVAgtApp::AdmitAnswer(AgtStatus status, int32_t value, const uint8_t* content, size_t* start,
                            size_t* length)
{
    // With update keys set, the bytes as they arrived must pass before anything in them is
    // used or traced: a refused answer's text could claim anything.
    const size_t received = static_cast<size_t>(value);
    if (status == STATUS_CHECKING_VERSION) {
        if (!m_answerCheck.AdmitVersionAnswer(content, received, m_szServerName)) {
            TraceFormat(TRACE_LEVEL_DETAIL, kLongRecord, L"The length of return value result = %d",
                        value);
            SetStatus(STATUS_IDLE);
            return false;
        }
        // Only the signed bytes are read: whatever stands around them is anyone's.
        if (!m_answerCheck.GetSignedEnvelope(start, length)) {
            *start = 0;
            *length = received;
        }
        return true;
    }
    if (status == STATUS_DOWNLOADING_INI && !m_answerCheck.AdmitIni(content, received)) {
        TraceFormat(TRACE_LEVEL_DETAIL, kLongRecord, L"The length of return value result = %d",
                    value);
        OnDownloadingIniReturn(0, nullptr);
        return false;
    }
    return true;
}

void CMVAgtApp::RouteAnswer(AgtStatus status, int32_t value, wchar_t* text, int convertedCount)
{
    switch (status) {
    case STATUS_CHECKING_VERSION:
        if (text == nullptr) {
            OnGettingVersionInfoReturn(value, nullptr);
        } else if (wchar_t* mark = std::wcsstr(text, L"<MVHostVersion>")) {
            OnGettingVersionInfoReturn(static_cast<int32_t>(std::wcslen(mark)), mark);
        }
        break;
    case STATUS_DOWNLOADING_INI:
        if (text == nullptr) {
            OnDownloadingIniReturn(value, nullptr);
        } else if (convertedCount >= 1) {
            OnDownloadingIniReturn(convertedCount - 1, text);
        } else {
            // An answer that cannot be read as text ends the wait as a failed one would.
            OnDownloadingIniReturn(value, nullptr);
        }
        break;
    default:
        break;
    }
}

void CMVAgtApp::OnGettingVersionInfoReturn(int32_t value, wchar_t* text)
{
    CMVFuncTrace scope(L"CMVAgtApp::OnGettingVersionInfoReturn");
    if (text == nullptr) {
        TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord, L"Get version info failed. Result = %d.",
                    value);
        SetStatus(STATUS_IDLE);
        return;
    }
    text[value] = L'\0';
    TraceMasked(TRACE_LEVEL_PROGRESS, text);
    std::unique_ptr<VersionAnswer> answer(new (std::nothrow) VersionAnswer());
    if (!answer || !ParseVersionAnswer(text, *answer)) {
        TraceText(TRACE_LEVEL_PROGRESS, L"Getting version info error.");
        SetStatus(STATUS_IDLE);
        return;
    }
    if (!m_answerCheck.AdmitAnswerValues(*answer)) {
        SetStatus(STATUS_IDLE);
        return;
    }
    // A release to a share of the fleet that this machine is not in: nothing of it is used.
    if (!IsOfferedToThisMachine(*answer)) {
        SetStatus(STATUS_IDLE);
        return;
    }
    StoreVersionAnswer(*answer);
    DownlaodIniFile();
}

void CMVAgtApp::StoreVersionAnswer(const VersionAnswer& a)
{
    m_answer = a;
    BoundedCopy(m_szInstallSection, kAnswerFieldSize, a.activeIniSection);
    // The section to install is the machine's own choice, not the server's.
    CfgGetStringBuf(kSettingsSection, kInstallSectionSetting, kAnswerFieldSize, m_szInstallSection,
                    L"ZEInstall");
    if (CfgGetUInt(kSettingsSection, kLanguageSetting, kNoLanguage) == kNoLanguage) {
        CfgSetStringNoResult(kSettingsSection, kLanguageSetting, a.lid);
    }
}

void CMVAgtApp::DownlaodIniFile()
{
    CMVFuncTrace scope(L"CMVAgtApp::DownlaodIniFile");
    wchar_t url[kUrlSize] = {};
    BuildIniUrl(url, m_answer.urlRoot, m_answer.iniName, m_answer.urlRootEx);
    TraceText(TRACE_LEVEL_PROGRESS, url);
    m_pCurrentRequest = nullptr;
    if (MVUrlRequestW(url, static_cast<uint32_t>(m_nSecure), OnUrlReturn, &m_pCurrentRequest) !=
        MVURL_OK) {
        TraceText(TRACE_LEVEL_PROGRESS, L"Can't connect out where downloading ini file...");
        m_pCurrentRequest = nullptr;
        SetStatus(STATUS_IDLE);
        return;
    }
    SetStatus(STATUS_DOWNLOADING_INI);
}

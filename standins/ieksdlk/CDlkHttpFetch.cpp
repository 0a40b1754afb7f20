#include "standins/ieksdlk/CDlkHttpFetch.h"

#include "app/DlkApi.h"
#include "standins/ieksdlk/CInternetHandle.h"
#include "standins/ieksdlk/CSha256.h"
#include "util/Utf8.h"

#include <vector>

namespace {

constexpr DWORD kTimeoutMs = 15000;
constexpr DWORD kReadChunk = 64 * 1024;
constexpr wchar_t kAgent[] = L"ieksdlk/" TEXT(DLK_BUILD);

std::wstring Widen(const std::string& text)
{
    const int size = Utf8ToWide(text.c_str(), nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(size));
    if (Utf8ToWide(text.c_str(), buffer.data(), size) != size)
        return std::wstring();
    return std::wstring(buffer.data());
}

std::string WinInetError(const char* step)
{
    return std::string(step) + " failed, error " + std::to_string(GetLastError());
}

void SetTimeouts(HINTERNET session)
{
    DWORD timeout = kTimeoutMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionW(session, option, &timeout, sizeof(timeout));
    }
}

// The pieces of a URL WinInet connects and asks with.
struct UrlParts {
    std::wstring host;
    INTERNET_PORT port = 0;
    bool secure = false;
    std::wstring object;  // path and query
};

bool CrackDownloadUrl(const std::wstring& url, UrlParts& parts)
{
    if (url.empty())
        return false;
    URL_COMPONENTSW components = {};
    components.dwStructSize = sizeof(components);
    components.dwHostNameLength = 1;
    components.dwUrlPathLength = 1;
    components.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), 0, 0, &components) || components.dwHostNameLength == 0)
        return false;
    if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    parts.host.assign(components.lpszHostName, components.dwHostNameLength);
    parts.port = components.nPort;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts.object.assign(components.lpszUrlPath, components.dwUrlPathLength);
    if (components.lpszExtraInfo != nullptr) {
        parts.object.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    }
    if (parts.object.empty())
        parts.object = L"/";
    return true;
}

}  // namespace

CDlkHttpFetch::CDlkHttpFetch(HANDLE cancelEvent) : m_cancelEvent(cancelEvent)
{
}

bool CDlkHttpFetch::Cancelled() const
{
    return m_cancelEvent != nullptr && WaitForSingleObject(m_cancelEvent, 0) == WAIT_OBJECT_0;
}

int CDlkHttpFetch::Fail(int result, const std::string& detail)
{
    m_detail = detail;
    return result;
}

int CDlkHttpFetch::Fetch(const std::string& url, HANDLE file, uint64_t maxBytes)
{
    m_bytes = 0;
    m_sha256.clear();
    m_detail.clear();
    UrlParts parts;
    if (!CrackDownloadUrl(Widen(url), parts))
        return Fail(DLK_RESULT_BAD_URL, "unusable URL");

    CInternetHandle session(
        InternetOpenW(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session.Get() == nullptr)
        return Fail(DLK_RESULT_NETWORK, WinInetError("InternetOpen"));
    SetTimeouts(session.Get());
    CInternetHandle connection(InternetConnectW(session.Get(), parts.host.c_str(), parts.port,
                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (connection.Get() == nullptr)
        return Fail(DLK_RESULT_NETWORK, WinInetError("InternetConnect"));

    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                        INTERNET_FLAG_NO_COOKIES | (parts.secure ? INTERNET_FLAG_SECURE : 0);
    CInternetHandle request(HttpOpenRequestW(connection.Get(), L"GET", parts.object.c_str(),
                                             nullptr, nullptr, nullptr, flags, 0));
    if (request.Get() == nullptr)
        return Fail(DLK_RESULT_NETWORK, WinInetError("HttpOpenRequest"));
    // Set on the request itself: not every WinInet passes a session's time-outs down.
    SetTimeouts(request.Get());
    if (Cancelled())
        return Fail(DLK_RESULT_CANCELLED, "cancelled");
    if (!HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0)) {
        if (Cancelled())
            return Fail(DLK_RESULT_CANCELLED, "cancelled");
        return Fail(DLK_RESULT_NETWORK, WinInetError("HttpSendRequest"));
    }

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr)) {
        return Fail(DLK_RESULT_NETWORK, WinInetError("HttpQueryInfo"));
    }
    if (status != HTTP_STATUS_OK)
        return Fail(DLK_RESULT_HTTP_STATUS, "HTTP " + std::to_string(status));
    return Receive(request.Get(), file, maxBytes);
}

int CDlkHttpFetch::Receive(void* request, HANDLE file, uint64_t maxBytes)
{
    CSha256 sha;
    if (!sha.IsValid())
        return Fail(DLK_RESULT_HASH_MISMATCH, "SHA-256 provider unavailable");
    std::vector<char> buffer(kReadChunk);
    for (;;) {
        if (Cancelled())
            return Fail(DLK_RESULT_CANCELLED, "cancelled");
        DWORD read = 0;
        if (!InternetReadFile(request, buffer.data(), kReadChunk, &read)) {
            return Fail(DLK_RESULT_NETWORK, WinInetError("InternetReadFile"));
        }
        if (read == 0)
            break;
        m_bytes += read;
        if (m_bytes > maxBytes) {
            return Fail(DLK_RESULT_SIZE_MISMATCH,
                        "more than " + std::to_string(maxBytes) + " bytes");
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer.data(), read, &written, nullptr) || written != read) {
            return Fail(DLK_RESULT_WRITE_FAILED,
                        "write failed, error " + std::to_string(GetLastError()));
        }
        sha.Update(buffer.data(), read);
    }
    m_sha256 = sha.FinishHex();
    if (m_sha256.empty())
        return Fail(DLK_RESULT_HASH_MISMATCH, "SHA-256 could not be taken");
    return DLK_RESULT_OK;
}

#include "mvurl/WinInetBinding.h"

#include "mvurl/CProductKey.h"
#include "util/ProcAddress.h"
#include "util/SettingNames.h"

#include <cstring>

namespace {

// The proxy option as the narrow InternetSetOptionA takes it, whatever UNICODE says.
struct ProxyInfoA {
    DWORD dwAccessType;
    LPCSTR lpszProxy;
    LPCSTR lpszProxyBypass;
};

// Freed only by WinInetUnbind, never as the process ends: a worker given up inside WinInet may
// still be in it then. So no owner object, whose destructor would run at exit.
HMODULE g_hWinInet = nullptr;
WinInetFunctions g_entries = {};
// Set while a test's table stands in for the library.
bool g_bTableInstalled = false;

// The stored proxy as read at binding, for the handles opened while bound.
bool g_bProxyBound = false;
char g_szProxyServer[256] = {};
char g_szProxyBypass[512] = {};

template <typename Fn>
void Resolve(Fn& entry, const char* name)
{
    entry = GetProcAs<Fn>(g_hWinInet, name);
}

void ResolveAll()
{
    Resolve(g_entries.internetOpen, "InternetOpenA");
    Resolve(g_entries.internetConnect, "InternetConnectA");
    Resolve(g_entries.httpOpenRequest, "HttpOpenRequestA");
    Resolve(g_entries.httpSendRequest, "HttpSendRequestA");
    Resolve(g_entries.internetCloseHandle, "InternetCloseHandle");
    Resolve(g_entries.httpQueryInfo, "HttpQueryInfoA");
    Resolve(g_entries.internetQueryDataAvailable, "InternetQueryDataAvailable");
    Resolve(g_entries.internetReadFile, "InternetReadFile");
    Resolve(g_entries.httpAddRequestHeaders, "HttpAddRequestHeadersA");
    Resolve(g_entries.internetSetOption, "InternetSetOptionA");
    Resolve(g_entries.internetErrorDlg, "InternetErrorDlg");
    Resolve(g_entries.internetOpenUrl, "InternetOpenUrlA");
    Resolve(g_entries.internetGetConnectedState, "InternetGetConnectedState");
}

void ApplyStoredProxy()
{
    std::memset(g_szProxyServer, 0, sizeof(g_szProxyServer));
    std::memset(g_szProxyBypass, 0, sizeof(g_szProxyBypass));
    g_bProxyBound = ReadProxySettings(g_szProxyServer, g_szProxyBypass, 256) != 0;
    if (!g_bProxyBound || g_entries.internetSetOption == nullptr)
        return;
    ProxyInfoA info = {};
    info.dwAccessType = INTERNET_OPEN_TYPE_PROXY;
    info.lpszProxy = g_szProxyServer;
    info.lpszProxyBypass = g_szProxyBypass[0] != '\0' ? g_szProxyBypass : nullptr;
    g_entries.internetSetOption(nullptr, INTERNET_OPTION_PROXY, &info, sizeof(info));
}

}  // namespace

void WinInetBind()
{
    if (g_hWinInet != nullptr || g_bTableInstalled)
        return;
    g_hWinInet = LoadSystemLibrary(L"WININET.DLL");
    if (g_hWinInet == nullptr)
        return;
    ResolveAll();
    ApplyStoredProxy();
}

void WinInetUnbind()
{
    if (g_hWinInet != nullptr)
        FreeLibrary(g_hWinInet);
    g_hWinInet = nullptr;
    g_entries = {};
    g_bTableInstalled = false;
    g_bProxyBound = false;
}

void WinInetInstallForTests(const WinInetFunctions& functions)
{
    WinInetUnbind();
    g_entries = functions;
    g_bTableInstalled = true;
}

HINTERNET OpenRootHandle(LPCSTR agent)
{
    // Some WinInet builds do not carry the process-wide proxy over to handles that take the
    // preconfigured settings, so a stored proxy is also named to the handle itself.
    if (g_bProxyBound) {
        return MVInternetOpenA(agent, INTERNET_OPEN_TYPE_PROXY, g_szProxyServer,
                               g_szProxyBypass[0] != '\0' ? g_szProxyBypass : nullptr, 0);
    }
    return MVInternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

bool WinInetIsBound()
{
    return g_hWinInet != nullptr || g_bTableInstalled;
}

int ReadProxySettings(char* server, char* bypass, DWORD size)
{
    CProductKey key;
    if (!key.IsOpen())
        return 0;
    if (key.ReadSwitch(kProxyEnableSettingA, 0) == 0)
        return 0;
    if (!key.ReadText(kProxyServerSettingA, server, size))
        return 0;
    key.ReadText(kProxyBypassSettingA, bypass, size);
    return 1;
}

HINTERNET MVInternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR bypass, DWORD flags)
{
    auto fn = g_entries.internetOpen;
    return fn ? fn(agent, accessType, proxy, bypass, flags) : nullptr;
}

HINTERNET MVInternetConnectA(HINTERNET internet, LPCSTR server, INTERNET_PORT port, LPCSTR user,
                             LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context)
{
    auto fn = g_entries.internetConnect;
    return fn ? fn(internet, server, port, user, password, service, flags, context) : nullptr;
}

HINTERNET MVHttpOpenRequestA(HINTERNET connect, LPCSTR verb, LPCSTR object, LPCSTR version,
                             LPCSTR referrer, LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context)
{
    auto fn = g_entries.httpOpenRequest;
    return fn ? fn(connect, verb, object, version, referrer, acceptTypes, flags, context) : nullptr;
}

BOOL MVHttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                        DWORD optionalLength)
{
    auto fn = g_entries.httpSendRequest;
    return fn ? fn(request, headers, headersLength, optional, optionalLength) : FALSE;
}

BOOL MVInternetCloseHandle(HINTERNET handle)
{
    auto fn = g_entries.internetCloseHandle;
    return fn ? fn(handle) : FALSE;
}

BOOL MVHttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                      LPDWORD index)
{
    auto fn = g_entries.httpQueryInfo;
    return fn ? fn(request, infoLevel, buffer, bufferLength, index) : FALSE;
}

BOOL MVInternetQueryDataAvailable(HINTERNET file, LPDWORD available, DWORD flags, DWORD_PTR context)
{
    auto fn = g_entries.internetQueryDataAvailable;
    return fn ? fn(file, available, flags, context) : FALSE;
}

BOOL MVInternetReadFile(HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read)
{
    auto fn = g_entries.internetReadFile;
    return fn ? fn(file, buffer, toRead, read) : FALSE;
}

BOOL MVHttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD headersLength,
                              DWORD modifiers)
{
    auto fn = g_entries.httpAddRequestHeaders;
    return fn ? fn(request, headers, headersLength, modifiers) : FALSE;
}

BOOL MVInternetSetOptionA(HINTERNET internet, DWORD option, LPVOID buffer, DWORD bufferLength)
{
    auto fn = g_entries.internetSetOption;
    return fn ? fn(internet, option, buffer, bufferLength) : FALSE;
}

DWORD MVInternetErrorDlg(HWND wnd, HINTERNET request, DWORD error, DWORD flags, LPVOID* data)
{
    auto fn = g_entries.internetErrorDlg;
    return fn ? fn(wnd, request, error, flags, data) : 0;
}

HINTERNET MVInternetOpenUrlA(HINTERNET internet, LPCSTR url, LPCSTR headers, DWORD headersLength,
                             DWORD flags, DWORD_PTR context)
{
    auto fn = g_entries.internetOpenUrl;
    return fn ? fn(internet, url, headers, headersLength, flags, context) : nullptr;
}

BOOL MVInternetGetConnectedState(LPDWORD flags, DWORD reserved)
{
    auto fn = g_entries.internetGetConnectedState;
    return fn ? fn(flags, reserved) : TRUE;
}

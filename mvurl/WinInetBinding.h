// WinInet bound at run time, from the system directory only. Every function is reached
// through a guarded wrapper that calls nothing and answers 0 (null, FALSE) while unbound,
// so a missing library or function makes that step fail softly.
#pragma once

#include "util/DllSearch.h"

#include "util/UniqueHandle.h"

#include <windows.h>
#include <wininet.h>

// One entry per function, resolved by name; null while unbound.
struct WinInetFunctions {
    decltype(&InternetOpenA) internetOpen;
    decltype(&InternetConnectA) internetConnect;
    decltype(&HttpOpenRequestA) httpOpenRequest;
    decltype(&HttpSendRequestA) httpSendRequest;
    decltype(&InternetCloseHandle) internetCloseHandle;
    decltype(&HttpQueryInfoA) httpQueryInfo;
    decltype(&InternetQueryDataAvailable) internetQueryDataAvailable;
    decltype(&InternetReadFile) internetReadFile;
    decltype(&HttpAddRequestHeadersA) httpAddRequestHeaders;
    decltype(&InternetSetOptionA) internetSetOption;
    decltype(&InternetErrorDlg) internetErrorDlg;
    decltype(&InternetOpenUrlA) internetOpenUrl;
    decltype(&InternetGetConnectedState) internetGetConnectedState;
};

// Loads WinInet, resolves its functions and applies the stored proxy process-wide. Does
// nothing when already bound.
void WinInetBind();
// Frees WinInet and clears every entry (an installed table's too); binding again afterwards is
// allowed.
void WinInetUnbind();
// For tests only (the product never calls it): functions stand in for the library until the
// next unbind, and binding does nothing meanwhile. No stored proxy is applied.
void WinInetInstallForTests(const WinInetFunctions& functions);
bool WinInetIsBound();

// A root Internet handle with the settings in force: the stored proxy when one was applied
// at binding, else the system's preconfigured settings.
HINTERNET OpenRootHandle(LPCSTR agent);

// The stored proxy: 1 with server (and bypass, when stored) filled in, at most size bytes
// each and always terminated; 0 when no proxy is enabled and named.
int ReadProxySettings(char* server, char* bypass, DWORD size);

HINTERNET MVInternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR bypass, DWORD flags);
HINTERNET MVInternetConnectA(HINTERNET internet, LPCSTR server, INTERNET_PORT port, LPCSTR user,
                             LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context);
HINTERNET MVHttpOpenRequestA(HINTERNET connect, LPCSTR verb, LPCSTR object, LPCSTR version,
                             LPCSTR referrer, LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context);
BOOL MVHttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                        DWORD optionalLength);
BOOL MVInternetCloseHandle(HINTERNET handle);
// A handle of the bound WinInet, closed through the binding.
using UniqueInternetHandle = UniqueHandle<HINTERNET, MVInternetCloseHandle>;
BOOL MVHttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                      LPDWORD index);
BOOL MVInternetQueryDataAvailable(HINTERNET file, LPDWORD available, DWORD flags,
                                  DWORD_PTR context);
BOOL MVInternetReadFile(HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read);
BOOL MVHttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD headersLength,
                              DWORD modifiers);
BOOL MVInternetSetOptionA(HINTERNET internet, DWORD option, LPVOID buffer, DWORD bufferLength);
DWORD MVInternetErrorDlg(HWND wnd, HINTERNET request, DWORD error, DWORD flags, LPVOID* data);
HINTERNET MVInternetOpenUrlA(HINTERNET internet, LPCSTR url, LPCSTR headers, DWORD headersLength,
                             DWORD flags, DWORD_PTR context);
// Answers TRUE while unbound: without WinInet nobody can tell we are offline.
BOOL MVInternetGetConnectedState(LPDWORD flags, DWORD reserved);

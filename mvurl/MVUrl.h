// The URL module's entry functions: asynchronous HTTP and HTTPS retrieval for the
// application. A request is submitted with a completion function and answered at once with
// a handle; a worker thread performs the exchange; the completion function is called on the
// application's own thread from MVUrlDispatch, unless the request was cancelled.
#pragma once

#include <windows.h>

#include <cstdint>

class CUrlRequest;

// Called once per finished, uncancelled request from MVUrlDispatch. value is the content
// length when result is 0, else the result (401/407, or the system error code of the failed
// step); content is valid only during the call and null unless bytes were received.
using UrlCompletionFn = int32_t (*)(CUrlRequest* request, int32_t value, const uint8_t* content);

// Creation codes of MVUrlRequestW.
constexpr int32_t MVURL_OK = 0;
constexpr int32_t MVURL_E_ARGUMENT = 7001;    // null URL or out-pointer, or a URL too long
constexpr int32_t MVURL_E_ALLOCATION = 7002;  // the request could not be allocated
constexpr int32_t MVURL_E_NO_WORKER = 7003;   // no worker, or the worker refused it

// Longest URL in UTF-8, terminator included.
constexpr int kMaxUrlUtf8 = 102400;

// Largest body a request takes unless its creator says otherwise (MVUrlSetBodyLimit).
constexpr uint32_t kDefaultBodyLimit = 256u * 1024 * 1024;
// Result of a request whose body would pass its limit.
constexpr int32_t MVURL_RESULT_TOO_LARGE = 223;  // ERROR_FILE_TOO_LARGE

// Binds WinInet, applies the stored proxy and starts the worker. Always 0.
int32_t MVUrlInit(void* downloadInterface, uint32_t downloadParameter);
// Stops the worker (aborting what is in progress) and unbinds WinInet. Always 0.
int32_t MVUrlCleanup();
// Submits url; secure non-zero sends it over TLS to port 443 whatever its scheme.
int32_t MVUrlRequestW(const wchar_t* url, uint32_t secure, UrlCompletionFn completion,
                      CUrlRequest** outRequest);
// The largest body (bytes) of the requests submitted from now on: a longer one fails with
// MVURL_RESULT_TOO_LARGE, and no more than this is ever held for a server's announced length.
void MVUrlSetBodyLimit(uint32_t bytes);
// Gives up on request: its completion function will not be called.
void MVUrlCancel(CUrlRequest* request);
// Delivers every finished request to its completion function, in finishing order.
void MVUrlDispatch();

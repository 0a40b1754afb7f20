// Pure text work on redirects of requests made over TLS: where a Location leads. Its records
// show it through MaskTokenInUrl (trace/UrlMask.h). No Windows header here.
#pragma once

#include "threading/CKSCharStr.h"

#include <cstdint>

// The most redirects one request follows; the next one fails it.
constexpr int kMaxRedirectHops = 5;

// What becomes of a Location received over TLS.
enum class RedirectKind {
    Follow,     // an https URL, or one relative to the answering server: asked over TLS
    LeavesTls,  // any other scheme: never asked, whatever it names
    Unusable,   // empty, carrying credentials or control characters, or without a host or port
};

// Where a followed redirect leads. The object may carry the access token: it is wiped with
// the target.
struct RedirectTarget {
    RedirectKind kind = RedirectKind::Unusable;
    CKSCharStr host;
    uint16_t port = 443;
    CKSCharStr object;  // from its "/" on, the fragment dropped

    RedirectTarget() = default;
    RedirectTarget(const RedirectTarget& other) = default;
    RedirectTarget& operator=(const RedirectTarget& other) = default;
    // Moving allocates nothing, so it cannot fail as a copy can.
    RedirectTarget(RedirectTarget&& other) = default;
    RedirectTarget& operator=(RedirectTarget&& other) = default;
    ~RedirectTarget() { object.Wipe(); }
};

// Resolves location against the server and object that answered it (host, port, object).
// Relative locations keep that server; "//host/..." and "https://" name another one, with
// port 443 unless a port is given.
RedirectTarget ResolveRedirect(const char* location, const char* host, uint16_t port,
                               const char* object);

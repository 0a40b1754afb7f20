// Pure text work on request URLs: splitting into host and object, recognising fault-report
// uploads. No Windows header here.
#pragma once

#include "threading/CKSCharStr.h"

#include <cstdint>

// Where a URL's exchange goes. The scheme is not kept: "https://" only forces TLS.
struct UrlTarget {
    CKSCharStr host;    // everything up to the first "/" behind the scheme (a ":port" stays in it)
    CKSCharStr object;  // from that "/" on; "/" when there is nothing behind the host
    bool forcesTls = false;

    // The object carries the access token: its memory is wiped, not only freed.
    ~UrlTarget() { object.Wipe(); }
};

// Splits url ("http://", "https://" or no scheme at all). A part that could not be allocated
// is left without text.
UrlTarget SplitRequestUrl(const char* url);

// A "host[:port]" text split: the host (an IPv6 address keeps its brackets) and the port, 0 when
// none is given. False when the port is no number from 1 to 65535 or the host is empty.
bool SplitHostPort(const char* hostPort, CKSCharStr& host, uint16_t* port);

// The server a "SURL" setting names, as a request reaches it: the scheme and any path dropped,
// the port 443 unless one is given. False when it names none.
bool SettingServer(const char* surl, CKSCharStr& host, uint16_t* port);

// Whether two host names are the same, ASCII letters compared regardless of case.
bool IsSameHost(const char* a, const char* b);

// The fault-report endpoint used when no usable upload URL is stored: a reserved name
// that can never resolve to anybody's server.
extern const char kDefaultUploadUrl[];

// The upload URL in force: the stored text when it is longer than 4 characters, else
// the default endpoint.
const char* EffectiveUploadUrl(const char* stored);

// An upload's object and body: the object is cut at the first "&traceinfo=", and what
// follows those 11 characters is the body. hasBody is false when there is no such mark.
struct UploadParts {
    CKSCharStr object;
    CKSCharStr body;
    bool hasBody = false;

    // The object may carry the access token: its memory is wiped, not only freed.
    ~UploadParts() { object.Wipe(); }
};
UploadParts SplitUpload(const char* object);

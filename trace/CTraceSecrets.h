// The process's table of secret values (the access token, the proxy and server passwords),
// through which every trace record of both channels passes before it reaches a trace library:
// a value known here is masked wherever it stands in a record, whatever path the text took.
// The values stay here until the process ends, since the last record may come late (a worker
// left inside WinInet); the table never allocates and is never destroyed.
#pragma once

#include "threading/CKSCriticalSection.h"
#include "trace/SecretMask.h"
#include "util/NeverDestroyed.h"

#include <cstddef>
#include <memory>

class CTraceSecrets {
public:
    static CTraceSecrets& Instance();

    CTraceSecrets(const CTraceSecrets&) = delete;
    CTraceSecrets& operator=(const CTraceSecrets&) = delete;

    // Adds a secret given as UTF-16 or as UTF-8; empty values and values already known are
    // ignored. When the table is full the oldest value gives way, never the access token.
    void Add(const wchar_t* value);
    void Add(const char* value);
    // Adds the access token: it keeps its slot, whatever values come after it (a password the
    // worker reads anew at every request may change many times over a run), unless every slot
    // holds a token.
    void AddToken(const wchar_t* value);

    // The text a record may carry: text itself when no known value occurs in it, else a masked
    // copy kept in *holder. Null when a copy was needed and memory ran out: the record must then
    // be dropped, never written unmasked.
    const wchar_t* Mask(const wchar_t* text, std::unique_ptr<wchar_t[]>* holder);
    const char* Mask(const char* text, std::unique_ptr<char[]>* holder);

private:
    // A token fits 259 characters, a password 255 bytes; a longer value is masked by its start.
    static constexpr size_t kWideChars = 260;
    static constexpr size_t kNarrowBytes = 3 * kWideChars;
    static constexpr size_t kSlots = 8;

    struct Slot {
        wchar_t wide[kWideChars];
        char narrow[kNarrowBytes];
        bool token;
    };

    friend class CNeverDestroyed<CTraceSecrets>;
    CTraceSecrets() = default;
    void AddWide(const wchar_t* value, bool token);
    void AddLocked(const wchar_t* wide, const char* narrow, bool token);
    // The masked text, under the lock, for either form of the values.
    template <typename CharT>
    const CharT* MaskText(const CharT* text, std::unique_ptr<CharT[]>* holder);
    static const wchar_t* ValueOf(const Slot& slot, const wchar_t*) { return slot.wide; }
    static const char* ValueOf(const Slot& slot, const char*) { return slot.narrow; }

    CKSCriticalSection m_lock;
    Slot m_slots[kSlots] = {};
    size_t m_nCount = 0;
    size_t m_nNext = 0;
};

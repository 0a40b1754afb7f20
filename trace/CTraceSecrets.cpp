#include "trace/CTraceSecrets.h"

#include "threading/CKSLock.h"
#include "trace/StaticInitOrder.h"
#include "util/NeverDestroyed.h"
#include "util/SecureWipe.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <new>

namespace {

size_t Length(const wchar_t* text)
{
    return std::wcslen(text);
}

size_t Length(const char* text)
{
    return std::strlen(text);
}

// Built before any other process-wide object, so that every record finds it, and never
// destroyed: records may still come while static objects go.
CNeverDestroyed<CTraceSecrets> s_table MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_TRACE_SECRETS);

}  // namespace

CTraceSecrets& CTraceSecrets::Instance()
{
    return s_table.Get();
}

void CTraceSecrets::Add(const wchar_t* value)
{
    AddWide(value, false);
}

void CTraceSecrets::AddToken(const wchar_t* value)
{
    AddWide(value, true);
}

void CTraceSecrets::AddWide(const wchar_t* value, bool token)
{
    if (value == nullptr || value[0] == L'\0')
        return;
    wchar_t wide[kWideChars] = {};
    char narrow[kNarrowBytes] = {};
    wcsncpy(wide, value, kWideChars - 1);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, static_cast<int>(kNarrowBytes) - 1, nullptr,
                        nullptr);
    AddLocked(wide, narrow, token);
    SecureWipe(wide);
    SecureWipe(narrow);
}

void CTraceSecrets::Add(const char* value)
{
    if (value == nullptr || value[0] == '\0')
        return;
    wchar_t wide[kWideChars] = {};
    char narrow[kNarrowBytes] = {};
    strncpy(narrow, value, kNarrowBytes - 1);
    // Bytes that are no UTF-8 still reach the narrow channel as they are; the wide form is
    // then whatever the conversion makes of them.
    MultiByteToWideChar(CP_UTF8, 0, narrow, -1, wide, static_cast<int>(kWideChars) - 1);
    AddLocked(wide, narrow, false);
    SecureWipe(wide);
    SecureWipe(narrow);
}

void CTraceSecrets::AddLocked(const wchar_t* wide, const char* narrow, bool token)
{
    CKSLock guard(m_lock);
    for (size_t i = 0; i < m_nCount; ++i) {
        if (std::wcscmp(m_slots[i].wide, wide) == 0 &&
            std::strcmp(m_slots[i].narrow, narrow) == 0) {
            m_slots[i].token = m_slots[i].token || token;
            return;
        }
    }
    // The slots are written round in turn, so the next one not holding a token is the oldest
    // value that may give way.
    for (size_t tried = 0; tried < kSlots && m_slots[m_nNext].token; ++tried)
        m_nNext = (m_nNext + 1) % kSlots;
    Slot& slot = m_slots[m_nNext];
    SecureWipe(&slot, sizeof(slot));
    std::memcpy(slot.wide, wide, sizeof(slot.wide));
    std::memcpy(slot.narrow, narrow, sizeof(slot.narrow));
    slot.token = token;
    m_nNext = (m_nNext + 1) % kSlots;
    if (m_nCount < kSlots)
        ++m_nCount;
}

const wchar_t* CTraceSecrets::Mask(const wchar_t* text, std::unique_ptr<wchar_t[]>* holder)
{
    return MaskText(text, holder);
}

const char* CTraceSecrets::Mask(const char* text, std::unique_ptr<char[]>* holder)
{
    return MaskText(text, holder);
}

template <typename CharT>
const CharT* CTraceSecrets::MaskText(const CharT* text, std::unique_ptr<CharT[]>* holder)
{
    CKSLock guard(m_lock);
    SecretValue<CharT> values[kSlots];
    size_t count = 0;
    for (size_t i = 0; i < m_nCount; ++i) {
        const CharT* value = ValueOf(m_slots[i], text);
        const size_t n = Length(value);
        if (n > 0)
            values[count++] = {value, n};
    }
    const size_t length = Length(text);
    if (!ContainsSecretValue(text, length, values, count))
        return text;
    const size_t needed = MaskSecretValues<CharT>(text, length, values, count, nullptr, 0);
    holder->reset(new (std::nothrow) CharT[needed]);
    if (!*holder)
        return nullptr;
    MaskSecretValues(text, length, values, count, holder->get(), needed);
    return holder->get();
}

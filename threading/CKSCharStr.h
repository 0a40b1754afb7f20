// A small owning narrow string: one heap buffer holding a terminated copy of the text, or no
// buffer at all when the string was never set or was emptied. Every assignment allocates
// exactly the new text's size. No Windows header here: this also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>

class CKSCharStr {
public:
    CKSCharStr() = default;
    CKSCharStr(const CKSCharStr& other);
    CKSCharStr& operator=(const CKSCharStr& other);
    CKSCharStr(CKSCharStr&& other) noexcept;
    CKSCharStr& operator=(CKSCharStr&& other) noexcept;
    virtual ~CKSCharStr();

    // Releases the buffer: GetBuffer() is null afterwards.
    void Empty();
    // Overwrites the text with zeros, then releases the buffer (for texts holding secrets).
    void Wipe();

    // Null text empties the string. Otherwise the text is copied with its terminator into a
    // new buffer before the old one is released, so a string may be set from its own text.
    // When the new buffer cannot be allocated the old text stays and false is returned.
    bool Set(const char* text);
    // The same for the first length characters of text (which need not be terminated there).
    bool Set(const char* text, size_t length);

    const char* GetBuffer() const { return m_pBuffer; }
    // The text, or "" when there is none: for callers that need a text whatever happened.
    const char* GetText() const { return m_pBuffer != nullptr ? m_pBuffer : ""; }
    uint32_t GetLength() const { return m_nLength; }

private:
    char* m_pBuffer = nullptr;
    uint32_t m_nLength = 0;
};

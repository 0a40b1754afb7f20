#include "threading/CKSCharStr.h"

#include "util/SecureWipe.h"

#include <cstring>
#include <new>
#include <utility>

CKSCharStr::CKSCharStr(const CKSCharStr& other)
{
    Set(other.m_pBuffer);
}

CKSCharStr& CKSCharStr::operator=(const CKSCharStr& other)
{
    if (this != &other)
        Set(other.m_pBuffer);
    return *this;
}

CKSCharStr::CKSCharStr(CKSCharStr&& other) noexcept
    : m_pBuffer(std::exchange(other.m_pBuffer, nullptr)),
      m_nLength(std::exchange(other.m_nLength, 0u))
{
}

CKSCharStr& CKSCharStr::operator=(CKSCharStr&& other) noexcept
{
    if (this != &other) {
        Empty();
        m_pBuffer = std::exchange(other.m_pBuffer, nullptr);
        m_nLength = std::exchange(other.m_nLength, 0u);
    }
    return *this;
}

CKSCharStr::~CKSCharStr()
{
    Empty();
}

void CKSCharStr::Empty()
{
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    m_nLength = 0;
}

void CKSCharStr::Wipe()
{
    if (m_pBuffer != nullptr)
        SecureWipe(m_pBuffer, m_nLength);
    Empty();
}

bool CKSCharStr::Set(const char* text)
{
    if (text == nullptr) {
        Empty();
        return true;
    }
    return Set(text, std::strlen(text));
}

bool CKSCharStr::Set(const char* text, size_t length)
{
    if (text == nullptr || length >= UINT32_MAX)
        return false;
    char* buffer = new (std::nothrow) char[length + 1];
    if (buffer == nullptr)
        return false;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    delete[] m_pBuffer;
    m_pBuffer = buffer;
    m_nLength = static_cast<uint32_t>(length);
    return true;
}

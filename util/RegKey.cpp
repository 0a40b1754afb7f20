#include "util/RegKey.h"

CRegKey& CRegKey::operator=(CRegKey&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

HKEY CRegKey::Release() noexcept
{
    HKEY key = m_key;
    m_key = nullptr;
    return key;
}

void CRegKey::Reset(HKEY key) noexcept
{
    if (key == m_key)
        return;
    HKEY old = m_key;
    m_key = key;
    if (old != nullptr)
        RegCloseKey(old);
}

HKEY* CRegKey::Receive() noexcept
{
    Reset();
    return &m_key;
}

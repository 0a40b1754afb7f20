#include "mvurl/CProductKey.h"

#include "util/ConfigStore.h"
#include "util/SettingNames.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

CProductKey::CProductKey() : m_hKey(CfgOpenSection(kSettingsSection, FALSE))
{
}

bool CProductKey::ReadBytes(const char* name, void* buffer, DWORD size)
{
    if (!m_hKey || buffer == nullptr)
        return false;
    DWORD cb = size;
    return RegQueryValueExA(m_hKey.Get(), name, nullptr, nullptr, static_cast<BYTE*>(buffer),
                            &cb) == ERROR_SUCCESS;
}

DWORD CProductKey::ReadSwitch(const char* name, DWORD fallback)
{
    if (!m_hKey)
        return fallback;
    DWORD type = 0;
    char data[16] = {};
    DWORD cb = sizeof(data) - 1;
    if (RegQueryValueExA(m_hKey.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &cb) !=
        ERROR_SUCCESS) {
        return fallback;
    }
    if ((type == REG_DWORD || type == REG_BINARY) && cb == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof(number));
        return number;
    }
    if (type != REG_SZ)
        return fallback;
    const size_t length = strnlen(data, cb);
    if (length == 0 || std::strspn(data, "0123456789") != length)
        return fallback;
    return static_cast<DWORD>(std::strtoul(data, nullptr, 10));
}

bool CProductKey::IsStrictlyOn(const char* name)
{
    if (!m_hKey)
        return false;
    DWORD type = 0;
    char data[8] = {};
    DWORD cb = sizeof(data);
    if (RegQueryValueExA(m_hKey.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &cb) !=
        ERROR_SUCCESS) {
        return false;
    }
    if (type == REG_DWORD && cb == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof(number));
        return number == 1;
    }
    return type == REG_SZ && strnlen(data, cb) == 1 && data[0] == '1';
}

bool CProductKey::ReadText(const char* name, char* buffer, DWORD size)
{
    if (!m_hKey || buffer == nullptr || size == 0)
        return false;
    // Read aside first, so a value that turns out too long leaves the caller's buffer alone.
    std::unique_ptr<char[]> scratch(new (std::nothrow) char[size + 1]());
    if (!scratch)
        return false;
    DWORD cb = size;
    if (RegQueryValueExA(m_hKey.Get(), name, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(scratch.get()), &cb) != ERROR_SUCCESS)
        return false;
    const size_t length = strnlen(scratch.get(), cb);
    if (length >= size)
        return false;
    std::memcpy(buffer, scratch.get(), length);
    buffer[length] = '\0';
    return true;
}

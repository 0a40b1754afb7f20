#include "standins/common/CStandinLog.h"

#include "threading/CKSLock.h"
#include "util/ModulePath.h"
#include "util/Utf8.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
    void operator()(HANDLE file) const { CloseHandle(file); }
};
using UniqueFile = std::unique_ptr<void, FileCloser>;

// Any object of this file tells which DLL the code runs in.
const char s_moduleAnchor = 0;

HMODULE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&s_moduleAnchor), &module);
    return module;
}

std::string LinePrefix()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[96];
    std::snprintf(prefix, sizeof(prefix), "%04u-%02u-%02u %02u:%02u:%02u.%03u pid=%lu tid=%lu ",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds, GetCurrentProcessId(), GetCurrentThreadId());
    return prefix;
}

std::string OneLine(const std::string& text)
{
    std::string line = text;
    for (char& c : line) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return line;
}

}  // namespace

CStandinLog::CStandinLog(const wchar_t* fileName) : m_fileName(fileName)
{
}

std::wstring CStandinLog::GetPath() const
{
    wchar_t dir[MAX_PATH];
    if (!GetModuleDir(ThisModule(), dir, MAX_PATH, 0))
        return std::wstring();
    return std::wstring(dir) + L"\\" + m_fileName;
}

bool CStandinLog::Append(const std::string& utf8Text)
{
    const std::string line = LinePrefix() + OneLine(utf8Text) + "\r\n";
    const std::wstring path = GetPath();
    if (path.empty())
        return false;

    CKSLock lock(m_cs);
    UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

bool CStandinLog::CopyTo(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    const std::wstring source = GetPath();
    if (source.empty())
        return false;
    CKSLock lock(m_cs);
    return CopyFileW(source.c_str(), path, FALSE) != FALSE;
}

std::string ToUtf8(const wchar_t* text)
{
    if (text == nullptr)
        return std::string();
    const int size = WideToUtf8(text, nullptr, 0);
    if (size <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(size));
    if (WideToUtf8(text, buffer.data(), size) != size)
        return std::string();
    return std::string(buffer.data());
}

#define _CRT_RAND_S
#include "util/CPrivateTempFolder.h"

#include "util/SafeString.h"

#include <sddl.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace {

// Tries before giving up on a name nobody else has taken.
constexpr int kNameAttempts = 8;

// Owns a security descriptor that grants full access to the current account only, with no
// inherited entries; null when it cannot be made.
struct OwnerOnlyDescriptor {
    UniqueLocal descriptor;

    OwnerOnlyDescriptor()
    {
        UniqueKernelHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
            return;
        DWORD size = 0;
        GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
        std::unique_ptr<BYTE[]> user(size > 0 ? new (std::nothrow) BYTE[size] : nullptr);
        wchar_t* sid = nullptr;
        if (!user || !GetTokenInformation(token.Get(), TokenUser, user.get(), size, &size) ||
            !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid, &sid))
            return;
        const UniqueLocal sidText(sid);
        wchar_t sddl[256] = {};
        if (BoundedFormat(sddl, 256, L"D:P(A;OICI;FA;;;%ls)", sid) == KS_S_OK) {
            ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                 descriptor.Receive(), nullptr);
        }
    }
};

bool RandomName(wchar_t (&name)[32])
{
    unsigned int high = 0;
    unsigned int low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0)
        return false;
    return BoundedFormat(name, 32, L"mvu-%08x%08x", high, low) == KS_S_OK;
}

}  // namespace

CPrivateTempFolder::~CPrivateTempFolder()
{
    RemoveStoredFile();
    if (m_szPath[0] != L'\0')
        RemoveDirectoryW(m_szPath);
}

BOOL CPrivateTempFolder::Create(NameSource names)
{
    if (m_szPath[0] != L'\0')
        return TRUE;
    wchar_t temp[MAX_PATH] = {};
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH)
        return FALSE;
    OwnerOnlyDescriptor owner;
    if (!owner.descriptor)
        return FALSE;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), owner.descriptor.Get(), FALSE};
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        wchar_t name[32] = {};
        wchar_t path[MAX_PATH] = {};
        if (!(names != nullptr ? names(name) : RandomName(name)))
            return FALSE;
        if (BoundedFormat(path, MAX_PATH, temp[n - 1] == L'\\' ? L"%ls%ls" : L"%ls\\%ls", temp,
                          name) != KS_S_OK) {
            return FALSE;
        }
        // Fails on any existing folder, file or link of that name: then another name is drawn.
        if (CreateDirectoryW(path, &attributes))
            return BoundedCopy(m_szPath, MAX_PATH, path) == KS_S_OK;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return FALSE;
    }
    return FALSE;
}

BOOL CPrivateTempFolder::StoreNewFile(const wchar_t* fileName, const void* bytes, DWORD count,
                                      wchar_t* fullPath, size_t cchFullPath)
{
    if (m_szPath[0] == L'\0' || fileName == nullptr || fullPath == nullptr)
        return FALSE;
    RemoveStoredFile();
    wchar_t path[MAX_PATH] = {};
    if (BoundedFormat(path, MAX_PATH, L"%ls\\%ls", m_szPath, fileName) != KS_S_OK)
        return FALSE;
    if (BoundedCopy(fullPath, cchFullPath, path) != KS_S_OK)
        return FALSE;
    // Shared for reading only: the library reads the file, and nobody writes, renames or
    // deletes it while it is held.
    UniqueKernelHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return FALSE;
    DWORD written = 0;
    const BOOL complete =
        WriteFile(file.Get(), bytes, count, &written, nullptr) && written == count;
    if (!complete || !FlushFileBuffers(file.Get())) {
        file.Reset();
        DeleteFileW(path);
        return FALSE;
    }
    BoundedCopy(m_szFile, MAX_PATH, path);
    m_file = std::move(file);
    return TRUE;
}

BOOL CPrivateTempFolder::GetStoredFileSize(DWORD* size) const
{
    LARGE_INTEGER length = {};
    if (!m_file || !GetFileSizeEx(m_file.Get(), &length) || length.QuadPart > MAXDWORD)
        return FALSE;
    *size = static_cast<DWORD>(length.QuadPart);
    return TRUE;
}

BOOL CPrivateTempFolder::ReadStoredFile(void* buffer, DWORD size, DWORD* read) const
{
    *read = 0;
    DWORD length = 0;
    if (!GetStoredFileSize(&length) || length > size)
        return FALSE;
    // From the start whatever the handle's position: the offset travels with the call.
    OVERLAPPED at = {};
    DWORD got = 0;
    if (length > 0 && (!ReadFile(m_file.Get(), buffer, length, &got, &at) || got != length))
        return FALSE;
    *read = got;
    return TRUE;
}

void CPrivateTempFolder::RemoveStoredFile()
{
    m_file.Reset();
    if (m_szFile[0] == L'\0')
        return;
    DeleteFileW(m_szFile);
    m_szFile[0] = L'\0';
}

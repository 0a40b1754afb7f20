#include "standins/ieksdlk/CSha256.h"

#include "standins/ieksdlk/CWinHandle.h"

#include <bcrypt.h>

#include <cstdio>
#include <vector>

namespace {

constexpr ULONG kDigestSize = 32;
constexpr DWORD kReadChunk = 64 * 1024;

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

CSha256::CSha256()
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return;
    m_algorithm = algorithm;
    DWORD objectSize = 0;
    ULONG written = 0;
    if (!Succeeded(BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH,
                                     reinterpret_cast<PUCHAR>(&objectSize), sizeof(objectSize),
                                     &written, 0))) {
        Close();
        return;
    }
    m_hashObject.assign(objectSize, '\0');
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Succeeded(BCryptCreateHash(algorithm, &hash, reinterpret_cast<PUCHAR>(&m_hashObject[0]),
                                    objectSize, nullptr, 0, 0))) {
        Close();
        return;
    }
    m_hash = hash;
}

CSha256::~CSha256()
{
    Close();
}

void CSha256::Close()
{
    if (m_hash != nullptr)
        BCryptDestroyHash(m_hash);
    if (m_algorithm != nullptr)
        BCryptCloseAlgorithmProvider(m_algorithm, 0);
    m_hash = nullptr;
    m_algorithm = nullptr;
}

bool CSha256::Update(const void* data, size_t size)
{
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    while (IsValid() && size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!Succeeded(BCryptHashData(m_hash, const_cast<PUCHAR>(bytes), piece, 0))) {
            Close();
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return IsValid();
}

std::string CSha256::FinishHex()
{
    UCHAR digest[kDigestSize];
    const bool done = IsValid() && Succeeded(BCryptFinishHash(m_hash, digest, kDigestSize, 0));
    Close();
    if (!done)
        return std::string();
    std::string hex;
    for (UCHAR byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof(pair), "%02x", byte);
        hex += pair;
    }
    return hex;
}

bool CSha256::HashFile(const std::wstring& path, uint64_t& size, std::string& hex)
{
    CWinHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid())
        return false;
    CSha256 sha;
    std::vector<char> buffer(kReadChunk);
    size = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), buffer.data(), kReadChunk, &read, nullptr))
            return false;
        if (read == 0)
            break;
        if (!sha.Update(buffer.data(), read))
            return false;
        size += read;
    }
    hex = sha.FinishHex();
    return !hex.empty();
}

// SHA-256 of a stream of bytes through the system's cryptography provider (BCrypt).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <windows.h>

class CSha256 {
public:
    CSha256();
    virtual ~CSha256();

    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // false when the provider could not be opened; every later call then fails.
    bool IsValid() const { return m_hash != nullptr; }

    bool Update(const void* data, size_t size);

    // The digest as 64 lower-case hex digits; empty on failure. Ends the hash: later calls fail.
    std::string FinishHex();

    // Size and SHA-256 of the whole file at path; false when it cannot be read.
    static bool HashFile(const std::wstring& path, uint64_t& size, std::string& hex);

private:
    void Close();

    void* m_algorithm = nullptr;  // BCRYPT_ALG_HANDLE
    void* m_hash = nullptr;       // BCRYPT_HASH_HANDLE
    std::string m_hashObject;     // working memory the provider asks for
};

#include "util/CCngVerifier.h"

#include "util/DllSearch.h"
#include "util/ProcAddress.h"
#include "util/UniqueHandle.h"

#include <bcrypt.h>

#include <atomic>
#include <cstring>
#include <new>

namespace {

using OpenAlgorithmFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using CloseAlgorithmFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
using ImportKeyPairFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR,
                                          BCRYPT_KEY_HANDLE*, PUCHAR, ULONG, ULONG);
using DestroyKeyFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE);
using VerifySignatureFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG,
                                            ULONG);
using HashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, PUCHAR, ULONG);
using CreateHashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG,
                                       PUCHAR, ULONG, ULONG);
using HashDataFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using FinishHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using DestroyHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);

constexpr ULONG kP256PublicMagic = 0x31534345;  // BCRYPT_ECDSA_PUBLIC_P256_MAGIC
// Hashes are made in one call up to this size, far beyond any answer or INI the program uses.
constexpr size_t kMaxHashedSize = 0x7FFFFFFF;

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

// The entry points that free CNG handles, bound with the library: the owners below close through
// them. A handle exists only once its library is bound, and goes before that library does.
std::atomic<CloseAlgorithmFn> g_closeAlgorithm{nullptr};
std::atomic<DestroyKeyFn> g_destroyKey{nullptr};
std::atomic<DestroyHashFn> g_destroyHash{nullptr};

NTSTATUS WINAPI CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm)
{
    return g_closeAlgorithm.load()(algorithm, 0);
}

NTSTATUS WINAPI DestroyKey(BCRYPT_KEY_HANDLE key)
{
    return g_destroyKey.load()(key);
}

NTSTATUS WINAPI DestroyHash(BCRYPT_HASH_HANDLE hash)
{
    return g_destroyHash.load()(hash);
}

using UniqueCngAlgorithm = UniqueHandle<BCRYPT_ALG_HANDLE, CloseAlgorithm>;
using UniqueCngKey = UniqueHandle<BCRYPT_KEY_HANDLE, DestroyKey>;
using UniqueCngHash = UniqueHandle<BCRYPT_HASH_HANDLE, DestroyHash>;

}  // namespace

// The library, its entry points and the two open algorithms, released in reverse order.
struct CCngVerifier::Library {
    UniqueModule module;
    OpenAlgorithmFn openAlgorithm = nullptr;
    CloseAlgorithmFn closeAlgorithm = nullptr;
    ImportKeyPairFn importKeyPair = nullptr;
    DestroyKeyFn destroyKey = nullptr;
    VerifySignatureFn verifySignature = nullptr;
    HashFn hash = nullptr;
    CreateHashFn createHash = nullptr;
    HashDataFn hashData = nullptr;
    FinishHashFn finishHash = nullptr;
    DestroyHashFn destroyHash = nullptr;
    UniqueCngAlgorithm sha256;
    UniqueCngAlgorithm ecdsa;

    Library() : module(LoadSystemLibrary(L"bcrypt.dll"))
    {
        HMODULE m = module.Get();
        openAlgorithm = GetProcAs<OpenAlgorithmFn>(m, "BCryptOpenAlgorithmProvider");
        closeAlgorithm = GetProcAs<CloseAlgorithmFn>(m, "BCryptCloseAlgorithmProvider");
        importKeyPair = GetProcAs<ImportKeyPairFn>(m, "BCryptImportKeyPair");
        destroyKey = GetProcAs<DestroyKeyFn>(m, "BCryptDestroyKey");
        verifySignature = GetProcAs<VerifySignatureFn>(m, "BCryptVerifySignature");
        // The one-call hash came with Windows 10; older systems hash in three steps.
        hash = GetProcAs<HashFn>(m, "BCryptHash");
        createHash = GetProcAs<CreateHashFn>(m, "BCryptCreateHash");
        hashData = GetProcAs<HashDataFn>(m, "BCryptHashData");
        finishHash = GetProcAs<FinishHashFn>(m, "BCryptFinishHash");
        destroyHash = GetProcAs<DestroyHashFn>(m, "BCryptDestroyHash");
        if (destroyKey != nullptr)
            g_destroyKey = destroyKey;
        if (destroyHash != nullptr)
            g_destroyHash = destroyHash;
        if (openAlgorithm == nullptr || closeAlgorithm == nullptr)
            return;
        g_closeAlgorithm = closeAlgorithm;
        if (!Succeeded(openAlgorithm(sha256.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            sha256.Release();
        if (!Succeeded(openAlgorithm(ecdsa.Receive(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
            ecdsa.Release();
    }

    bool CanHash() const
    {
        return hash != nullptr || (createHash != nullptr && hashData != nullptr &&
                                   finishHash != nullptr && destroyHash != nullptr);
    }

    bool IsComplete() const
    {
        return sha256 && ecdsa && importKeyPair != nullptr && destroyKey != nullptr &&
               verifySignature != nullptr && CanHash();
    }
};

CCngVerifier::CCngVerifier() : m_library(new (std::nothrow) Library())
{
}

CCngVerifier::~CCngVerifier() = default;

bool CCngVerifier::IsAvailable() const
{
    return m_library && m_library->IsComplete();
}

bool CCngVerifier::HasOneCallHash() const
{
    return m_library && m_library->hash != nullptr;
}

bool CCngVerifier::Sha256(const void* data, size_t size, uint8_t (&digest)[32]) const
{
    if (!IsAvailable() || size > kMaxHashedSize)
        return false;
    const Library& lib = *m_library;
    PUCHAR input = static_cast<PUCHAR>(const_cast<void*>(data));
    if (lib.hash != nullptr)
        return Succeeded(lib.hash(lib.sha256.Get(), nullptr, 0, input, static_cast<ULONG>(size),
                                  digest, sizeof(digest)));
    UniqueCngHash handle;
    // The provider keeps its working memory itself when given none.
    if (!Succeeded(lib.createHash(lib.sha256.Get(), handle.Receive(), nullptr, 0, nullptr, 0, 0))) {
        handle.Release();
        return false;
    }
    return Succeeded(lib.hashData(handle.Get(), input, static_cast<ULONG>(size), 0)) &&
           Succeeded(lib.finishHash(handle.Get(), digest, sizeof(digest), 0));
}

CCngVerifier::Verdict CCngVerifier::VerifyP256(const EcPublicKey& key, const uint8_t (&digest)[32],
                                               const uint8_t (&rs)[64]) const
{
    if (!IsAvailable())
        return Verdict::kUnavailable;
    const Library& lib = *m_library;
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + kEcPointSize] = {};
    BCRYPT_ECCKEY_BLOB header = {kP256PublicMagic, static_cast<ULONG>(kEcCoordinateSize)};
    std::memcpy(blob, &header, sizeof(header));
    std::memcpy(blob + sizeof(header), key.xy, kEcPointSize);
    UniqueCngKey handle;
    if (!Succeeded(lib.importKeyPair(lib.ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                     handle.Receive(), blob, sizeof(blob), 0))) {
        handle.Release();
        return Verdict::kKeyUnusable;
    }
    if (!handle)
        return Verdict::kKeyUnusable;
    uint8_t hash[32];
    uint8_t signature[64];
    std::memcpy(hash, digest, sizeof(hash));
    std::memcpy(signature, rs, sizeof(signature));
    const NTSTATUS status = lib.verifySignature(handle.Get(), nullptr, hash, sizeof(hash),
                                                signature, sizeof(signature), 0);
    return Succeeded(status) ? Verdict::kVerified : Verdict::kBadSignature;
}

#include "util/CSystemRandom.h"

#include "util/DllSearch.h"
#include "util/ProcAddress.h"

namespace {

// The system's preferred generator, without an algorithm handle to open and close.
constexpr ULONG kUseSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG

}  // namespace

CSystemRandom::CSystemRandom() : m_module(LoadSystemLibrary(L"bcrypt.dll"))
{
    m_genRandom = GetProcAs<GenRandomFn>(m_module.Get(), "BCryptGenRandom");
}

bool CSystemRandom::IsAvailable() const
{
    return m_genRandom != nullptr;
}

bool CSystemRandom::Draw(uint32_t* value) const
{
    *value = 0;
    if (m_genRandom == nullptr)
        return false;
    uint32_t drawn = 0;
    if (m_genRandom(nullptr, reinterpret_cast<PUCHAR>(&drawn), sizeof(drawn),
                    kUseSystemPreferredRng) < 0)
        return false;
    *value = drawn;
    return true;
}

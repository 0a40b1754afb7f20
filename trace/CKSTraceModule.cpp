#include "trace/CKSTraceModule.h"

#include "util/ProcAddress.h"

#include "threading/CKSLock.h"
#include "trace/CTraceSecrets.h"

#include <memory>
#include <new>

CKSTraceModule::CKSTraceModule(const char* moduleName, const TRACE_MAP_ENTRY* levelMap, uint32_t,
                               uint32_t)
    : m_cs(*new (m_csStorage) CKSCriticalSection()), m_hLibrary(), m_pfnRegisterModule(nullptr),
      m_pfnCleanup(nullptr), m_pfnTraceString(nullptr), m_pModuleEntry(nullptr),
      m_pszName(moduleName), m_pLevelMap(levelMap)
{
    Load();
}

CKSTraceModule::~CKSTraceModule()
{
    CKSLock lock(m_cs);
    // Runs as the process ends: the registration goes, but the library stays loaded, since
    // another thread may be inside one of its calls right now.
    m_pModuleEntry = nullptr;
    m_pfnTraceString = nullptr;
    const PFN_STCleanupCurrentProcessEntry cleanup = m_pfnCleanup.exchange(nullptr);
    if (cleanup != nullptr)
        cleanup();
    m_pfnRegisterModule = nullptr;
    m_hLibrary.Release();
    // The lock is left as it is: a record written from now on takes it and is dropped.
}

BOOL CKSTraceModule::Load()
{
    CKSLock lock(m_cs);
    if (m_hLibrary)
        return TRUE;
    m_hLibrary.Reset(LoadLibraryW(KSTRAC32_DLL_NAME));
    if (!m_hLibrary)
        return FALSE;
    const HMODULE library = m_hLibrary.Get();

    m_pfnRegisterModule = GetProcAs<PFN_STRegisterModule>(library, KSTRAC32_EXPORT_REGISTER_MODULE);
    m_pfnCleanup = GetProcAs<PFN_STCleanupCurrentProcessEntry>(
        library, KSTRAC32_EXPORT_CLEANUP_CURRENT_PROCESS_ENTRY);
    m_pfnTraceString = GetProcAs<PFN_STTraceString>(library, KSTRAC32_EXPORT_TRACE_STRING);
    // A library without all three is not the one this program knows how to drive.
    if (m_pfnRegisterModule == nullptr || m_pfnCleanup == nullptr || m_pfnTraceString == nullptr) {
        Unload();
        return FALSE;
    }
    m_pModuleEntry = m_pfnRegisterModule(m_pszName, m_pLevelMap);
    return TRUE;
}

void CKSTraceModule::Trace(uint32_t level, const char* text)
{
    std::unique_ptr<char[]> masked;
    const char* record = CTraceSecrets::Instance().Mask(text != nullptr ? text : "", &masked);
    if (record == nullptr)
        return;
    // Under the lock: the destruction at the process's end drops the registration under it, and
    // a thread still tracing then (a worker left inside WinInet) must not hand the library an
    // entry that is being dropped.
    CKSLock lock(m_cs);
    CModuleTableEntry* const entry = m_pModuleEntry.load();
    const PFN_STTraceString traceString = m_pfnTraceString.load();
    if (entry == nullptr || traceString == nullptr)
        return;
    traceString(entry, level, record);
}

BOOL CKSTraceModule::IsLoaded()
{
    CKSLock lock(m_cs);
    return m_hLibrary ? TRUE : FALSE;
}

void CKSTraceModule::Unload()
{
    // The registration and every entry point go before the library does, so a record
    // written during shut-down finds nothing to call instead of freed code.
    m_pModuleEntry = nullptr;
    m_pfnTraceString = nullptr;
    m_pfnCleanup = nullptr;
    m_pfnRegisterModule = nullptr;
    m_hLibrary.Reset();
}

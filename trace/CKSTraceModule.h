// A named trace module of the module channel, registered with KSTRAC32.DLL. Each module
// loads the library and registers itself on its own; when the library or one of its three
// exports is missing, the module stays unloaded and its records are dropped.
#pragma once

#include "threading/CKSCriticalSection.h"
#include "trace/TraceLibraryExports.h"

#include <atomic>
#include <cstdint>

#include "util/UniqueHandle.h"

#include <windows.h>

class CKSTraceModule {
public:
    // moduleName and levelMap must outlive the module (the program passes static tables).
    // The two further arguments are accepted for callers that pass them and are ignored.
    // Loads the library at once.
    CKSTraceModule(const char* moduleName, const TRACE_MAP_ENTRY* levelMap, uint32_t = 0,
                   uint32_t = 0);
    // Cleans up the process's registration; the library stays loaded to the process's end.
    virtual ~CKSTraceModule();

    CKSTraceModule(const CKSTraceModule&) = delete;
    CKSTraceModule& operator=(const CKSTraceModule&) = delete;

    // Loads the library and registers the module unless the library is loaded already.
    // TRUE when the library is loaded afterwards (registration itself may have failed).
    BOOL Load();

    // Writes text at level when the module is registered; no filtering by level here.
    // Safe from any thread.
    void Trace(uint32_t level, const char* text);

    BOOL IsLoaded();
    const char* GetName() const { return m_pszName; }

private:
    // Clears the entry points and the registration, then releases the library.
    void Unload();

    // Built in place and never destroyed: a thread left inside WinInet may still trace after the
    // module's destructor ran at the process's end, and must find a lock, not a deleted one.
    alignas(CKSCriticalSection) unsigned char m_csStorage[sizeof(CKSCriticalSection)];
    CKSCriticalSection& m_cs;
    UniqueModule m_hLibrary;
    PFN_STRegisterModule m_pfnRegisterModule;
    std::atomic<PFN_STCleanupCurrentProcessEntry> m_pfnCleanup;
    std::atomic<PFN_STTraceString> m_pfnTraceString;
    std::atomic<CModuleTableEntry*> m_pModuleEntry;
    const char* m_pszName;
    const TRACE_MAP_ENTRY* m_pLevelMap;
};

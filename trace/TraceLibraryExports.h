// The exports of the two optional trace libraries, exactly as this program looks them up and
// calls them. The libraries' stand-ins build against this header too, so both sides share
// one set of names and signatures. No Windows header here.
#pragma once

#include <cstdarg>
#include <cstdint>

// ---- ovktrace.dll: the leveled wide-text channel -------------------------------------------

#define OVKTRACE_DLL_NAME L"ovktrace.dll"
#define OVKTRACE_EXPORT_TRACE "OVKTRACE"
#define OVKTRACE_EXPORT_TRACE_RAW "OVKTRACERAW"
#define OVKTRACE_EXPORT_DUMP_TO_FILE "OVKDumptoFile"

// The category bit every leveled record is written under.
constexpr uint32_t OVKTRACE_CATEGORY_LEVELED = 2;

// One record: format is a wide printf-style format in the Windows C runtime's sense (a bare
// %s takes a wide string), args its arguments. The two reserved arguments are always 0.
// Answers a number the program never looks at.
typedef int(__cdecl* PFN_OVKTRACE)(uint32_t categoryBits, uint32_t reserved1, uint32_t reserved2,
                                   const wchar_t* format, va_list args);
// One record taken as it is, without formatting. Resolved, never called by the program.
typedef int(__cdecl* PFN_OVKTRACERAW)(uint32_t categoryBits, const wchar_t* text);
// Copies what the library has recorded into the file at path. Resolved, never called.
typedef int(__cdecl* PFN_OVKDUMPTOFILE)(const wchar_t* path);

// ---- KSTRAC32.DLL: the module channel ------------------------------------------------------

#define KSTRAC32_DLL_NAME L"KSTRAC32.DLL"

// One level of a module's level map; a map ends with an entry of all zeros.
struct TRACE_MAP_ENTRY {
    uint32_t nLevel;
    const char* pszName;
    uint32_t nFlag;
};

// The library's record of a registered module: opaque to the program.
class CModuleTableEntry;

// Registers a module under its narrow name with its level map; null when that failed.
typedef CModuleTableEntry*(__cdecl* PFN_STRegisterModule)(const char* moduleName,
                                                          const TRACE_MAP_ENTRY* levelMap);
// Forgets every module this process registered.
typedef void(__cdecl* PFN_STCleanupCurrentProcessEntry)();
// Writes one narrow text to a registered module at a level of its map.
typedef void(__cdecl* PFN_STTraceString)(CModuleTableEntry* module, uint32_t level,
                                         const char* text);

// The three functions are exported under their Visual C++ decorated names, which encode the
// signatures above (global functions, __cdecl); pointers are decorated differently in 64-bit
// code, so each target has its own set.
#ifdef _WIN64
#define KSTRAC32_EXPORT_REGISTER_MODULE                                                            \
    "?STRegisterModule@@YAPEAVCModuleTableEntry@@PEBDPEBUTRACE_MAP_ENTRY@@@Z"
#define KSTRAC32_EXPORT_CLEANUP_CURRENT_PROCESS_ENTRY "?STCleanupCurrentProcessEntry@@YAXXZ"
#define KSTRAC32_EXPORT_TRACE_STRING "?STTraceString@@YAXPEAVCModuleTableEntry@@IPEBD@Z"
#else
#define KSTRAC32_EXPORT_REGISTER_MODULE                                                            \
    "?STRegisterModule@@YAPAVCModuleTableEntry@@PBDPBUTRACE_MAP_ENTRY@@@Z"
#define KSTRAC32_EXPORT_CLEANUP_CURRENT_PROCESS_ENTRY "?STCleanupCurrentProcessEntry@@YAXXZ"
#define KSTRAC32_EXPORT_TRACE_STRING "?STTraceString@@YAXPAVCModuleTableEntry@@IPBD@Z"
#endif

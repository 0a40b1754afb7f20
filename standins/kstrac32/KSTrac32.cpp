// Stand-in for KSTRAC32.DLL: registered modules write to kstrac32.log beside the DLL,
//   <time> pid=<pid> tid=<tid> <module> <level name>: <text>
// Levels whose map flag is 0 are off and dropped; levels missing from the map are written as
// "level <n>". Built a second time without the trace export to stand for an incomplete library.
#include "standins/common/CStandinLog.h"
#include "standins/kstrac32/CModuleTable.h"
#include "trace/TraceLibraryExports.h"

#include <string>

// The exports carry decorated names that are not identifiers: each function gets the name as
// its assembler symbol (on 32-bit targets with the leading underscore the linker strips from
// exports) and an export directive of its own.
#ifdef _WIN64
#define KS_SYMBOL_PREFIX ""
#else
#define KS_SYMBOL_PREFIX "_"
#endif
#define KS_SYMBOL(decorated) "\"" KS_SYMBOL_PREFIX decorated "\""
#define KS_EXPORT(decorated)                                                                       \
    __asm__(".section .drectve\n\t.ascii \" -export:\\\"" decorated "\\\"\"\n\t.text")

extern "C" {
CModuleTableEntry* __cdecl StRegisterModule(
    const char* moduleName,
    const TRACE_MAP_ENTRY* levelMap) __asm__(KS_SYMBOL(KSTRAC32_EXPORT_REGISTER_MODULE));
void __cdecl StCleanupCurrentProcessEntry() __asm__(
    KS_SYMBOL(KSTRAC32_EXPORT_CLEANUP_CURRENT_PROCESS_ENTRY));
void __cdecl StTraceString(CModuleTableEntry* module, uint32_t level,
                           const char* text) __asm__(KS_SYMBOL(KSTRAC32_EXPORT_TRACE_STRING));
}

KS_EXPORT(KSTRAC32_EXPORT_REGISTER_MODULE);
KS_EXPORT(KSTRAC32_EXPORT_CLEANUP_CURRENT_PROCESS_ENTRY);
#ifndef KSTRAC32_WITHOUT_TRACE_STRING
KS_EXPORT(KSTRAC32_EXPORT_TRACE_STRING);
#endif

namespace {

// The exports have exactly the types the program calls them through.
[[maybe_unused]] constexpr PFN_STRegisterModule kRegisterModuleType = &StRegisterModule;
[[maybe_unused]] constexpr PFN_STCleanupCurrentProcessEntry kCleanupType =
    &StCleanupCurrentProcessEntry;
[[maybe_unused]] constexpr PFN_STTraceString kTraceStringType = &StTraceString;

CStandinLog& Log()
{
    static CStandinLog log(L"kstrac32.log");
    return log;
}

CModuleTable& Table()
{
    static CModuleTable table;
    return table;
}

// The work behind each export. Nothing may escape into the caller: a failure drops the call.
// Never inlined into the exports (see below).

__attribute__((noinline)) CModuleTableEntry*
RegisterModule(const char* moduleName, const TRACE_MAP_ENTRY* levelMap) noexcept
{
    try {
        if (moduleName == nullptr)
            return nullptr;
        CModuleTableEntry* const module = Table().Add(moduleName, levelMap);
        Log().Append(module->GetName() + " registered: " + module->DescribeMap());
        return module;
    } catch (...) {
        return nullptr;
    }
}

__attribute__((noinline)) void CleanupCurrentProcessEntry() noexcept
{
    try {
        const size_t count = Table().Clear();
        Log().Append("process entry cleaned up: " + std::to_string(count) + " modules");
    } catch (...) {
    }
}

__attribute__((noinline)) void TraceString(CModuleTableEntry* module, uint32_t level,
                                           const char* text) noexcept
{
    try {
        std::string line;
        if (Table().FormatRecord(module, level, text, line))
            Log().Append(line);
    } catch (...) {
    }
}

}  // namespace

// The exports themselves stay plain calls: the compiler would otherwise split them into parts
// whose names it derives from the decorated symbol in a way the assembler rejects.

// Registers the module and logs "<module> registered: <map>"; null for a null name.
CModuleTableEntry* __cdecl StRegisterModule(const char* moduleName, const TRACE_MAP_ENTRY* levelMap)
{
    return RegisterModule(moduleName, levelMap);
}

// Forgets every module of this process and logs how many there were.
void __cdecl StCleanupCurrentProcessEntry()
{
    CleanupCurrentProcessEntry();
}

// Writes "<module> <level name>: <text>" unless the module is unknown or the level is off.
void __cdecl StTraceString(CModuleTableEntry* module, uint32_t level, const char* text)
{
    TraceString(module, level, text);
}

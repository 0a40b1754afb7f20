// The modules this process registered with the stand-in. A module pointer is used only while
// it is listed here, so a stale pointer after the clean-up is dropped instead of followed.
// Safe from any thread.
#pragma once

#include "standins/kstrac32/CModuleTableEntry.h"
#include "threading/CKSCriticalSection.h"

#include <memory>
#include <string>
#include <vector>

class CModuleTable {
public:
    CModuleTable() = default;
    virtual ~CModuleTable() = default;

    CModuleTable(const CModuleTable&) = delete;
    CModuleTable& operator=(const CModuleTable&) = delete;

    // Lists a new module with a copy of its name and level map.
    CModuleTableEntry* Add(const char* name, const TRACE_MAP_ENTRY* levelMap);

    // The line for a record ("<module> <level name>: <text>"), or false when the module is
    // not listed or the level is off.
    bool FormatRecord(CModuleTableEntry* module, uint32_t level, const char* text,
                      std::string& line);

    // Forgets every module; answers how many there were.
    size_t Clear();

private:
    CKSCriticalSection m_cs;
    std::vector<std::unique_ptr<CModuleTableEntry>> m_modules;
};

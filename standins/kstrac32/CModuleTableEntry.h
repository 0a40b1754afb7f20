// The stand-in's record of one registered trace module: its name and a copy of its level map.
#pragma once

#include "trace/TraceLibraryExports.h"

#include <cstdint>
#include <string>
#include <vector>

class CModuleTableEntry {
public:
    // Copies name and the map up to its all-zero end (at most kMaxLevels entries).
    CModuleTableEntry(const char* name, const TRACE_MAP_ENTRY* levelMap);
    virtual ~CModuleTableEntry() = default;

    const std::string& GetName() const { return m_name; }

    // How a record of level is written: false when the map turns the level off (flag 0);
    // otherwise true with the level's name, or "level <n>" for a level not in the map.
    bool DescribeLevel(uint32_t level, std::string& name) const;

    // The map as one text: "0 Function (off), 1 Information, 2 Error".
    std::string DescribeMap() const;

    static constexpr size_t kMaxLevels = 64;

private:
    struct Level {
        uint32_t number;
        std::string name;
        uint32_t flag;
    };

    std::string m_name;
    std::vector<Level> m_levels;
};

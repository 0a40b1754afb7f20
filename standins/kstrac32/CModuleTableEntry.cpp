#include "standins/kstrac32/CModuleTableEntry.h"

namespace {

bool IsMapEnd(const TRACE_MAP_ENTRY& entry)
{
    return entry.nLevel == 0 && entry.pszName == nullptr && entry.nFlag == 0;
}

}  // namespace

CModuleTableEntry::CModuleTableEntry(const char* name, const TRACE_MAP_ENTRY* levelMap)
    : m_name(name != nullptr ? name : "")
{
    if (levelMap == nullptr)
        return;
    for (size_t i = 0; i < kMaxLevels && !IsMapEnd(levelMap[i]); ++i) {
        const TRACE_MAP_ENTRY& entry = levelMap[i];
        m_levels.push_back(
            {entry.nLevel, entry.pszName != nullptr ? entry.pszName : "", entry.nFlag});
    }
}

bool CModuleTableEntry::DescribeLevel(uint32_t level, std::string& name) const
{
    for (const Level& known : m_levels) {
        if (known.number != level)
            continue;
        name = known.name;
        return known.flag != 0;
    }
    name = "level " + std::to_string(level);
    return true;
}

std::string CModuleTableEntry::DescribeMap() const
{
    std::string text;
    for (const Level& level : m_levels) {
        if (!text.empty())
            text += ", ";
        text += std::to_string(level.number) + " " + level.name;
        if (level.flag == 0)
            text += " (off)";
    }
    return text;
}

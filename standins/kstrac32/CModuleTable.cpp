#include "standins/kstrac32/CModuleTable.h"

#include "threading/CKSLock.h"

#include <algorithm>

CModuleTableEntry* CModuleTable::Add(const char* name, const TRACE_MAP_ENTRY* levelMap)
{
    CKSLock lock(m_cs);
    m_modules.push_back(std::make_unique<CModuleTableEntry>(name, levelMap));
    return m_modules.back().get();
}

bool CModuleTable::FormatRecord(CModuleTableEntry* module, uint32_t level, const char* text,
                                std::string& line)
{
    CKSLock lock(m_cs);
    const auto found = std::find_if(m_modules.begin(), m_modules.end(),
                                    [module](const auto& m) { return m.get() == module; });
    if (found == m_modules.end())
        return false;
    std::string levelName;
    if (!module->DescribeLevel(level, levelName))
        return false;
    line = module->GetName() + " " + levelName + ": " + (text != nullptr ? text : "");
    return true;
}

size_t CModuleTable::Clear()
{
    CKSLock lock(m_cs);
    const size_t count = m_modules.size();
    m_modules.clear();
    return count;
}

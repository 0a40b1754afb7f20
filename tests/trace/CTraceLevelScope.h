// Test helper: the trace threshold for one scope.
#pragma once

#include <cstdint>

// Sets the threshold for a scope and puts the old one back.
class CTraceLevelScope {
public:
    explicit CTraceLevelScope(int32_t threshold);
    virtual ~CTraceLevelScope();

    CTraceLevelScope(const CTraceLevelScope&) = delete;
    CTraceLevelScope& operator=(const CTraceLevelScope&) = delete;

private:
    int32_t m_previous;
};

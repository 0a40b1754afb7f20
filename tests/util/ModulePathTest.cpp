#include "util/ModulePath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Cutting itself is checked against a model by the text-pieces fuzz target; here the
// program's own path and the buffer it is read into.
TEST(GetModuleDir, ProgramDirectoryAndAboveOrNothing)
{
    wchar_t exe[MAX_PATH];
    const DWORD len = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ASSERT_GT(len, 4u);
    std::wstring expected(exe, len);
    wchar_t dir[MAX_PATH];
    for (int levels = 0; levels < 3; ++levels) {
        expected.resize(expected.rfind(L'\\'));
        ASSERT_TRUE(GetModuleDir(nullptr, dir, MAX_PATH, levels)) << levels;
        EXPECT_EQ(expected, dir) << levels;
    }
    dir[0] = L'x';
    EXPECT_FALSE(GetModuleDir(nullptr, dir, MAX_PATH, 100));
    EXPECT_STREQ(L"", dir);
    EXPECT_FALSE(CutPathComponents(nullptr, 0));
    // A buffer too small for the path fails empty: a cut path would give a wrong directory.
    dir[0] = L'x';
    EXPECT_FALSE(GetModuleDir(nullptr, dir, len, 0));
    EXPECT_STREQ(L"", dir);
    EXPECT_TRUE(GetModuleDir(nullptr, dir, len + 1, 0));
    EXPECT_FALSE(GetModuleDir(nullptr, nullptr, MAX_PATH, 0));
}

}  // namespace

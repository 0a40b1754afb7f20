#include "util/ModulePath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Cut(const wchar_t* path, int levels, bool* ok)
{
    wchar_t buf[64];
    wcscpy(buf, path);
    *ok = CutPathComponents(buf, levels);
    return buf;
}

TEST(CutPathComponents, CutsTheRequestedLevels)
{
    bool ok = false;
    EXPECT_EQ(L"C:\\a\\b", Cut(L"C:\\a\\b\\prog.exe", 0, &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(L"C:\\a", Cut(L"C:\\a\\b\\prog.exe", 1, &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(L"C:", Cut(L"C:\\a\\b\\prog.exe", 2, &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(L"", Cut(L"C:\\a\\b\\prog.exe", 3, &ok));
    EXPECT_FALSE(ok);
}

TEST(CutPathComponents, NoBackslashEmptiesThePath)
{
    bool ok = true;
    EXPECT_EQ(L"", Cut(L"prog.exe", 0, &ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(L"", Cut(L"", 0, &ok));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(CutPathComponents(nullptr, 0));
}

TEST(CutPathComponents, TrailingBackslashCountsAsAComponent)
{
    bool ok = false;
    EXPECT_EQ(L"C:\\a", Cut(L"C:\\a\\", 0, &ok));
    EXPECT_TRUE(ok);
}

TEST(GetModuleDir, ProgramDirectoryAndAbove)
{
    wchar_t exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    std::wstring expected = exe;
    expected.resize(expected.rfind(L'\\'));

    wchar_t dir[MAX_PATH];
    ASSERT_TRUE(GetModuleDir(nullptr, dir, MAX_PATH, 0));
    EXPECT_EQ(expected, dir);

    expected.resize(expected.rfind(L'\\'));
    expected.resize(expected.rfind(L'\\'));
    ASSERT_TRUE(GetModuleDir(nullptr, dir, MAX_PATH, 2));
    EXPECT_EQ(expected, dir);
}

TEST(GetModuleDir, BufferTooSmallForThePathFailsEmpty)
{
    wchar_t exe[MAX_PATH];
    const DWORD len = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ASSERT_GT(len, 4u);
    wchar_t dir[MAX_PATH];
    dir[0] = L'x';
    // A cut path would still contain backslashes and give a wrong directory.
    EXPECT_FALSE(GetModuleDir(nullptr, dir, len, 0));
    EXPECT_STREQ(L"", dir);
    EXPECT_TRUE(GetModuleDir(nullptr, dir, len + 1, 0));
    EXPECT_FALSE(GetModuleDir(nullptr, nullptr, MAX_PATH, 0));
}

TEST(GetModuleDir, TooManyLevelsFails)
{
    wchar_t dir[MAX_PATH];
    EXPECT_FALSE(GetModuleDir(nullptr, dir, MAX_PATH, 100));
    EXPECT_STREQ(L"", dir);
}

}  // namespace

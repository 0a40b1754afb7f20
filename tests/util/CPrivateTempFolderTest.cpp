#include "util/CPrivateTempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <string>

namespace {

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Read(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The name is drawn afresh for each folder, and the folder goes with its object. (Its owner-only
// access list cannot be read back here: the emulator's file system keeps no folder's own list and
// answers a default one.)
TEST(CPrivateTempFolder, EachFolderHasAFreshNameAndGoesWithItsObject)
{
    std::wstring paths[2];
    {
        CPrivateTempFolder first;
        CPrivateTempFolder second;
        ASSERT_TRUE(first.Create());
        ASSERT_TRUE(second.Create());
        paths[0] = first.GetPath();
        paths[1] = second.GetPath();
        EXPECT_NE(paths[0], paths[1]);
        EXPECT_TRUE(Exists(paths[0]) && Exists(paths[1]));
    }
    EXPECT_FALSE(Exists(paths[0]));
    EXPECT_FALSE(Exists(paths[1]));
}

// A file is only ever created new: one planted under the name first is neither opened nor
// overwritten, and the store fails instead.
TEST(CPrivateTempFolder, FilesAreCreatedNewNeverOverAPlantedOne)
{
    CPrivateTempFolder folder;
    ASSERT_TRUE(folder.Create());
    const std::wstring planted = std::wstring(folder.GetPath()) + L"\\planted.ini";
    std::ofstream(planted.c_str(), std::ios::binary) << "planted";
    wchar_t path[MAX_PATH] = {};
    EXPECT_FALSE(folder.StoreNewFile(L"planted.ini", "new", 3, path, MAX_PATH));
    EXPECT_EQ("planted", Read(planted));
    EXPECT_TRUE(folder.StoreNewFile(L"dlk.php", "[ZEInstall]", 11, path, MAX_PATH));
    EXPECT_EQ(std::wstring(folder.GetPath()) + L"\\dlk.php", path);
    EXPECT_EQ("[ZEInstall]", Read(path));
    DeleteFileW(planted.c_str());  // not the folder's own: the folder would stay otherwise
}

// The stored file is held from its writing on: readers get it, but nobody can write, rename or
// delete it, and what the folder reads back is what it wrote.
TEST(CPrivateTempFolder, TheStoredFileIsHeldAgainstChangesAndReadBack)
{
    CPrivateTempFolder folder;
    ASSERT_TRUE(folder.Create());
    wchar_t path[MAX_PATH] = {};
    ASSERT_TRUE(folder.StoreNewFile(L"dlk.php", "[ZEInstall]", 11, path, MAX_PATH));
    const DWORD anyShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const struct {
        const char* name;
        DWORD access;
        bool opens;
    } opens[] = {
        {"write", GENERIC_WRITE, false},
        {"read and write", GENERIC_READ | GENERIC_WRITE, false},
        {"delete", DELETE, false},
        {"read", GENERIC_READ, true},
    };
    for (const auto& row : opens) {
        SCOPED_TRACE(row.name);
        HANDLE h = CreateFileW(path, row.access, anyShare, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(row.opens, h != INVALID_HANDLE_VALUE);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        else
            EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
    }
    EXPECT_FALSE(DeleteFileW(path));
    const std::wstring moved = std::wstring(folder.GetPath()) + L"\\moved.php";
    EXPECT_FALSE(MoveFileW(path, moved.c_str()));
    char bytes[32] = {};
    DWORD read = 0;
    ASSERT_TRUE(folder.ReadStoredFile(bytes, sizeof(bytes), &read));
    EXPECT_EQ("[ZEInstall]", std::string(bytes, read));
    EXPECT_FALSE(folder.ReadStoredFile(bytes, 10, &read)) << "a buffer too small for the file";

    // Another file stored replaces the first: that one is let go and removed.
    wchar_t second[MAX_PATH] = {};
    ASSERT_TRUE(folder.StoreNewFile(L"other.php", "x", 1, second, MAX_PATH));
    EXPECT_FALSE(Exists(path));
}

// Names drawn in turn: "mvu-taken-0", "mvu-taken-1", ... up to the last one given, which is then
// drawn again. A hundred draws give none: a bound that never came.
int g_drawn = 0;
int g_lastName = 0;
bool TakenNames(wchar_t (&name)[32])
{
    if (++g_drawn > 100)
        return false;
    std::swprintf(name, 32, L"mvu-taken-%d", std::min(g_drawn - 1, g_lastName));
    return true;
}

// A name taken already is given up for the next one; with every name taken, the folder is not
// created and only a few names are tried.
TEST(CPrivateTempFolder, ATakenNameIsGivenUpForAnotherAFewTimesAtMost)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring taken = std::wstring(temp) + L"mvu-taken-0";
    ASSERT_TRUE(CreateDirectoryW(taken.c_str(), nullptr));
    {
        g_drawn = 0;
        g_lastName = 1;
        CPrivateTempFolder folder;
        EXPECT_TRUE(folder.Create(TakenNames));
        EXPECT_EQ(std::wstring(temp) + L"mvu-taken-1", folder.GetPath());
        EXPECT_EQ(2, g_drawn);
    }
    g_drawn = 0;
    g_lastName = 0;
    CPrivateTempFolder folder;
    EXPECT_FALSE(folder.Create(TakenNames));
    EXPECT_STREQ(L"", folder.GetPath());
    EXPECT_LT(g_drawn, 100) << "no bound on the names tried";
    RemoveDirectoryW(taken.c_str());
}

}  // namespace

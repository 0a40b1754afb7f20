#include "util/RegKey.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

HKEY OpenSoftwareKey()
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &key));
    return key;
}

bool IsOpen(HKEY key)
{
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

TEST(CRegKey, DestructorClosesTheKey)
{
    HKEY raw = OpenSoftwareKey();
    {
        CRegKey key(raw);
        EXPECT_TRUE(key);
        EXPECT_EQ(raw, key.Get());
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));
}

TEST(CRegKey, EmptyOwnerStandsForNoKey)
{
    CRegKey key;
    EXPECT_FALSE(key);
    EXPECT_EQ(nullptr, key.Get());
    key.Reset();
    EXPECT_EQ(nullptr, key.Release());
}

TEST(CRegKey, ReleaseGivesUpWithoutClosing)
{
    HKEY raw = OpenSoftwareKey();
    {
        CRegKey key(raw);
        EXPECT_EQ(raw, key.Release());
        EXPECT_FALSE(key);
    }
    EXPECT_TRUE(IsOpen(raw));
    RegCloseKey(raw);
}

TEST(CRegKey, MovesTransferOwnershipAndCloseTheReplacedKeyOnce)
{
    HKEY first = OpenSoftwareKey();
    HKEY second = OpenSoftwareKey();
    CRegKey a(first);
    CRegKey b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(first, b.Get());

    CRegKey c(second);
    c = std::move(b);
    EXPECT_FALSE(IsOpen(second)) << "the key replaced by the move is closed";
    EXPECT_EQ(first, c.Get());
    EXPECT_TRUE(IsOpen(first));

    CRegKey& self = c;
    c = std::move(self);
    EXPECT_TRUE(IsOpen(first)) << "a move onto itself keeps the key";
    c.Reset();
    EXPECT_FALSE(IsOpen(first));
    c.Reset();
}

TEST(CRegKey, ResetWithTheHeldKeyKeepsItOpen)
{
    HKEY raw = OpenSoftwareKey();
    CRegKey key(raw);
    key.Reset(raw);
    EXPECT_TRUE(IsOpen(raw));
    EXPECT_EQ(raw, key.Get());
}

TEST(CRegKey, ReceiveClosesTheOldKeyAndTakesTheNewOne)
{
    HKEY old = OpenSoftwareKey();
    CRegKey key(old);
    HKEY* slot = key.Receive();
    EXPECT_EQ(nullptr, *slot);
    EXPECT_FALSE(IsOpen(old));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, slot));
    EXPECT_TRUE(IsOpen(key.Get()));
}

}  // namespace

#include "util/UniqueHandle.h"

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
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

TEST(CRegKey, EachKeyIsClosedOnceByItsLastOwner)
{
    HKEY closed = OpenSoftwareKey();
    HKEY released = OpenSoftwareKey();
    {
        CRegKey owner(closed);
        CRegKey other(released);
        EXPECT_EQ(released, other.Release());
    }
    EXPECT_FALSE(IsOpen(closed)) << "destructor";
    EXPECT_TRUE(IsOpen(released)) << "released";
    RegCloseKey(released);

    HKEY first = OpenSoftwareKey();
    HKEY second = OpenSoftwareKey();
    CRegKey a(first);
    CRegKey b(std::move(a));
    EXPECT_FALSE(a);
    CRegKey c(second);
    c = std::move(b);
    EXPECT_FALSE(IsOpen(second)) << "replaced by a move";
    EXPECT_EQ(first, c.Get());
    CRegKey& self = c;
    c = std::move(self);
    c.Reset(first);
    EXPECT_TRUE(IsOpen(first)) << "moved onto itself, reset with the key it holds";
    HKEY* slot = c.Receive();
    EXPECT_FALSE(IsOpen(first)) << "slot handed out";
    EXPECT_EQ(nullptr, *slot);
    c.Reset();
}

}  // namespace

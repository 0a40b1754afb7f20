#include "util/UpdateKeySetting.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kGeneralPath[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";
const std::wstring kKey =
    L"MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEYQwVWjLBM90dlIfFtxxglvO0UuWIbhpIpLmVpnAx"
    L"AYDJMm1D3K57OLum0DfLpok38MAWQpTGmSOeZbRS0JaVTw==";

std::wstring Keys(int count)
{
    std::wstring text;
    for (int i = 0; i < count; ++i)
        text += (i == 0 ? L"" : L";") + kKey;
    return text;
}

// Whatever keeps the value from being used, a value that is there never reads as no keys.
TEST(UpdateKeySetting, PresentValuesAreKeysOrUnusableNeverAbsent)
{
    const struct {
        const char* name;
        DWORD type;  // 0: no value
        std::wstring text;
        UpdateKeyState state;
        size_t count;
        size_t pieces;
    } rows[] = {
        {"no value", 0, L"", UpdateKeyState::kAbsent, 0, 0},
        {"empty", REG_SZ, L"", UpdateKeyState::kUnusable, 0, 0},
        {"blanks and separators", REG_SZ, L" ; ", UpdateKeyState::kUnusable, 0, 0},
        {"junk", REG_SZ, L"not;a key", UpdateKeyState::kUnusable, 0, 2},
        {"a key as expandable text", REG_EXPAND_SZ, kKey, UpdateKeyState::kUnusable, 0, 0},
        {"a key as bytes", REG_BINARY, kKey, UpdateKeyState::kUnusable, 0, 0},
        {"longer than any key list", REG_SZ, std::wstring(3000, L'A'), UpdateKeyState::kUnusable, 0,
         0},
        {"one key", REG_SZ, kKey, UpdateKeyState::kKeys, 1, 1},
        {"three keys", REG_SZ, Keys(3), UpdateKeyState::kKeys, 3, 3},
        {"junk beside a key", REG_SZ, L"junk;" + kKey, UpdateKeyState::kKeys, 1, 2},
        {"nine keys: the first eight", REG_SZ, Keys(9), UpdateKeyState::kKeys, 8, 9},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralPath);
        if (row.type != 0) {
            ASSERT_EQ(ERROR_SUCCESS,
                      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kGeneralPath, L"MVUpdateKey", row.type,
                                      row.text.c_str(),
                                      static_cast<DWORD>((row.text.size() + 1) * sizeof(wchar_t))));
        }
        UpdateKeySetting setting;
        ReadUpdateKeySetting(setting);
        EXPECT_EQ(static_cast<int>(row.state), static_cast<int>(setting.state));
        EXPECT_EQ(row.count, setting.count);
        EXPECT_EQ(row.pieces, setting.pieces);
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralPath);
}

}  // namespace

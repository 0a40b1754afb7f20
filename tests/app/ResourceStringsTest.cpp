// The program's string table, as the progress-bar title loads it.
#include "app/EntryGlobals.h"
#include "app/ResourceStrings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ResourceStrings : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleW(nullptr);
        LoadResourceModule();
    }
    void TearDown() override { g_hResModule = nullptr; }

    std::wstring Load(UINT id, int format)
    {
        wchar_t out[128];
        wmemset(out, L'#', 128);
        out[127] = L'\0';
        EXPECT_EQ(1, LoadResString(id, out, 128, format));
        return out;
    }
};

TEST_F(ResourceStrings, EachLanguageHasItsOwnStringWithTheProductName)
{
    EXPECT_EQ(L"\u6b63\u5728\u8bbe\u7f6e Mirrorvale", Load(1012, 1));
    EXPECT_EQ(L" \u8a2d\u5b9a Mirrorvale", Load(2012, 1)) << "the leading blank stays";
    EXPECT_EQ(L"Mirrorvale\u3092\u8a2d\u5b9a\u3057\u3066\u3044\u307e\u3059", Load(3012, 1));
    EXPECT_EQ(L"Mirrorvale \uc124\uce58 \uc911", Load(4012, 1));
    EXPECT_EQ(L"Configurer Mirrorvale", Load(5012, 1));
    EXPECT_EQ(L"Mirrorvale wird eingerichtet", Load(6012, 1));
    EXPECT_EQ(L"Instalaci\u00f3n de Mirrorvale", Load(7012, 1));
    EXPECT_EQ(L"Setting Up Mirrorvale", Load(8012, 1));
}

TEST_F(ResourceStrings, WithoutTheFormatFlagTheMarkStays)
{
    EXPECT_EQ(L"%s wird eingerichtet", Load(6012, 0));
    EXPECT_EQ(L"Connecting with Orvik %s Web Servers...", Load(1, 0));
}

TEST_F(ResourceStrings, MissingIdGivesAnEmptyTextMissingModuleNothing)
{
    EXPECT_EQ(L"", Load(4711, 1));
    g_hResModule = nullptr;
    wchar_t out[8] = L"keep";
    EXPECT_EQ(0, LoadResString(8012, out, 8, 1));
    EXPECT_STREQ(L"keep", out);
}

TEST_F(ResourceStrings, LongTextIsCutToTheBuffer)
{
    wchar_t out[8];
    EXPECT_EQ(1, LoadResString(8012, out, 8, 1));
    EXPECT_STREQ(L"Setting", out);
}

}  // namespace

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
};

TEST_F(ResourceStrings, FormatFlagMissingIdsAndShortBuffers)
{
    const struct {
        UINT id;
        int format;
        int size;
        const wchar_t* text;
    } rows[] = {
        // Without the format flag the mark stays (with it: AnswerFlowTest's titles).
        {6012, 0, 128, L"%s wird eingerichtet"},
        {4711, 1, 128, L""},
        {8012, 1, 8, L"Setting"},
    };
    for (const auto& row : rows) {
        wchar_t out[128];
        wmemset(out, L'#', 128);
        EXPECT_EQ(1, LoadResString(row.id, out, row.size, row.format)) << row.id;
        EXPECT_EQ(std::wstring(row.text), std::wstring(out, wcsnlen(out, row.size))) << row.id;
    }
    // Without the module nothing is loaded and nothing touched.
    g_hResModule = nullptr;
    wchar_t out[8] = L"keep";
    EXPECT_EQ(0, LoadResString(8012, out, 8, 1));
    EXPECT_STREQ(L"keep", out);
}

}  // namespace

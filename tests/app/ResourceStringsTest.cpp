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

// Each load fills a buffer of 128 '#' first. Without the format flag the string's mark stays
// (with it: AnswerFlowTest's titles); a short buffer gets the start of the same text.
TEST_F(ResourceStrings, FormatFlagMissingIdsAndShortBuffers)
{
    const auto load = [](UINT id, int size, int format) {
        wchar_t out[128];
        wmemset(out, L'#', 128);
        EXPECT_EQ(1, LoadResString(id, out, size, format)) << id;
        return std::wstring(out, wcsnlen(out, size));
    };
    const std::wstring whole = load(8012, 128, 0);
    EXPECT_NE(std::wstring::npos, whole.find(L"%s")) << whole;
    EXPECT_EQ(whole.substr(0, 7), load(8012, 8, 1));
    EXPECT_EQ(L"", load(4711, 128, 1));
    // Without the module nothing is loaded and nothing touched.
    g_hResModule = nullptr;
    wchar_t out[8] = L"keep";
    EXPECT_EQ(0, LoadResString(8012, out, 8, 1));
    EXPECT_STREQ(L"keep", out);
}

}  // namespace

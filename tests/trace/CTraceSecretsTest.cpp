// The process's table of secrets, in a program of its own: the table lives as long as the
// process, so what this test adds is all it holds. Eight slots: a new value takes the oldest
// one, never the access token's.
#include "trace/CTraceSecrets.h"

#include "util/Utf8.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t kToken[] = L"t0k\u00e9n-of-th1s-machine";
const char kProxyPassword[] = "pr0xy-pa55";
const char kServerPassword[] = "s3rver-pa55";

std::string Utf8(const wchar_t* text)
{
    char buffer[256];
    return WideToUtf8(text, buffer, sizeof(buffer)) > 0 ? std::string(buffer) : std::string();
}

// Whether a record holding value between other text reaches a library masked.
bool Masked(const std::string& value)
{
    const std::string record = "page: " + value + ".";
    std::unique_ptr<char[]> holder;
    const char* out = CTraceSecrets::Instance().Mask(record.c_str(), &holder);
    EXPECT_NE(nullptr, out) << value;
    return out != nullptr && std::string(out) == "page: ********.";
}

bool MaskedWide(const std::wstring& value)
{
    const std::wstring record = L"<E>" + value + L"</E>";
    std::unique_ptr<wchar_t[]> holder;
    const wchar_t* out = CTraceSecrets::Instance().Mask(record.c_str(), &holder);
    EXPECT_NE(nullptr, out);
    return out != nullptr && std::wstring(out) == L"<E>********</E>";
}

// Values a run may add after the token: the passwords, which the worker reads again at each
// request, and whatever they were changed to meanwhile.
std::vector<std::string> Changed(const char* prefix, int from, int to)
{
    std::vector<std::string> values;
    for (int i = from; i <= to; ++i)
        values.push_back(prefix + std::to_string(i));
    return values;
}

// Each step adds values (the token first, where it says so), then checks which of them a record
// still shows masked and which in clear.
TEST(TraceSecrets, TheTokenKeepsItsSlotWhileTheOldestOtherValueGivesWay)
{
    CTraceSecrets& table = CTraceSecrets::Instance();
    std::vector<std::string> gone = Changed("pa55-", 1, 6);
    gone.push_back(kServerPassword);
    const struct {
        const char* step;
        bool token;
        std::vector<std::string> added;
        std::vector<std::string> masked;
        std::vector<std::string> clear;
    } steps[] = {
        {"nothing added yet", false, {}, {}, {kProxyPassword}},
        {"the token, then both passwords, the proxy's twice: a known value takes no slot",
         true,
         {kProxyPassword, kServerPassword, kProxyPassword},
         {kProxyPassword, kServerPassword},
         {}},
        {"five more fill the table", false, Changed("pa55-", 1, 5), Changed("pa55-", 1, 5), {}},
        {"a ninth value: the proxy password, the oldest but the token, gives way",
         false,
         Changed("pa55-", 6, 6),
         {kServerPassword, "pa55-1", "pa55-6"},
         {kProxyPassword}},
        {"seven more: every value but the token has given way", false, Changed("next-", 1, 7),
         Changed("next-", 1, 7), gone},
        {"the token added again takes no second slot", true, {}, Changed("next-", 1, 7), {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        if (step.token)
            table.AddToken(kToken);
        for (const std::string& value : step.added)
            table.Add(value.c_str());
        const bool tokenKnown = &step != &steps[0];
        EXPECT_EQ(tokenKnown, MaskedWide(kToken));
        EXPECT_EQ(tokenKnown, Masked(Utf8(kToken))) << "the token's UTF-8 form";
        for (const std::string& value : step.masked)
            EXPECT_TRUE(Masked(value)) << value;
        for (const std::string& value : step.clear)
            EXPECT_FALSE(Masked(value)) << value;
    }
}

}  // namespace

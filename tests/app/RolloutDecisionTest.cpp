// Whether a release to a share of the fleet is for this machine, and what the trace shows of
// it: the decision at the edges of the share, with a stored, a drawn and no bucket at all.
#include "app/RolloutDecision.h"
#include "app/VersionText.h"
#include "tests/trace/COvkTraceRecorder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kGeneralPath[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";

bool Draw6789(uint32_t* value)
{
    *value = 6789;
    return true;
}

bool DrawNothing(uint32_t* value)
{
    *value = 0;
    return false;
}

std::wstring StoredBucket()
{
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kGeneralPath, L"MVRolloutBucket", RRF_RT_REG_SZ, nullptr,
                     text, &size) != ERROR_SUCCESS)
        return L"(absent)";
    return text;
}

TEST(RolloutDecision, TheBucketBelowTheShareTakesTheReleaseAndEveryDecisionIsTraced)
{
    const struct {
        const wchar_t* envelope;
        const wchar_t* stored;  // null: no bucket stored
        RolloutRandomSource draw;
        bool offered;
        const wchar_t* record;  // null: nothing traced
        const wchar_t* storedAfter;
        const wchar_t* bucketRecord;  // null: nothing traced of the bucket
    } rows[] = {
        {L"<Status>SUCCESS</Status>", L"4711", Draw6789, true, nullptr, L"4711", nullptr},
        {L"<Status>SUCCESS</Status>", nullptr, Draw6789, true, nullptr, L"(absent)", nullptr},
        {L"<MVRollout>47.11</MVRollout>", L"4711", Draw6789, false,
         L"Update not offered to this machine yet: rollout 47.11 %, bucket 4711.", L"4711",
         nullptr},
        {L"<MVRollout>47.12</MVRollout>", L"4711", Draw6789, true,
         L"Update offered to this machine: rollout 47.12 %, bucket 4711.", L"4711", nullptr},
        {L"<MVRollout>0</MVRollout>", L"0", Draw6789, false,
         L"Update not offered to this machine yet: rollout 0 %, bucket 0.", L"0", nullptr},
        {L"<MVRollout>100</MVRollout>", L"9999", Draw6789, true,
         L"Update offered to this machine: rollout 100 %, bucket 9999.", L"9999", nullptr},
        {L"<MVRollout>12.5</MVRollout>", nullptr, Draw6789, false,
         L"Update not offered to this machine yet: rollout 12.5 %, bucket 6789.", L"6789",
         L"MVRolloutBucket drawn: 6789."},
        {L"<MVRollout>67.9</MVRollout>", L"abc", Draw6789, true,
         L"Update offered to this machine: rollout 67.9 %, bucket 6789.", L"6789",
         L"MVRolloutBucket was no bucket: drawn again: 6789."},
        {L"<MVRollout>99.99</MVRollout>", nullptr, DrawNothing, false,
         L"Update not offered to this machine yet: rollout 99.99 %, no bucket.", L"(absent)",
         L"MVRolloutBucket could not be drawn: only releases to 100 % are taken."},
        {L"<MVRollout>100</MVRollout>", nullptr, DrawNothing, true,
         L"Update offered to this machine: rollout 100 %, no bucket.", L"(absent)",
         L"MVRolloutBucket could not be drawn: only releases to 100 % are taken."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::wstring(row.envelope) + L" bucket " +
                     (row.stored != nullptr ? row.stored : L"(absent)"));
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralPath);
        if (row.stored != nullptr) {
            ASSERT_EQ(ERROR_SUCCESS,
                      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kGeneralPath, L"MVRolloutBucket", REG_SZ,
                                      row.stored,
                                      static_cast<DWORD>((wcslen(row.stored) + 1) * 2)));
        }
        const std::wstring text = std::wstring(L"<MVHostVersion>") + row.envelope +
                                  L"<Status>SUCCESS</Status></MVHostVersion>";
        VersionAnswer answer;
        ASSERT_TRUE(ParseVersionAnswer(text.c_str(), answer));
        COvkTraceRecorder recorder;
        EXPECT_EQ(row.offered, IsOfferedToThisMachine(answer, row.draw));
        std::wstring decision = L"(none)";
        std::wstring bucket = L"(none)";
        for (const std::wstring& record : recorder.Texts()) {
            if (record.find(L"offered to this machine") != std::wstring::npos)
                decision = record;
            if (record.compare(0, 15, L"MVRolloutBucket") == 0)
                bucket = record;
        }
        EXPECT_EQ(row.record != nullptr ? row.record : L"(none)", decision);
        EXPECT_EQ(row.bucketRecord != nullptr ? row.bucketRecord : L"(none)", bucket);
        EXPECT_EQ(row.storedAfter, StoredBucket());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralPath);
}

}  // namespace

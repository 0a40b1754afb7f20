// Shared pieces of the application tests: a clock the tests move by hand, an application
// whose run state can be set up directly, and stand-ins for the download library's entry
// points that record their calls and notify as told.
#pragma once

#include "app/CMVAgtApp.h"
#include "app/DlkBinding.h"
#include "tests/trace/COvkTraceRecorder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The application with its run state open to the tests.
class CTestAgtApp : public CMVAgtApp {
public:
    void SetDownloadTarget(const wchar_t* iniPath, const wchar_t* section);
    void SetCurrentRequest(CUrlRequest* request) { m_pCurrentRequest = request; }
};

// What the fake library does when asked to download.
// Refuse: the download is refused at once (DLK_RESULT_START_FAILED), with no notification.
enum class FakeOutcome { Nothing, Succeed, Fail, NothingNeeded, Refuse };

struct FakeDlk {
    static void Install(FakeOutcome outcome);
    static void Clear();
    static FakeOutcome outcome;
    static int integrity;  // DlkStdGetSectionIntegrity2's answer
    static std::vector<std::string>
        calls;  // "Download ini|section", "Download2 ini|section|file", "OdeConfig 0 1 0", ...
    static std::vector<ULONG_PTR> userData;  // of each download, in order
};

class AppTest : public ::testing::Test {
public:
    static DWORD s_now;  // the clock's reading

protected:
    void SetUp() override;
    void TearDown() override;

    // Moves the clock by ms and ticks once.
    void Tick(DWORD ms);
    // The statuses set so far, in order, as the trace records them.
    std::vector<int> Statuses() const;
    // The records that are text, or with prefix, that begin with it.
    size_t CountTraced(const std::wstring& text, bool prefix = false) const;
    bool Traced(const std::wstring& text) const { return CountTraced(text) > 0; }

    COvkTraceRecorder recorder;
    CTestAgtApp* app = nullptr;
};

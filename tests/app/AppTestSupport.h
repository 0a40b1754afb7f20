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
    // The stored INI file's full path once it is stored (before: the server's name for it).
    const wchar_t* IniPath() const { return m_szIniName; }
    void SetCurrentRequest(CUrlRequest* request) { m_pCurrentRequest = request; }
};

// What the fake library does when asked to download.
enum class FakeOutcome { Nothing, Succeed, Fail, NothingNeeded };

struct FakeDlk {
    static void Install(FakeOutcome outcome);
    static void Clear();
    static FakeOutcome outcome;
    static int integrity;  // DlkStdGetSectionIntegrity2's answer
    static std::vector<std::string> calls;  // "Download ini|section", "Download2 ini|section|file", ...
};

class AppTest : public ::testing::Test {
public:
    // The clock's reading.
    static DWORD s_now;

protected:
    void SetUp() override;
    void TearDown() override;

    // Moves the clock by ms and ticks once.
    void Tick(DWORD ms);
    // The statuses set so far, in order, as the trace records them.
    std::vector<int> Statuses() const;
    bool Traced(const std::wstring& text) const;
    size_t CountTraced(const std::wstring& text) const;
    size_t CountTracedStart(const std::wstring& start) const;  // records that begin so

    COvkTraceRecorder recorder;
    CTestAgtApp* app = nullptr;
};

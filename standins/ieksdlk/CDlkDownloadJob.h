// One call of DlkStdDownload or DlkStdDownload2, run on a thread of its own: reads the
// section's files from the INI file, leaves out those already in place, fetches each of the
// others beside its place and checks its size and SHA-256, and once all are there moves them
// in together. Reports each step and finally the outcome through the job's control.
#pragma once

#include "standins/ieksdlk/CDlkFaultSwitch.h"
#include "standins/ieksdlk/CDlkIni.h"
#include "standins/ieksdlk/CDlkJobControl.h"
#include "standins/ieksdlk/CDlkSectionFiles.h"
#include "standins/ieksdlk/CDlkStaleHold.h"

#include <memory>
#include <string>
#include <vector>

class CDlkStaging;

class CDlkDownloadJob {
public:
    struct Request {
        std::string urlRoot;
        std::string iniPath;
        std::string section;
        bool oneFile = false;  // DlkStdDownload2: only the files named fileName
        std::string fileName;
        CDlkFaultSwitch fault;  // off unless ieksdlk.faults says otherwise
        // notify-stale: set for the download that is held for the next one's start
        std::shared_ptr<CDlkStaleHold> staleHold;
    };

    CDlkDownloadJob(Request request, std::wstring libraryDir, unsigned number,
                    std::shared_ptr<CDlkJobControl> control);
    virtual ~CDlkDownloadJob() = default;

    CDlkDownloadJob(const CDlkDownloadJob&) = delete;
    CDlkDownloadJob& operator=(const CDlkDownloadJob&) = delete;

    // Does the whole download; answers the result the final notification carried.
    int Run();

private:
    int Work();
    void Report(int result);
    // The notify-progress fault: progress notifications until the library is told to exit.
    void NotifyProgressUntilExit();
    // The notify-stale fault: a failure now, and once more at the next download's start.
    int FailTwiceStale();
    int FetchOne(const CDlkIni::FileEntry& entry, CDlkStaging& staging);
    int Install(CDlkStaging& staging, const std::vector<CDlkIni::FileEntry>& files);
    int Fail(int result, const std::string& fileName, const std::string& detail);
    void Log(const std::string& text) const;

    Request m_request;
    CDlkSectionFiles m_files;
    unsigned m_number;
    std::shared_ptr<CDlkJobControl> m_control;
    std::string m_failedName;
    std::string m_detail;
};

// The state of the download library in one process: where packages come from, the standard
// parameters, the extension library it keeps loaded, and the download threads it runs. Every
// entry point lands here; each call is written to the record file first, verbatim.
#pragma once

#include "app/DlkApi.h"
#include "standins/ieksdlk/CDlkJobControl.h"
#include "standins/ieksdlk/CDlkStaleHold.h"
#include "standins/ieksdlk/CWinHandle.h"
#include "threading/CKSCriticalSection.h"

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CDlkLibrary {
public:
    static CDlkLibrary& Instance();

    int Init(const char* urlRoot, const char* unpackVersion, const char* extVersion,
             const char* vendor, const char* build);
    int SetParameter(const char* name, const char* value);
    int Exit();
    // oneFile false: the whole section (DlkStdDownload); true: the file fileName of it
    // (DlkStdDownload2).
    int StartDownload(const char* iniPath, const char* section, bool oneFile, const char* fileName,
                      PFN_DlkStdDownloadNotify notify, ULONG_PTR userData);
    // oneFile false: every file of the section; true: the file fileName of it.
    int Integrity(const char* iniPath, const char* section, bool oneFile, const char* fileName);

    // The directory of the library's DLL; empty when it cannot be had.
    static std::wstring LibraryDir();
    // Copies the INI file a download was given to ieksdlk.received.ini beside the library.
    static void KeepReceivedIni(const char* iniPath);

private:
    struct Running {
        CWinHandle thread;
        std::shared_ptr<CDlkJobControl> control;
    };

    CDlkLibrary() = default;
    ~CDlkLibrary() = default;
    CDlkLibrary(const CDlkLibrary&) = delete;
    CDlkLibrary& operator=(const CDlkLibrary&) = delete;

    void LoadExtension();
    void ForgetFinished();
    // The notify-stale fault: lets a held first download speak before the next one starts.
    void ReleaseStaleHold();
    int Launch(std::unique_ptr<class CDlkDownloadJob> job, std::shared_ptr<CDlkJobControl> control);
    static DWORD WINAPI JobThread(void* param);

    CKSCriticalSection m_cs;
    bool m_initialised = false;
    std::string m_urlRoot;
    std::vector<std::pair<std::string, std::string>> m_parameters;
    HMODULE m_extension = nullptr;
    std::vector<Running> m_running;
    std::atomic<unsigned> m_jobCount{0};
    std::shared_ptr<CDlkStaleHold> m_staleHold;
};

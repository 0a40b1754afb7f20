#include "standins/ieksdlk/CDlkDownloadJob.h"

#include "app/DlkApi.h"
#include "standins/ieksdlk/CDlkHttpFetch.h"
#include "standins/ieksdlk/CDlkStaging.h"
#include "standins/ieksdlk/DlkLogs.h"
#include "standins/ieksdlk/DlkText.h"

#include <utility>

CDlkDownloadJob::CDlkDownloadJob(Request request, std::wstring libraryDir, unsigned number,
                                 std::shared_ptr<CDlkJobControl> control)
    : m_request(std::move(request)), m_files(std::move(libraryDir)), m_number(number),
      m_control(std::move(control))
{
}

void CDlkDownloadJob::Log(const std::string& text) const
{
    DlkLogFile().Append("download " + std::to_string(m_number) + ": " + text);
}

int CDlkDownloadJob::Fail(int result, const std::string& fileName, const std::string& detail)
{
    m_failedName = fileName;
    m_detail = detail;
    return result;
}

int CDlkDownloadJob::Run()
{
    Log("section " + QuoteRecordText(m_request.section.c_str()) +
        (m_request.oneFile ? " file " + QuoteRecordText(m_request.fileName.c_str()) : "") + " of " +
        QuoteRecordText(m_request.iniPath.c_str()) + " from " +
        QuoteRecordText(m_request.urlRoot.c_str()));
    if (m_request.fault.GetFault() == CDlkFaultSwitch::NotifyProgress) {
        NotifyProgressUntilExit();
        return DLK_RESULT_OK;
    }
    if (m_request.staleHold)
        return FailTwiceStale();
    const int result = Work();
    Log("finished with result " + std::to_string(result) + " file " +
        QuoteRecordText(m_failedName.c_str()) + ": " + m_detail);
    Report(result);
    return result;
}

void CDlkDownloadJob::NotifyProgressUntilExit()
{
    constexpr DWORD kProgressPeriodMs = 20;
    unsigned sent = 0;
    while (WaitForSingleObject(m_control->CancelEvent(), kProgressPeriodMs) == WAIT_TIMEOUT) {
        m_control->Deliver(DLK_EVENT_FILE_STARTED, "progress", "", DLK_RESULT_OK);
        ++sent;
    }
    Log("fault notify-progress: stopped by the exit after " + std::to_string(sent) +
        " notifications");
}

int CDlkDownloadJob::FailTwiceStale()
{
    const int result = DLK_RESULT_NETWORK;
    const std::string detail = "fault notify-stale: nothing fetched";
    m_control->Deliver(DLK_EVENT_SECTION_DONE, "", detail, result);
    Log("fault notify-stale: the outcome waits for the next download");
    if (m_request.staleHold->WaitForNextStart(m_control->CancelEvent())) {
        Log("fault notify-stale: the outcome once more, as the next download starts");
        m_control->Deliver(DLK_EVENT_SECTION_DONE, "", detail, result);
    } else {
        Log("fault notify-stale: ended by the exit");
    }
    m_request.staleHold->MarkDelivered();
    return result;
}

void CDlkDownloadJob::Report(int result)
{
    switch (m_request.fault.GetFault()) {
    case CDlkFaultSwitch::NeverNotify:
        Log("fault never-notify: the outcome is not notified");
        return;
    case CDlkFaultSwitch::NotifyTwice:
        m_control->Deliver(DLK_EVENT_SECTION_DONE, m_failedName, m_detail, result);
        Log("fault notify-twice: the outcome once more");
        m_control->Deliver(DLK_EVENT_SECTION_DONE, m_failedName, m_detail, result);
        return;
    case CDlkFaultSwitch::NotifyLate: {
        Log("fault notify-late: the outcome waits for the library's exit");
        const bool exiting = WaitForSingleObject(m_control->CancelEvent(),
                                                 m_request.fault.GetLateDelayMs()) == WAIT_OBJECT_0;
        Log(std::string("fault notify-late: notifying ") +
            (exiting ? "during the exit" : "after the delay"));
        m_control->DeliverLate(DLK_EVENT_SECTION_DONE, m_failedName, m_detail, result);
        return;
    }
    case CDlkFaultSwitch::None:
    case CDlkFaultSwitch::NotifyProgress:
    case CDlkFaultSwitch::NotifyStale:  // only its first download is different
    case CDlkFaultSwitch::RefuseStart:  // never gets a job
        break;
    }
    m_control->Deliver(DLK_EVENT_SECTION_DONE, m_failedName, m_detail, result);
}

int CDlkDownloadJob::Work()
{
    const int loaded = m_files.Load(m_request.iniPath, m_request.section,
                                    m_request.oneFile ? m_request.fileName.c_str() : nullptr);
    if (loaded != DLK_RESULT_OK)
        return Fail(loaded, m_files.FailedName(), m_files.Detail());

    std::vector<CDlkIni::FileEntry> needed;
    for (const CDlkIni::FileEntry& entry : m_files.Files()) {
        if (m_files.IsInstalled(entry)) {
            Log(entry.name + " is in place already");
        } else {
            needed.push_back(entry);
        }
    }
    if (needed.empty())
        return Fail(DLK_RESULT_NOTHING_NEEDED, "", "every file is in place already");

    CDlkStaging staging(m_files,
                        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(m_number));
    for (const CDlkIni::FileEntry& entry : needed) {
        const int fetched = FetchOne(entry, staging);
        if (fetched != DLK_RESULT_OK)
            return fetched;
    }
    return Install(staging, needed);
}

int CDlkDownloadJob::FetchOne(const CDlkIni::FileEntry& entry, CDlkStaging& staging)
{
    std::string url;
    if (!MakeDownloadUrl(m_request.urlRoot, entry.remotePath, url)) {
        return Fail(DLK_RESULT_BAD_URL, entry.name,
                    "no URL from root " + QuoteRecordText(m_request.urlRoot.c_str()));
    }
    CWinHandle file = staging.Stage(entry);
    if (!file.IsValid())
        return Fail(DLK_RESULT_WRITE_FAILED, entry.name, staging.Detail());

    m_control->Deliver(DLK_EVENT_FILE_STARTED, entry.name, url, DLK_RESULT_OK);
    CDlkHttpFetch fetch(m_control->CancelEvent());
    const int fetched = fetch.Fetch(url, file.Get(), entry.size);
    file.Reset();
    if (fetched != DLK_RESULT_OK)
        return Fail(fetched, entry.name, url + ": " + fetch.Detail());
    if (fetch.Bytes() != entry.size) {
        return Fail(DLK_RESULT_SIZE_MISMATCH, entry.name,
                    std::to_string(fetch.Bytes()) + " bytes, expected " +
                        std::to_string(entry.size));
    }
    if (fetch.Sha256() != entry.sha256) {
        return Fail(DLK_RESULT_HASH_MISMATCH, entry.name,
                    "SHA-256 " + fetch.Sha256() + ", expected " + entry.sha256);
    }
    Log(entry.name + " arrived whole from " + url);
    m_control->Deliver(DLK_EVENT_FILE_VERIFIED, entry.name, std::to_string(entry.size),
                       DLK_RESULT_OK);
    return DLK_RESULT_OK;
}

int CDlkDownloadJob::Install(CDlkStaging& staging, const std::vector<CDlkIni::FileEntry>& files)
{
    // A download ended by the library's exit must not change the installation afterwards.
    if (m_control->IsCancelled())
        return Fail(DLK_RESULT_CANCELLED, "", "cancelled before install");
    if (!staging.Commit()) {
        return Fail(DLK_RESULT_INSTALL_FAILED, staging.FailedName(), staging.Detail());
    }
    const std::vector<std::wstring> paths = staging.InstalledPaths();
    for (size_t i = 0; i < paths.size() && i < files.size(); ++i) {
        const std::string path = NarrowToUtf8(paths[i]);
        Log(files[i].name + " installed as " + path);
        m_control->Deliver(DLK_EVENT_FILE_INSTALLED, files[i].name, path, DLK_RESULT_OK);
    }
    return Fail(DLK_RESULT_OK, "", std::to_string(paths.size()) + " files installed");
}

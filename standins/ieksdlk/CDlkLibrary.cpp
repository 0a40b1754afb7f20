#include "standins/ieksdlk/CDlkLibrary.h"

#include "standins/ieksdlk/CDlkDownloadJob.h"
#include "standins/ieksdlk/CDlkSectionFiles.h"
#include "standins/ieksdlk/DlkLogs.h"
#include "standins/ieksdlk/DlkText.h"
#include "threading/CKSLock.h"
#include "util/ModulePath.h"
#include "util/Utf8.h"

namespace {

// Longer than a transfer can block (its receive time-out), so a cancelled download ends first.
constexpr DWORD kJobEndWaitMs = 30000;

const char s_moduleAnchor = 0;

HMODULE ThisModule(bool addReference)
{
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                        (addReference ? 0 : GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
    GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&s_moduleAnchor), &module);
    return module;
}

std::string Text(const char* text)
{
    return text == nullptr ? std::string() : std::string(text);
}

struct JobStart {
    std::unique_ptr<CDlkDownloadJob> job;
    HMODULE module;
};

}  // namespace

CDlkLibrary& CDlkLibrary::Instance()
{
    // Destroyed when the DLL is unloaded, which no download thread outlives: each holds a
    // reference to the DLL until it has left its code.
    static CDlkLibrary library;
    return library;
}

std::wstring CDlkLibrary::LibraryDir()
{
    wchar_t dir[MAX_PATH * 4];
    if (!GetModuleDir(ThisModule(false), dir, MAX_PATH * 4, 0))
        return std::wstring();
    return dir;
}

int CDlkLibrary::Init(const char* urlRoot, const char* unpackVersion, const char* extVersion,
                      const char* vendor, const char* build)
{
    DlkRecordFile().Append("DlkInitStdDownload urlRoot=" + QuoteRecordText(urlRoot) +
                           " unpackVersion=" + QuoteRecordText(unpackVersion) + " extVersion=" +
                           QuoteRecordText(extVersion) + " vendor=" + QuoteRecordText(vendor) +
                           " build=" + QuoteRecordText(build));
    if (urlRoot == nullptr)
        return DLK_RESULT_BAD_ARGUMENT;
    CKSLock lock(m_cs);
    m_urlRoot = urlRoot;
    m_initialised = true;
    LoadExtension();
    return DLK_RESULT_OK;
}

void CDlkLibrary::LoadExtension()
{
    if (m_extension != nullptr)
        return;
    const std::wstring path = LibraryDir() + L"\\" DLKEXT_DLL_NAME;
    m_extension = LoadLibraryW(path.c_str());
    DlkLogFile().Append((m_extension != nullptr
                             ? "loaded "
                             : "cannot load (error " + std::to_string(GetLastError()) + ") ") +
                        NarrowToUtf8(path));
}

int CDlkLibrary::SetParameter(const char* name, const char* value)
{
    DlkRecordFile().Append("DlkSetStdParameter name=" + QuoteRecordText(name) +
                           " value=" + QuoteRecordText(value));
    if (name == nullptr)
        return DLK_RESULT_BAD_ARGUMENT;
    CKSLock lock(m_cs);
    for (auto& parameter : m_parameters) {
        if (parameter.first == name) {
            parameter.second = Text(value);
            return DLK_RESULT_OK;
        }
    }
    m_parameters.emplace_back(name, Text(value));
    return DLK_RESULT_OK;
}

int CDlkLibrary::Exit()
{
    DlkRecordFile().Append("DlkExitStdDownload");
    std::vector<Running> running;
    {
        CKSLock lock(m_cs);
        running.swap(m_running);
        m_initialised = false;
        m_staleHold.reset();
    }
    for (Running& job : running)
        job.control->Cancel();
    for (Running& job : running) {
        if (GetThreadId(job.thread.Get()) == GetCurrentThreadId())
            continue;
        if (WaitForSingleObject(job.thread.Get(), kJobEndWaitMs) != WAIT_OBJECT_0) {
            DlkLogFile().Append("exit: a download thread is still ending");
        }
    }
    CKSLock lock(m_cs);
    if (m_extension != nullptr) {
        FreeLibrary(m_extension);
        m_extension = nullptr;
    }
    DlkLogFile().Append("exit: " + std::to_string(running.size()) + " downloads ended");
    return DLK_RESULT_OK;
}

int CDlkLibrary::StartDownload(const char* iniPath, const char* section, bool oneFile,
                               const char* fileName, PFN_DlkStdDownloadNotify notify,
                               ULONG_PTR userData)
{
    DlkRecordFile().Append(std::string(oneFile ? "DlkStdDownload2" : "DlkStdDownload") +
                           " iniPath=" + QuoteRecordText(iniPath) +
                           " section=" + QuoteRecordText(section) +
                           (oneFile ? " fileName=" + QuoteRecordText(fileName) : "") +
                           " notify=" + (notify != nullptr ? "set" : "null") +
                           " userData=" + std::to_string(userData));
    if (iniPath == nullptr || section == nullptr || notify == nullptr ||
        (oneFile && fileName == nullptr)) {
        return DLK_RESULT_BAD_ARGUMENT;
    }
    KeepReceivedIni(iniPath);
    ReleaseStaleHold();

    CKSLock lock(m_cs);
    if (!m_initialised) {
        DlkLogFile().Append("download refused: not initialised");
        return DLK_RESULT_NOT_INITIALISED;
    }
    ForgetFinished();
    CDlkDownloadJob::Request request;
    request.urlRoot = m_urlRoot;
    request.iniPath = iniPath;
    request.section = section;
    request.oneFile = oneFile;
    request.fileName = Text(fileName);
    request.fault = CDlkFaultSwitch::Read(LibraryDir());
    if (request.fault.GetFault() != CDlkFaultSwitch::None) {
        DlkLogFile().Append("fault switch on: " + request.fault.GetKeyword());
    }
    if (request.fault.GetFault() == CDlkFaultSwitch::RefuseStart)
        return DLK_RESULT_START_FAILED;
    if (request.fault.GetFault() == CDlkFaultSwitch::NotifyStale && m_jobCount == 0) {
        m_staleHold = std::make_shared<CDlkStaleHold>();
        request.staleHold = m_staleHold;
    }
    auto control = std::make_shared<CDlkJobControl>(notify, userData);
    auto job = std::make_unique<CDlkDownloadJob>(request, LibraryDir(), ++m_jobCount, control);
    return Launch(std::move(job), control);
}

void CDlkLibrary::ReleaseStaleHold()
{
    std::shared_ptr<CDlkStaleHold> held;
    {
        CKSLock lock(m_cs);
        held.swap(m_staleHold);
    }
    // Outside the lock: the held download's notification may call back into the library.
    constexpr DWORD kStaleDeliveryWaitMs = 10000;
    if (held && !held->ReleaseAndWait(kStaleDeliveryWaitMs))
        DlkLogFile().Append("fault notify-stale: the held outcome did not come in time");
}

void CDlkLibrary::KeepReceivedIni(const char* iniPath)
{
    // The caller may remove its file when the run ends: what it handed over stays inspectable.
    wchar_t path[MAX_PATH] = {};
    if (Utf8ToWide(iniPath, path, MAX_PATH) <= 0)
        return;
    if (!CopyFileW(path, (LibraryDir() + L"\\ieksdlk.received.ini").c_str(), FALSE)) {
        DlkLogFile().Append("INI not readable: error " + std::to_string(GetLastError()));
    }
}

int CDlkLibrary::Launch(std::unique_ptr<CDlkDownloadJob> job,
                        std::shared_ptr<CDlkJobControl> control)
{
    // The thread holds the DLL loaded until it has left the DLL's code, whatever the caller
    // does with its own reference.
    auto start = std::make_unique<JobStart>();
    start->job = std::move(job);
    start->module = ThisModule(true);
    CWinHandle thread(CreateThread(nullptr, 0, &CDlkLibrary::JobThread, start.get(), 0, nullptr));
    if (!thread.IsValid()) {
        DlkLogFile().Append("download thread not started, error " + std::to_string(GetLastError()));
        FreeLibrary(start->module);
        return DLK_RESULT_START_FAILED;
    }
    start.release();
    m_running.push_back(Running{std::move(thread), std::move(control)});
    return DLK_RESULT_OK;
}

DWORD WINAPI CDlkLibrary::JobThread(void* param)
{
    HMODULE module = nullptr;
    int result = DLK_RESULT_START_FAILED;
    {
        std::unique_ptr<JobStart> start(static_cast<JobStart*>(param));
        module = start->module;
        try {
            result = start->job->Run();
        } catch (...) {
            DlkLogFile().Append("download ended by an exception");
        }
    }
    FreeLibraryAndExitThread(module, static_cast<DWORD>(result));
}

void CDlkLibrary::ForgetFinished()
{
    for (auto job = m_running.begin(); job != m_running.end();) {
        if (WaitForSingleObject(job->thread.Get(), 0) == WAIT_OBJECT_0) {
            job = m_running.erase(job);
        } else {
            ++job;
        }
    }
}

int CDlkLibrary::Integrity(const char* iniPath, const char* section, bool oneFile,
                           const char* fileName)
{
    DlkRecordFile().Append(
        std::string(oneFile ? "DlkStdGetSectionIntegrity2" : "DlkStdGetSectionIntegrity") +
        " iniPath=" + QuoteRecordText(iniPath) + " section=" + QuoteRecordText(section) +
        (oneFile ? " fileName=" + QuoteRecordText(fileName) : ""));
    if (iniPath == nullptr || section == nullptr || (oneFile && fileName == nullptr))
        return 0;
    CDlkSectionFiles files(LibraryDir());
    int intact = files.Load(iniPath, section, oneFile ? fileName : nullptr) == DLK_RESULT_OK &&
                 !files.Files().empty();
    std::string missing;
    for (const CDlkIni::FileEntry& entry : files.Files()) {
        if (intact && !files.IsInstalled(entry)) {
            intact = 0;
            missing = entry.name;
        }
    }
    DlkLogFile().Append("integrity of " + QuoteRecordText(section) +
                        (oneFile ? " file " + QuoteRecordText(fileName) : "") + ": " +
                        (intact ? "intact" : "not intact " + missing + files.Detail()));
    return intact;
}

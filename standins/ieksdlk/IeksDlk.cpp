// Stand-in for ieksdlk.dll, the download-and-install library: downloads, checks and installs
// the files an INI file names, really. Exported by plain name through a .def file; the variants
// built for the program's binding tests leave some names out of theirs.
#include "app/DlkApi.h"
#include "standins/ieksdlk/CDlkLibrary.h"
#include "standins/ieksdlk/DlkLogs.h"

extern "C" {
int WINAPI DlkInitStdDownload(const char* urlRoot, const char* unpackVersion,
                              const char* extVersion, const char* vendor, const char* build);
int WINAPI DlkExitStdDownload(void);
int WINAPI DlkSetStdParameter(const char* name, const char* value);
int WINAPI DlkStdDownload(const char* iniPath, const char* section, PFN_DlkStdDownloadNotify notify,
                          ULONG_PTR userData);
int WINAPI DlkStdDownload2(const char* iniPath, const char* section, const char* fileName,
                           PFN_DlkStdDownloadNotify notify, ULONG_PTR userData);
int WINAPI DlkStdGetSectionIntegrity(const char* iniPath, const char* section);
int WINAPI DlkStdGetSectionIntegrity2(const char* iniPath, const char* section,
                                      const char* fileName);
}

namespace {

// The exports have exactly the types the program calls them through.
[[maybe_unused]] constexpr PFN_DlkInitStdDownload kInitType = &DlkInitStdDownload;
[[maybe_unused]] constexpr PFN_DlkExitStdDownload kExitType = &DlkExitStdDownload;
[[maybe_unused]] constexpr PFN_DlkSetStdParameter kSetParameterType = &DlkSetStdParameter;
[[maybe_unused]] constexpr PFN_DlkStdDownload kDownloadType = &DlkStdDownload;
[[maybe_unused]] constexpr PFN_DlkStdDownload2 kDownload2Type = &DlkStdDownload2;
[[maybe_unused]] constexpr PFN_DlkStdGetSectionIntegrity kIntegrityType =
    &DlkStdGetSectionIntegrity;
[[maybe_unused]] constexpr PFN_DlkStdGetSectionIntegrity2 kIntegrity2Type =
    &DlkStdGetSectionIntegrity2;

// Nothing escapes into the caller: an exception answers the given failure.
template <typename Call>
int Guarded(int failure, Call call)
{
    try {
        return call();
    } catch (...) {
        DlkLogFile().Append("call ended by an exception");
        return failure;
    }
}

}  // namespace

int WINAPI DlkInitStdDownload(const char* urlRoot, const char* unpackVersion,
                              const char* extVersion, const char* vendor, const char* build)
{
    return Guarded(DLK_RESULT_BAD_ARGUMENT, [&] {
        return CDlkLibrary::Instance().Init(urlRoot, unpackVersion, extVersion, vendor, build);
    });
}

int WINAPI DlkExitStdDownload(void)
{
    return Guarded(DLK_RESULT_BAD_ARGUMENT, [] { return CDlkLibrary::Instance().Exit(); });
}

int WINAPI DlkSetStdParameter(const char* name, const char* value)
{
    return Guarded(DLK_RESULT_BAD_ARGUMENT,
                   [&] { return CDlkLibrary::Instance().SetParameter(name, value); });
}

int WINAPI DlkStdDownload(const char* iniPath, const char* section, PFN_DlkStdDownloadNotify notify,
                          ULONG_PTR userData)
{
    return Guarded(DLK_RESULT_START_FAILED, [&] {
        return CDlkLibrary::Instance().StartDownload(iniPath, section, false, nullptr, notify,
                                                     userData);
    });
}

int WINAPI DlkStdDownload2(const char* iniPath, const char* section, const char* fileName,
                           PFN_DlkStdDownloadNotify notify, ULONG_PTR userData)
{
    return Guarded(DLK_RESULT_START_FAILED, [&] {
        return CDlkLibrary::Instance().StartDownload(iniPath, section, true, fileName, notify,
                                                     userData);
    });
}

int WINAPI DlkStdGetSectionIntegrity(const char* iniPath, const char* section)
{
    return Guarded(
        0, [&] { return CDlkLibrary::Instance().Integrity(iniPath, section, false, nullptr); });
}

int WINAPI DlkStdGetSectionIntegrity2(const char* iniPath, const char* section,
                                      const char* fileName)
{
    return Guarded(
        0, [&] { return CDlkLibrary::Instance().Integrity(iniPath, section, true, fileName); });
}

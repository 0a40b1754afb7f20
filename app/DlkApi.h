// The download-and-install library ieksdlk.dll and its extension ksdlkext.dll, exactly as this
// program binds and calls them. The libraries' stand-ins build against this header too, so both
// sides share one set of names, signatures and codes.
//
// Every entry point and the notification use the Win32 standard calling convention (WINAPI);
// narrow texts are UTF-8. The exports carry these plain names on both targets (no @N suffix).
#pragma once

#include <windows.h>

#define DLK_DLL_NAME L"ieksdlk.dll"
#define DLKEXT_DLL_NAME L"ksdlkext.dll"

// ---- Export names --------------------------------------------------------------------------

#define DLK_EXPORT_INIT_STD_DOWNLOAD "DlkInitStdDownload"
#define DLK_EXPORT_EXIT_STD_DOWNLOAD "DlkExitStdDownload"
#define DLK_EXPORT_SET_STD_PARAMETER "DlkSetStdParameter"
#define DLK_EXPORT_STD_DOWNLOAD "DlkStdDownload"
#define DLK_EXPORT_STD_DOWNLOAD2 "DlkStdDownload2"
#define DLK_EXPORT_STD_GET_SECTION_INTEGRITY "DlkStdGetSectionIntegrity"
#define DLK_EXPORT_STD_GET_SECTION_INTEGRITY2 "DlkStdGetSectionIntegrity2"
#define DLKEXT_EXPORT_ODE_CONFIG "DlkOdeConfig"

// ---- Signatures ----------------------------------------------------------------------------

// The library's report on a download, delivered on a thread of the library's own (never on the
// thread that called DlkStdDownload). reserved carries the userData given to DlkStdDownload;
// fileName and secondName are never null (possibly empty). The result is not looked at.
typedef int(WINAPI* PFN_DlkStdDownloadNotify)(ULONG_PTR reserved, int eventCode,
                                              const char* fileName, const char* secondName,
                                              int resultCode, ULONG_PTR reserved2);

// Remembers where packages come from: urlRoot is "https://host/path", "http://host/path" or a
// bare "host/path" (taken as https). vendor is "Orvik", build "319".
typedef int(WINAPI* PFN_DlkInitStdDownload)(const char* urlRoot, const char* unpackVersion,
                                            const char* extVersion, const char* vendor,
                                            const char* build);
// Ends every download still running (no notification follows its return).
typedef int(WINAPI* PFN_DlkExitStdDownload)(void);
// Remembers one standard parameter (names and values below).
typedef int(WINAPI* PFN_DlkSetStdParameter)(const char* name, const char* value);
// Starts downloading and installing every file of the section of the INI file at iniPath and
// returns at once; the outcome comes by notification, ending with DLK_EVENT_SECTION_DONE.
typedef int(WINAPI* PFN_DlkStdDownload)(const char* iniPath, const char* section,
                                        PFN_DlkStdDownloadNotify notify, ULONG_PTR userData);
// The same for the one file of the section named fileName ("mvagtx.exe").
typedef int(WINAPI* PFN_DlkStdDownload2)(const char* iniPath, const char* section,
                                         const char* fileName, PFN_DlkStdDownloadNotify notify,
                                         ULONG_PTR userData);
// Nonzero when every file of the section is installed, intact and current.
typedef int(WINAPI* PFN_DlkStdGetSectionIntegrity)(const char* iniPath, const char* section);
// Nonzero when the section's file fileName is installed, intact and current.
typedef int(WINAPI* PFN_DlkStdGetSectionIntegrity2)(const char* iniPath, const char* section,
                                                    const char* fileName);
// Exported by ksdlkext.dll: (0, 1, 0) hides the library's progress dialog; nonzero when done.
typedef int(WINAPI* PFN_DlkOdeConfig)(int, int, int);

// ---- Standard parameters (DlkSetStdParameter) ----------------------------------------------

#define DLK_PARAM_PROGRESS_BAR_TITLE "DlkProgressBarTitle"  // Base64 of UTF-8
#define DLK_PARAM_LOCAL_SETTING "DlkLocalSetting"           // Base64 of UTF-8
#define DLK_PARAM_SUPPORT_DELTA "SupportDelta"              // Base64 of UTF-8
#define DLK_PARAM_MOVING_IN_SUBDIR "DlkMovingInSubdir"      // plain text
#define DLK_MOVING_IN_SUBDIR_VALUE "Wanta"
#define DLK_VENDOR "Orvik"
#define DLK_BUILD "319"

// ---- Notification event codes --------------------------------------------------------------

// The section (or the one file of DlkStdDownload2) is finished: the last notification of a
// download. resultCode: DLK_RESULT_OK or DLK_RESULT_NOTHING_NEEDED for success, any other value
// for failure. fileName names the file that failed (empty when the failure concerns no single
// file, and on success); secondName says what happened in a few words.
constexpr int DLK_EVENT_SECTION_DONE = 1;
// A file's download starts: fileName is its name, secondName its URL. resultCode 0.
constexpr int DLK_EVENT_FILE_STARTED = 2;
// A file arrived whole and verified and waits beside its place: fileName is its name,
// secondName its size in bytes as decimal text. resultCode 0.
constexpr int DLK_EVENT_FILE_VERIFIED = 3;
// A file was moved into its place: fileName is its name, secondName its installed path.
// resultCode 0. Files are moved only after every file of the download was verified.
constexpr int DLK_EVENT_FILE_INSTALLED = 4;

// ---- Result codes --------------------------------------------------------------------------

// DlkStdDownload and DlkStdDownload2 answer DLK_RESULT_OK when the download thread started and
// a notification will follow, or one of the failures below with no notification at all.
// DLK_EVENT_SECTION_DONE carries one of these.
constexpr int DLK_RESULT_OK = 0;
constexpr int DLK_RESULT_BAD_ARGUMENT = -1;     // a null text or notification
constexpr int DLK_RESULT_NOT_INITIALISED = -2;  // no DlkInitStdDownload before, or after Exit
constexpr int DLK_RESULT_START_FAILED = -3;     // the download thread could not be started
constexpr int DLK_RESULT_NOTHING_NEEDED = -4;   // success: every file was already in place
constexpr int DLK_RESULT_INI_UNREADABLE = -5;   // the INI file cannot be read
constexpr int DLK_RESULT_NO_SECTION = -6;       // no such section in the INI file
constexpr int DLK_RESULT_NO_FILE = -7;          // the section names no such file
constexpr int DLK_RESULT_BAD_ENTRY = -8;        // a malformed or unsafe line in the section
constexpr int DLK_RESULT_BAD_URL = -9;          // the URL root and path make no usable URL
constexpr int DLK_RESULT_NETWORK = -10;         // connection, TLS or transfer failed
constexpr int DLK_RESULT_HTTP_STATUS = -11;     // the server answered other than 200
constexpr int DLK_RESULT_SIZE_MISMATCH = -12;   // the file's size is not the INI's
constexpr int DLK_RESULT_HASH_MISMATCH = -13;   // the file's SHA-256 is not the INI's
constexpr int DLK_RESULT_WRITE_FAILED = -14;    // the file could not be written beside its place
constexpr int DLK_RESULT_INSTALL_FAILED = -15;  // a file could not be moved into its place
constexpr int DLK_RESULT_CANCELLED = -16;  // ended by DlkExitStdDownload (logged, not notified)

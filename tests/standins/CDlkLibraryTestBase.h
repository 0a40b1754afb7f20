// Common ground of the download library's cases: the library loaded as the program loads it,
// initialised with the test server's root, a folder of the case's own below the library's
// directory, fresh record files, and helpers to serve files and describe them in an INI file.
#pragma once

#include <gtest/gtest.h>

#include "tests/standins/CDlkTestLibrary.h"
#include "tests/standins/CNotifyRecorder.h"
#include "tests/standins/DlkTestFiles.h"
#include "tests/support/RigClient.h"

#include <string>
#include <vector>

class CDlkLibraryTestBase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // "https://<rig host>/pkg".
    std::string Root() const;
    // Initialises the library with root and the program's usual arguments.
    void Init(const std::string& root);

    // Serves body at /pkg/<name> (once per request, the connection closed after it).
    void Serve(const std::string& name, const std::string& body, int status = 200, bool hold = false);

    // A "file=" line for name with the size and SHA-256 of body, going to the case's folder
    // (subDir below it when given).
    std::string FileLine(const std::string& name, const std::string& body,
                         const std::string& subDir = "") const;
    // Writes an INI file of these lines in the case's folder; answers its UTF-8 path.
    std::string WriteIni(const std::vector<std::string>& lines, const std::string& lineEnd = "\r\n",
                         const std::wstring& fileName = L"dlk.php") const;

    // The case's folder (subDir below it), as the library installs into it.
    std::wstring CaseDir(const std::wstring& subDir = L"") const;
    std::wstring Installed(const std::string& name, const std::wstring& subDir = L"") const;
    // What the installed file holds; "<absent>" when there is none.
    std::string InstalledContent(const std::string& name, const std::wstring& subDir = L"") const;

    int Download(const std::string& ini, const std::string& section = "ZEInstall");
    // Runs a download to its end; answers the final notification's result.
    int DownloadToEnd(const std::string& ini, const std::string& section = "ZEInstall");

    // Files the library left beside places it worked on, anywhere below the case's folder.
    std::vector<std::wstring> SideFiles() const;

    RigEnvironment env = RigEnvironment::FromProcess();
    RigClient rig{env};
    CDlkTestLibrary lib;
    CNotifyRecorder recorder;

private:
    std::string m_caseName;
};

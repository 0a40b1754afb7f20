// The download library as the program binds it: loaded by path from the test program's own
// directory and its entry points looked up by their plain names.
#pragma once

#include "app/DlkApi.h"

#include <string>

class CDlkTestLibrary {
public:
    CDlkTestLibrary();
    virtual ~CDlkTestLibrary();

    CDlkTestLibrary(const CDlkTestLibrary&) = delete;
    CDlkTestLibrary& operator=(const CDlkTestLibrary&) = delete;

    HMODULE Module() const { return m_module; }
    const std::wstring& Path() const { return m_path; }

    PFN_DlkInitStdDownload init = nullptr;
    PFN_DlkExitStdDownload exit = nullptr;
    PFN_DlkSetStdParameter setParameter = nullptr;
    PFN_DlkStdDownload download = nullptr;
    PFN_DlkStdDownload2 download2 = nullptr;
    PFN_DlkStdGetSectionIntegrity integrity = nullptr;
    PFN_DlkStdGetSectionIntegrity2 integrity2 = nullptr;

private:
    std::wstring m_path;
    HMODULE m_module = nullptr;
};

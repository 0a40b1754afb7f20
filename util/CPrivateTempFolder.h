// A folder of the run's own inside the temporary directory: an unpredictable name, access for
// the current account only, and removed (with the files the program put in it) when the
// object goes. Files are created in it only as new files, so a file or link that someone else
// planted is never opened, followed or overwritten.
#pragma once

#include "util/UniqueHandle.h"

#include <windows.h>

class CPrivateTempFolder {
public:
    CPrivateTempFolder() = default;
    // Removes the files created through StoreNewFile, then the folder.
    ~CPrivateTempFolder();

    CPrivateTempFolder(const CPrivateTempFolder&) = delete;
    CPrivateTempFolder& operator=(const CPrivateTempFolder&) = delete;

    // Draws a name for the folder into name; false when none can be had. Random names unless the
    // tests give their own, to meet names already taken.
    using NameSource = bool (*)(wchar_t (&name)[32]);

    // Creates the folder once; TRUE when it exists afterwards. A name that is taken already
    // (by a folder, a file or a link) is given up for another, a few times at most.
    BOOL Create(NameSource names = nullptr);
    // The folder's path without trailing backslash; empty before Create succeeded.
    const wchar_t* GetPath() const { return m_szPath; }

    // Writes bytes to a new file fileName in the folder and puts its full path in fullPath.
    // FALSE when the name does not fit, the file exists already, or not every byte was written
    // (a short write leaves no file behind). The file stays open, shared for reading only,
    // until the object goes or another file is stored: nobody can change it meanwhile.
    BOOL StoreNewFile(const wchar_t* fileName, const void* bytes, DWORD count, wchar_t* fullPath,
                      size_t cchFullPath);

    // Reads the stored file's bytes back through the handle held: TRUE with *read bytes in
    // buffer when the whole file fits in size bytes.
    BOOL ReadStoredFile(void* buffer, DWORD size, DWORD* read) const;
    // The stored file's size in bytes; FALSE when there is no stored file.
    BOOL GetStoredFileSize(DWORD* size) const;

private:
    void RemoveStoredFile();

    wchar_t m_szPath[MAX_PATH] = {};
    wchar_t m_szFile[MAX_PATH] = {};
    UniqueKernelHandle m_file;
};

// One file's transfer: a GET of its URL through WinInet (http or https), the body written to
// an open file while its size and SHA-256 are taken. Each fetch has a session of its own with
// bounded connect, send and receive times, and reads no cached copy and leaves none.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

class CDlkHttpFetch {
public:
    // cancelEvent, when signalled, ends the transfer at its next read.
    explicit CDlkHttpFetch(HANDLE cancelEvent);
    virtual ~CDlkHttpFetch() = default;

    CDlkHttpFetch(const CDlkHttpFetch&) = delete;
    CDlkHttpFetch& operator=(const CDlkHttpFetch&) = delete;

    // Fetches url (UTF-8) into file. Stops with DLK_RESULT_SIZE_MISMATCH as soon as more than
    // maxBytes arrive. Answers a DLK_RESULT_* code; Bytes() and Sha256() describe what arrived,
    // Detail() says what went wrong in a few words.
    int Fetch(const std::string& url, HANDLE file, uint64_t maxBytes);

    uint64_t Bytes() const { return m_bytes; }
    const std::string& Sha256() const { return m_sha256; }
    const std::string& Detail() const { return m_detail; }

private:
    int Receive(void* request, HANDLE file, uint64_t maxBytes);
    int Fail(int result, const std::string& detail);
    bool Cancelled() const;

    HANDLE m_cancelEvent;
    uint64_t m_bytes = 0;
    std::string m_sha256;
    std::string m_detail;
};

// What the manager needs of a worker: start, stop, take over requests, abort one.
// The base does nothing and accepts everything; workers override what they do.
#pragma once

#include <cstdint>

class CUrlMgr;
class CUrlRequest;

class CUrlWorker {
public:
    explicit CUrlWorker(CUrlMgr* mgr) : m_pMgr(mgr) {}
    virtual ~CUrlWorker() = default;

    CUrlWorker(const CUrlWorker&) = delete;
    CUrlWorker& operator=(const CUrlWorker&) = delete;

    // Starts up; non-zero when ready.
    virtual uint32_t Init() { return 1; }
    // Stops all work and releases its resources. True when the worker is finished and its
    // owner deletes it; false when it had to be abandoned still busy: it then deletes itself
    // once it is free, and must not be touched or deleted by anyone else.
    virtual bool Cleanup() { return true; }
    // Called at the start of every dispatch, on the application's thread.
    virtual void Poll() {}
    // Takes over the request and its reference; non-zero when accepted.
    virtual uint32_t Submit(CUrlRequest* /*request*/) { return 1; }
    // Aborts request if it is in progress; null aborts whatever is in progress.
    virtual void Cancel(CUrlRequest* /*request*/) {}

protected:
    CUrlMgr* m_pMgr;
};

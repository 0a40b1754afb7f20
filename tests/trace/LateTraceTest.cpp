// A worker left inside WinInet may still write to module "MV" after the module was destroyed at
// the process's end. Its record must be dropped, and the module's lock must still be a lock,
// never a deleted one: the program's lock calls are wrapped at link time (see CMakeLists.txt),
// and entering a lock of the module after it was deleted is caught. The thread writing late is
// released by an object built before the module, hence destroyed after it; it checks as the
// very last step and ends the process with code 3 when anything went wrong.
#include "tests/trace/StandinLogReader.h"
#include "trace/StaticInitOrder.h"
#include "trace/TraceModules.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const char kLateText[] = "written after module MV was destroyed";
constexpr DWORD kLateWriteWithin = 10000;

std::atomic<bool> g_mvLockDeleted{false};
std::atomic<bool> g_deletedLockEntered{false};

bool InsideMVModule(const void* address)
{
    const auto* begin = reinterpret_cast<const unsigned char*>(&GetMVTraceModule());
    const auto* at = static_cast<const unsigned char*>(address);
    return at >= begin && at < begin + sizeof(CKSTraceModule);
}

}  // namespace

// The wrapped imports: the linker sends the program's calls here and names the originals.
#ifdef _WIN64
#define MVU_IMPORT(wrap, name, bytes) wrap "___imp_" name
#else
// The linker wraps the name without its leading underscore, and puts it back in front.
#define MVU_IMPORT(wrap, name, bytes) "_" wrap "__imp__" name "@" bytes
#endif
extern "C" {
extern decltype(&DeleteCriticalSection)
    g_realDelete __asm__(MVU_IMPORT("__real", "DeleteCriticalSection", "4"));
extern decltype(&EnterCriticalSection) g_realEnter __asm__(MVU_IMPORT("__real",
                                                                      "EnterCriticalSection", "4"));

static void WINAPI DeleteWatched(LPCRITICAL_SECTION section)
{
    if (InsideMVModule(section))
        g_mvLockDeleted = true;
    g_realDelete(section);
}

static void WINAPI EnterWatched(LPCRITICAL_SECTION section)
{
    if (g_mvLockDeleted.load() && InsideMVModule(section))
        g_deletedLockEntered = true;
    g_realEnter(section);
}

decltype(&DeleteCriticalSection) g_wrapDelete __asm__(MVU_IMPORT("__wrap", "DeleteCriticalSection",
                                                                 "4")) = DeleteWatched;
decltype(&EnterCriticalSection) g_wrapEnter __asm__(MVU_IMPORT("__wrap", "EnterCriticalSection",
                                                               "4")) = EnterWatched;
}

namespace {

bool LogHolds(const char* text)
{
    std::ifstream log(BesideProgram(L"kstrac32.log").c_str(), std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    return all.find(text) != std::string::npos;
}

// Owns the late writer: a thread waiting from the start for the go this object's destruction
// gives, after module "MV" has gone.
class CLateWriter {
public:
    CLateWriter()
        : m_go(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_thread(CreateThread(nullptr, 0, &CLateWriter::Body, this, 0, nullptr))
    {
    }

    virtual ~CLateWriter()
    {
        SetEvent(m_go);
        const bool ended = WaitForSingleObject(m_thread, kLateWriteWithin) == WAIT_OBJECT_0;
        const bool written = LogHolds(kLateText);
        if (!ended || written || g_deletedLockEntered.load()) {
            std::fprintf(stderr,
                         "late record: thread ended %d, written %d, deleted lock entered %d\n",
                         ended, written, g_deletedLockEntered.load());
            std::fflush(stderr);
            std::_Exit(3);
        }
        CloseHandle(m_thread);
        CloseHandle(m_go);
    }

    CLateWriter(const CLateWriter&) = delete;
    CLateWriter& operator=(const CLateWriter&) = delete;

    bool Waiting() const { return m_thread != nullptr && m_go != nullptr; }

private:
    static DWORD WINAPI Body(void* param)
    {
        auto* self = static_cast<CLateWriter*>(param);
        if (WaitForSingleObject(self->m_go, INFINITE) == WAIT_OBJECT_0)
            TraceMV(MV_TRACE_INFORMATION, kLateText);
        return 0;
    }

    HANDLE m_go;
    HANDLE m_thread;
};

CLateWriter s_lateWriter MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_TEST_SETUP);

// What the check at the end relies on: the writer waits, and the same record written while the
// module lives does reach the log, so its absence at the end means it was dropped.
TEST(LateTrace, TheLateWriterWaitsAndTheModuleWritesWhileItLives)
{
    ASSERT_TRUE(s_lateWriter.Waiting());
    TraceMV(MV_TRACE_INFORMATION, "late writer armed");
    EXPECT_TRUE(LogHolds("late writer armed"));
    EXPECT_FALSE(g_mvLockDeleted.load());
}

}  // namespace

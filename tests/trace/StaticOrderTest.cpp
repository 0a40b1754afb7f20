// The objects built before the entry must come in their fixed order. Observers sit at the
// URL manager's priority (between the modules and the ovktrace.dll loader) and just after the
// loader; what they see is checked once the tests run. Both stand-ins lie beside this program,
// so "loaded" tells whether an object has been built.
#include "tests/trace/StandinLogReader.h"
#include "trace/CTraceLibrary.h"
#include "trace/StaticInitOrder.h"
#include "trace/TraceModules.h"
#include "trace/TraceText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Observation {
    bool built = false, ksBaseLoaded = false, mvLoaded = false, ovkTraceLoaded = false;
    int traceAnswer = 0;
    int32_t threshold = 0;
};

Observation Observe()
{
    return {true,
            GetKSBaseTraceModule().IsLoaded() != FALSE,
            GetMVTraceModule().IsLoaded() != FALSE,
            g_hOvkTraceModule != nullptr,
            TraceText(-1, L"written by a static object"),
            g_nTraceLevel.load()};
}

Observation s_atUrlManager;
Observation s_afterLoader;

// Where the URL manager is built: both modules exist, the leveled library is not loaded yet.
// On the way out the loader has gone, leaving its library in place for late records, and the
// modules are still there.
class CUrlManagerPlaceObserver {
public:
    CUrlManagerPlaceObserver()
    {
        s_atUrlManager = Observe();
        TraceMV(MV_TRACE_INFORMATION, "static order observer built");
    }

    virtual ~CUrlManagerPlaceObserver()
    {
        const bool libraryKept = g_hOvkTraceModule != nullptr && g_pfnOVKTRACE != nullptr;
        const bool modulesLeft = GetKSBaseTraceModule().IsLoaded() && GetMVTraceModule().IsLoaded();
        TraceMV(MV_TRACE_INFORMATION, "static order observer destroyed");
        if (!libraryKept || !modulesLeft) {
            std::fprintf(stderr,
                         "statics destroyed out of order (library kept %d, modules left %d)\n",
                         libraryKept, modulesLeft);
            std::fflush(stderr);
            std::_Exit(3);
        }
    }
};

class CAfterLoaderObserver {
public:
    CAfterLoaderObserver() { s_afterLoader = Observe(); }
    virtual ~CAfterLoaderObserver() = default;
};

CUrlManagerPlaceObserver s_urlManagerPlace MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_URL_MANAGER);
CAfterLoaderObserver s_afterLoaderPlace MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_TRACE_LIBRARY + 1);

TEST(StaticOrder, ModulesComeBeforeTheUrlManagerAndTheLoaderAfterIt)
{
    ASSERT_TRUE(s_atUrlManager.built);
    EXPECT_TRUE(s_atUrlManager.ksBaseLoaded);
    EXPECT_TRUE(s_atUrlManager.mvLoaded);
    EXPECT_FALSE(s_atUrlManager.ovkTraceLoaded);
    EXPECT_EQ(-1, s_atUrlManager.traceAnswer);
    EXPECT_EQ(7, s_atUrlManager.threshold);

    ASSERT_TRUE(s_afterLoader.built);
    EXPECT_TRUE(s_afterLoader.ovkTraceLoaded);
    EXPECT_NE(-1, s_afterLoader.traceAnswer);
}

// The two registrations come first in the log (StandinTraceTest); the observer's record next.
TEST(StaticOrder, RegistrationsPrecedeWhatTheUrlManagerPlaceWrites)
{
    const std::vector<std::string> texts = OwnLogTexts(L"kstrac32.log");
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ("MV Information: static order observer built", texts[2]);
}

}  // namespace

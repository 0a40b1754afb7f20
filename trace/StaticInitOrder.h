// Construction order of the process-wide objects that exist before the entry runs.
//
// C++ leaves the order of statics in different translation units open, so each of these
// objects carries an init priority: lower numbers are constructed first, all of them before
// any static without a priority, and they are destroyed in reverse order after the entry
// returns. Every priority in use is listed here and nowhere else.
#pragma once

// The table of secrets every trace record passes (trace/CTraceSecrets.cpp): before anything
// that could write a record.
constexpr int MVU_INIT_PRIORITY_TRACE_SECRETS = 800;
// Reserved for test programs that prepare the process before any of the objects below.
constexpr int MVU_INIT_PRIORITY_TEST_SETUP = 900;
// The restriction of the library search to the program's and the system's folders, before
// anything loads a library (trace/TraceModules.cpp).
constexpr int MVU_INIT_PRIORITY_DLL_SEARCH = 950;
// Trace module "KSBASE" (trace/TraceModules.cpp).
constexpr int MVU_INIT_PRIORITY_TRACE_MODULE_KSBASE = 1000;
// Trace module "MV", which the URL module writes to (trace/TraceModules.cpp).
constexpr int MVU_INIT_PRIORITY_TRACE_MODULE_MV = 1001;
// The URL manager's single instance: it traces to "MV" while it is built and torn down.
constexpr int MVU_INIT_PRIORITY_URL_MANAGER = 1002;
// The loader of ovktrace.dll (trace/TraceText.cpp).
constexpr int MVU_INIT_PRIORITY_TRACE_LIBRARY = 1003;

// Put after the object's name: `static CFoo s_foo MVU_INIT_PRIORITY(...)(args);`
#define MVU_INIT_PRIORITY(priority) __attribute__((init_priority(priority)))

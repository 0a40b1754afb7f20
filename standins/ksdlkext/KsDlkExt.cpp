// Stand-in for ksdlkext.dll, the download library's extension. ieksdlk.dll loads it from its
// own directory when initialised; the program only looks for it among the loaded modules.
// Each call of DlkOdeConfig is written to ksdlkext.record beside the DLL and answered 1.
#include "app/DlkApi.h"
#include "standins/common/CStandinLog.h"

#include <string>

extern "C" int WINAPI DlkOdeConfig(int first, int second, int third);

namespace {

[[maybe_unused]] constexpr PFN_DlkOdeConfig kOdeConfigType = &DlkOdeConfig;

CStandinLog& Record()
{
    static CStandinLog record(L"ksdlkext.record");
    return record;
}

}  // namespace

// (0, 1, 0) is the program's request to hide the progress dialog; this library shows none,
// so every request is done.
int WINAPI DlkOdeConfig(int first, int second, int third)
{
    try {
        Record().Append("DlkOdeConfig " + std::to_string(first) + " " + std::to_string(second) +
                        " " + std::to_string(third));
    } catch (...) {
        // The answer does not depend on the record.
    }
    return 1;
}

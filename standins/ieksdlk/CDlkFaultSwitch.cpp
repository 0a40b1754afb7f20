#include "standins/ieksdlk/CDlkFaultSwitch.h"

#include "standins/ieksdlk/CWinHandle.h"

#include <cstdlib>
#include <sstream>

namespace {

const wchar_t kSwitchFile[] = L"ieksdlk.faults";
constexpr DWORD kSwitchFileMax = 256;

}  // namespace

CDlkFaultSwitch CDlkFaultSwitch::Read(const std::wstring& dir)
{
    const std::wstring path = dir + L"\\" + kSwitchFile;
    CWinHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return CDlkFaultSwitch();
    char text[kSwitchFileMax + 1] = {};
    DWORD read = 0;
    if (!ReadFile(file.Get(), text, kSwitchFileMax, &read, nullptr))
        return CDlkFaultSwitch();
    return Parse(std::string(text, read));
}

CDlkFaultSwitch CDlkFaultSwitch::Parse(const std::string& text)
{
    std::istringstream words(text);
    std::string keyword;
    std::string delay;
    words >> keyword >> delay;
    CDlkFaultSwitch result;
    if (keyword == "never-notify") {
        result.m_fault = NeverNotify;
    } else if (keyword == "notify-twice") {
        result.m_fault = NotifyTwice;
    } else if (keyword == "refuse-start") {
        result.m_fault = RefuseStart;
    } else if (keyword == "notify-stale") {
        result.m_fault = NotifyStale;
    } else if (keyword == "notify-progress") {
        result.m_fault = NotifyProgress;
    } else if (keyword == "notify-late") {
        result.m_fault = NotifyLate;
        char* end = nullptr;
        const unsigned long ms = std::strtoul(delay.c_str(), &end, 10);
        if (!delay.empty() && end != nullptr && *end == '\0' && ms < INFINITE)
            result.m_lateDelayMs = ms;
    } else {
        return result;
    }
    result.m_keyword = keyword;
    return result;
}

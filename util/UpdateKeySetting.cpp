#include "util/UpdateKeySetting.h"

#include "util/ConfigStore.h"
#include "util/SettingNames.h"

namespace {

// Room for every key the check uses, with blanks and separators around them.
constexpr DWORD kKeyTextSize = 2048;

}  // namespace

void ReadUpdateKeySetting(UpdateKeySetting& setting)
{
    setting = UpdateKeySetting();
    wchar_t text[kKeyTextSize] = {};
    const CfgTextRead read = CfgReadText(kSettingsSection, kUpdateKeySetting, text, kKeyTextSize);
    if (read == CfgTextRead::kAbsent)
        return;
    setting.state = UpdateKeyState::kUnusable;
    if (read != CfgTextRead::kText)
        return;
    setting.count = ParseUpdateKeyList(text, setting.keys, kMaxUpdateKeys, &setting.pieces);
    if (setting.count > 0)
        setting.state = UpdateKeyState::kKeys;
}

#include "util/RolloutBucketSetting.h"

#include "util/CSystemRandom.h"
#include "util/ConfigStore.h"
#include "util/RolloutText.h"
#include "util/SafeString.h"
#include "util/SettingNames.h"

namespace {

// Room for a bucket's digits and more, so that a longer text reads as no bucket, not as cut.
constexpr DWORD kBucketTextSize = 16;

bool DrawFromSystem(uint32_t* value)
{
    CSystemRandom random;
    return random.Draw(value);
}

}  // namespace

void ReadRolloutBucketSetting(RolloutBucketSetting& setting, RolloutRandomSource random)
{
    setting = RolloutBucketSetting();
    wchar_t text[kBucketTextSize] = {};
    const CfgTextRead read =
        CfgReadText(kSettingsSection, kRolloutBucketSetting, text, kBucketTextSize);
    if (read == CfgTextRead::kText && ParseRolloutBucket(text, &setting.bucket)) {
        setting.state = RolloutBucketState::kStored;
        return;
    }
    uint32_t drawn = 0;
    if (!(random != nullptr ? random(&drawn) : DrawFromSystem(&drawn)))
        return;
    setting.state =
        read == CfgTextRead::kAbsent ? RolloutBucketState::kDrawn : RolloutBucketState::kRedrawn;
    setting.bucket = BucketFromRandom(drawn);
    wchar_t digits[kBucketTextSize] = {};
    BoundedFormat(digits, kBucketTextSize, L"%u", static_cast<unsigned>(setting.bucket));
    setting.notStored = !CfgSetString(kSettingsSection, kRolloutBucketSetting, digits);
}

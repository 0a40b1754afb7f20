#include "app/RolloutDecision.h"

#include "app/AppTrace.h"
#include "app/VersionText.h"
#include "trace/TraceText.h"

namespace {

constexpr size_t kRecordSize = 128;

void TraceBucket(const RolloutBucketSetting& setting)
{
    const unsigned bucket = static_cast<unsigned>(setting.bucket);
    if (setting.state == RolloutBucketState::kDrawn)
        TraceFormat(TRACE_LEVEL_DETAIL, kRecordSize, L"MVRolloutBucket drawn: %u.", bucket);
    if (setting.state == RolloutBucketState::kRedrawn) {
        TraceFormat(TRACE_LEVEL_DETAIL, kRecordSize,
                    L"MVRolloutBucket was no bucket: drawn again: %u.", bucket);
    }
    if (setting.state == RolloutBucketState::kNone) {
        TraceText(TRACE_LEVEL_DETAIL,
                  L"MVRolloutBucket could not be drawn: only releases to 100 % are taken.");
    }
    if (setting.notStored)
        TraceText(TRACE_LEVEL_DETAIL, L"MVRolloutBucket could not be stored.");
}

void TraceDecision(bool in, uint32_t hundredths, const RolloutBucketSetting& setting)
{
    wchar_t share[kShareTextSize] = {};
    FormatRolloutShare(hundredths, share);
    if (setting.state == RolloutBucketState::kNone) {
        TraceFormat(TRACE_LEVEL_PROGRESS, kRecordSize,
                    in ? L"Update offered to this machine: rollout %ls %%, no bucket."
                       : L"Update not offered to this machine yet: rollout %ls %%, no bucket.",
                    share);
        return;
    }
    TraceFormat(TRACE_LEVEL_PROGRESS, kRecordSize,
                in ? L"Update offered to this machine: rollout %ls %%, bucket %u."
                   : L"Update not offered to this machine yet: rollout %ls %%, bucket %u.",
                share, static_cast<unsigned>(setting.bucket));
}

}  // namespace

bool IsOfferedToThisMachine(const VersionAnswer& answer, RolloutRandomSource random)
{
    if (answer.rollout != RolloutTag::kShare)
        return true;
    RolloutBucketSetting setting;
    ReadRolloutBucketSetting(setting, random);
    TraceBucket(setting);
    const bool hasBucket = setting.state != RolloutBucketState::kNone;
    const bool in = hasBucket ? IsInRollout(setting.bucket, answer.rolloutShare)
                              : answer.rolloutShare == kFullRollout;
    TraceDecision(in, answer.rolloutShare, setting);
    return in;
}

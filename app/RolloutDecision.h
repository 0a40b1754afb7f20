// Whether a release published to a share of the fleet is for this machine: its bucket
// ("MVRolloutBucket", drawn once and kept) below the share in hundredths of a percent. Every
// decision, and every draw of a bucket, is traced.
#pragma once

#include "util/RolloutBucketSetting.h"

struct VersionAnswer;

// True when the answer carries no share (nothing is read or written then) or the machine is
// in its share. A machine without a bucket takes only full rollouts. A bucket is drawn from
// random (null: the system's generator).
bool IsOfferedToThisMachine(const VersionAnswer& answer, RolloutRandomSource random = nullptr);

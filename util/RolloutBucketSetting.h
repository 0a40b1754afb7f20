// The machine's place in the fleet for staged rollouts: "MVRolloutBucket" under the settings
// key, a bucket from 0 to 9999 drawn once from the system's generator and kept, so that a machine
// that was in a rollout stays in as it widens. It never leaves the machine.
#pragma once

#include <cstdint>

enum class RolloutBucketState {
    kStored,   // the stored bucket
    kDrawn,    // none was stored: one was drawn
    kRedrawn,  // the stored value was no bucket: one was drawn in its place
    kNone,     // no bucket could be drawn: the machine takes full rollouts only
};

struct RolloutBucketSetting {
    RolloutBucketState state = RolloutBucketState::kNone;
    uint32_t bucket = 0;
    // A drawn bucket could not be written back: the next run draws again.
    bool notStored = false;
};

// A random number for a draw; false when none can be had. Null: the system's generator.
using RolloutRandomSource = bool (*)(uint32_t* value);

// Reads the bucket, drawing one and writing it back when none is stored or the stored value is
// no bucket (a text of 1 to 4 digits).
void ReadRolloutBucketSetting(RolloutBucketSetting& setting, RolloutRandomSource random = nullptr);

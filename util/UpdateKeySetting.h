// The update keys the machine trusts, read from "MVUpdateKey" under the settings key. The value
// is read once, through one handle: a value that is there must never read as no keys, whatever
// goes wrong in reading it.
#pragma once

#include "util/UpdateKeyText.h"

#include <cstddef>

enum class UpdateKeyState {
    kAbsent,    // no "MVUpdateKey": answers are not signature-checked
    kUnusable,  // there, but empty, of another type, unreadable, or holding no usable key
    kKeys,      // at least one key
};

struct UpdateKeySetting {
    UpdateKeyState state = UpdateKeyState::kAbsent;
    EcPublicKey keys[kMaxUpdateKeys] = {};
    size_t count = 0;
    // Non-empty pieces of the value, usable or not (more than kMaxUpdateKeys when keys were
    // left over).
    size_t pieces = 0;
};

void ReadUpdateKeySetting(UpdateKeySetting& setting);

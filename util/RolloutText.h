// The texts of a staged rollout: the answer's share of the fleet ("<MVRollout>", in percent with
// up to two decimals) and the machine's place in the fleet as stored ("MVRolloutBucket", one of
// 10000 buckets). Shares are kept in hundredths of a percent, so that a machine is in exactly
// when its bucket is below them and no fraction is ever rounded.
// No Windows header here: this also builds natively for sanitizers and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>

// Buckets 0 to 9999: one per hundredth of a percent.
constexpr uint32_t kRolloutBuckets = 10000;
// 100 %: every machine, a bucket or not.
constexpr uint32_t kFullRollout = 10000;
// Room for the longest share as text ("100", "12.34"), with a terminator.
constexpr size_t kShareTextSize = 8;

enum class RolloutTag { kAbsent, kUnreadable, kShare };

// A share as the answer writes it: 1 to 3 digits, optionally "." and 1 or 2 digits, from 0 to
// 100; no sign, exponent or blanks. False for anything else, *hundredths then untouched.
bool ParseRolloutShare(const wchar_t* text, uint32_t* hundredths);

// "<MVRollout>" of an envelope's content: absent (every machine is in), unreadable (no closing
// mark, too long, or no share), or its share in hundredths (kFullRollout unless kShare).
RolloutTag ReadRolloutTag(const wchar_t* envelope, uint32_t* hundredths);

// A bucket as stored: 1 to 4 decimal digits, nothing else. False for anything else.
bool ParseRolloutBucket(const wchar_t* text, uint32_t* bucket);

// The bucket a random number gives.
uint32_t BucketFromRandom(uint32_t random);

// Whether a machine of that bucket takes a release at that share: widening a rollout keeps every
// machine that was in.
bool IsInRollout(uint32_t bucket, uint32_t hundredths);

// The share as traced: "0", "12.5", "47.11", "100" (no trailing zeros of the decimals).
void FormatRolloutShare(uint32_t hundredths, wchar_t (&text)[kShareTextSize]);

// How many bytes the worker asks of each read of an answer's body. Chosen by measurement
// (tools/bench.sh fetches 10 MB and 100 MB bodies with 8 KB, 64 KB and 256 KB reads); the
// benchmark sets it before the module starts, nothing else changes it.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t kDefaultUrlReadSize = 64 * 1024;
extern std::atomic<uint32_t> g_nUrlReadSize;

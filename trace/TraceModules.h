// The program's two trace modules of the module channel. Both are static objects built
// before the entry runs: "KSBASE" (registered only) and "MV", which the URL module writes to
// at level 1 for information and level 2 for errors, one CTraceMsgBuf record at a time:
//   char buf[TRACE_MSG_BUF_SIZE];
//   CTraceMsgBuf msg(buf, sizeof(buf));
//   msg.AppendText("Create CUrlRequest object ").AppendPointer(request);
//   TraceMV(MV_TRACE_INFORMATION, msg.Text());
#pragma once

#include "trace/CKSTraceModule.h"
#include "trace/CTraceMsgBuf.h"

#include <cstdint>

// Levels of module "MV".
constexpr uint32_t MV_TRACE_FUNCTION = 0;
constexpr uint32_t MV_TRACE_INFORMATION = 1;
constexpr uint32_t MV_TRACE_ERROR = 2;

// Levels of module "KSBASE".
constexpr uint32_t KSBASE_TRACE_INFORMATION = 0;
constexpr uint32_t KSBASE_TRACE_ERROR = 1;

CKSTraceModule& GetKSBaseTraceModule();
CKSTraceModule& GetMVTraceModule();

// Writes text to module "MV".
void TraceMV(uint32_t level, const char* text);

// The two files the download library stand-in keeps beside its DLL:
//   ieksdlk.record  one line per call of an entry point, its arguments verbatim
//   ieksdlk.log     what the library did: notifications, fetches, installs, outcomes
#pragma once

#include "standins/common/CStandinLog.h"

CStandinLog& DlkRecordFile();
CStandinLog& DlkLogFile();

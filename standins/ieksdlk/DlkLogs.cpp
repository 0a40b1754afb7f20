#include "standins/ieksdlk/DlkLogs.h"

CStandinLog& DlkRecordFile()
{
    static CStandinLog record(L"ieksdlk.record");
    return record;
}

CStandinLog& DlkLogFile()
{
    static CStandinLog log(L"ieksdlk.log");
    return log;
}

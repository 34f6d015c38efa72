// Usage: the process-wide log file.
#include "log/log.h"

int example_log(const char16_t* path) {
    TRK::TRKLogger* log = TRK::TRKLogger::Instance();
    if (!log->InitLog(path))                  // once per process; creates missing folders
        return 1;
    log->LogInfo(u"capture started: %s at %d fps", u"game.exe", 60);
    log->LogWaring(u"encoder queue is %I64d frames behind", 3LL);
    return 0;
}

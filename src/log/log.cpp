// TRKLogger: the process-wide instance, the level entry points and the open/close life cycle.
#include "log/log.h"
#include "log/log_file.h"

#include "format/format.h"

#include <cstring>

namespace TRK {

namespace {

// Constant-initialised, so it exists before any code of the library runs; its destructor,
// registered at load, closes the file when the library is unloaded or the process ends.
TRKLogger s_instance;

// The markers as written into the line; each ends in one blank.
const char16_t* markerOf(int level) {
    switch (level) {
    case 1: return u":warning ";
    case 2: return u":error ";
    case 3: return u":fatal ";
    case 4: return u":debug ";
    default: return u":info ";
    }
}

}  // namespace

TRKLogger* TRKLogger::Instance() { return &s_instance; }

TRKLogger::~TRKLogger() { _closeLog(); }

bool TRKLogger::InitLog(const char16_t* path) {
    if (_logFile)
        return false;
    _logFile = new nxlog::LogFile();
    if (!_logFile->open(path ? path : u"")) {
        delete _logFile;
        _logFile = nullptr;
        return false;
    }
    return true;
}

bool TRKLogger::InitLog(const std::u16string& path) { return InitLog(path.c_str()); }

#define NX_LOG_ENTRY(name, level)                        \
    void TRKLogger::name(const char16_t* pattern, ...) { \
        va_list args;                                    \
        va_start(args, pattern);                         \
        __Log(pattern, args, level);                     \
        va_end(args);                                    \
    }
NX_LOG_ENTRY(LogInfo, 0)
NX_LOG_ENTRY(LogWaring, 1)
NX_LOG_ENTRY(LogError, 2)
NX_LOG_ENTRY(LogFatal, 3)
#undef NX_LOG_ENTRY

void TRKLogger::LogDebug(const char16_t*, ...) {}

std::u16string TRKLogger::__GetLogLevel(int level) { return markerOf(level); }

void TRKLogger::__Log(const char16_t* pattern, va_list args, int level) {
    nxlog::LogFile* file = _logFile;
    if (!file)
        return;
    // The marker goes in front of the message in one buffer, so the line needs no copy.
    constexpr std::size_t kMarkerRoom = 16;
    char16_t text[kMarkerRoom + nxlog::kLogBufferUnits];
    const char16_t* marker = markerOf(level);
    std::size_t markerUnits = 0;
    while (marker[markerUnits])
        ++markerUnits;
    char16_t* message = text + kMarkerRoom - markerUnits;
    std::memcpy(message, marker, markerUnits * sizeof(char16_t));
    const std::size_t units =
        pattern ? nxVFormat(text + kMarkerRoom, nxlog::kLogBufferUnits, pattern, args) : 0;
    file->writeLine(message, markerUnits + units);
}

void TRKLogger::_closeLog() {
    if (!_logFile)
        return;
    _logFile->close();
    delete _logFile;
    _logFile = nullptr;
}

}  // namespace TRK

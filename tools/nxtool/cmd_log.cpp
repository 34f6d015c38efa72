// nxtool log: writes one line per level to a log file; the demo's logger screen.
#include "command.h"
#include "log/log.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

void writeSample(TRK::TRKLogger& log) {
    log.LogInfo(u"info: %s started, %d workers", u"nxtool", 4);
    log.LogWaring(u"warning: disk %s is %d%% full", u"D:", 93);
    log.LogError(u"error: open failed with 0x%08X", 0x80070005u);
    log.LogFatal(u"fatal: %I64d bytes lost", 1234567890123LL);
    log.LogDebug(u"debug: never written");
    log.LogInfo(u"text: gr\u00FC\u00DFe, \u4F60\u597D, \U0001F3AE");
}

int runLog(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: nxtool log PATH\n");
        return 2;
    }
    TRK::TRKLogger* log = TRK::TRKLogger::Instance();
    if (!log->InitLog(nxtool::utf16(args[0]))) {
        std::fprintf(stderr,
                     "nxtool log: cannot open %s (no regular file, or a path without a folder "
                     "part)\n",
                     args[0].c_str());
        return 1;
    }
    writeSample(*log);
    std::printf("wrote 5 lines (info, warning, error, fatal, non-ASCII info) to %s\n",
                args[0].c_str());
    return 0;
}

int demoLog() {
    // The demo's own new folder: nothing to clear, and no link of anyone else's to follow.
    if (nxtool::demoFolder().empty())
        return 1;
    const std::filesystem::path path = std::filesystem::path(nxtool::demoFolder()) / "demo.log";
    {
        TRK::TRKLogger log;
        if (!log.InitLog(path.u16string())) {
            std::printf("cannot open %s\n", path.string().c_str());
            return 1;
        }
        writeSample(log);
    }
    std::printf("%s (UTF-8, CR LF, debug line discarded):\n", path.string().c_str());
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::printf("  %s\n", line.c_str());
    }
    in.close();
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return 0;
}

}  // namespace

NXTOOL_COMMAND("log", "write one line per log level to a file",
               "usage: nxtool log PATH\n\n"
               "Opens PATH as the process-wide log (creating missing folders, rotating a file\n"
               "above 20 MiB to PATH.bk and PATH.bk.bk) and appends an info, warning, error\n"
               "and fatal line and a line of non-ASCII text; the debug line is discarded.\n"
               "PATH needs a folder part: \"./app.log\" works, \"app.log\" is refused.",
               runLog);
NXTOOL_DEMO(40, "file logger", demoLog);

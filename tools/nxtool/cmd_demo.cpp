// nxtool demo: runs every registered demo section in order.
#include "command.h"

#include <algorithm>

namespace {

int runDemo(const std::vector<std::string>&) {
    auto sections = nxtool::demoSections();
    std::stable_sort(sections.begin(), sections.end(),
                     [](const nxtool::DemoSection& a, const nxtool::DemoSection& b) {
                         return a.order < b.order;
                     });
    // The sections that write files need the folder; without it the demo stops here.
    if (!nxtool::createDemoFolder())
        return 1;
    std::printf("demo files go to the new private folder %s\n\n", nxtool::demoFolder().c_str());
    int status = 0;
    for (const auto& s : sections) {
        std::printf("== %s ==\n", s.title);
        if (s.run() != 0)
            status = 1;
        std::printf("\n");
    }
    return status;
}

}  // namespace

NXTOOL_COMMAND("demo", "a tour of the library on built-in sample data",
               "usage: nxtool demo\n\nRuns one short screen per subsystem on built-in data.",
               runDemo);

// nxtool: dispatches to the registered commands.
#include "command.h"
#include "pubfunc/pubfunc.h"

#include <filesystem>

#include <algorithm>
#include <cstring>

namespace nxtool {

std::vector<Command>& commands() {
    static std::vector<Command> all;
    return all;
}

std::vector<DemoSection>& demoSections() {
    static std::vector<DemoSection> all;
    return all;
}

bool wantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

std::u16string utf16(const std::string& text) {
    return pubfunc::toWideString(text.data(), static_cast<int>(text.size()), 65001);
}

std::string utf8(const std::u16string& text) {
    return pubfunc::toNarrowString(text.data(), static_cast<int>(text.size()), 65001);
}

std::string demoFolder() {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec) / "nxtool-demo";
    std::filesystem::create_directories(folder, ec);
    return ec ? std::string() : folder.string();
}

}  // namespace nxtool

namespace {

void printHelp() {
    auto all = nxtool::commands();
    std::sort(all.begin(), all.end(), [](const nxtool::Command& a, const nxtool::Command& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    std::printf("nxtool - try the nxutil library from the shell\n\n"
                "usage: nxtool COMMAND [ARGS...]\n"
                "       nxtool COMMAND --help\n\ncommands:\n");
    for (const auto& c : all)
        std::printf("  %-10s %s\n", c.name, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        printHelp();
        return argc < 2 ? 2 : 0;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& c : nxtool::commands()) {
        if (std::strcmp(c.name, argv[1]) != 0)
            continue;
        if (nxtool::wantsHelp(args)) {
            std::printf("%s\n", c.usage);
            return 0;
        }
        return c.run(args);
    }
    std::fprintf(stderr, "nxtool: unknown command '%s' (try nxtool --help)\n", argv[1]);
    return 2;
}

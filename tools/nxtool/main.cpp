// nxtool: dispatches to the registered commands.
#include "command.h"
#include "pubfunc/pubfunc.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

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

bool readInput(const char* command, const std::string& path, std::vector<char>& bytes) {
    if (pubfunc::loadBinaryFile(utf16(path), bytes))
        return true;
    std::fprintf(stderr, "nxtool %s: cannot read %s: %s\n", command, path.c_str(),
                 utf8(pubfunc::lastFileError()).c_str());
    return false;
}

bool writeOutput(const char* command, const std::string& path, const void* data,
                 std::size_t size) {
    if (path.empty() || path == "-") {
        if (std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0)
            return true;
        std::fprintf(stderr, "nxtool %s: cannot write to standard output: %s\n", command,
                     std::strerror(errno));
        return false;
    }
    if (pubfunc::saveBinaryFile(utf16(path), data, size))
        return true;
    std::fprintf(stderr, "nxtool %s: cannot write %s: %s\n", command, path.c_str(),
                 utf8(pubfunc::lastFileError()).c_str());
    return false;
}

namespace {
std::string g_demoFolder;
}

bool createDemoFolder() {
    if (!g_demoFolder.empty())
        return true;
    const std::u16string folder = pubfunc::createPrivateFolder(u"nxtool-demo-");
    if (folder.empty()) {
        std::fprintf(stderr, "nxtool demo: cannot create a private folder for the demo files: %s\n",
                     utf8(pubfunc::lastFileError()).c_str());
        return false;
    }
    g_demoFolder = utf8(folder);
    return true;
}

std::string demoFolder() { return g_demoFolder; }

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
        int rc;
        try {
            rc = c.run(args);
        } catch (const std::exception& e) {
            // Bad input met along the way (out of memory for a huge picture, a path the
            // standard library cannot convert): a message and a failure, never an abort.
            std::fprintf(stderr, "nxtool %s: %s\n", c.name, e.what());
            rc = 1;
        } catch (...) {
            std::fprintf(stderr, "nxtool %s: failed (an unexpected error)\n", c.name);
            rc = 1;
        }
        // Output that never reached its file or pipe (a full disk) is a failure too.
        if (rc == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
            std::fprintf(stderr, "nxtool %s: cannot write to standard output: %s\n", c.name,
                         std::strerror(errno));
            rc = 1;
        }
        return rc;
    }
    std::fprintf(stderr, "nxtool: unknown command '%s' (try nxtool --help)\n", argv[1]);
    return 2;
}

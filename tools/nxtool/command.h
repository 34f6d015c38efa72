// The registry behind nxtool: commands and demo sections register themselves from their own
// files with the two macros below.
#ifndef NXTOOL_COMMAND_H
#define NXTOOL_COMMAND_H

#include <cstdio>
#include <string>
#include <vector>

namespace nxtool {

/// A subcommand: `run` gets the arguments after the command name and returns the exit code.
struct Command {
    const char* name;
    const char* summary;   ///< one line for `nxtool --help`
    const char* usage;     ///< the full text for `nxtool NAME --help`
    int (*run)(const std::vector<std::string>& args);
};

/// One screen of `nxtool demo`; sections run in ascending `order`.
struct DemoSection {
    int order;
    const char* title;
    int (*run)();
};

std::vector<Command>& commands();
std::vector<DemoSection>& demoSections();

struct CommandRegistration {
    explicit CommandRegistration(const Command& c) { commands().push_back(c); }
};
struct DemoRegistration {
    explicit DemoRegistration(const DemoSection& d) { demoSections().push_back(d); }
};

/// True when args holds "--help" or "-h".
bool wantsHelp(const std::vector<std::string>& args);

/// UTF-8 (the terminal's and the command line's text) to UTF-16 and back, through the
/// library's own conversion.
std::u16string utf16(const std::string& text);
std::string utf8(const std::u16string& text);

/// Reads the whole regular file `path` (UTF-8) into `bytes`. On failure prints
/// "nxtool COMMAND: cannot read PATH: why" and returns false: a folder, FIFO or device is
/// refused rather than read, so the command neither blocks nor reads forever.
bool readInput(const char* command, const std::string& path, std::vector<char>& bytes);

/// Writes `size` bytes to the file `path` ("-" or empty: standard output). A file is replaced
/// as a whole: when writing fails it keeps its old contents. On failure prints
/// "nxtool COMMAND: cannot write PATH: why" and returns false.
bool writeOutput(const char* command, const std::string& path, const void* data,
                 std::size_t size);

/// Creates the folder the demo writes its files into: a new private folder
/// "nxtool-demo-XXXXXX" in the temporary folder, never one that existed before (a folder or
/// link someone planted under a fixed name would redirect the demo's writes and deletes).
/// On failure prints "nxtool demo: cannot create ..." and returns false.
bool createDemoFolder();
/// The folder createDemoFolder made; empty before it succeeded.
std::string demoFolder();

}  // namespace nxtool

#define NXTOOL_CONCAT_(a, b) a##b
#define NXTOOL_CONCAT(a, b) NXTOOL_CONCAT_(a, b)
#define NXTOOL_COMMAND(...) \
    static ::nxtool::CommandRegistration NXTOOL_CONCAT(nxtoolCommand_, __LINE__)({__VA_ARGS__})
#define NXTOOL_DEMO(...) \
    static ::nxtool::DemoRegistration NXTOOL_CONCAT(nxtoolDemo_, __LINE__)({__VA_ARGS__})

#endif

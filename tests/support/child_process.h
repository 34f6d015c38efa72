// Helper processes for the suites: a test that needs a fresh process (process-wide singletons,
// cross-process behaviour) runs this same program again with a gtest filter that selects a
// child-only test, and checks its exit code; also a tool under test and a private X server.
#ifndef NXUTIL_TESTS_CHILD_PROCESS_H
#define NXUTIL_TESTS_CHILD_PROCESS_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace nxtest {

/// Runs this test program again with "--gtest_filter=<filter>", NXTEST_CHILD=1 and the `env`
/// entries in its environment; its exit code (-1 when it did not start or exit normally).
int runSelf(const std::string& filter,
            const std::vector<std::pair<std::string, std::string>>& env = {});
/// Starts the same child without waiting; 0 on failure.
long long startSelf(const std::string& filter,
                    const std::vector<std::pair<std::string, std::string>>& env = {});
/// startSelf for `program` (a copy of this test program under another name, say).
long long startProgram(const std::string& program, const std::string& filter,
                       const std::vector<std::pair<std::string, std::string>>& env = {});
/// Starts this test program with `args` (argv[1] onwards) and no extra environment.
long long startSelfWith(const std::vector<std::string>& args);
/// Waits for a started child and returns its exit code (-1 on failure).
int waitChild(long long child);
/// Ends a started child and waits for it; 0 is ignored. `letItClean`: POSIX asks it to end
/// (SIGTERM), so a server removes its files; otherwise it is killed at once.
void killChild(long long child, bool letItClean = false);
/// The process id of a started child (comparable with the library's process ids).
unsigned long childProcessId(long long child);
/// True inside a program started by runSelf/startSelf; child-only tests return at once otherwise.
bool isChildProcess();
/// The full path of this test program.
std::string selfExePath();
/// Calls `ready` every 5 ms until it returns true (then true) or `seconds` pass (then false).
bool waitUntil(const std::function<bool()>& ready, int seconds = 30);

/// How a program run by runProgram ended.
struct ProgramResult {
    bool started = false;
    bool timedOut = false;  ///< still running after the time-out: killed
    int exitCode = -1;      ///< the exit code when it exited normally, else -1
    int signal = 0;         ///< POSIX: the signal that ended it (a crash, an abort)
};
/// Runs `program` with `args`, standard input and output on the null device and standard error
/// into the file `errorFile`; kills it after `timeoutSeconds`. POSIX only (Windows: not started).
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& errorFile, int timeoutSeconds);

/// POSIX: starts a private X server (Xvfb) on a free display and waits until it accepts
/// clients; returns it (end it with killChild(child, true)) with `display` ":N", or 0 with the
/// reason in `display`. Windows: 0.
long long startXvfb(std::string* display);

/// Wine's version text when the program runs under Wine, else null.
const char* wineVersion();
/// How many memory regions of this process map a file (libraries, shared memory).
std::size_t mappedFileRegions();
/// The value of an environment variable, or empty text.
std::string getEnv(const char* name);
/// Sets (or, with an empty value, removes) an environment variable of this process.
void setEnv(const std::string& name, const std::string& value);
/// Creates a FIFO (named pipe) at `path`; false when it cannot, and always on Windows.
bool makeFifo(const std::string& path);
/// True when this process runs with root's rights (never on Windows).
bool runningAsRoot();
/// Gives the file `path` to user `uid` (root only); false when it cannot, and always on Windows.
bool changeOwner(const std::string& path, unsigned uid);
/// Sets the process's file-creation mask and returns the old one (Windows has none: 0).
unsigned setUmask(unsigned mask);
/// This process's id.
unsigned long selfProcessId();

}  // namespace nxtest

#endif

// Test programs that run themselves again: a test that needs a fresh process (process-wide
// singletons, cross-process behaviour) starts this same program with a gtest filter that
// selects a child-only test, waits for it and checks its exit code.
#ifndef NXUTIL_TESTS_CHILD_PROCESS_H
#define NXUTIL_TESTS_CHILD_PROCESS_H

#include <string>
#include <utility>
#include <vector>

namespace nxtest {

/// Runs this test program again with "--gtest_filter=<filter>", the variable NXTEST_CHILD=1
/// and the extra `env` entries in its environment; waits and returns its exit code (-1 when
/// it could not be started or did not exit normally).
int runSelf(const std::string& filter,
            const std::vector<std::pair<std::string, std::string>>& env = {});

/// Starts the same child without waiting; pair with waitChild. Returns 0 on failure.
long long startSelf(const std::string& filter,
                    const std::vector<std::pair<std::string, std::string>>& env = {});
/// Waits for a child of startSelf and returns its exit code (-1 on failure).
int waitChild(long long child);

/// The full path of this test program.
std::string selfExePath();

/// Starts `program` (a copy of this test program under another name, say) the way startSelf
/// starts this one; pair with waitChild. Returns 0 on failure.
long long startProgram(const std::string& program, const std::string& filter,
                       const std::vector<std::pair<std::string, std::string>>& env = {});

/// True inside a program started by runSelf/startSelf; child-only tests return at once
/// otherwise.
bool isChildProcess();

/// The value of an environment variable, or empty text.
std::string getEnv(const char* name);

/// Sets (or, with an empty value, removes) an environment variable of this process.
void setEnv(const std::string& name, const std::string& value);

/// Creates a FIFO (named pipe) at `path`; false when it cannot, and always on Windows.
bool makeFifo(const std::string& path);

/// Sets the process's file-creation mask and returns the old one (Windows has none: 0).
unsigned setUmask(unsigned mask);

/// This process's id.
unsigned long selfProcessId();

}  // namespace nxtest

#endif

// What the process and window tests need beyond tests/support: copies of this test program that
// report when they are ready and run until stopped, the window system, and the helper body that
// owns windows.
#ifndef NXUTIL_TESTS_PROCESSES_HOST_H
#define NXUTIL_TESTS_PROCESSES_HOST_H

#include "support/temp_dir.h"

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nxproc {

/// The test program's file name (ASCII), its letters upper-cased on request.
std::u16string selfName(bool upperCase = false);

/// A copy of this program running the child-only test `filter`, which calls reportReady and
/// then waitUntilStopped; it is stopped on destruction.
class Helper {
public:
    explicit Helper(const std::string& filter,
                    std::vector<std::pair<std::string, std::string>> env = {});
    ~Helper() { stop(); }
    /// The line the helper reported; empty when it did not within a minute.
    std::string waitReady();
    /// Tells the helper to end and waits for it; whether it exited with 0.
    bool stop();

private:
    nxtest::TempDir m_dir{"helper"};
    long long m_child = 0;
    std::optional<int> m_exitCode;
};

/// Helper side: hands `line` to the waiting test, whole.
void reportReady(const std::string& line);
/// Helper side: calls `pump` every few milliseconds until the test says stop (at most two minutes).
void waitUntilStopped(const std::function<void()>& pump = {});

#ifdef _WIN32
constexpr bool kX11Windows = false;
#else
constexpr bool kX11Windows = true;
#endif

/// Makes a window system reachable. X11: starts a private X server (end it with
/// nxtest::killChild(server, true)) and sets `display` to ":N"; Windows: checks that a window
/// can be made and returns 1. 0, with the reason in `display`, when there is none.
long long startWindowSystem(std::string* display);

/// Helper body: makes windows, reports windowLine({main, hidden, hiddenParent, orphanChild,
/// grandchild}) and keeps them until stopped; nonzero without a window system. "nx main window"
/// is shown, with a shown child that has one (grandchild); "nx hidden parent" is hidden, with a
/// shown child (orphanChild); "nx hidden window", hidden, lies above them all. hiddenOnly makes
/// only that one (the other ids are 0).
int runWindowHelper(bool hiddenOnly);
/// The reported line: this process's id, then the window ids, in decimal.
std::string windowLine(std::initializer_list<unsigned long long> ids);

}  // namespace nxproc

#endif

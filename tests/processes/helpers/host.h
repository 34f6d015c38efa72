// What the process and window tests need from the host system beyond the library: starting a
// copy of the test program under another name, environment variables, a private X server and
// a helper process that owns windows. The only test files of these suites that talk to the OS.
#ifndef NXUTIL_TESTS_PROCESSES_HOST_H
#define NXUTIL_TESTS_PROCESSES_HOST_H

#include <string>
#include <utility>
#include <vector>

namespace nxproc {

/// The full path of the running test program.
std::string selfExePath();

/// Runs `program` with "--gtest_filter=<filter>", NXTEST_CHILD=1 and `env` added to its
/// environment; waits and returns its exit code (-1 when it could not be started).
int runProgram(const std::string& program, const std::string& filter,
               const std::vector<std::pair<std::string, std::string>>& env);

/// Sets an environment variable of this process; an empty value removes it.
void setEnvVar(const std::string& name, const std::string& value);

/// A private X server (Xvfb) on a display number that it picks itself among the free ones.
class DisplayServer {
public:
    DisplayServer() = default;
    ~DisplayServer() { stop(); }
    DisplayServer(const DisplayServer&) = delete;
    DisplayServer& operator=(const DisplayServer&) = delete;

    /// Starts the server and waits until it accepts clients; false with the reason in `why`
    /// when there is none (no Xvfb installed, not a POSIX system, it failed to start).
    bool start(std::string* why);
    /// Ends the server; nothing when it is not running.
    void stop();
    /// The DISPLAY value of the running server (":N").
    const std::string& display() const { return m_display; }

private:
    long long m_pid = 0;
    std::string m_display;
};

/// Helper-process body: connects to DISPLAY and creates windows that carry this process's
/// id in _NET_WM_PID, writes "pid main hidden hiddenParent orphanChild grandchild" (window ids,
/// decimal) to `idsFile`, then keeps the windows until `stopFile` exists (at most a minute).
///   full:       "nx main window" mapped, with a mapped child that has a mapped child
///               (grandchild); "nx hidden window" unmapped; an unmapped parent with a mapped
///               child (orphanChild).
///   hiddenOnly: only "nx hidden window", unmapped (the other ids are 0).
/// Returns 0 on success, nonzero when the display cannot be reached or X11 is not available.
int runWindowHelper(const std::string& idsFile, const std::string& stopFile, bool hiddenOnly);

}  // namespace nxproc

#endif

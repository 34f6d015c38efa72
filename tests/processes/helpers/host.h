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

/// Whether windows are X11 windows here (POSIX) rather than the platform's own (Windows).
bool windowsAreX11();

/// The window system for the window tests: a private X server (Xvfb) on POSIX, on a display
/// number that it picks itself among the free ones; the session's own desktop on Windows.
class DisplayServer {
public:
    DisplayServer() = default;
    ~DisplayServer() { stop(); }
    DisplayServer(const DisplayServer&) = delete;
    DisplayServer& operator=(const DisplayServer&) = delete;

    /// Starts the server and waits until it accepts clients; false with the reason in `why`
    /// when there is none (no Xvfb installed, it failed to start). Always true on Windows.
    bool start(std::string* why);
    /// Ends the server; nothing when it is not running.
    void stop();
    /// Whether start succeeded and stop has not been called.
    bool running() const { return m_running; }
    /// The DISPLAY value of the running X server (":N"); empty on Windows.
    const std::string& display() const { return m_display; }

private:
    long long m_pid = 0;
    bool m_running = false;
    std::string m_display;
};

/// Helper-process body: creates windows owned by this process (on X11: connects to DISPLAY
/// and puts this process's id in _NET_WM_PID of each window), writes "pid main hidden hiddenParent orphanChild grandchild" (window ids,
/// decimal) to `idsFile`, then keeps the windows until `stopFile` exists (at most a minute).
///   full:       "nx main window" mapped, with a mapped child that has a mapped child
///               (grandchild); "nx hidden window" unmapped; an unmapped parent with a mapped
///               child (orphanChild).
///   hiddenOnly: only "nx hidden window", unmapped (the other ids are 0).
/// The hidden windows lie above the main window in stacking order. Returns 0 on success,
/// nonzero when the display cannot be reached or no window system is available.
int runWindowHelper(const std::string& idsFile, const std::string& stopFile, bool hiddenOnly);

}  // namespace nxproc

#endif

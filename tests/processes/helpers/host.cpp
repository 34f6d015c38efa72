// Host-system helpers of the process and window tests: helper processes and the private Xvfb
// server.
#include "processes/helpers/host.h"

#include "support/child_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>
extern char** environ;
#endif

namespace nxproc {

namespace fs = std::filesystem;

std::u16string selfName(bool upperCase) {
    std::u16string name;
    for (char c : fs::path(nxtest::selfExePath()).filename().string())
        name += static_cast<char16_t>(upperCase && c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return name;
}

Helper::Helper(const std::string& filter, std::vector<std::pair<std::string, std::string>> env) {
    env.emplace_back("NX_READY_FILE", (m_dir.path() / "ready").string());
    env.emplace_back("NX_STOP_FILE", (m_dir.path() / "stop").string());
    m_child = nxtest::startSelf(filter, env);
}

std::string Helper::waitReady() {
    // Read until the line is whole: under Wine the file may show up before its text.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (m_child != 0 && std::chrono::steady_clock::now() < deadline) {
        const std::string text = nxtest::readFileBytes(m_dir.path() / "ready");
        if (!text.empty() && text.back() == '\n')
            return text.substr(0, text.size() - 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

bool Helper::stop() {
    if (!m_exitCode) {
        std::ofstream(m_dir.path() / "stop").put('x');
        m_exitCode = nxtest::waitChild(m_child);
    }
    return *m_exitCode == 0;
}

void reportReady(const std::string& line) {
    // Written under another name, then renamed, so the reader never sees half a line.
    const std::string path = nxtest::getEnv("NX_READY_FILE");
    std::ofstream(path + ".part") << line << '\n';
    std::error_code ec;
    fs::rename(path + ".part", path, ec);
}

void waitUntilStopped(const std::function<void()>& pump) {
    const std::string stop = nxtest::getEnv("NX_STOP_FILE");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    std::error_code ec;
    for (; !fs::exists(stop, ec) && std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (pump)
            pump();
}

std::string windowLine(std::initializer_list<unsigned long long> ids) {
    std::string line = std::to_string(nxtest::selfProcessId());
    for (unsigned long long id : ids)
        line += ' ' + std::to_string(id);
    return line;
}

bool DisplayServer::start(std::string* why) {
    stop();
#ifdef _WIN32
    // The desktop is there already; under Wine without a display driver no window can be
    // made, which a first window shows.
    const HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPED, 0, 0, 10, 10,
                                       nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!probe)
        return *why = "no window can be created (Wine without a display driver?)", false;
    DestroyWindow(probe);
    return m_running = true;
#else
    // Xvfb picks a free display number itself and writes it to the descriptor given with
    // -displayfd once it accepts connections.
    int fds[2];
    if (pipe(fds) != 0)
        return *why = "pipe failed", false;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const std::string fdText = std::to_string(fds[1]);
    const char* args[] = {"Xvfb", "-displayfd", fdText.c_str(), "-nolisten", "tcp",
                          "-screen", "0", "320x240x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);  // its start-up talk
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    m_pid = rc == 0 ? pid : 0;
    std::string number;
    for (char c = 0; rc == 0;) {
        pollfd p = {fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, 30000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || read(fds[0], &c, 1) <= 0 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        stop();
        *why = rc != 0 ? "Xvfb could not be started" : "Xvfb did not report a display";
        return *why += " (is the xvfb package installed?)", false;
    }
    m_display = ":" + number;
    return m_running = true;
#endif
}

void DisplayServer::stop() {
#ifndef _WIN32
    if (m_pid > 0) {
        kill(static_cast<pid_t>(m_pid), SIGTERM);
        nxtest::waitChild(m_pid);
    }
#endif
    m_pid = 0;
    m_running = false;
    m_display.clear();
}

}  // namespace nxproc

// ThreadSanitizer builds: after a lost server (which the window tests cause on purpose), libX11
// 1.7 and later unlock the display twice, in the I/O-error path and on the way out of the
// request. The runtime looks this function up by name; other builds ignore it.
extern "C" const char* __tsan_default_suppressions() { return "mutex:libX11.so.6\n"; }

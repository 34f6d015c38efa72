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
    std::string display;
    m_pid = nxtest::startXvfb(&display);
    if (m_pid == 0)
        return *why = "Xvfb " + display + " (is the xvfb package installed?)", false;
    m_display = display;
    return m_running = true;
#endif
}

void DisplayServer::stop() {
    nxtest::killChild(m_pid, /*letItClean=*/true);
    m_pid = 0;
    m_running = false;
    m_display.clear();
}

}  // namespace nxproc

// ThreadSanitizer builds: after a lost server (which the window tests cause on purpose), libX11
// 1.7 and later unlock the display twice, in the I/O-error path and on the way out of the
// request. The runtime looks this function up by name; other builds ignore it.
extern "C" const char* __tsan_default_suppressions() { return "mutex:libX11.so.6\n"; }

// Helper processes of the process and window tests: copies of this program started through
// tests/support, told apart by files in a folder of their own.
#include "processes/helpers/host.h"

#include "support/child_process.h"

#include <filesystem>
#include <fstream>

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
    std::string text;
    const auto whole = [&] { return !text.empty() && text.back() == '\n'; };
    nxtest::waitUntil([&] {
        text = nxtest::readFileBytes(m_dir.path() / "ready");
        return m_child == 0 || whole();
    }, 60);
    return whole() ? text.substr(0, text.size() - 1) : std::string();
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
    nxtest::waitUntil([&] {
        if (pump)
            pump();
        std::error_code ec;
        return fs::exists(stop, ec);
    }, 120);
}

std::string windowLine(std::initializer_list<unsigned long long> ids) {
    std::string line = std::to_string(nxtest::selfProcessId());
    for (unsigned long long id : ids)
        line += ' ' + std::to_string(id);
    return line;
}

}  // namespace nxproc

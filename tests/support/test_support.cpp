// Scratch folders, whole-file reads and readable UTF-16 for the suites.
#include "support/temp_dir.h"
#include "support/child_process.h"
#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>

namespace nxtest {

TempDir::TempDir(const std::string& tag) {
    static std::atomic<unsigned> counter{0};
    m_path = std::filesystem::temp_directory_path() /
             ("nxutil-" + tag + "-" + std::to_string(selfProcessId()) + "-" +
              std::to_string(counter++));
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
    std::filesystem::create_directories(m_path, ec);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::u16string TempDir::file(const std::string& name) const { return (m_path / name).u16string(); }

std::string readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> fileNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace nxtest

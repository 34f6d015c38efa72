// A scratch folder per test, removed again at the end of the test.
#ifndef NXUTIL_TESTS_TEMP_DIR_H
#define NXUTIL_TESTS_TEMP_DIR_H

#include <filesystem>
#include <string>
#include <vector>

namespace nxtest {

/// Creates an empty folder under the system's temporary folder whose name holds `tag`, the
/// process id and a counter; removes it (with everything inside) on destruction.
class TempDir {
public:
    explicit TempDir(const std::string& tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    /// path() / name as UTF-16 text.
    std::u16string file(const std::string& name) const;

private:
    std::filesystem::path m_path;
};

/// The whole content of a file as bytes; empty when it cannot be read.
std::string readFileBytes(const std::filesystem::path& path);

/// The names of the entries of `dir`, sorted.
std::vector<std::string> fileNames(const std::filesystem::path& dir);

}  // namespace nxtest

#endif

// The user's special folders on POSIX, after the XDG base-directory conventions.
#include "platform/folders.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/posix/posix_support.h"
#include "platform/utf8.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <string>

namespace platform {

namespace {

bool userDatabaseHome(std::string* home) {
    struct passwd pw;
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) != 0 || !found || !found->pw_dir)
        return false;
    *home = found->pw_dir;
    return true;
}

AccountHomeLookup s_accountHome = userDatabaseHome;

// $HOME, else the account's entry; empty when neither gives an absolute path, so that no
// folder is ever built from the file-system root or the current folder.
std::string homeFolder() {
    const char* env = std::getenv("HOME");
    std::string home = env ? env : "";
    if (home.empty() && !s_accountHome(&home))
        home.clear();
    return home.empty() || home[0] != '/' ? std::string() : home;
}

std::string configFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.config";
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" from user-dirs.dirs; empty when absent.
std::string documentsFromUserDirs(const std::string& config, const std::string& home) {
    if (config.empty())
        return std::string();
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        std::size_t p = line.find_first_not_of(" \t");
        if (p == std::string::npos || line.compare(p, key.size(), key) != 0)
            continue;
        std::string v = line.substr(p + key.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        if (v.compare(0, 5, "$HOME") == 0)
            v = home + v.substr(5);
        return v.empty() || v[0] != '/' ? std::string() : v;
    }
    return std::string();
}

}  // namespace

void setAccountHomeLookup(AccountHomeLookup lookup) {
    s_accountHome = lookup ? lookup : userDatabaseHome;
}

bool specialFolderPath(SpecialFolder which, bool create, std::u16string* out) {
    std::string path;
    if (which == SpecialFolder::AppData) {
        path = configFolder();
    } else {
        const char* env = std::getenv("XDG_DOCUMENTS_DIR");
        const std::string home = homeFolder();
        if (env && env[0] == '/')
            path = env;
        else
            path = documentsFromUserDirs(configFolder(), home);
        if (path.empty() && !home.empty())
            path = home + "/Documents";
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty()) {
        setLastError(ENOENT, "specialFolderPath");
        return false;
    }
    const std::u16string wide = fromUtf8(path);
    if (create && !isDirectory(wide.c_str()) && !createDirectories(wide.c_str()))
        return false;
    if (out)
        *out = wide;
    return true;
}

}  // namespace platform

// The user's special folders.
//
// Win32: SHGetSpecialFolderPathW. POSIX, following the XDG base-directory conventions:
// application data is $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; documents
// is $XDG_DOCUMENTS_DIR, else the XDG_DOCUMENTS_DIR line of <config>/user-dirs.dirs, else
// ~/Documents. The home folder is $HOME, else the user database's entry.
#ifndef NXUTIL_PLATFORM_FOLDERS_H
#define NXUTIL_PLATFORM_FOLDERS_H

#include <string>

namespace platform {

/// The folders asked for, with their CSIDL numbers.
enum class SpecialFolder {
    AppData = 26,    ///< CSIDL_APPDATA: the user's roaming application data
    Documents = 5,   ///< CSIDL_PERSONAL: the user's documents
};

/// The folder's path without a trailing separator; with `create`, a missing folder is created
/// with its parents. False (and `out` untouched) when it cannot be determined or created.
bool specialFolderPath(SpecialFolder which, bool create, std::u16string* out);

/// Tests only: replaces the user-database lookup of the home folder (POSIX; Windows ignores
/// it). The lookup returns false when the account has no entry; null restores the real one.
using AccountHomeLookup = bool (*)(std::string* home);
void setAccountHomeLookup(AccountHomeLookup lookup);

}  // namespace platform

#endif

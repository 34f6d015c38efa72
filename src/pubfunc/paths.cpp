// pubfunc paths: module names and folders, the per-user folder tree, command-line switches and
// the user configuration file.
#include "pubfunc/pubfunc.h"

#include "platform/dl.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/profile.h"

namespace {

const char16_t kSep = platform::kPathSeparator;

// The part after the last separator ("/opt/app/grabsvr" => "grabsvr"); all of it without one.
std::u16string fileNameOf(const std::u16string& path) {
    const std::size_t cut = path.rfind(kSep);
    return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

// The part before the last separator; all of it without one.
std::u16string folderOf(const std::u16string& path) {
    const std::size_t cut = path.rfind(kSep);
    return cut == std::u16string::npos ? path : path.substr(0, cut);
}

// Creates the folder with its parents; an existing folder or a failure are both fine here.
void ensureFolder(const std::u16string& folder) {
    if (!platform::isDirectory(folder.c_str()))
        platform::createDirectories(folder.c_str());
}

std::u16string join(std::u16string base, const char16_t* leaf) {
    base += kSep;
    base += leaf;
    return base;
}

// `base` + separator + `leaf`; empty when `base` is (a folder that could not be determined).
std::u16string joinUnlessEmpty(const std::u16string& base, const char16_t* leaf) {
    return base.empty() ? base : join(base, leaf);
}

// The text after `switchText` up to the next double quote; empty when the switch is missing.
std::u16string switchValue(const std::u16string& commandLine, const std::u16string& switchText) {
    const std::size_t at = commandLine.find(switchText);
    if (at == std::u16string::npos)
        return std::u16string();
    const std::u16string rest = commandLine.substr(at + switchText.size());
    const std::size_t quote = rest.find(u'"');
    return quote == std::u16string::npos ? rest : rest.substr(0, quote);
}

}  // namespace

std::u16string pubfunc::getExeName() { return fileNameOf(platform::executablePath()); }

std::u16string pubfunc::getExeNameWithoutExt() {
    const std::u16string name = getExeName();
    const std::size_t dot = name.rfind(u'.');
    return dot == std::u16string::npos ? name : name.substr(0, dot);
}

std::u16string pubfunc::getExePath(moduleType type) {
    const std::u16string file =
        type == moduleSelf
            ? platform::modulePath(reinterpret_cast<const void*>(&pubfunc::getExePath))
            : platform::executablePath();
    return folderOf(file);
}

// Without the application-data folder the tree has no root: the product folder and every
// path under it are empty rather than built from the file-system root.
std::u16string pubfunc::getNxAppDataPath() {
    std::u16string appData;
    if (!platform::specialFolderPath(platform::SpecialFolder::AppData, false, &appData))
        return std::u16string();
    ensureFolder(appData);
    return join(join(appData, u"talven"), u"qx");
}

std::u16string pubfunc::getUserConfigSavePath() {
    const std::u16string product = getNxAppDataPath();
    if (product.empty())
        return product;
    const std::u16string folder = join(join(product, u"business"), u"lumacast");
    ensureFolder(folder);
    return folder;
}

std::u16string pubfunc::getUserConfigSavePathFile() {
    return joinUnlessEmpty(getUserConfigSavePath(), u"user.ini");
}

std::u16string pubfunc::getUIConfigureFileName() {
    return joinUnlessEmpty(getUserConfigSavePath(), u"kobaingame.cfg");
}

std::u16string pubfunc::getMainConfigureFileName() {
    return joinUnlessEmpty(getUserConfigSavePath(), u"main.ini");
}

std::u16string pubfunc::getCacheDirPath() {
    const std::u16string folder = joinUnlessEmpty(getUserConfigSavePath(), u"cache");
    if (!folder.empty())
        ensureFolder(folder);
    return folder;
}

std::u16string pubfunc::getLogFileDir(const std::u16string& name) {
    const std::u16string product = getNxAppDataPath();
    if (product.empty())
        return product;
    const std::u16string folder = join(join(product, u"log"), u"grab_engine");
    ensureFolder(folder);
    return folder + kSep + name + u".log";
}

void pubfunc::getDefaultVideoRecordSaveFolder(std::u16string& folder) {
    std::u16string documents;
    if (!platform::specialFolderPath(platform::SpecialFolder::Documents, true, &documents))
        return;
    const std::u16string product = join(documents, u"My QX");
    ensureFolder(product);
    const std::u16string records = join(product, u"Game Record");
    ensureFolder(records);
    folder = records;
}

std::u16string pubfunc::getQXPathFromCmdLine(std::u16string commandLine) {
    return switchValue(commandLine, u"-qxpt \"");
}

std::u16string pubfunc::getGrabEnginePathFromCmdLine(std::u16string commandLine) {
    return switchValue(commandLine, u"-engine \"");
}

std::u16string pubfunc::getUserConfigString(const std::u16string& section,
                                            const std::u16string& key,
                                            const std::u16string& defaultValue) {
    const std::u16string file = getUserConfigSavePathFile();
    if (file.empty()) {
        // No per-user folder: nothing is stored and the default stands, shaped as a lookup
        // shapes it (trailing spaces dropped, at most 1024 characters).
        std::u16string def = defaultValue.substr(0, 1024);
        while (!def.empty() && def.back() == u' ')
            def.pop_back();
        return def;
    }
    char16_t value[1025] = {};
    platform::profileGetString(file.c_str(), section.c_str(), key.c_str(), defaultValue.c_str(),
                               value, 1024);
    return value;
}

void pubfunc::setUserConfigString(const std::u16string& section, const std::u16string& key,
                                  const std::u16string& value) {
    const std::u16string file = getUserConfigSavePathFile();
    if (file.empty())
        return;
    platform::profileWriteString(file.c_str(), section.c_str(), key.c_str(), value.c_str());
}

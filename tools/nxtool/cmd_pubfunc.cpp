// nxtool paths / config / keys: the environment utilities from the shell; the demo's pubfunc
// screen.
#include "command.h"
#include "pubfunc/pubfunc.h"

#include <cstdlib>

namespace {

void show(const char* label, const std::u16string& value) {
    std::printf("%-28s %s\n", label, nxtool::utf8(value).c_str());
}

void showPaths() {
    show("executable", pubfunc::getExeName());
    show("executable without ext", pubfunc::getExeNameWithoutExt());
    show("executable folder", pubfunc::getExePath(pubfunc::moduleExe));
    show("library folder", pubfunc::getExePath(pubfunc::moduleSelf));
    show("product folder", pubfunc::getNxAppDataPath());
    show("client folder", pubfunc::getUserConfigSavePath());
    show("user configuration", pubfunc::getUserConfigSavePathFile());
    show("UI configuration", pubfunc::getUIConfigureFileName());
    show("main configuration", pubfunc::getMainConfigureFileName());
    show("cache folder", pubfunc::getCacheDirPath());
    show("log file of \"nxtool\"", pubfunc::getLogFileDir(u"nxtool"));
    std::u16string video = u"(unknown)";
    pubfunc::getDefaultVideoRecordSaveFolder(video);
    show("video record folder", video);
    std::printf("%-28s %lld\n", "free bytes there",
                pubfunc::getDiskFreeSpace(video == u"(unknown)" ? pubfunc::getNxAppDataPath() : video));
}

int runPaths(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "usage: nxtool paths\n");
        return 2;
    }
    showPaths();
    return 0;
}

// True when a stored value reads back unchanged: no line break, no blanks or matching quotes
// around it, and short enough not to be cut. Other values are only checked for being there.
bool readsBackAsWritten(const std::u16string& v) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f'; };
    if (v.size() > 1023 || v.find_first_of(u"\r\n", 0, 2) != std::u16string::npos)
        return false;
    if (!v.empty() && (blank(v.front()) || blank(v.back())))
        return false;
    return !(v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front());
}

int runConfig(const std::vector<std::string>& args) {
    if (args.size() == 3 && args[0] == "get") {
        const std::u16string missing = u"\x01";
        const std::u16string v = pubfunc::getUserConfigString(nxtool::utf16(args[1]), nxtool::utf16(args[2]), missing);
        if (v == missing) {
            std::fprintf(stderr, "nxtool config: [%s] %s is not set\n", args[1].c_str(),
                         args[2].c_str());
            return 1;
        }
        std::printf("%s\n", nxtool::utf8(v).c_str());
        return 0;
    }
    if (args.size() == 4 && args[0] == "set") {
        const std::u16string section = nxtool::utf16(args[1]), key = nxtool::utf16(args[2]);
        const std::u16string value = nxtool::utf16(args[3]);
        pubfunc::setUserConfigString(section, key, value);
        // The library reports no failed write (a settings file that is not a regular file, a
        // full disk): read the entry back instead.
        const std::u16string missing = u"\x01";
        const std::u16string back = pubfunc::getUserConfigString(section, key, missing);
        if (back == missing || (readsBackAsWritten(value) && back != value)) {
            std::fprintf(stderr, "nxtool config: cannot write [%s] %s to %s\n", args[1].c_str(),
                         args[2].c_str(), nxtool::utf8(pubfunc::getUserConfigSavePathFile()).c_str());
            return 1;
        }
        std::printf("[%s] %s=%s in %s\n", args[1].c_str(), args[2].c_str(), args[3].c_str(),
                    nxtool::utf8(pubfunc::getUserConfigSavePathFile()).c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: nxtool config get SECTION KEY | set SECTION KEY VALUE\n");
    return 2;
}

bool parseNumber(const std::string& s, unsigned long* out) {
    char* end = nullptr;
    *out = std::strtoul(s.c_str(), &end, 0);
    return !s.empty() && end && *end == '\0';
}

int runKeys(const std::vector<std::string>& args) {
    unsigned long v = 0;
    if (args.size() == 2 && args[0] == "--hotkey" && parseNumber(args[1], &v)) {
        std::printf("%s\n", nxtool::utf8(pubfunc::changeHotkeyValueToString(static_cast<unsigned>(v))).c_str());
        return 0;
    }
    if (args.empty() || args.size() > 3) {
        std::fprintf(stderr, "usage: nxtool keys VK [VK [VK]] | nxtool keys --hotkey VALUE\n");
        return 2;
    }
    int vk[3] = {0, 0, 0};
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!parseNumber(args[i], &v)) {
            std::fprintf(stderr, "nxtool keys: not a number: %s\n", args[i].c_str());
            return 2;
        }
        vk[i] = static_cast<int>(v);
        std::u16string name = u"(none)";
        CKeyExchange::VKKeyToString_S(vk[i], name);
        int dik = 0;
        if (CKeyExchange::VK2DIK(vk[i], dik))
            std::printf("VK 0x%02X  %-12s DIK 0x%02X\n", vk[i], nxtool::utf8(name).c_str(), dik);
        else
            std::printf("VK 0x%02X  %-12s no DirectInput code\n", vk[i], nxtool::utf8(name).c_str());
    }
    std::u16string combined;
    CKeyExchange::GetKeysCombineDesc(vk[0], vk[1], vk[2], combined);
    std::printf("combination: %s\n", nxtool::utf8(combined).c_str());
    return 0;
}

int demoPubfunc() {
    show("this program", pubfunc::getExeName());
    const std::u16string cmd = u"lumacast.exe -qxpt \"C:\\QX\" -engine \"C:\\QX\\engine\"";
    show("-qxpt of a command line", pubfunc::getQXPathFromCmdLine(cmd));
    show("-engine of it", pubfunc::getGrabEnginePathFromCmdLine(cmd));
    std::printf("%-28s %s\n", "URLEncode2(\"a b.c-\u00FC\")",
                pubfunc::URLEncode2(std::u16string(u"a b.c-\u00FC")).c_str());
    std::printf("%-28s %s\n", "getHashString(0F A0 FF)", pubfunc::getHashString("\x0F\xA0\xFF", 3).c_str());
    std::vector<std::u16string> pieces;
    pubfunc::splitString(u"a,,b,", u",", pieces);
    std::printf("%-28s %zu pieces\n", "splitString(\"a,,b,\", \",\")", pieces.size());
    std::u16string keys;
    CKeyExchange::GetKeysCombineDesc(0x11, 0x12, 0x41, keys);
    show("keys 0x11 0x12 0x41", keys);
    show("hotkey Ctrl+Shift 0x74", pubfunc::changeHotkeyValueToString((3u << 16) | 0x74));
    show("hotkey Alt 0x20", pubfunc::changeHotkeyValueToString((4u << 16) | 0x20));
    show("hotkey 0x2E", pubfunc::changeHotkeyValueToString(0x2E));
    std::printf("per-user folders (created as the engine creates them):\n");
    showPaths();
    return 0;
}

}  // namespace

NXTOOL_COMMAND("paths", "show the engine's folders and files for this user",
               "usage: nxtool paths\n\n"
               "Prints the executable's name and folder, this library's folder, the per-user\n"
               "folder tree (creating its folders as the library does), the configuration file\n"
               "paths, the log file path for \"nxtool\", the video folder and its free space.",
               runPaths);
NXTOOL_COMMAND("config", "read or write a value of the user configuration file",
               "usage: nxtool config get SECTION KEY\n"
               "       nxtool config set SECTION KEY VALUE\n\n"
               "Reads or writes user.ini in the client folder (see nxtool paths). Section and\n"
               "key names compare case-insensitively; values are cut to 1023 characters.\n"
               "set exits with 1 when the value is not stored (a settings file that is not a\n"
               "regular file or is over 16 MiB, a full disk).",
               runConfig);
NXTOOL_COMMAND("keys", "name virtual keys and hotkey values",
               "usage: nxtool keys VK [VK [VK]]\n"
               "       nxtool keys --hotkey VALUE\n\n"
               "Prints the key-table name and DirectInput code of each virtual-key code and the\n"
               "description of the combination; --hotkey prints the text of a packed hotkey\n"
               "value (key in bits 0-15, Shift 0x10000, Ctrl 0x20000, Alt 0x40000).\n"
               "Numbers take C syntax: 65, 0x41.",
               runKeys);
NXTOOL_DEMO(70, "environment utilities", demoPubfunc);

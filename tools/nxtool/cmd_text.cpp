// nxtool text: hexadecimal conversion, UTF-8 <-> UTF-16 file conversion and code-page
// conversion through the library's text containers; the demo's text screen.
#include "command.h"
#include "pubfunc/pubfunc.h"
#include "text/text.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: nxtool text SUBCOMMAND ...\n\n"
    "  hex STRING               the UTF-8 bytes of STRING as lower-case hexadecimal\n"
    "  unhex HEX                the bytes HEX spells (non-digits are skipped) to stdout\n"
    "  utf16 FILE OUT           UTF-8 FILE to UTF-16LE OUT (invalid bytes become U+FFFD)\n"
    "  utf8 FILE OUT            UTF-16LE FILE (a byte-order mark is skipped) to UTF-8 OUT\n"
    "  convert --from CP --to CP FILE [OUT]\n"
    "                           FILE from one code page to another, to OUT or stdout;\n"
    "                           CP is a Windows code-page number (65001 UTF-8, 0 ANSI,\n"
    "                           1252, 936, 932, ...) or utf8 / ansi / utf16\n"
    "  check FILE               whether FILE is valid UTF-8; else the offset of the first\n"
    "                           invalid or truncated sequence\n";

// The whole file; refused (with a message) when it cannot be read, is no regular file or
// is larger than the text containers hold.
bool readFile(const std::string& path, std::string& bytes) {
    std::vector<char> raw;
    if (!nxtool::readInput("text", path, raw))
        return false;
    if (raw.size() > 0x7FFFFFFFu) {
        std::fprintf(stderr, "nxtool text: %s is larger than 2 GiB\n", path.c_str());
        return false;
    }
    bytes.assign(raw.begin(), raw.end());
    return true;
}

bool writeFile(const std::string& path, const char* data, std::size_t size) {
    return nxtool::writeOutput("text", path, data, size);
}

// A code-page argument: a number, or utf8 / ansi / utf16 (-1 here: raw UTF-16LE).
bool parseCodePage(const std::string& s, long& cp) {
    if (s == "utf8" || s == "utf-8") {
        cp = 65001;
    } else if (s == "ansi") {
        cp = 0;
    } else if (s == "utf16" || s == "utf-16" || s == "utf16le") {
        cp = -1;
    } else {
        char* end = nullptr;
        cp = std::strtol(s.c_str(), &end, 10);
        if (s.empty() || *end != 0 || cp < 0 || cp > 65535) {
            std::fprintf(stderr, "nxtool text: not a code page: %s\n", s.c_str());
            return false;
        }
    }
    return true;
}

// UTF-16LE comes in pairs of bytes: an odd count means a cut or foreign file, and a
// conversion would silently drop its last byte, so it is refused with a message.
bool wholeUnits(const std::string& path, const std::string& bytes) {
    if (bytes.size() % 2 == 0)
        return true;
    std::fprintf(stderr,
                 "nxtool text: %s holds an odd number of bytes (%zu): not whole UTF-16 units\n",
                 path.c_str(), bytes.size());
    return false;
}

std::u16string utf16FromBytes(const std::string& bytes) {
    std::size_t start = 0;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        start = 2;
    std::u16string text;
    text.reserve((bytes.size() - start) / 2);
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return text;
}

std::string bytesFromUtf16(const char16_t* units, std::size_t n) {
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(static_cast<char>(units[i] & 0xFF));
        out.push_back(static_cast<char>(units[i] >> 8));
    }
    return out;
}

int runText(const std::vector<std::string>& args) {
    if (args.empty() || nxtool::wantsHelp(args)) {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::string& sub = args[0];
    if (sub == "hex" && args.size() == 2) {
        NxByteArray hex = NxString::fromAscii(args[1].c_str()).toUtf8().toHex();
        std::printf("%s\n", hex.constData());
        return 0;
    }
    if (sub == "unhex" && args.size() == 2) {
        NxByteArray bytes = NxByteArray::fromHex(NxByteArray(args[1].c_str()));
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
        return 0;
    }
    if (sub == "utf16" && args.size() == 3) {
        std::string in;
        if (!readFile(args[1], in))
            return 1;
        NxString text = NxString::fromUtf8(in.data(), static_cast<int>(in.size()));
        std::string out = bytesFromUtf16(text.constString(), static_cast<std::size_t>(text.size()));
        if (!writeFile(args[2], out.data(), out.size()))
            return 1;
        std::fprintf(stderr, "%zu bytes of UTF-8 -> %d UTF-16 units\n", in.size(), text.size());
        return 0;
    }
    if (sub == "utf8" && args.size() == 3) {
        std::string in;
        if (!readFile(args[1], in) || !wholeUnits(args[1], in))
            return 1;
        std::u16string units = utf16FromBytes(in);
        NxByteArray out = NxString(units.data(), static_cast<int>(units.size())).toUtf8();
        if (!writeFile(args[2], out.constData(), static_cast<std::size_t>(out.size())))
            return 1;
        std::fprintf(stderr, "%zu UTF-16 units -> %d bytes of UTF-8\n", units.size(), out.size());
        return 0;
    }
    if (sub == "check" && args.size() == 2) {
        std::string in;
        if (!readFile(args[1], in))
            return 1;
        if (in.empty()) {
            std::printf("valid UTF-8 (empty)\n");
            return 0;
        }
        // The strict codec keeps the longest prefix that decodes; its UTF-8 length is where
        // the first bad sequence starts.
        NxTextCodec codec(NxTextCodec::Utf8);
        NxString prefix = codec.toUnicode(in.data(), static_cast<int>(in.size()));
        std::size_t good = static_cast<std::size_t>(prefix.toUtf8().size());
        if (good == in.size()) {
            std::printf("valid UTF-8: %zu bytes, %d UTF-16 units\n", in.size(), prefix.size());
            return 0;
        }
        std::printf("invalid UTF-8 at byte offset %zu (byte 0x%02X)\n", good,
                    static_cast<unsigned char>(in[good]));
        return 1;
    }
    if (sub == "convert") {
        long from = 65001;
        long to = 65001;
        std::vector<std::string> files;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--from" && i + 1 < args.size()) {
                if (!parseCodePage(args[++i], from))
                    return 2;
            } else if (args[i] == "--to" && i + 1 < args.size()) {
                if (!parseCodePage(args[++i], to))
                    return 2;
            } else {
                files.push_back(args[i]);
            }
        }
        if (files.empty() || files.size() > 2) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        std::string in;
        if (!readFile(files[0], in) || (from == -1 && !wholeUnits(files[0], in)))
            return 1;
        std::u16string text =
            from == -1 ? utf16FromBytes(in)
                       : pubfunc::toWideString(in.data(), static_cast<int>(in.size()),
                                               static_cast<unsigned int>(from));
        if (text.empty() && !in.empty()) {
            std::fprintf(stderr, "nxtool text: code page %ld cannot decode %s\n", from,
                         files[0].c_str());
            return 1;
        }
        std::string out = to == -1 ? bytesFromUtf16(text.data(), text.size())
                                   : pubfunc::toNarrowString(text.data(),
                                                             static_cast<int>(text.size()),
                                                             static_cast<unsigned int>(to));
        if (out.empty() && !text.empty()) {
            std::fprintf(stderr, "nxtool text: code page %ld cannot encode the text\n", to);
            return 1;
        }
        return writeFile(files.size() == 2 ? files[1] : std::string(), out.data(), out.size())
                   ? 0
                   : 1;
    }
    std::fputs(kUsage, stderr);
    return 2;
}

std::string utf8Of(const NxString& s) {
    NxByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

int demoText() {
    NxString a(u"shared text");
    NxString b = a;
    std::printf("b = a                  -> one record: %s\n",
                a.constString() == b.constString() ? "yes" : "no");
    b.append(u" (edited)");
    std::printf("b.append(\" (edited)\") -> a = \"%s\", b = \"%s\", one record: %s\n",
                utf8Of(a).c_str(), utf8Of(b).c_str(),
                a.constString() == b.constString() ? "yes" : "no");

    NxByteArray hex = NxByteArray("nxutil").toHex();
    NxByteArray back = NxByteArray::fromHex(NxByteArray("48 65 6C 6C 6F"));
    std::printf("\"nxutil\".toHex()       -> %s\n", hex.constData());
    std::printf("fromHex(\"48 65 6C 6C 6F\") -> \"%s\"\n", back.constData());

    const char16_t sample[] = u"Gr\u00FC\u00DFe, \u4E16\u754C! \U0001F600";
    NxString text(sample);
    NxByteArray utf8 = text.toUtf8();
    NxString again = NxString::fromUtf8(utf8.constData(), utf8.size());
    std::printf("sample \"%s\": %d UTF-16 units -> %d UTF-8 bytes\n", utf8Of(text).c_str(),
                text.size(), utf8.size());
    std::printf("  UTF-8 hex: %s\n", utf8.toHex().constData());
    std::printf("  back to UTF-16: %d units, identical: %s\n", again.size(),
                again == text ? "yes" : "no");
    return again == text ? 0 : 1;
}

}  // namespace

NXTOOL_COMMAND("text", "hexadecimal, UTF-8/UTF-16 and code-page conversion", kUsage, runText);
NXTOOL_DEMO(20, "text containers", demoText);

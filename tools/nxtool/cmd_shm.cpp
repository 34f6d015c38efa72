// nxtool shm: named shared memory from the shell, so two shells can exchange bytes; the demo's
// interop screen (shared memory and the library loader).
#include "command.h"
#include "interop/interop.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

namespace {

// "48656c6c6f" => "Hello"; false on an odd length or a character that is not a hex digit.
bool parseHex(const std::string& hex, std::string& out) {
    if (hex.size() % 2)
        return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = hex.substr(i, 2);
        const long v = std::strtol(pair.c_str(), &end, 16);
        if (*end)
            return false;
        out += static_cast<char>(v);
    }
    return true;
}

// Offset, hex bytes and printable characters, 16 bytes a row.
void dump(const unsigned char* p, unsigned int n) {
    for (unsigned int row = 0; row < n; row += 16) {
        std::printf("%04x ", row);
        for (unsigned int i = row; i < row + 16; ++i)
            i < n ? std::printf(" %02x", p[i]) : std::printf("   ");
        std::printf("  ");
        for (unsigned int i = row; i < row + 16 && i < n; ++i)
            std::putchar(p[i] >= 0x20 && p[i] < 0x7F ? p[i] : '.');
        std::putchar('\n');
    }
}

// The data argument of create and write: plain text, or bytes after --hex.
bool dataArgument(const std::vector<std::string>& args, std::size_t at, std::string& data) {
    data.clear();
    if (at >= args.size())
        return true;
    if (args[at] == "--hex")
        return at + 1 < args.size() && parseHex(args[at + 1], data);
    data = args[at];
    return true;
}

int runCreate(const std::vector<std::string>& args) {
    if (args.size() < 3)
        return 2;
    const unsigned long size = std::strtoul(args[2].c_str(), nullptr, 10);
    std::string data;
    int seconds = -1;
    std::vector<std::string> rest(args.begin() + 3, args.end());
    for (std::size_t i = 0; i + 1 < rest.size(); ++i) {
        if (rest[i] == "--seconds") {
            seconds = std::atoi(rest[i + 1].c_str());
            rest.erase(rest.begin() + static_cast<long>(i), rest.begin() + static_cast<long>(i) + 2);
            break;
        }
    }
    if (!dataArgument(rest, 0, data)) {
        std::fprintf(stderr, "nxtool shm: bad --hex bytes\n");
        return 2;
    }
    CShareData shm;
    if (!shm.createSharedFile(nxtool::utf16(args[1]), static_cast<unsigned int>(size))) {
        std::fprintf(stderr, "nxtool shm: cannot create '%s' of %lu bytes\n", args[1].c_str(), size);
        return 1;
    }
    if (!data.empty() &&
        shm.writeData(reinterpret_cast<const unsigned char*>(data.data()),
                      static_cast<unsigned int>(data.size())) == 0) {
        std::fprintf(stderr, "nxtool shm: %zu bytes do not fit in %lu\n", data.size(), size);
        return 1;
    }
    // The block lives only while somebody holds it: this process holds it until told to stop.
    if (seconds >= 0) {
        std::printf("holding '%s' (%lu bytes) for %d s\n", args[1].c_str(), size, seconds);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
    } else {
        std::printf("holding '%s' (%lu bytes); press Enter to release it\n", args[1].c_str(), size);
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
    }
    std::printf("first bytes now:\n");
    dump(shm.getSharedData(), size < 64 ? static_cast<unsigned int>(size) : 64);
    return 0;
}

int runWrite(const std::vector<std::string>& args) {
    std::string data;
    if (args.size() < 3 || !dataArgument(args, 2, data) || data.empty())
        return 2;
    CShareData shm;
    const unsigned int n = static_cast<unsigned int>(data.size());
    if (!shm.openSharedFile(nxtool::utf16(args[1]), n)) {
        std::fprintf(stderr, "nxtool shm: no block '%s' of at least %u bytes\n", args[1].c_str(), n);
        return 1;
    }
    shm.writeData(reinterpret_cast<const unsigned char*>(data.data()), n);
    std::printf("wrote %u bytes to '%s'\n", n, args[1].c_str());
    return 0;
}

int runRead(const std::vector<std::string>& args) {
    if (args.size() < 2)
        return 2;
    const unsigned long count = args.size() > 2 ? std::strtoul(args[2].c_str(), nullptr, 10) : 16;
    CShareData shm;
    if (count == 0 || !shm.openSharedFile(nxtool::utf16(args[1]), static_cast<unsigned int>(count))) {
        std::fprintf(stderr, "nxtool shm: no block '%s' of at least %lu bytes\n", args[1].c_str(), count);
        return 1;
    }
    std::string bytes(count, '\0');
    shm.getSharedData(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<unsigned int>(count));
    dump(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned int>(count));
    return 0;
}

int runShm(const std::vector<std::string>& args) {
    int rc = 2;
    if (!args.empty() && args[0] == "create")
        rc = runCreate(args);
    else if (!args.empty() && args[0] == "write")
        rc = runWrite(args);
    else if (!args.empty() && args[0] == "read")
        rc = runRead(args);
    if (rc == 2)
        std::fprintf(stderr, "usage: nxtool shm create|read|write NAME ... (nxtool shm --help)\n");
    return rc;
}

int demoInterop() {
    CShareData creator, reader;
    const std::u16string name = u"nxtool.demo.block";
    creator.createSharedFile(name, 32);
    const char hello[] = "hello through shared memory";
    creator.writeData(reinterpret_cast<const unsigned char*>(hello), sizeof hello);
    reader.openSharedFile(name, 32);
    unsigned char got[32] = {};
    std::printf("block of 32 bytes: created, written, opened by a second holder, read back:\n  \"%s\"\n",
                reader.getSharedData(got, sizeof hello) ? reinterpret_cast<char*>(got) : "(nothing)");
    std::printf("copy of 33 bytes from a 32-byte block -> %u bytes (refused whole)\n",
                reader.getSharedData(got, 33));
    creator.closeSharedFile();
    reader.closeSharedFile();
    CShareData late;
    std::printf("after the last holder closed, opening again -> %s\n",
                late.openSharedFile(name, 32) ? "found" : "gone");

    // A library every process of the platform has loaded: adopted, called, given back.
    for (const char16_t* lib : {u"libc.so.6", u"msvcrt.dll"}) {
        CDLLHelper dll;
        if (!dll.FindDll(lib))
            continue;
        typedef std::size_t (*StrlenFn)(const char*);
        StrlenFn len = reinterpret_cast<StrlenFn>(dll.GetProcAddress("strlen"));
        std::printf("adopted the loaded %s: strlen(\"%s\") through it = %zu; export \"no_such\" -> %s\n",
                    std::filesystem::path(lib).string().c_str(), hello, len ? len(hello) : 0,
                    dll.GetProcAddress("no_such") ? "found" : "null");
        break;
    }
    CDLLHelper missing;
    std::printf("LoadDll of a missing file -> %s\n", missing.LoadDll(u"no-such-library") ? "loaded" : "false");
    return 0;
}

}  // namespace

NXTOOL_COMMAND("shm", "exchange bytes with another shell through named shared memory",
               "usage: nxtool shm create NAME SIZE [TEXT | --hex HEX] [--seconds N]\n"
               "       nxtool shm write NAME TEXT | --hex HEX\n"
               "       nxtool shm read NAME [COUNT]\n\n"
               "create makes the block NAME of SIZE bytes (or opens it when it exists), writes\n"
               "TEXT or the HEX bytes at its start, and holds it until Enter is pressed (or for\n"
               "N seconds): a block lives only while some process holds it. From another shell,\n"
               "write puts bytes at the start of the block, and read shows its first COUNT bytes\n"
               "(default 16). Example:\n"
               "  shell 1: nxtool shm create demo 64 hello\n"
               "  shell 2: nxtool shm read demo; nxtool shm write demo --hex 574f524c44\n",
               runShm);
NXTOOL_DEMO(80, "interop: shared memory and the library loader", demoInterop);

// nxtool's commands on inputs and outputs that cannot work (a FIFO, which must not block them,
// a full device, a settings file that is no regular file): each ends with an exit code, not a
// signal, one line on standard error and the input left as it was.
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const bool kPosix = fs::path::preferred_separator == '/';

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(NxtoolFailures, EveryFileCommandFailsWithOneLineAndAnExitCode) {
    if (!kPosix) {
        GTEST_SKIP() << "drives nxtool through POSIX spawning, FIFOs and /dev/full only";
    }
    nxtest::TempDir dir("nxtool-failures");
    const fs::path d = dir.path();
    ASSERT_TRUE(nxtest::makeFifo((d / "fifo").string()));
    const std::string xml = "<a><b>x</b></a>", text = "hello";
    writeFile(d / "good.xml", xml);
    writeFile(d / "good.txt", text);
    writeFile(d / "frame.yuyv", std::string(4 * 4 * 2, '\x10'));
    // The settings file is a FIFO.
    const fs::path client = fs::path("talven") / "qx" / "business" / "lumacast";
    fs::create_directories(d / "cfg" / client);
    ASSERT_TRUE(nxtest::makeFifo((d / "cfg" / client / "user.ini").string()));

    // One row per command's reader and writer; the library's own suites tell a missing file,
    // a folder and a FIFO apart.
    const struct {
        const char* name;
        std::vector<std::string> args;  // "@" starts a path inside the test folder
        int exitCode;
    } rows[] = {
        {"xml: FIFO as input", {"xml", "@fifo"}, 1},
        {"xml get: FIFO as input", {"xml", "get", "@fifo", "/a"}, 1},
        {"xml set: full device as output",
         {"xml", "set", "@good.xml", "/a/b", "--data", "v", "-o", "/dev/full"}, 1},
        {"xml add: FIFO as output", {"xml", "add", "@good.xml", "/a", "c", "-o", "@fifo"}, 1},
        {"text check: FIFO as input", {"text", "check", "@fifo"}, 1},
        {"text utf16: full device as output", {"text", "utf16", "@good.txt", "/dev/full"}, 1},
        {"text utf16: FIFO as output", {"text", "utf16", "@good.txt", "@fifo"}, 1},
        // Five bytes are two UTF-16 units and a half: refused, not cut.
        {"text utf8: odd byte count", {"text", "utf8", "@good.txt", "@out.txt"}, 1},
        {"text: no subcommand", {"text"}, 2},
        {"convert: FIFO as input", {"convert", "@fifo", "@out.bmp"}, 1},
        {"convert: full device as output",
         {"convert", "--yuyv", "4", "4", "@frame.yuyv", "/dev/full"}, 1},
        {"log: FIFO as output", {"log", "@fifo"}, 1},
        {"config set: settings file is a FIFO", {"config", "set", "s", "k", "v"}, 1},
        {"config get: settings file is a FIFO", {"config", "get", "s", "k"}, 1},
    };
    const std::string savedConfig = nxtest::getEnv("XDG_CONFIG_HOME");
    nxtest::setEnv("XDG_CONFIG_HOME", (d / "cfg").string());
    const std::string errors = (d / "stderr.txt").string();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<std::string> args;
        for (const std::string& a : r.args)
            args.push_back(a[0] == '@' ? (d / a.substr(1)).string() : a);
        const nxtest::ProgramResult result = nxtest::runProgram(NXTOOL_PATH, args, errors, 60);
        ASSERT_TRUE(result.started);
        EXPECT_FALSE(result.timedOut) << "blocked";
        EXPECT_EQ(0, result.signal);
        EXPECT_EQ(r.exitCode, result.exitCode);
        const std::string said = nxtest::readFileBytes(errors);
        if (r.exitCode == 1) {
            EXPECT_EQ(said.size() - 1, said.find('\n')) << said;  // one line
            EXPECT_EQ(0u, said.rfind("nxtool ", 0)) << said;
        } else {
            EXPECT_FALSE(said.empty());  // the usage text
        }
    }
    nxtest::setEnv("XDG_CONFIG_HOME", savedConfig);
    EXPECT_EQ(xml, nxtest::readFileBytes(d / "good.xml"));
    EXPECT_EQ(text, nxtest::readFileBytes(d / "good.txt"));
    EXPECT_FALSE(fs::exists(d / "out.txt"));
    EXPECT_FALSE(fs::exists(d / "out.bmp"));
    EXPECT_TRUE(fs::is_fifo(d / "fifo"));
}

}  // namespace

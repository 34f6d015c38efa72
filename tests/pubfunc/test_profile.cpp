// The private-profile store on real files, and two processes writing one file at once.
#include "platform/file.h"
#include "platform/profile.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::u16string read(const fs::path& file, const std::u16string& section, const std::u16string& key,
                    const char16_t* def = u"<default>", std::size_t capacity = 1024) {
    std::u16string buf(capacity, u'#');
    const std::size_t n = platform::profileGetString(file.u16string().c_str(), section.c_str(),
                                                     key.c_str(), def, &buf[0], capacity);
    EXPECT_EQ(u'\0', buf[n]);
    return buf.substr(0, n);
}

bool write(const fs::path& file, const std::u16string& section, const std::u16string& key,
           const std::u16string& value) {
    return platform::profileWriteString(file.u16string().c_str(), section.c_str(), key.c_str(),
                                        value.c_str());
}

bool posixStore() { return platform::kPathSeparator == u'/'; }

TEST(Profile, WritesReadBackAndCutsAtTheCapacity) {
    nxtest::TempDir dir("profile-basic");
    const fs::path ini = dir.path() / "user.ini";
    EXPECT_EQ(u"<default>", read(ini, u"s", u"k"));
    EXPECT_EQ(u"trail", read(ini, u"s", u"k", u"trail   "));  // trailing blanks of the default go
    EXPECT_EQ(u"", read(ini, u"s", u"k", nullptr));
    ASSERT_TRUE(write(ini, u"s", u"k", u"v1"));
    ASSERT_TRUE(write(ini, u"S", u"K", u"v2"));
    ASSERT_TRUE(write(ini, u"t", u"k", u""));
    EXPECT_EQ(u"v2", read(ini, u"s", u"k"));
    EXPECT_EQ(u"", read(ini, u"t", u"k"));
    EXPECT_EQ(u"v2"[0], read(ini, u"s", u"k", u"", 2)[0]);
    EXPECT_EQ(1u, read(ini, u"s", u"k", u"", 2).size());
    EXPECT_EQ(u"de", read(ini, u"s", u"none", u"default", 3));
    if (posixStore()) {
        // Nothing but the file and its lock file is left behind.
        std::size_t entries = 0;
        for (const auto& e : fs::directory_iterator(dir.path()))
            entries += e.path().filename() == "user.ini" || e.path().filename() == "user.ini.lock" ? 1 : 100;
        EXPECT_EQ(2u, entries);
    }
    // A file in a folder that does not exist cannot be written.
    EXPECT_FALSE(write(dir.path() / "missing" / "x.ini", u"s", u"k", u"v"));
}

TEST(Profile, KeepsHandWrittenContentOfDamagedFiles) {
    if (!posixStore())
        GTEST_SKIP() << "the system's profile functions own this behaviour";
    nxtest::TempDir dir("profile-damaged");
    const fs::path ini = dir.path() / "bad.ini";
    const std::string original = std::string("garbage \xFF\xFE\n; note\n[s]\nk=1\n\n") +
                                 std::string(200000, 'x') + "\n[s]\nj=2";
    { std::ofstream(ini, std::ios::binary) << original; }
    EXPECT_EQ(u"2", read(ini, u"s", u"j"));
    ASSERT_TRUE(write(ini, u"s", u"new", u"3"));
    ASSERT_TRUE(write(ini, u"s", u"j", u"22"));
    const std::string now = nxtest::readFileBytes(ini);
    EXPECT_EQ(std::string("garbage \xFF\xFE\n; note\n[s]\nk=1\nnew=3\n\n") +
                  std::string(200000, 'x') + "\n[s]\nj=22",
              now);
}

// Child: writes 60 keys of its own and a shared one into the file named by NXTEST_INI.
TEST(ProfileChild, WritesItsKeys) {
    if (!nxtest::isChildProcess())
        return;
    const fs::path ini = nxtest::getEnv("NXTEST_INI");
    const std::string who = nxtest::getEnv("NXTEST_WRITER");
    const std::u16string prefix = fs::path(who).u16string();
    for (int i = 0; i < 60; ++i) {
        const std::u16string n = fs::path(std::to_string(i)).u16string();
        ASSERT_TRUE(write(ini, u"race", prefix + n, n));
        ASSERT_TRUE(write(ini, u"shared", u"last", prefix + n));
    }
}

TEST(Profile, TwoProcessesWritingAtOnceLoseNoEntry) {
    if (!posixStore())
        GTEST_SKIP() << "concurrent writers are serialised only as far as the system does it";
    nxtest::TempDir dir("profile-race");
    const fs::path ini = dir.path() / "race.ini";
    { std::ofstream(ini, std::ios::binary) << "; shared by two writers\n"; }
    const long long a = nxtest::startSelf("ProfileChild.WritesItsKeys",
                                          {{"NXTEST_INI", ini.string()}, {"NXTEST_WRITER", "a"}});
    const long long b = nxtest::startSelf("ProfileChild.WritesItsKeys",
                                          {{"NXTEST_INI", ini.string()}, {"NXTEST_WRITER", "b"}});
    EXPECT_EQ(0, nxtest::waitChild(a));
    EXPECT_EQ(0, nxtest::waitChild(b));
    for (const char16_t* who : {u"a", u"b"})
        for (int i = 0; i < 60; ++i) {
            const std::u16string n = fs::path(std::to_string(i)).u16string();
            EXPECT_EQ(n, read(ini, u"race", who + n)) << i;
        }
    const std::u16string last = read(ini, u"shared", u"last");
    EXPECT_TRUE(last == u"a59" || last == u"b59");
    EXPECT_EQ(0u, nxtest::readFileBytes(ini).find("; shared by two writers\n"));
}

}  // namespace

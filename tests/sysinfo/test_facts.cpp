// Hardware and OS facts over a scripted platform: the version table, the composition guards,
// memory, the adapter string's two storage types, and isEqualValue's edges.
#include "fake_backend.h"
#include "sysinfo/sysinfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using nxtest::fake;

class Facts : public nxtest::FakePlatformTest {};

TEST(IsEqualValue, ComparesTheSinglePrecisionDifferenceStrictly) {
    EXPECT_TRUE(isEqualValue(1.0f, 1.00005f));
    EXPECT_FALSE(isEqualValue(1.0f, 1.0001f)) << "the float difference is not below 0.0001";
    EXPECT_TRUE(isEqualValue(-3.5f, -3.5f));
    EXPECT_TRUE(isEqualValue(0.0f, -0.0f));
    EXPECT_FALSE(isEqualValue(0.0f, 0.001f));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(isEqualValue(nan, nan));
    EXPECT_FALSE(isEqualValue(1.0f, nan));
    EXPECT_FALSE(isEqualValue(inf, inf)) << "inf - inf is not a number";
}

TEST_F(Facts, OsVersionCodeFollowsTheRecordReadByInitPubfunc) {
    EXPECT_EQ(0, pubfunc::getOSVersion()) << "before initPubfunc";
    struct Row {
        std::uint32_t major, minor;
        int code;
    } const rows[] = {{5, 1, 0}, {5, 9, 0}, {6, 0, 6}, {6, 1, 7}, {6, 2, 8},
                      {6, 3, 8}, {10, 0, 8}, {7, 0, 8}, {0, 0, 0}};
    for (const Row& r : rows) {
        const int before = pubfunc::getOSVersion();
        fake().version.major = r.major;
        fake().version.minor = r.minor;
        EXPECT_EQ(before, pubfunc::getOSVersion()) << "unchanged until initPubfunc runs again";
        pubfunc::initPubfunc();
        EXPECT_EQ(r.code, pubfunc::getOSVersion()) << r.major << "." << r.minor;
    }
    // The extended query failing falls back to the plain one; both failing leaves zero.
    fake().version.major = 6;
    fake().version.minor = 0;
    fake().extendedOk = false;
    pubfunc::initPubfunc();
    EXPECT_EQ(6, pubfunc::getOSVersion());
    fake().versionOk = false;
    pubfunc::initPubfunc();
    EXPECT_EQ(0, pubfunc::getOSVersion());
}

TEST_F(Facts, AboveVistaReadsAfreshAndAssumesYesWhenUnknown) {
    fake().version.major = 5;
    EXPECT_FALSE(pubfunc::isAboveVista());
    fake().version.major = 6;
    EXPECT_TRUE(pubfunc::isAboveVista());
    fake().version.major = 5;
    fake().extendedOk = false;
    EXPECT_FALSE(pubfunc::isAboveVista()) << "plain record as fallback";
    fake().versionOk = false;
    EXPECT_TRUE(pubfunc::isAboveVista());
}

TEST_F(Facts, CompositionIsLeftAloneBeforeVersionSix) {
    fake().version.major = 5;
    fake().version.minor = 1;
    EXPECT_FALSE(pubfunc::IsCompositionEnabled());
    EXPECT_EQ(1, pubfunc::enableComposition(true));
    EXPECT_EQ(0, fake().compositionCalls) << "the composition library is not even looked up";

    fake().version.major = 6;
    EXPECT_TRUE(pubfunc::IsCompositionEnabled());
    fake().compositionFlag = 0;
    EXPECT_FALSE(pubfunc::IsCompositionEnabled());
    fake().compositionFlag = 1;
    fake().compositionStatus = -2147467259;  // a failure status
    EXPECT_FALSE(pubfunc::IsCompositionEnabled());
    EXPECT_EQ(-2147467259, pubfunc::enableComposition(false));
    EXPECT_EQ(0u, fake().lastAction);
    fake().compositionStatus = 0;
    EXPECT_EQ(0, pubfunc::enableComposition(true));
    EXPECT_EQ(1u, fake().lastAction);
    fake().compositionPresent = false;
    EXPECT_FALSE(pubfunc::IsCompositionEnabled());
    EXPECT_EQ(1, pubfunc::enableComposition(true));
}

TEST_F(Facts, MemoryIsReportedInMebibytes) {
    fake().memory = 16ull << 30;
    EXPECT_EQ(16384, pubfunc::GetMemoryTotal());
    fake().memory = (1ull << 20) - 1;
    EXPECT_EQ(0, pubfunc::GetMemoryTotal());
}

TEST_F(Facts, AdapterStringIsReadAsBinaryUtf16OrAsText) {
    const char16_t wide[] = u"Radeon RX 580";
    fake().adapterType = 3;
    fake().adapterData.assign(reinterpret_cast<const unsigned char*>(wide),
                              reinterpret_cast<const unsigned char*>(wide) + sizeof wide);
    EXPECT_EQ(u"Radeon RX 580", pubfunc::GetDisplayAdapterName());

    const char text[] = " Intel(R) HD Graphics 620 \0ignored";
    fake().adapterType = 1;
    fake().adapterData.assign(text, text + sizeof text);
    EXPECT_EQ(u" Intel(R) HD Graphics 620 ", pubfunc::GetDisplayAdapterName());

    fake().adapterType = 4;  // a number: not a name
    EXPECT_EQ(u"", pubfunc::GetDisplayAdapterName());
    fake().adapterType = 1;
    fake().adapterKey = false;
    EXPECT_EQ(u"", pubfunc::GetDisplayAdapterName());
}

}  // namespace

// A scripted stand-in for the platform behind the system-information code: each test says what
// the next raw-data query, version query or registry read returns and counts the calls.
#ifndef NXUTIL_TESTS_SYSINFO_FAKE_BACKEND_H
#define NXUTIL_TESTS_SYSINFO_FAKE_BACKEND_H

#include "sysinfo/sysinfo_backend.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace nxtest {

struct FakePlatform {
    // raw data
    std::vector<unsigned char> block;  // what the next queries return
    std::vector<std::u16string> queried;
    int enableCalls = 0;
    bool lastEnable = false;
    int enableResult = 1;
    // version
    bool versionOk = true;
    bool extendedOk = true;
    platform::OsVersion version;
    // facts
    std::uint64_t memory = 0;
    bool adapterKey = true;
    std::uint32_t adapterType = 1;
    std::vector<unsigned char> adapterData;
    int compositionCalls = 0;
    bool compositionPresent = true;
    long compositionStatus = 0;
    int compositionFlag = 1;
    unsigned lastAction = 99;
    // counter queries
    long openStatus = 0, addStatus = 0, collectStatus = 0;
    int openCalls = 0, collectCalls = 0;
    long formatted = 0;
    std::uint32_t formattedStatus = 0;
    long formatStatus = 0;
};

inline FakePlatform& fake() {
    static FakePlatform f;
    return f;
}

inline long fakeQuery(const char16_t* name, void* buffer, std::uint32_t* size) {
    fake().queried.push_back(name);
    const auto& b = fake().block;
    if (b.size() > *size)
        return platform::kPerfMoreData;  // the size is left as it was
    std::memcpy(buffer, b.data(), b.size());
    *size = static_cast<std::uint32_t>(b.size());
    return 0;
}

inline nxsysinfo::Backend fakeBackend() {
    nxsysinfo::Backend b = nxsysinfo::platformBackend();
    b.queryData = fakeQuery;
    b.setCountersEnabled = [](bool e) {
        ++fake().enableCalls;
        fake().lastEnable = e;
        return fake().enableResult;
    };
    b.osVersion = [](platform::OsVersion& v, bool extended) {
        if (!fake().versionOk || (extended && !fake().extendedOk))
            return false;
        v = fake().version;
        return true;
    };
    b.physicalMemoryBytes = [] { return fake().memory; };
    b.displayAdapterValue = [](std::uint32_t& type, std::vector<unsigned char>& data) {
        if (!fake().adapterKey)
            return false;
        type = fake().adapterType;
        data = fake().adapterData;
        return true;
    };
    b.compositionIsEnabled = [](long& status, int& enabled) {
        ++fake().compositionCalls;
        if (!fake().compositionPresent)
            return false;
        status = fake().compositionStatus;
        enabled = fake().compositionFlag;
        return true;
    };
    b.compositionEnable = [](unsigned action, long& status) {
        ++fake().compositionCalls;
        fake().lastAction = action;
        if (!fake().compositionPresent)
            return false;
        status = fake().compositionStatus;
        return true;
    };
    b.pdhOpenQuery = [](void** q) {
        ++fake().openCalls;
        *q = fake().openStatus == 0 ? &fake() : nullptr;
        return fake().openStatus;
    };
    b.pdhAddCounter = [](void*, const char16_t*, void** c) {
        *c = fake().addStatus == 0 ? &fake() : nullptr;
        return fake().addStatus;
    };
    b.pdhCollectQueryData = [](void*) {
        ++fake().collectCalls;
        return fake().collectStatus;
    };
    b.pdhGetFormattedLong = [](void*, long* value, std::uint32_t* status) {
        *value = fake().formatted;
        *status = fake().formattedStatus;
        return fake().formatStatus;
    };
    return b;
}

/// Installs the fake platform with an NT 6.1 version record and a fresh sampler state;
/// restores the real platform afterwards.
class FakePlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake() = FakePlatform{};
        fake().version.major = 6;
        fake().version.minor = 1;
        fake().version.platformId = 2;
        nxsysinfo::backend() = fakeBackend();
        nxsysinfo::resetState();
    }
    void TearDown() override {
        nxsysinfo::backend() = nxsysinfo::platformBackend();
        nxsysinfo::resetState();
    }
};

}  // namespace nxtest

#endif

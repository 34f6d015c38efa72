// Records shared across threads: copies made, read, written (detaching) and destroyed on
// several threads at once must leave every value intact. Meant to run under ThreadSanitizer.
#include "text/text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 20000;

TEST(TextThreads, SharedRecordsSurviveConcurrentCopiesAndDetaches) {
    const NxString original(u"shared across threads");
    const NxByteArray bytes("shared bytes");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                NxString copy(original);
                NxString second;
                second = copy;
                if (copy.constString() != original.constString())
                    ++failures;
                if (i % 4 == t % 4) {
                    second.append(u'!');   // detaches from the shared record
                    if (second.size() != original.size() + 1 || second.constString()[0] != u's')
                        ++failures;
                }
                NxByteArray b(bytes);
                NxByteArray c = b;
                if (i % 3 == 0)
                    c[0] = 'S';
                if (b.constData()[0] != 's' || c.size() != bytes.size())
                    ++failures;
                NxString fresh = NxString::number(i);
                NxString shared(fresh);
                fresh.clear();
                if (shared.isNull())
                    ++failures;
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(original == u"shared across threads");
    EXPECT_EQ(std::string(bytes.constData()), "shared bytes");
}

TEST(TextThreads, ValuesHandedBetweenThreadsAreReleasedOnce) {
    // One thread creates values, others take their copies and drop them in any order.
    std::vector<NxString> made;
    std::vector<NxByteArray> madeBytes;
    for (int i = 0; i < 2000; ++i) {
        made.push_back(NxString::number(i, 16));
        madeBytes.push_back(NxString::number(i).toUtf8());
    }
    std::vector<std::vector<NxString>> held(kThreads);
    std::vector<std::vector<NxByteArray>> heldBytes(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < 5; ++r) {
                held[t].assign(made.begin(), made.end());
                heldBytes[t].assign(madeBytes.begin(), madeBytes.end());
                for (std::size_t i = static_cast<std::size_t>(t); i < held[t].size(); i += 3)
                    held[t][i].append(u'x');
                held[t].clear();
                heldBytes[t].clear();
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    for (int i = 0; i < 2000; ++i)
        ASSERT_TRUE(made[static_cast<std::size_t>(i)] == NxString::number(i, 16));
}

// The codec and the lazily created shared records used for the first time from many threads.
TEST(TextThreads, ConversionsRunOnAnyThread) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            NxTextCodec codec(NxTextCodec::Utf8);
            for (int i = 0; i < 2000; ++i) {
                NxString s = codec.toUnicode("caf\xC3\xA9 \xE4\xB8\xAD", -1);
                NxByteArray b = codec.fromUnicode(s.constString(), s.size());
                if (s.size() != 7 || b.size() != 10)
                    ++failures;
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace

namespace {

// A copy read and dropped on another thread, with no other synchronisation than the reference
// count: once the count says this value is the sole owner again, writing in place must not race
// with that thread's last reads.
TEST(TextThreads, SoleOwnerWritesAfterAnotherThreadDropsItsCopy) {
    for (int round = 0; round < 200; ++round) {
        NxString s(u"value read elsewhere");
        NxByteArray b("bytes read elsewhere");
        NxString* copy = new NxString(s);
        NxByteArray* bcopy = new NxByteArray(b);
        std::atomic<int> sum{0};
        std::thread reader([&] {
            int total = 0;
            for (int i = 0; i < copy->size(); ++i)
                total += copy->constString()[i];
            for (int i = 0; i < bcopy->size(); ++i)
                total += bcopy->constData()[i];
            delete copy;
            delete bcopy;
            sum.store(total, std::memory_order_relaxed);
        });
        // Keep writing: the first writes detach (shared), later ones happen in place.
        for (int i = 0; i < 50; ++i) {
            s.at(0) = u'V';
            b[0] = 'B';
        }
        reader.join();
        EXPECT_TRUE(s == u"Value read elsewhere");
        EXPECT_EQ(std::string(b.constData()), "Bytes read elsewhere");
    }
}

}  // namespace

// Records shared across threads: copies made, read, written (detaching) and destroyed on
// several threads at once must leave every value intact. Meant to run under ThreadSanitizer.
#include "text/text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>

namespace {

// Copies of shared records made, detached and dropped, fresh records shared and cleared, and
// the codec (with the lazily created shared records) used, all on four threads at once.
TEST(TextThreads, SharedRecordsSurviveConcurrentCopiesDetachesAndConversions) {
    const NxString original(u"shared across threads");
    const NxByteArray bytes("shared bytes");
    std::atomic<int> failures{0};
    auto body = [&](int t) {
        const NxTextCodec codec(NxTextCodec::Utf8);
        for (int i = 0; i < 20000; ++i) {
            NxString copy(original), second;
            second = copy;
            const bool detach = i % 4 == t % 4;
            if (detach)
                second.append(u'!');
            NxByteArray b(bytes), c = b;
            if (i % 3 == 0)
                c[0] = 'S';
            NxString fresh = NxString::number(i), shared(fresh);
            fresh.clear();
            bool ok = copy.constString() == original.constString() && second.constString()[0] == u's' &&
                      second.size() == original.size() + detach && b.constData()[0] == 's' &&
                      c.size() == bytes.size() && !shared.isNull();
            if (i % 10 == 0) {
                const NxString s = codec.toUnicode("caf\xC3\xA9 \xE4\xB8\xAD", -1);
                ok = ok && s.size() == 7 && codec.fromUnicode(s.constString(), s.size()).size() == 10;
            }
            failures += !ok;
        }
    };
    std::thread threads[] = {std::thread(body, 0), std::thread(body, 1), std::thread(body, 2), std::thread(body, 3)};
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(original == u"shared across threads" && std::string(bytes.constData()) == "shared bytes");
}

// A copy read and dropped on another thread, synchronised by the reference count alone: once
// the count says this value is the sole owner, writing in place must not race with that
// thread's last reads.
TEST(TextThreads, SoleOwnerWritesAfterAnotherThreadDropsItsCopy) {
    for (int round = 0; round < 200; ++round) {
        NxString s(u"value read elsewhere");
        NxByteArray b("bytes read elsewhere");
        auto* copy = new std::pair<NxString, NxByteArray>(s, b);
        std::thread reader([copy] {
            int total = 0;
            for (int i = 0; i < copy->first.size(); ++i)   // both texts have 20 units
                total += copy->first.constString()[i] + copy->second.constData()[i];
            delete copy;
            EXPECT_GT(total, 0);
        });
        for (int i = 0; i < 50; ++i) {   // the first writes detach, later ones are in place
            s.at(0) = u'V';
            b[0] = 'B';
        }
        reader.join();
        EXPECT_TRUE(s == u"Value read elsewhere" && std::string(b.constData()) == "Bytes read elsewhere");
    }
}

}  // namespace

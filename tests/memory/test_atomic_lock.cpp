// NxAtomicInt edges and the recursive lock's ownership rules across threads.
#include "memory/memory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(NxAtomicInt, RefIsFalseOnlyWhenReachingZero) {
    NxAtomicInt minusOne(-1);
    EXPECT_FALSE(minusOne.ref());
    EXPECT_EQ(0, static_cast<int>(minusOne));

    NxAtomicInt zero;
    EXPECT_TRUE(zero.ref());
    EXPECT_EQ(1, static_cast<int>(zero));

    NxAtomicInt minusTwo(-2);
    EXPECT_TRUE(minusTwo.ref());
    EXPECT_EQ(-1, static_cast<int>(minusTwo));

    NxAtomicInt top(0x7FFFFFFE);
    EXPECT_TRUE(top.ref());
    EXPECT_EQ(0x7FFFFFFF, static_cast<int>(top));
}

TEST(NxAtomicInt, DerefReturnsTheNewValue) {
    NxAtomicInt one(1);
    EXPECT_EQ(0, one.deref());
    EXPECT_EQ(-1, one.deref());
    EXPECT_TRUE(one != 0);
    EXPECT_FALSE(one != -1);
}

TEST(NxAtomicInt, AssignmentCopiesTheValue) {
    NxAtomicInt a(7), b(3);
    b = a;
    EXPECT_EQ(7, static_cast<int>(b));
    a.ref();
    EXPECT_EQ(7, static_cast<int>(b));
}

TEST(NxAtomicInt, ConcurrentRefAndDerefBalance) {
    NxAtomicInt counter(1);
    std::atomic<int> sawZero{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100000; ++i) {
                counter.ref();
                if (counter.deref() == 0)
                    sawZero.fetch_add(1);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(1, static_cast<int>(counter));
    EXPECT_EQ(0, sawZero.load());  // the permanent reference keeps the count above zero
}

TEST(NxCriticalSection, OwnerRelocksAndOthersWaitForTheLastUnlock) {
    NxCriticalSection cs;
    cs.lock();
    EXPECT_TRUE(cs.tryLock());  // recursive: the owner gets it again

    auto otherTry = [&cs] {
        bool got = false;
        std::thread([&] {
            got = cs.tryLock();
            if (got)
                cs.unlock();
        }).join();
        return got;
    };
    EXPECT_FALSE(otherTry());
    cs.unlock();
    EXPECT_FALSE(otherTry());  // still held once
    cs.unlock();
    EXPECT_TRUE(otherTry());
}

TEST(NxCriticalSection, NestedLockersDoNotBlock) {
    NxCriticalSection cs;
    {
        NxCSLocker outer(&cs);
        NxCSLocker inner(&cs);
        NxCSLocker innermost(&cs);
    }
    EXPECT_TRUE(cs.tryLock());
    cs.unlock();
}

TEST(NxCriticalSection, SerialisesThreads) {
    NxCriticalSection cs;
    long counter = 0;  // deliberately plain: the lock alone protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i) {
                NxCSLocker guard(&cs);
                if (i % 2) {
                    NxCSLocker again(&cs);
                    ++counter;
                } else {
                    ++counter;
                }
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(200000, counter);
}

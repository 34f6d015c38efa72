// Signals and slots: who is called, in which order, and when connections and wrappers go.
#include "signals/signals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using sigslot::has_slots;
using sigslot::signal_base;

struct Recorder : has_slots {
    explicit Recorder(std::string* log, char tag = 'r') : log(log), tag(tag) {}
    void tick() { *log += tag; }
    void tock() { *log += static_cast<char>(tag - 'a' + 'A'); }
    void take(int* value) { *log += tag + std::to_string(*value); }
    std::string* log;
    char tag;
};

// Emission order, arguments, and each way of disconnecting.
TEST(Signals, ConnectionsAreCalledInOrderUntilDisconnectedByReceiverOrBySlot) {
    std::string log;
    Recorder a(&log, 'a'), b(&log, 'b');
    signal_base s, withArg;
    s.connect(&a, &Recorder::tick);
    s.connect(&b, &Recorder::tick);
    s.connect(&a, &Recorder::tock);  // a second connection from one receiver
    withArg.connect(&b, &Recorder::take);
    withArg.connect(&a, &Recorder::take);
    int v = 7;
    const auto emitBoth = [&] { return log.clear(), s.emit(), withArg.emit(&v), log; };
    EXPECT_EQ("abAb7a7", emitBoth());
    s.disconnect(&a, &Recorder::tick);
    withArg.disconnect(&a, &Recorder::take);
    EXPECT_EQ("bAb7", emitBoth());
    s.disconnect(&a);
    EXPECT_EQ("bb7", emitBoth());
    s.disconnect_all();
    EXPECT_EQ(0u, s.connection_count());
    s.connect(nullptr);  // ignored
    EXPECT_EQ(0u, s.connection_count());
}

struct Meddler : has_slots {
    has_slots* victim = nullptr;  // deleted at the first call
    signal_base* signal = nullptr;
    Recorder* late = nullptr;  // connected at the first call
    void meddle() {
        delete std::exchange(victim, nullptr);
        if (late)
            signal->connect(std::exchange(late, nullptr), &Recorder::tick);
    }
};

// A receiver destroyed by an earlier slot is not called (the emission's snapshot holds its
// connection, which now reads null, and the next emission prunes it); a connection made by a
// slot waits for the next emission.
TEST(Signals, ChangesMadeDuringAnEmissionTakeEffectSafely) {
    std::string log;
    signal_base s;
    Recorder late(&log, 'l');
    auto* victim = new Recorder(&log, 'v');
    Meddler m;
    m.victim = victim, m.signal = &s, m.late = &late;
    s.connect(&m, &Meddler::meddle);
    s.connect(victim, &Recorder::tick);
    s.emit();
    EXPECT_EQ("", log);
    EXPECT_EQ(3u, s.connection_count());
    s.emit();
    EXPECT_EQ("l", log);
    EXPECT_EQ(2u, s.connection_count());
}

// The wrapper a receiver shares with its connections (and copies of the receiver) counts one
// reference each, and is released by destroyed receivers, disconnect_all and destroyed signals;
// the test holds handles of its own to watch the counts after a receiver is gone.
TEST(Signals, WrapperReferencesGoWithReceiversConnectionsAndSignals) {
    std::string log;
    signal_base s;
    Recorder keep(&log, 'k');
    auto* gone = new Recorder(&log, 'g');
    s.connect(gone, &Recorder::tick);
    s.connect(&keep, &Recorder::tick);
    s.connect(gone, &Recorder::tock);
    const has_slots::slot_holder w = gone->get_receiver();
    EXPECT_EQ(4, w->refcount());  // receiver, two connections, ours
    delete gone;
    EXPECT_EQ(nullptr, w->target());
    EXPECT_EQ(3, w->refcount());
    s.emit();
    EXPECT_EQ("k", log);
    EXPECT_EQ(1u, s.connection_count());
    EXPECT_EQ(1, w->refcount()) << "only our handle is left";

    // disconnect_all ends the old connections only.
    const has_slots::slot_holder old = keep.get_receiver();
    keep.disconnect_all();
    EXPECT_EQ(nullptr, old->target());
    s.connect(&keep, &Recorder::tock);
    s.emit();
    EXPECT_EQ("kK", log);
    EXPECT_EQ(1u, s.connection_count());
    EXPECT_EQ(1, old->refcount()) << "the old connection was pruned";

    Recorder a(&log), b(&log);
    const has_slots::slot_holder wa = a.get_receiver(), wb = b.get_receiver();
    {
        signal_base local;
        local.connect(&a, &Recorder::tick);
        local.connect(&a, &Recorder::tock);
        local.connect(&b, &Recorder::tick);
        EXPECT_EQ(4, wa->refcount());
        EXPECT_EQ(3, wb->refcount());
    }
    EXPECT_EQ(2, wa->refcount());
    EXPECT_EQ(2, wb->refcount());
    Recorder copy(a);
    EXPECT_EQ(wa.get(), copy.get_receiver().get());
    EXPECT_EQ(&a, copy.get_receiver()->target());
}

TEST(Signals, ConnectionsCloneDuplicateAndCompareSlots) {
    std::string log;
    Recorder a(&log, 'a'), b(&log, 'b');
    sigslot::_connection0<Recorder> tickA(&a, &Recorder::tick), tockA(&a, &Recorder::tock);
    sigslot::_connection1<Recorder, int> takeA(&a, &Recorder::take);
    EXPECT_TRUE(tickA.same_slot(tickA));
    EXPECT_FALSE(tickA.same_slot(tockA));
    EXPECT_FALSE(tickA.same_slot(takeA));
    sigslot::_connection_base::connection_holder dup(tickA.duplicate(&b));
    EXPECT_EQ(&b, dup->getdest());
    EXPECT_TRUE(dup->same_slot(tickA));
    const sigslot::_connection_base::connection_holder copy(dup);
    EXPECT_NE(dup.get(), copy.get());
    reinterpret_cast<sigslot::_connection_base::emitter0>(copy->get_emitter())(copy.get());
    EXPECT_EQ("b", log);
    EXPECT_EQ(nullptr, sigslot::_connection_base::connection_holder().get());

    // The one-argument kind, and holders assigned by copy (a clone) and by move (a hand-over).
    sigslot::_connection_base::connection_holder takeB(takeA.duplicate(&b)), held;
    EXPECT_TRUE(takeB->same_slot(takeA));
    EXPECT_FALSE(takeB->same_slot(tickA));
    held = takeB;
    EXPECT_NE(takeB.get(), held.get());
    const auto& same = held;
    held = same;  // assigning a holder to itself keeps its connection
    EXPECT_EQ(&b, held->getdest());
    sigslot::_connection_base::connection_holder moved;
    moved = std::move(held);
    EXPECT_EQ(nullptr, held.get());
    int v = 5;
    reinterpret_cast<sigslot::_connection_base::emitter1>(moved->get_emitter())(moved.get(), &v);
    EXPECT_EQ("bb5", log);
}

struct Counter : has_slots {
    std::atomic<int> calls{0};
    void hit() { calls.fetch_add(1, std::memory_order_relaxed); }
};

TEST(Signals, EmittingWhileOtherThreadsConnectAndDisconnect) {
    signal_base s;
    Counter fixed;
    s.connect(&fixed, &Counter::hit);
    std::atomic<bool> stop{false};
    std::thread emitter([&] {
        while (!stop.load())
            s.emit();
    });
    // A receiver must outlive slots running on other threads: the churners' receivers live
    // until the emitter has stopped, though they disconnect all along.
    Counter receivers[2];
    std::vector<std::thread> churners;
    for (Counter& receiver : receivers) {
        churners.emplace_back([&s, mine = &receiver] {
            for (int i = 0; i < 2000; ++i) {
                s.connect(mine, &Counter::hit);
                if (i % 3 == 0)
                    mine->disconnect_all();
                else
                    s.disconnect(mine);
            }
            s.disconnect(mine);
        });
    }
    for (auto& t : churners)
        t.join();
    stop = true;
    emitter.join();
    s.emit();
    EXPECT_GT(fixed.calls.load(), 0);
    EXPECT_EQ(1u, s.connection_count());
}

}  // namespace

// The untyped core of signals and slots: wrappers and their counts, connection ownership, the
// signal's list and its emission over a private copy.
#include "signals/signals.h"

#include <memory>


namespace sigslot {

// ---- signal_lock ---------------------------------------------------------------------------

signal_lock::~signal_lock() = default;
void signal_lock::lock() { m_cs.lock(); }
void signal_lock::unlock() { m_cs.unlock(); }

// ---- has_slots -----------------------------------------------------------------------------

has_slots::slot_wrapper& has_slots::slot_wrapper::operator=(const slot_wrapper& other) {
    m_target.store(other.m_target.load(std::memory_order_relaxed), std::memory_order_relaxed);
    m_refs.store(other.m_refs.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
}

int has_slots::slot_wrapper::addref() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

int has_slots::slot_wrapper::release() {
    const int left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

has_slots::slot_holder& has_slots::slot_holder::operator=(slot_wrapper* w) {
    if (w == m_w)
        return *this;
    // Take the new reference first: releasing the old one may delete what `w` came from.
    if (w)
        w->addref();
    slot_wrapper* old = m_w;
    m_w = w;
    if (old)
        old->release();
    return *this;
}

has_slots::has_slots() : m_receiver(new slot_wrapper(this)) {}

has_slots::~has_slots() {
    if (m_receiver)
        m_receiver->set_target(nullptr);
}

void has_slots::disconnect_all() {
    if (m_receiver)
        m_receiver->set_target(nullptr);
    m_receiver = new slot_wrapper(this);
}

// ---- connections ---------------------------------------------------------------------------

_connection_base::~_connection_base() = default;

_connection_base::connection_holder& _connection_base::connection_holder::operator=(
    const connection_holder& other) {
    if (this != &other) {
        _connection_base* copy = other.m_conn ? other.m_conn->clone() : nullptr;
        delete m_conn;
        m_conn = copy;
    }
    return *this;
}

_connection_base::connection_holder& _connection_base::connection_holder::operator=(
    connection_holder&& other) noexcept {
    if (this != &other) {
        delete m_conn;
        m_conn = other.m_conn;
        other.m_conn = nullptr;
    }
    return *this;
}

// ---- signal_base ---------------------------------------------------------------------------

namespace {

using Holder = _connection_base::connection_holder;

// Releases the signal's lock on every way out, exceptions included.
class Locked {
public:
    explicit Locked(signal_base* s) : m_s(s) { m_s->lock(); }
    ~Locked() { m_s->unlock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    signal_base* m_s;
};

}  // namespace

// The copy an emission runs over: clones of the live connections, in list order, each with its
// receiver's wrapper at hand so checking for dead ones reads one word per connection. Shared
// (counted) by the signal, which keeps it while its list is unchanged, and by the emissions
// running over it; the last one out deletes it.
struct signal_base::snapshot {
    std::atomic<int> refs{1};
    std::size_t count = 0;
    _connection_base** conns = nullptr;
    has_slots::slot_wrapper** wrappers = nullptr;

    ~snapshot() {
        for (std::size_t i = 0; i < count; ++i)
            delete conns[i];
        delete[] conns;
        delete[] wrappers;
    }
    void release() {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    bool anyDead() const {
        for (std::size_t i = 0; i < count; ++i)
            if (!wrappers[i] || !wrappers[i]->target())
                return true;
        return false;
    }
};

signal_base::~signal_base() {
    Locked guard(this);
    drop_snapshot();
    m_connected_slots.clear();
}

// Under the lock: forgets the kept snapshot (emissions still running over it keep it alive).
void signal_base::drop_snapshot() {
    if (m_snapshot) {
        m_snapshot->release();
        m_snapshot = nullptr;
    }
}

// Prunes dead connections and returns a snapshot of the rest with one reference for the
// caller. The kept snapshot is reused while the list is unchanged and none of its receivers
// has gone; otherwise the list is pruned and copied afresh (each connection cloned).
signal_base::snapshot* signal_base::take_snapshot() {
    Locked guard(this);
    if (!m_snapshot || m_snapshot->anyDead()) {
        drop_snapshot();
        for (auto it = m_connected_slots.begin(); it != m_connected_slots.end();) {
            if ((*it)->getdest() == nullptr)
                it = m_connected_slots.erase(it);
            else
                ++it;
        }
        std::unique_ptr<snapshot> fresh(new snapshot);
        const std::size_t n = m_connected_slots.size();
        fresh->conns = new _connection_base*[n];
        fresh->wrappers = new has_slots::slot_wrapper*[n];
        for (const Holder& h : m_connected_slots) {
            fresh->conns[fresh->count] = h->clone();
            fresh->wrappers[fresh->count] = fresh->conns[fresh->count]->get_destination().get();
            ++fresh->count;
        }
        m_snapshot = fresh.release();
    }
    m_snapshot->refs.fetch_add(1, std::memory_order_relaxed);
    return m_snapshot;
}

void signal_base::emit() {
    snapshot* snap = take_snapshot();
    for (std::size_t i = 0; i < snap->count; ++i)
        reinterpret_cast<_connection_base::emitter0>(snap->conns[i]->get_emitter())(snap->conns[i]);
    snap->release();
}

void signal_base::emit(void* arg) {
    snapshot* snap = take_snapshot();
    for (std::size_t i = 0; i < snap->count; ++i)
        reinterpret_cast<_connection_base::emitter1>(snap->conns[i]->get_emitter())(snap->conns[i],
                                                                                    arg);
    snap->release();
}

void signal_base::connect(_connection_base* conn) {
    if (!conn)
        return;
    Holder h(conn);
    Locked guard(this);
    drop_snapshot();
    m_connected_slots.push_back(std::move(h));
}

void signal_base::disconnect(has_slots* receiver) {
    Locked guard(this);
    drop_snapshot();
    for (auto it = m_connected_slots.begin(); it != m_connected_slots.end();) {
        if ((*it)->getdest() == receiver)
            it = m_connected_slots.erase(it);
        else
            ++it;
    }
}

void signal_base::disconnect_same(has_slots* receiver, const _connection_base& probe) {
    Locked guard(this);
    drop_snapshot();
    for (auto it = m_connected_slots.begin(); it != m_connected_slots.end();) {
        if ((*it)->getdest() == receiver && (*it)->same_slot(probe))
            it = m_connected_slots.erase(it);
        else
            ++it;
    }
}

void signal_base::disconnect_all() {
    Locked guard(this);
    drop_snapshot();
    m_connected_slots.clear();
}

std::size_t signal_base::connection_count() {
    Locked guard(this);
    return m_connected_slots.size();
}

}  // namespace sigslot

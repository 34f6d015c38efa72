// The untyped core of signals and slots: wrappers and their counts, connection ownership, the
// signal's list and its emission over a private copy.
#include "signals/signals.h"


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

// The emission's private copy: room for a few connections inside the object, the heap beyond.
class Snapshot {
public:
    ~Snapshot() {
        for (std::size_t i = 0; i < m_count; ++i)
            delete m_conns[i];
        if (m_conns != m_inline)
            delete[] m_conns;
    }
    void reserve(std::size_t n) {
        if (n > kInline)
            m_conns = new _connection_base*[n];
    }
    void push(_connection_base* c) { m_conns[m_count++] = c; }
    std::size_t size() const { return m_count; }
    _connection_base* operator[](std::size_t i) const { return m_conns[i]; }

private:
    static constexpr std::size_t kInline = 16;
    _connection_base* m_inline[kInline];
    _connection_base** m_conns = m_inline;
    std::size_t m_count = 0;
};

}  // namespace

signal_base::~signal_base() {
    Locked guard(this);
    m_connected_slots.clear();
}

// Drops dead connections, then copies the rest (each cloned) into `out`.
static void takeSnapshot(signal_base* s, std::list<Holder>& list, Snapshot& out) {
    Locked guard(s);
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->getdest() == nullptr)
            it = list.erase(it);
        else
            ++it;
    }
    out.reserve(list.size());
    for (const Holder& h : list)
        out.push(h->clone());
}

void signal_base::emit() {
    Snapshot snap;
    takeSnapshot(this, m_connected_slots, snap);
    for (std::size_t i = 0; i < snap.size(); ++i)
        reinterpret_cast<_connection_base::emitter0>(snap[i]->get_emitter())(snap[i]);
}

void signal_base::emit(void* arg) {
    Snapshot snap;
    takeSnapshot(this, m_connected_slots, snap);
    for (std::size_t i = 0; i < snap.size(); ++i)
        reinterpret_cast<_connection_base::emitter1>(snap[i]->get_emitter())(snap[i], arg);
}

void signal_base::connect(_connection_base* conn) {
    if (!conn)
        return;
    Holder h(conn);
    Locked guard(this);
    m_connected_slots.push_back(std::move(h));
}

void signal_base::disconnect(has_slots* receiver) {
    Locked guard(this);
    for (auto it = m_connected_slots.begin(); it != m_connected_slots.end();) {
        if ((*it)->getdest() == receiver)
            it = m_connected_slots.erase(it);
        else
            ++it;
    }
}

void signal_base::disconnect_same(has_slots* receiver, const _connection_base& probe) {
    Locked guard(this);
    for (auto it = m_connected_slots.begin(); it != m_connected_slots.end();) {
        if ((*it)->getdest() == receiver && (*it)->same_slot(probe))
            it = m_connected_slots.erase(it);
        else
            ++it;
    }
}

void signal_base::disconnect_all() {
    Locked guard(this);
    m_connected_slots.clear();
}

std::size_t signal_base::connection_count() {
    Locked guard(this);
    return m_connected_slots.size();
}

}  // namespace sigslot

// Signals and slots: a signal calls member functions of receiver objects, on any thread, and a
// connection ends by itself when its receiver goes.
//
// A receiver (has_slots) knows nothing of its connections. It owns a reference-counted
// slot_wrapper that points back to it, and every connection holds a counted slot_holder to that
// wrapper. Destroying the receiver (or disconnect_all) clears the wrapper's pointer: every
// connection through it is dead at once, and signals drop dead connections at their next
// emission. A signal emits over a private copy of its connection list, so slots run without the
// signal's lock and may connect, disconnect or destroy receivers meanwhile; such changes apply
// from the next emission on.
//
//     struct Window : sigslot::has_slots {
//         void onTick();
//         void onTask(ISwitchTask* task);
//     };
//     timer->sigTimer.connect(&window, &Window::onTick);     // emit()
//     sw->sigSwitch.connect(&window, &Window::onTask);       // emit(task)
#ifndef NXUTIL_SIGNALS_H
#define NXUTIL_SIGNALS_H

#include "memory/memory.h"
#include "nxutil_export.h"

#include <atomic>
#include <cstddef>
#include <list>
#include <typeinfo>

namespace sigslot {

/// The lock of a signal: one recursive critical section behind two virtual operations.
class NXUTIL_API signal_lock {
public:
    signal_lock() = default;
    virtual ~signal_lock();
    signal_lock(const signal_lock&) = delete;
    signal_lock& operator=(const signal_lock&) = delete;

    virtual void lock();
    virtual void unlock();

private:
    NxCriticalSection m_cs;
};

/// A receiver of signals. Derive from it; connections to a destroyed receiver are never called.
class NXUTIL_API has_slots {
public:
    /// The shared, counted pointer back to a receiver; null once the receiver is gone or has
    /// disconnected everything. Deletes itself when its last slot_holder lets go.
    class NXUTIL_API slot_wrapper {
    public:
        explicit slot_wrapper(has_slots* target) : m_target(target), m_refs(0) {}
        /// Copies the target and the count (as the plain fields they are).
        slot_wrapper& operator=(const slot_wrapper& other);

        /// One more reference; returns the new count.
        int addref();
        /// One reference less; deletes the wrapper when none is left. Returns the new count.
        int release();

        /// The receiver, or null.
        has_slots* target() const { return m_target.load(std::memory_order_acquire); }
        void set_target(has_slots* t) { m_target.store(t, std::memory_order_release); }
        /// The current count (for diagnostics; may be stale at once).
        int refcount() const { return m_refs.load(std::memory_order_relaxed); }

    private:
        ~slot_wrapper() = default;
        std::atomic<has_slots*> m_target;
        std::atomic<int> m_refs;
    };

    /// A counted handle to a slot_wrapper (intrusive: holding it keeps one reference).
    class NXUTIL_API slot_holder {
    public:
        slot_holder(slot_wrapper* w = nullptr) : m_w(w) {
            if (m_w)
                m_w->addref();
        }
        slot_holder(const slot_holder& other) : slot_holder(other.m_w) {}
        ~slot_holder() {
            if (m_w)
                m_w->release();
        }
        slot_holder& operator=(slot_wrapper* w);
        slot_holder& operator=(const slot_holder& other) { return *this = other.m_w; }

        slot_wrapper* get() const { return m_w; }
        slot_wrapper* operator->() const { return m_w; }
        explicit operator bool() const { return m_w != nullptr; }

    private:
        slot_wrapper* m_w;
    };

    /// Creates this receiver's wrapper.
    has_slots();
    /// The copy shares the source's wrapper (whose target stays the source object).
    has_slots(const has_slots& other) = default;
    has_slots& operator=(const has_slots& other) = default;
    /// Ends every connection to this receiver; the wrapper lives on while connections hold it.
    virtual ~has_slots();

    /// Ends every existing connection; connections made afterwards work.
    void disconnect_all();

    /// The handle a new connection copies.
    slot_holder& get_receiver() { return m_receiver; }

private:
    slot_holder m_receiver;
};

/// One connection: a handle to the receiver's wrapper and the function that delivers a call.
class NXUTIL_API _connection_base {
public:
    /// Untyped: emit() calls it as emitter0, emit(arg) as emitter1.
    typedef void (*emitter_type)();
    typedef void (*emitter0)(_connection_base* conn);
    typedef void (*emitter1)(_connection_base* conn, void* arg);

    _connection_base() : m_emitter(nullptr) {}
    _connection_base(const has_slots::slot_holder& dest, emitter_type emitter)
        : m_dest(dest), m_emitter(emitter) {}
    _connection_base(const _connection_base& other) = default;
    _connection_base& operator=(const _connection_base& other) = default;
    virtual ~_connection_base();

    /// A heap copy of the full derived type.
    virtual _connection_base* clone() const = 0;
    /// A copy bound to another receiver.
    virtual _connection_base* duplicate(has_slots* newdest) const = 0;
    /// Whether both connections call the same member function.
    virtual bool same_slot(const _connection_base& other) const = 0;

    /// The receiver; null when it is gone, has disconnected everything, or there is none.
    has_slots* getdest() const { return m_dest ? m_dest->target() : nullptr; }
    emitter_type get_emitter() const { return m_emitter; }
    /// The wrapper handle (for diagnostics and duplicate()).
    const has_slots::slot_holder& get_destination() const { return m_dest; }

    /// Owns one heap connection; copying clones it.
    class NXUTIL_API connection_holder {
    public:
        connection_holder() : m_conn(nullptr) {}
        explicit connection_holder(_connection_base* conn) : m_conn(conn) {}
        connection_holder(const connection_holder& other)
            : m_conn(other.m_conn ? other.m_conn->clone() : nullptr) {}
        connection_holder(connection_holder&& other) noexcept : m_conn(other.m_conn) {
            other.m_conn = nullptr;
        }
        connection_holder& operator=(const connection_holder& other);
        connection_holder& operator=(connection_holder&& other) noexcept;
        ~connection_holder() { delete m_conn; }

        _connection_base* get() const { return m_conn; }
        _connection_base* operator->() const { return m_conn; }

    private:
        _connection_base* m_conn;
    };

private:
    has_slots::slot_holder m_dest;
    emitter_type m_emitter;
};

/// A connection to `void (dest_type::*)()`.
template <class dest_type>
class _connection0 : public _connection_base {
public:
    typedef void (dest_type::*memfun)();

    _connection0(dest_type* obj, memfun fn)
        : _connection_base(obj->get_receiver(), reinterpret_cast<emitter_type>(&emit_to)),
          m_fn(fn) {}
    _connection_base* clone() const override { return new _connection0(*this); }
    _connection_base* duplicate(has_slots* newdest) const override {
        return new _connection0(static_cast<dest_type*>(newdest), m_fn);
    }
    bool same_slot(const _connection_base& other) const override {
        auto* o = dynamic_cast<const _connection0*>(&other);
        return o && o->m_fn == m_fn;
    }

private:
    static void emit_to(_connection_base* conn) {
        const _connection0& self = *static_cast<_connection0*>(conn);
        const memfun fn = self.m_fn;
        if (has_slots* dest = self.getdest())
            (static_cast<dest_type*>(dest)->*fn)();
    }
    memfun m_fn;
};

/// A connection to `void (dest_type::*)(arg_type*)`; emit(arg) passes arg as that pointer.
template <class dest_type, class arg_type>
class _connection1 : public _connection_base {
public:
    typedef void (dest_type::*memfun)(arg_type*);

    _connection1(dest_type* obj, memfun fn)
        : _connection_base(obj->get_receiver(), reinterpret_cast<emitter_type>(&emit_to)),
          m_fn(fn) {}
    _connection_base* clone() const override { return new _connection1(*this); }
    _connection_base* duplicate(has_slots* newdest) const override {
        return new _connection1(static_cast<dest_type*>(newdest), m_fn);
    }
    bool same_slot(const _connection_base& other) const override {
        auto* o = dynamic_cast<const _connection1*>(&other);
        return o && o->m_fn == m_fn;
    }

private:
    static void emit_to(_connection_base* conn, void* arg) {
        const _connection1& self = *static_cast<_connection1*>(conn);
        const memfun fn = self.m_fn;
        if (has_slots* dest = self.getdest())
            (static_cast<dest_type*>(dest)->*fn)(static_cast<arg_type*>(arg));
    }
    memfun m_fn;
};

/// A signal: a list of connections behind the signal's own lock.
class NXUTIL_API signal_base : public signal_lock {
public:
    signal_base() = default;
    /// Drops every connection (under the lock), releasing its wrapper reference.
    ~signal_base() override;
    signal_base(const signal_base&) = delete;
    signal_base& operator=(const signal_base&) = delete;

    /// Calls every live connection's emitter with the connection, in connection order, over a
    /// copy of the list that no later change touches; dead connections are dropped first. The
    /// copy is kept for the next emission while the list does not change, so emitting to an
    /// unchanged list allocates nothing.
    void emit();
    /// The same with one pointer-sized argument.
    void emit(void* arg);

    /// Takes ownership of a heap connection and appends it under the lock; null is ignored.
    void connect(_connection_base* conn);
    /// Connects a member function without argument (called by emit()).
    template <class dest_type>
    void connect(dest_type* obj, void (dest_type::*fn)()) {
        connect(new _connection0<dest_type>(obj, fn));
    }
    /// Connects a member function taking one pointer (called by emit(arg)).
    template <class dest_type, class arg_type>
    void connect(dest_type* obj, void (dest_type::*fn)(arg_type*)) {
        connect(new _connection1<dest_type, arg_type>(obj, fn));
    }

    /// Removes every connection to `receiver`.
    void disconnect(has_slots* receiver);
    /// Removes the connections to `receiver` that call `fn`.
    template <class dest_type>
    void disconnect(dest_type* receiver, void (dest_type::*fn)()) {
        const _connection0<dest_type> probe(receiver, fn);
        disconnect_same(receiver, probe);
    }
    template <class dest_type, class arg_type>
    void disconnect(dest_type* receiver, void (dest_type::*fn)(arg_type*)) {
        const _connection1<dest_type, arg_type> probe(receiver, fn);
        disconnect_same(receiver, probe);
    }
    /// Removes every connection.
    void disconnect_all();

    /// The connections in the list, dead ones not yet dropped included.
    std::size_t connection_count();

protected:
    std::list<_connection_base::connection_holder> m_connected_slots;

private:
    // Removes the connections to `receiver` for which probe.same_slot() holds.
    void disconnect_same(has_slots* receiver, const _connection_base& probe);

    // The last snapshot of the list, kept while the list is unchanged so an emission copies
    // nothing: a counted array of clones shared by the signal and every emission using it.
    struct snapshot;
    snapshot* take_snapshot();
    void drop_snapshot();
    snapshot* m_snapshot = nullptr;
};

}  // namespace sigslot

#endif

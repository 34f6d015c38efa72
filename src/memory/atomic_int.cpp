// NxAtomicInt: the containers' reference counter.
#include "memory/memory.h"

NxAtomicInt& NxAtomicInt::operator=(const NxAtomicInt& other) {
    m_value.store(static_cast<int>(other), std::memory_order_relaxed);
    return *this;
}

bool NxAtomicInt::ref() { return m_value.fetch_add(1, std::memory_order_seq_cst) + 1 != 0; }

int NxAtomicInt::deref() { return m_value.fetch_sub(1, std::memory_order_seq_cst) - 1; }

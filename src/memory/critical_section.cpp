// NxCriticalSection: the platform's recursive lock, held in place.
#include "memory/memory.h"
#include "platform/lock.h"

NxCriticalSection::NxCriticalSection() { platform::lockInit(m_cs); }

NxCriticalSection::~NxCriticalSection() { platform::lockDestroy(m_cs); }

void NxCriticalSection::lock() const { platform::lockAcquire(m_cs); }

void NxCriticalSection::unlock() const { platform::lockRelease(m_cs); }

bool NxCriticalSection::tryLock() const { return platform::lockTry(m_cs); }

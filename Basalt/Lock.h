// A process-wide lock that needs no construction at run time, so it can guard
// lists that static objects join during static initialisation.
#pragma once

#include "WinApi.h"

namespace Bas {

class CLock {
public:
    constexpr CLock() noexcept = default;
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void lock() noexcept { ::AcquireSRWLockExclusive(&m_lock); }
    void unlock() noexcept { ::ReleaseSRWLockExclusive(&m_lock); }
    // For waiting on a condition variable with the lock held.
    PSRWLOCK Native() noexcept { return &m_lock; }

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
};

} // namespace Bas

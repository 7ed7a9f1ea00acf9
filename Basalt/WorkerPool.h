// The worker threads of one collection run: the only place in the programs
// that starts threads for work. Tasks carry an order: a free worker takes
// the queued task of the lowest order (the earliest of equal ones), so the
// work the owner will wait for first is done first. A task may say how much
// memory its result will hold until the owner gives it back: beyond the
// pool's budget a task waits in the queue, unless the owner waits for its
// order already (its front), so that memory stays bounded and the owner is
// never kept waiting by work further ahead. The thread that owns the pool
// waits for a task while it keeps its window alive, and gets the task's
// error there.
#pragma once

#include "Errors.h"
#include "Handles.h"
#include "Lock.h"
#include "NativeFileSystem.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Bas {

class CWorkerPool {
public:
    static constexpr unsigned kMaxWorkers = 16;

    // The workers a setting asks for: 0 (or less) one per processor the
    // process may run on (its affinity), at most 16; a larger setting is
    // taken down to 16; 1 means no worker at all (the caller then does the
    // work itself).
    static unsigned WorkersFor(int setting);

    // Starts the workers at below-normal priority, so that they do not
    // compete with the programs of the computer they look at. Throws when
    // a thread cannot be started, with none left running.
    explicit CWorkerPool(unsigned workers);
    // Cancels what is left and joins the workers.
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    unsigned Workers() const noexcept { return static_cast<unsigned>(m_threads.size()); }

    class CTask;
    using CTaskPtr = std::shared_ptr<CTask>;
    // Queues work. `reserve`: the memory its result will hold, counted from
    // when it starts until the owner gives it back with Release. An error it
    // throws (running out of memory included) is kept for Wait. Queued while
    // the pool is being cancelled, it is dropped at once.
    CTaskPtr Queue(std::function<void()> work, std::uint64_t order = 0, std::uint64_t reserve = 0);
    // The memory that results may hold together (0: no bound).
    void SetBudget(std::uint64_t bytes);
    // Tasks of this order and lower start whatever the budget holds.
    void SetFront(std::uint64_t order);
    // Memory of results given back, or, from a task, what its result holds
    // beyond (or short of) what it reserved.
    void Release(std::uint64_t bytes);
    void Hold(std::int64_t bytes);
    std::uint64_t Held() const;
    // Waits until the task has run, calling `idle` (the caller's message
    // pump) at most every 10 ms, and throws the task's error: at every wait
    // for the same task.
    void Wait(const CTaskPtr& task, const CProgress& idle);
    // Whether the task has run (or was dropped).
    bool Done(const CTaskPtr& task);
    // Drops the tasks not yet started, asks the running ones to end, and
    // waits until they have; the pool can be used again afterwards.
    void Cancel();
    // For the work: throws the silent CUserException once the pool is being
    // cancelled, so that a task ends at its next block.
    void ThrowIfCancelled() const;

private:
    // The threads are the system's own, with its lock and condition
    // variables: the C runtime's, initialised lazily at their first use,
    // can fail when several threads first wait at once.
    static DWORD WINAPI ThreadMain(void* pool);
    void run();
    void closeAndJoin();
    // The next task a worker may start, taken off the queue; null when none
    // may start now. With the lock held.
    CTaskPtr takeNext();

    mutable CLock m_lock;
    CONDITION_VARIABLE m_wake = CONDITION_VARIABLE_INIT;
    // A task has ended (Wait, and Cancel for the running ones). The owner
    // waits on it rather than on an event: an event costs a round trip to
    // Wine's server at every task, which for thousands of small files is
    // most of the time.
    CONDITION_VARIABLE m_finished = CONDITION_VARIABLE_INIT;
    // Queued tasks by (order, sequence).
    std::map<std::pair<std::uint64_t, std::uint64_t>, CTaskPtr> m_queue;
    std::uint64_t m_sequence = 0;
    std::uint64_t m_budget = 0;
    std::uint64_t m_front = 0;
    std::int64_t m_held = 0;
    unsigned m_running = 0;
    bool m_closing = false;
    std::atomic<bool> m_cancelled{false};
    std::vector<CKernelHandle> m_threads;
};

// Objects that the tasks of a pool take and give back, so that each worker
// reuses one (buffers, a compressor's state) instead of making its own for
// every task; no thread keeps one of its own when the pool ends.
template <class T>
class CSpares {
public:
    // Holds one object while a task works with it.
    class CLease {
    public:
        explicit CLease(CSpares& spares) : m_spares(spares), m_object(spares.take()) {}
        ~CLease() { m_spares.give(std::move(m_object)); }
        CLease(const CLease&) = delete;
        CLease& operator=(const CLease&) = delete;
        T& operator*() const noexcept { return *m_object; }
        T* operator->() const noexcept { return m_object.get(); }

    private:
        CSpares& m_spares;
        std::unique_ptr<T> m_object;
    };

private:
    std::unique_ptr<T> take()
    {
        {
            std::lock_guard guard(m_lock);
            if (!m_free.empty()) {
                std::unique_ptr<T> object = std::move(m_free.back());
                m_free.pop_back();
                return object;
            }
        }
        return std::make_unique<T>();
    }
    void give(std::unique_ptr<T> object) noexcept
    {
        std::lock_guard guard(m_lock);
        try {
            m_free.push_back(std::move(object));
        } catch (...) {
            // No room to keep it: it goes.
        }
    }

    CLock m_lock;
    std::vector<std::unique_ptr<T>> m_free;
};

} // namespace Bas

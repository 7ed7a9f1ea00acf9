// The worker threads of one collection run: the only place in the programs
// that starts threads for work. A free worker takes the queued task of the
// highest cost (the earliest of equal ones), so that a large file queued
// late does not run alone at the end while the others wait; the thread that
// owns the pool waits for a task while it keeps its window alive, and gets
// the task's error there.
#pragma once

#include "Errors.h"
#include "Handles.h"
#include "Lock.h"
#include "NativeFileSystem.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Bas {

class CWorkerPool {
public:
    static constexpr unsigned kMaxWorkers = 8;

    // The workers a setting asks for: 0 (or less) is one per core; every
    // count is at most 8, and 1 means no worker at all (the caller then does
    // the work itself).
    static unsigned WorkersFor(int setting);

    explicit CWorkerPool(unsigned workers);
    // Cancels what is left and joins the workers.
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    unsigned Workers() const noexcept { return static_cast<unsigned>(m_threads.size()); }

    class CTask;
    using CTaskPtr = std::shared_ptr<CTask>;
    // Queues work for a worker; `cost` tells how long it may take (a file's
    // size). An error it throws (running out of memory included) is kept
    // for Wait.
    CTaskPtr Queue(std::function<void()> work, std::uint64_t cost = 0);
    // Waits until the task has run, calling `idle` (the caller's message
    // pump) every 10 ms or so, and throws the task's error.
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

    CLock m_lock;
    CONDITION_VARIABLE m_wake = CONDITION_VARIABLE_INIT;
    // A task has ended (Wait, and Cancel for the running ones). The owner
    // waits on it rather than on an event: an event costs a round trip to
    // Wine's server at every task, which for thousands of small files is
    // most of the time.
    CONDITION_VARIABLE m_finished = CONDITION_VARIABLE_INIT;
    std::deque<CTaskPtr> m_queue;
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

#include "WorkerPool.h"

#include <algorithm>
#include <mutex>
#include <new>

namespace Bas {

class CWorkerPool::CTask {
public:
    CTask(std::function<void()> work, std::uint64_t cost) : work(std::move(work)), cost(cost) {}

    std::function<void()> work;
    std::uint64_t cost;
    // Guarded by the pool's lock.
    bool done = false;
    CExceptionPtr error;
};

namespace {

// Waits on a condition variable with the pool's lock held.
void WaitOn(CONDITION_VARIABLE& condition, CLock& lock, DWORD milliseconds = INFINITE)
{
    ::SleepConditionVariableSRW(&condition, lock.Native(), milliseconds, 0);
}

} // namespace

unsigned CWorkerPool::WorkersFor(int setting)
{
    if (setting <= 0) {
        SYSTEM_INFO system = {};
        ::GetNativeSystemInfo(&system);
        setting = static_cast<int>(std::max<DWORD>(system.dwNumberOfProcessors, 1));
    }
    const unsigned count = std::min<unsigned>(static_cast<unsigned>(setting), kMaxWorkers);
    return count == 1 ? 0 : count;
}

CWorkerPool::CWorkerPool(unsigned workers)
{
    for (unsigned i = 0; i < workers; ++i) {
        CKernelHandle thread(::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
        if (!thread) {
            const DWORD error = ::GetLastError();
            closeAndJoin();
            ThrowLastError(error);
        }
        m_threads.push_back(std::move(thread));
    }
}

CWorkerPool::~CWorkerPool()
{
    closeAndJoin();
}

void CWorkerPool::closeAndJoin()
{
    {
        std::lock_guard guard(m_lock);
        m_closing = true;
        m_cancelled = true;
        m_queue.clear();
    }
    ::WakeAllConditionVariable(&m_wake);
    for (const CKernelHandle& thread : m_threads)
        ::WaitForSingleObject(thread.Get(), INFINITE);
    m_threads.clear();
}

DWORD WINAPI CWorkerPool::ThreadMain(void* pool)
{
    static_cast<CWorkerPool*>(pool)->run();
    return 0;
}

CWorkerPool::CTaskPtr CWorkerPool::Queue(std::function<void()> work, std::uint64_t cost)
{
    auto task = std::make_shared<CTask>(std::move(work), cost);
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back(task);
    }
    ::WakeConditionVariable(&m_wake);
    return task;
}

void CWorkerPool::run()
{
    for (;;) {
        CTaskPtr task;
        {
            std::lock_guard guard(m_lock);
            while (!m_closing && m_queue.empty())
                WaitOn(m_wake, m_lock);
            if (m_closing)
                return;
            // The costliest first; the queue holds a few hundred at most.
            auto costliest = m_queue.begin();
            for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
                if ((*it)->cost > (*costliest)->cost)
                    costliest = it;
            task = std::move(*costliest);
            m_queue.erase(costliest);
            ++m_running;
        }
        CExceptionPtr error;
        try {
            task->work();
        } catch (CException* raw) {
            error = Own(raw);
        } catch (const std::bad_alloc&) {
            error = Own<CException>(new CMemoryException);
        }
        // The work's captures may hold what the owner frees once it sees
        // the task done.
        task->work = nullptr;
        {
            std::lock_guard guard(m_lock);
            task->error = std::move(error);
            task->done = true;
            --m_running;
        }
        ::WakeAllConditionVariable(&m_finished);
    }
}

void CWorkerPool::Wait(const CTaskPtr& task, const CProgress& idle)
{
    for (;;) {
        CExceptionPtr error;
        {
            std::lock_guard guard(m_lock);
            if (!task->done)
                WaitOn(m_finished, m_lock, 10);
            if (task->done) {
                error = std::move(task->error);
                if (!error)
                    return;
            }
        }
        if (error)
            Rethrow(std::move(error));
        if (idle)
            idle();
    }
}

bool CWorkerPool::Done(const CTaskPtr& task)
{
    std::lock_guard guard(m_lock);
    return task->done;
}

void CWorkerPool::Cancel()
{
    std::lock_guard guard(m_lock);
    m_cancelled = true;
    for (const CTaskPtr& task : m_queue) {
        task->done = true;
        task->work = nullptr;
        task->error = Own<CException>(new CUserException);
    }
    m_queue.clear();
    while (m_running > 0)
        WaitOn(m_finished, m_lock);
    m_cancelled = false;
}

void CWorkerPool::ThrowIfCancelled() const
{
    if (m_cancelled)
        ThrowUser();
}

} // namespace Bas

#include "WorkerPool.h"

#include <algorithm>
#include <bitset>
#include <mutex>
#include <new>

namespace Bas {

class CWorkerPool::CTask {
public:
    CTask(std::function<void()> work, std::uint64_t reserve) : work(std::move(work)), reserve(reserve) {}

    std::function<void()> work;
    std::uint64_t reserve;
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
        // The processors this process may run on, which a job or the user
        // may have narrowed down; all of the machine's when unknown.
        DWORD_PTR process = 0;
        DWORD_PTR system = 0;
        if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
            setting = static_cast<int>(std::bitset<sizeof(DWORD_PTR) * 8>(process).count());
        } else {
            SYSTEM_INFO info = {};
            ::GetNativeSystemInfo(&info);
            setting = static_cast<int>(std::max<DWORD>(info.dwNumberOfProcessors, 1));
        }
    }
    const unsigned count = std::min<unsigned>(static_cast<unsigned>(setting), kMaxWorkers);
    return count == 1 ? 0 : count;
}

CWorkerPool::CWorkerPool(unsigned workers)
{
    for (unsigned i = 0; i < workers; ++i) {
        CKernelHandle thread(::CreateThread(nullptr, 0, ThreadMain, this, CREATE_SUSPENDED, nullptr));
        if (!thread) {
            const DWORD error = ::GetLastError();
            closeAndJoin();
            ThrowLastError(error);
        }
        ::SetThreadPriority(thread.Get(), THREAD_PRIORITY_BELOW_NORMAL);
        ::ResumeThread(thread.Get());
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

CWorkerPool::CTaskPtr CWorkerPool::Queue(std::function<void()> work, std::uint64_t order, std::uint64_t reserve)
{
    auto task = std::make_shared<CTask>(std::move(work), reserve);
    bool dropped = false;
    {
        std::lock_guard guard(m_lock);
        // A running task that queues more while the pool is cancelled (the
        // next block of its file) gets it dropped at once: Cancel would
        // return with it still queued, and it would run after its owner has
        // gone, holding its file open.
        dropped = m_cancelled;
        if (dropped) {
            task->done = true;
            task->error = Own<CException>(new CUserException);
        } else {
            m_queue.emplace(std::pair{order, m_sequence++}, task);
        }
    }
    if (dropped) {
        task->work = nullptr;
        return task;
    }
    ::WakeConditionVariable(&m_wake);
    return task;
}

void CWorkerPool::SetBudget(std::uint64_t bytes)
{
    {
        std::lock_guard guard(m_lock);
        m_budget = bytes;
    }
    ::WakeAllConditionVariable(&m_wake);
}

void CWorkerPool::SetFront(std::uint64_t order)
{
    {
        std::lock_guard guard(m_lock);
        m_front = order;
    }
    ::WakeAllConditionVariable(&m_wake);
}

void CWorkerPool::Release(std::uint64_t bytes)
{
    Hold(-static_cast<std::int64_t>(bytes));
}

void CWorkerPool::Hold(std::int64_t bytes)
{
    {
        std::lock_guard guard(m_lock);
        m_held += bytes;
    }
    if (bytes < 0)
        ::WakeAllConditionVariable(&m_wake);
}

std::uint64_t CWorkerPool::Held() const
{
    std::lock_guard guard(m_lock);
    return m_held > 0 ? static_cast<std::uint64_t>(m_held) : 0;
}

CWorkerPool::CTaskPtr CWorkerPool::takeNext()
{
    if (m_queue.empty())
        return nullptr;
    // Strictly in order: a task that must wait for memory keeps the ones
    // after it waiting too, so that memory goes to the work needed first.
    const auto first = m_queue.begin();
    const CTaskPtr& task = first->second;
    const bool fits = m_budget == 0 || task->reserve == 0 || first->first.first <= m_front || m_held <= 0 ||
                      static_cast<std::uint64_t>(m_held) + task->reserve <= m_budget;
    if (!fits)
        return nullptr;
    CTaskPtr taken = task;
    m_queue.erase(first);
    m_held += static_cast<std::int64_t>(taken->reserve);
    return taken;
}

void CWorkerPool::run()
{
    for (;;) {
        CTaskPtr task;
        {
            std::lock_guard guard(m_lock);
            while (!m_closing && !(task = takeNext()))
                WaitOn(m_wake, m_lock);
            if (m_closing)
                return;
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
    ULONGLONG lastIdle = ::GetTickCount64();
    for (;;) {
        CExceptionPtr error;
        {
            std::lock_guard guard(m_lock);
            if (!task->done)
                WaitOn(m_finished, m_lock, 10);
            if (task->done) {
                if (!task->error)
                    return;
                // A copy: the task keeps its error for the next wait.
                error = task->error->Clone();
            }
        }
        if (error)
            Rethrow(std::move(error));
        // Other tasks end meanwhile, thousands a second with small files:
        // the window's messages only every 10 ms.
        if (const ULONGLONG now = ::GetTickCount64(); idle && now - lastIdle >= 10) {
            lastIdle = now;
            idle();
        }
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
    for (const auto& [order, task] : m_queue) {
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

#include "Errors.h"
#include "Lock.h"
#include "WorkerPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

namespace {

TEST(WorkerPool, WorkersForASetting)
{
    using P = Bas::CWorkerPool;
    EXPECT_EQ(P::WorkersFor(1), 0u) << "one thread: no worker at all";
    EXPECT_EQ(P::WorkersFor(3), 3u);
    EXPECT_EQ(P::WorkersFor(500), P::kMaxWorkers);
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system));
    unsigned allowed = 0;
    for (; process != 0; process &= process - 1)
        ++allowed;
    allowed = std::min(allowed, P::kMaxWorkers);
    EXPECT_EQ(P::WorkersFor(0), allowed == 1 ? 0u : allowed);
}

// Each task's result and error reach the owner at its Wait.
TEST(WorkerPool, ResultsAndErrorsComeToTheWaiter)
{
    Bas::CWorkerPool pool(3);
    std::vector<int> results(20);
    std::vector<Bas::CWorkerPool::CTaskPtr> tasks;
    for (int i = 0; i < 20; ++i)
        tasks.push_back(pool.Queue([&results, i] { results[i] = i * i; }));
    const auto failing = pool.Queue([] { Bas::ThrowFileError(ERROR_SHARING_VIOLATION, L"held.txt"); });
    const auto exhausted = pool.Queue([] { throw std::bad_alloc(); });
    int idles = 0;
    for (const auto& task : tasks)
        pool.Wait(task, [&] { ++idles; });
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(results[i], i * i);
    // A failed task fails every wait for it, not only the first.
    for (int wait = 0; wait < 2; ++wait) {
        try {
            pool.Wait(failing, {});
            FAIL() << "no error at wait " << wait;
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            auto* file = dynamic_cast<Bas::CFileException*>(error.get());
            ASSERT_NE(file, nullptr);
            EXPECT_EQ(file->FileName(), L"held.txt");
        }
    }
    try {
        pool.Wait(exhausted, {});
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        EXPECT_NE(dynamic_cast<Bas::CMemoryException*>(error.get()), nullptr);
    }
}

// Cancel ends a running task at its next step and drops the queued ones,
// and what the running task queues as it ends (the next block of its file);
// the pool works again afterwards.
TEST(WorkerPool, CancelStopsTheWorkAndDropsTheRest)
{
    Bas::CWorkerPool pool(1);
    std::atomic<bool> started{false};
    std::atomic<int> ran{0};
    Bas::CWorkerPool::CTaskPtr queuedLate;
    const auto endless = pool.Queue([&] {
        started = true;
        for (;;) {
            try {
                pool.ThrowIfCancelled();
            } catch (Bas::CUserException*) {
                queuedLate = pool.Queue([&] { ++ran; });
                throw;
            }
            ::Sleep(1);
        }
    });
    const auto dropped = pool.Queue([&] { ++ran; });
    while (!started)
        ::Sleep(1);
    pool.Cancel();
    EXPECT_TRUE(pool.Done(endless));
    EXPECT_TRUE(pool.Done(dropped));
    ASSERT_NE(queuedLate, nullptr);
    EXPECT_TRUE(pool.Done(queuedLate));
    EXPECT_EQ(ran, 0);
    try {
        pool.Wait(dropped, {});
        FAIL() << "a dropped task reports no cancellation";
    } catch (Bas::CUserException* raw) {
        Bas::Own(raw);
    }
    const auto later = pool.Queue([&] { ++ran; });
    pool.Wait(later, {});
    EXPECT_EQ(ran, 1);
}

// Tasks start in their order, the earliest of equal ones first; beyond the
// budget a task waits until memory is given back or the owner waits for it.
TEST(WorkerPool, OrderAndMemoryBudget)
{
    Bas::CWorkerPool pool(1);
    std::vector<int> ran;
    Bas::CLock lock;
    const auto record = [&](int id) {
        return [&, id] {
            std::lock_guard guard(lock);
            ran.push_back(id);
        };
    };
    // The worker is held while the queue fills, so that order decides.
    std::atomic<bool> release{false};
    const auto gate = pool.Queue([&] {
        while (!release)
            ::Sleep(1);
    });
    ::Sleep(20);
    pool.SetBudget(100);
    pool.SetFront(0);
    std::vector<Bas::CWorkerPool::CTaskPtr> tasks;
    tasks.push_back(pool.Queue(record(3), 30));
    tasks.push_back(pool.Queue(record(1), 10));
    tasks.push_back(pool.Queue(record(2), 10));
    const auto big = pool.Queue(record(4), 40, 90);
    const auto beyond = pool.Queue(record(5), 50, 20);
    release = true;
    pool.Wait(big, {});
    ::Sleep(50);
    EXPECT_FALSE(pool.Done(beyond)) << "90 of 100 bytes held: 20 more must wait";
    EXPECT_EQ(pool.Held(), 90u);
    pool.SetFront(50);
    pool.Wait(beyond, {});
    EXPECT_EQ(pool.Held(), 110u) << "the front starts whatever the budget";
    pool.Release(110);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4, 5}));
}

// Thousands of tiny tasks cancelled at random moments: no hang, every
// task's work given up, nothing left held, and the pool still works.
TEST(WorkerPool, CancelledAtRandomMomentsUnderLoad)
{
    Bas::CWorkerPool pool(4);
    pool.SetBudget(1000);
    std::atomic<int> alive{0};
    struct CCounted {
        std::atomic<int>& alive;
        explicit CCounted(std::atomic<int>& alive) : alive(alive) { ++alive; }
        CCounted(const CCounted& other) : alive(other.alive) { ++alive; }
        ~CCounted() { --alive; }
    };
    std::uint32_t seed = 12345;
    const auto random = [&] { return seed = seed * 1103515245 + 12345, (seed >> 16) % 1000; };
    for (int round = 0; round < 30; ++round) {
        std::vector<Bas::CWorkerPool::CTaskPtr> tasks;
        for (int i = 0; i < 2000; ++i) {
            const std::uint64_t reserve = random() % 3;
            tasks.push_back(pool.Queue([&pool, reserve, counted = CCounted(alive)] { pool.Release(reserve); },
                                       random(), reserve));
        }
        ::Sleep(random() % 5);
        pool.Cancel();
        for (const auto& task : tasks)
            EXPECT_TRUE(pool.Done(task));
        EXPECT_EQ(pool.Held(), 0u) << "round " << round;
    }
    EXPECT_EQ(alive, 0) << "every task's work is given up once it has run or was dropped";
    const auto later = pool.Queue([] {});
    pool.Wait(later, {});
}

} // namespace

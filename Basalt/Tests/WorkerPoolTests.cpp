#include "Errors.h"
#include "WorkerPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <new>

namespace {

TEST(WorkerPool, WorkersForASetting)
{
    using P = Bas::CWorkerPool;
    EXPECT_EQ(P::WorkersFor(1), 0u) << "one thread: no worker at all";
    EXPECT_EQ(P::WorkersFor(3), 3u);
    EXPECT_EQ(P::WorkersFor(500), P::kMaxWorkers);
    SYSTEM_INFO system = {};
    ::GetNativeSystemInfo(&system);
    const unsigned cores = std::min<unsigned>(system.dwNumberOfProcessors, P::kMaxWorkers);
    EXPECT_EQ(P::WorkersFor(0), cores == 1 ? 0u : cores);
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
    try {
        pool.Wait(failing, {});
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* file = dynamic_cast<Bas::CFileException*>(error.get());
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->FileName(), L"held.txt");
    }
    try {
        pool.Wait(exhausted, {});
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        EXPECT_NE(dynamic_cast<Bas::CMemoryException*>(error.get()), nullptr);
    }
}

// Cancel ends a running task at its next step and drops the queued ones;
// the pool works again afterwards.
TEST(WorkerPool, CancelStopsTheWorkAndDropsTheRest)
{
    Bas::CWorkerPool pool(1);
    std::atomic<bool> started{false};
    std::atomic<int> ran{0};
    const auto endless = pool.Queue([&] {
        started = true;
        for (;;) {
            pool.ThrowIfCancelled();
            ::Sleep(1);
        }
    });
    const auto dropped = pool.Queue([&] { ++ran; });
    while (!started)
        ::Sleep(1);
    pool.Cancel();
    EXPECT_TRUE(pool.Done(endless));
    EXPECT_TRUE(pool.Done(dropped));
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

} // namespace

// Entries compressed ahead of the writer by the workers of a pool. Each
// source is read a block at a time, in order, and every block is compressed
// on any worker as the writer alone would compress it; the owner's thread
// writes the entries in the order they were planned, block by block, and
// meets every error and limit where the writer alone would, so the archive
// has the same bytes whatever the number of workers. Without a pool every
// source is added by the writer itself.
//
// The workers take the blocks of the entry the writer waits for first (the
// one it waits for and one a worker after it whatever the budget holds),
// then those after, as far ahead as the results they hold stay within one
// memory budget for all of them; no result goes to disk. A worker stops an
// entry once its data cannot fit in the archive's room.
#pragma once

#include "WorkerPool.h"
#include "ZipCompressor.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace Granite {

class CZipPipeline {
public:
    // The memory that results held ahead of the writer may take, all
    // workers together, counted by what their pieces reserve.
    static constexpr std::uint64_t kMemoryBudget = 64u << 20;
    // How many entries ahead of the writer are planned at most.
    static constexpr std::size_t kMaxAhead = 1024;

    struct CSource {
        std::wstring path;
        std::wstring name;
        std::wstring comment;
        // A log of the run, added as a stream (AddFile's streamEntry).
        bool stream = false;
        // What the file's bytes go through on their way in (null: they go
        // in as they are); `ahead` when made on a worker ahead of the
        // writer's turn.
        std::function<std::unique_ptr<IEntryInput>(Bas::CFile& file, bool ahead)> input;
        // What the file holds, as far as is known: the memory its first
        // block's result may take.
        std::uint64_t size = 0;
        // The deflate level: the strongest for what is collected; the run's
        // own account, megabytes of lines alike, takes a quicker one.
        int level = CZDeflateStream::kBestLevel;
    };

    // The sources in the order they go into the archive, one at a call;
    // false after the last.
    using CSources = std::function<bool(CSource& next)>;
    // An entry's name and comment at the writer's turn, in archive order,
    // before its data (the privacy mask).
    using CNames = std::function<void(std::wstring& name, std::wstring& comment)>;

    // `idle` is called while the writer waits for a worker (the caller's
    // message pump) at most every 10 ms; what it throws ends the wait.
    CZipPipeline(CZipCompressor& zip, Bas::CWorkerPool* pool, CSources sources, Bas::CProgress idle,
                 CNames names = {});
    // Stops the work still under way and gives back what it holds.
    ~CZipPipeline();
    CZipPipeline(const CZipPipeline&) = delete;
    CZipPipeline& operator=(const CZipPipeline&) = delete;

    // Adds the next source to the archive. Its error (the source's or the
    // archive's) is thrown here, in the order the writer alone would meet
    // it, and the archive stays as it was but for the folders the entry
    // needed.
    void AddNext();
    // The time the last entry took: reading and compressing it, on the
    // workers or here, and writing it.
    std::uint32_t LastMilliseconds() const noexcept { return m_lastMilliseconds; }

    // What the workers make of one source, shared with them.
    struct CEntryWork;

private:
    struct CPlanned {
        CSource source;
        std::shared_ptr<CEntryWork> work;
        bool namesDone = false;
    };
    void planAhead();
    // The blocks of the entry the writer waits for start whatever the
    // budget holds, from `block` to one a worker past it: every worker can
    // take a part of one large file, and a writer held up (its window's
    // messages, a modal loop) leaves no more of it in memory than that.
    void setFront(std::uint64_t index, std::size_t block);
    void writeEntry(CPlanned& planned);
    void writeData(CPlanned& planned);
    // The entry at the front leaves the plan.
    void finishFront();
    // The rest of an entry whose data made ahead met what the filter had no
    // stand-in for: made again here, from block `from` on.
    void writeFrom(CPlanned& planned, std::size_t from, CZipCompressor::CEntryData& data);
    // The writer reads and compresses the source itself (no workers).
    void addHere(const CSource& source);
    void addHereAlone(const CSource& source);

    CZipCompressor& m_zip;
    Bas::CWorkerPool* m_pool;
    CSources m_sources;
    bool m_sourcesLeft = true;
    Bas::CProgress m_idle;
    CNames m_names;
    std::deque<CPlanned> m_planned;
    std::uint64_t m_nextIndex = 0;
    std::uint32_t m_lastMilliseconds = 0;
    // The archive's room at most, for the workers to stop an entry that
    // cannot fit.
    std::shared_ptr<std::atomic<std::uint64_t>> m_ceiling = std::make_shared<std::atomic<std::uint64_t>>(0);
    // One deflater a worker, kept for every block it compresses.
    std::shared_ptr<Bas::CSpares<CBlockDeflater>> m_deflaters = std::make_shared<Bas::CSpares<CBlockDeflater>>();
};

} // namespace Granite

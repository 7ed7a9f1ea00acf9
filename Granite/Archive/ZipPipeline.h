// Entries compressed ahead of the writer by the workers of a pool: each
// source is read and deflated on a worker exactly as the writer would do it,
// into memory within a budget the workers share (32 MiB each) and beyond it
// into a temporary file; the owner's thread writes the entries in the order
// they were planned, each once, its sizes and CRC known, so the archive has
// the same bytes as one the writer makes alone. Without a pool every source
// is added by the writer itself, as it always was.
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
    static constexpr std::uint64_t kMemoryPerWorker = 32u << 20;
    // How far ahead of the writer the workers may be: in sources, and in
    // bytes of them.
    static constexpr std::size_t kMaxAhead = 256;
    static constexpr std::uint64_t kBytesAhead = 1024u << 20;

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
        // What the file is likely to hold (0: unknown): larger files start
        // first, and the workers look further ahead past small ones.
        std::uint64_t size = 0;
    };

    // The sources in the order they go into the archive, one at a call;
    // false after the last.
    using CSources = std::function<bool(CSource& next)>;

    // An entry's name and comment at the writer's turn, in archive order,
    // before its data (the privacy mask).
    using CNames = std::function<void(std::wstring& name, std::wstring& comment)>;

    // `idle` is called while the writer waits for a worker (the caller's
    // message pump); what it throws ends the wait. The sources are asked for
    // only as far ahead as the workers compress.
    CZipPipeline(CZipCompressor& zip, Bas::CWorkerPool* pool, CSources sources, Bas::CProgress idle,
                 CNames names = {});
    // Stops the work still under way and removes what it made.
    ~CZipPipeline();
    CZipPipeline(const CZipPipeline&) = delete;
    CZipPipeline& operator=(const CZipPipeline&) = delete;

    // What a worker made of a source besides its data: whether the file
    // opened, and its input, kept for the writer's turn.
    struct CAhead {
        std::atomic<bool> opened{false};
        std::unique_ptr<IEntryInput> input;
        bool voided = false;
    };

    // Adds the next source to the archive. Its error (the source's or the
    // archive's) is thrown here, in the order the writer alone would meet
    // it, and the archive stays as it was.
    void AddNext();

private:
    struct CPlanned {
        CSource source;
        Bas::CWorkerPool::CTaskPtr task;
        std::shared_ptr<CDeflatedEntry> result;
        std::shared_ptr<CAhead> ahead;
        bool namesDone = false;
    };
    void startAhead();
    // The oldest planned source, which the writer adds next, taken off the
    // plan.
    CPlanned takeFront();
    void release(CDeflatedEntry& result);
    // The writer reads and compresses the source itself: without workers,
    // and for an entry whose data made ahead was void.
    void addHere(const CSource& source);

    CZipCompressor& m_zip;
    Bas::CWorkerPool* m_pool;
    CSources m_sources;
    bool m_sourcesLeft = true;
    Bas::CProgress m_idle;
    CNames m_names;
    std::deque<CPlanned> m_planned;
    std::size_t m_started = 0;
    std::uint64_t m_bytesAhead = 0;
    // The compressed bytes held in memory by results not yet written.
    std::shared_ptr<std::atomic<std::uint64_t>> m_inMemory = std::make_shared<std::atomic<std::uint64_t>>(0);
    // One deflater a worker, kept for every entry it compresses.
    std::shared_ptr<Bas::CSpares<CEntryDeflater>> m_deflaters = std::make_shared<Bas::CSpares<CEntryDeflater>>();
};

} // namespace Granite

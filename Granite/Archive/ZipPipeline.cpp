#include "ZipPipeline.h"

#include "ArchiveMessages.h"
#include "File.h"
#include "Lock.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <optional>

namespace Granite {

namespace {

// A block's order in the pool: its entry first, then its place in it.
constexpr unsigned kBlockBits = 20;
constexpr std::uint64_t kBlockMask = (std::uint64_t(1) << kBlockBits) - 1;

std::uint64_t Order(std::uint64_t entry, std::size_t block)
{
    return entry << kBlockBits | block;
}

std::int64_t Ticks()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::uint32_t Milliseconds(std::int64_t ticks)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint32_t>(std::min<std::int64_t>(ticks * 1000 / frequency.QuadPart, 0xFFFFFFFF));
}

} // namespace

struct CZipPipeline::CEntryWork {
    struct CSlot {
        Bas::CWorkerPool::CTaskPtr task;
        // The end of the input before this block, its dictionary.
        std::string dictionary;
        std::uint64_t reserve = 0;
        CBlockDeflater::CBlock block;
        bool ready = false;
        // The filter met what it has no stand-in for yet: from here on the
        // entry is made again at the writer's turn.
        bool voided = false;
        // Not read: the entry is given up (or cannot fit).
        bool stopped = false;
    };

    CSource source;
    std::uint64_t index = 0;
    Bas::CWorkerPool* pool = nullptr;
    std::shared_ptr<Bas::CSpares<CBlockDeflater>> deflaters;
    std::shared_ptr<std::atomic<std::uint64_t>> ceiling;

    // Made by the first block's task, used by each block's task in turn.
    std::optional<Bas::CFile> file;
    std::unique_ptr<IEntryInput> filtered;
    std::optional<CFileInput> plain;
    IEntryInput* input = nullptr;
    bool opened = false;
    bool inputReady = false;
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    std::uint32_t attributes = 0;
    std::uint64_t sourceLength = 0;
    std::uint64_t taken = 0;
    std::atomic<std::uint64_t> output{0};
    std::atomic<bool> stop{false};
    // The time its tasks took, on whatever thread.
    std::atomic<std::int64_t> ticks{0};

    Bas::CLock lock;
    bool abandoned = false;
    std::deque<CSlot> slots;

    CSlot& Slot(std::size_t at)
    {
        std::lock_guard guard(lock);
        return slots[at];
    }

    // Queues the task of block `at`, whose slot exists.
    void QueueBlock(const std::shared_ptr<CEntryWork>& self, std::size_t at);
    // What a worker does for one block: the first opens the source; each
    // reads its block, queues the next and compresses its own.
    void RunBlock(const std::shared_ptr<CEntryWork>& self, std::size_t at);
    void open();
    // The source will not be read again (only an entry whose data turned
    // void is, at the writer's turn): its input and what it holds (the
    // mask's buffers) go, and the file is closed. It is open for reading
    // alone, and the program that writes it may want it meanwhile, as it
    // may once the writer alone has read it.
    void letGo();
    // The entry leaves the pipeline: what its blocks hold goes back, and
    // the blocks not yet read never will be.
    void Abandon();
};

void CZipPipeline::CEntryWork::QueueBlock(const std::shared_ptr<CEntryWork>& self, std::size_t at)
{
    CSlot& slot = slots[at];
    slot.task = pool->Queue([self, at] { self->RunBlock(self, at); }, Order(index, at), slot.reserve);
}

void CZipPipeline::CEntryWork::open()
{
    file.emplace(source.path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    opened = true;
    CZipCompressor::SourceStatus(*file, source.stream, dosDate, dosTime, attributes);
    if (source.input)
        filtered = source.input(*file, true);
    if (filtered) {
        input = filtered.get();
    } else {
        plain.emplace(*file);
        input = &*plain;
    }
    sourceLength = input->SourceLength();
    inputReady = true;
}

void CZipPipeline::CEntryWork::RunBlock(const std::shared_ptr<CEntryWork>& self, std::size_t at)
{
    CSlot& slot = Slot(at);
    struct CTimed {
        std::atomic<std::int64_t>& ticks;
        std::int64_t start = Ticks();
        ~CTimed() { ticks += Ticks() - start; }
    } timed{ticks};
    // The memory reserved for the block when the task started: what its
    // result takes instead once it is kept, nothing when it is not.
    std::int64_t unreserve = -static_cast<std::int64_t>(slot.reserve);
    struct CGiveBack {
        Bas::CWorkerPool& pool;
        const std::int64_t& bytes;
        ~CGiveBack() { pool.Hold(bytes); }
    } giveBack{*pool, unreserve};
    pool->ThrowIfCancelled();
    if (at == 0)
        open();
    if (stop || (at == 0 && sourceLength > CBlockDeflater::kMaxEntrySize)) {
        slot.stopped = true;
        letGo();
        return;
    }
    const Bas::CSpares<CBlockDeflater>::CLease deflater(*deflaters);
    unsigned char* buffer = deflater->Buffer();
    bool last = false;
    const std::size_t size = CBlockDeflater::ReadBlock(*input, taken, buffer, last);
    if (input->Void()) {
        slot.voided = true;
        return;
    }
    if (last)
        letGo();
    // The next block is read by the next task, while this one compresses.
    if (!last && !stop) {
        std::lock_guard guard(lock);
        if (!abandoned) {
            CSlot& next = slots.emplace_back();
            const std::size_t keep = std::min(size, CBlockDeflater::kDictionarySize);
            next.dictionary.assign(reinterpret_cast<const char*>(buffer + size - keep), keep);
            next.reserve = CBlockDeflater::ReserveFor(input->SameLength() ? sourceLength - std::min(sourceLength, taken)
                                                                          : CBlockDeflater::kBlockSize);
            QueueBlock(self, at + 1);
        }
    }
    CBlockDeflater::CBlock block;
    deflater->Deflate(buffer, size, slot.dictionary, last, block, source.level);
    // Data that cannot fit in the archive any more ends the entry's
    // reading: the writer refuses it for certain.
    if (output += block.outputSize; output > *ceiling)
        stop = true;
    std::lock_guard guard(lock);
    if (abandoned)
        return;
    unreserve = static_cast<std::int64_t>(block.Reserved()) - static_cast<std::int64_t>(slot.reserve);
    slot.block = std::move(block);
    slot.ready = true;
}

void CZipPipeline::CEntryWork::letGo()
{
    input = nullptr;
    filtered.reset();
    plain.reset();
    file->Close();
}

void CZipPipeline::CEntryWork::Abandon()
{
    std::lock_guard guard(lock);
    abandoned = true;
    stop = true;
    for (CSlot& slot : slots)
        if (slot.ready) {
            pool->Release(slot.block.Reserved());
            slot.block = {};
            slot.ready = false;
        }
}

CZipPipeline::CZipPipeline(CZipCompressor& zip, Bas::CWorkerPool* pool, CSources sources, Bas::CProgress idle,
                           CNames names)
    : m_zip(zip), m_pool(pool != nullptr && pool->Workers() > 0 ? pool : nullptr), m_sources(std::move(sources)),
      m_idle(std::move(idle)), m_names(std::move(names))
{
    *m_ceiling = m_zip.RoomCeiling();
    if (m_pool != nullptr)
        m_pool->SetBudget(kMemoryBudget);
}

CZipPipeline::~CZipPipeline()
{
    if (m_pool == nullptr)
        return;
    // Nothing a worker still does may outlive what it writes into.
    m_pool->Cancel();
    for (CPlanned& planned : m_planned)
        planned.work->Abandon();
    m_pool->SetBudget(0);
}

void CZipPipeline::planAhead()
{
    // The sources are taken only as far ahead as this; the memory their
    // results take is what bounds the workers.
    while (m_sourcesLeft && m_planned.size() < kMaxAhead) {
        CSource source;
        if (!(m_sourcesLeft = m_sources(source)))
            return;
        auto work = std::make_shared<CEntryWork>();
        work->source.path = source.path;
        work->source.stream = source.stream;
        work->source.input = source.input;
        work->source.level = source.level;
        work->index = m_nextIndex++;
        work->pool = m_pool;
        work->deflaters = m_deflaters;
        work->ceiling = m_ceiling;
        CEntryWork::CSlot& first = work->slots.emplace_back();
        first.reserve = CBlockDeflater::ReserveFor(source.size);
        work->QueueBlock(work, 0);
        m_planned.push_back({std::move(source), std::move(work), false});
    }
}

void CZipPipeline::addHere(const CSource& source)
{
    const std::int64_t start = Ticks();
    struct CTimed {
        std::uint32_t& milliseconds;
        std::int64_t start;
        ~CTimed() { milliseconds = Milliseconds(Ticks() - start); }
    } timed{m_lastMilliseconds, start};
    // What a source holds may drive an allocation too large: the entry's
    // error is the out-of-memory one, as on a worker.
    try {
        addHereAlone(source);
    } catch (const std::bad_alloc&) {
        Bas::ThrowMemory();
    }
}

void CZipPipeline::addHereAlone(const CSource& source)
{
    Bas::CFile file(source.path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    std::uint32_t attributes = 0;
    CZipCompressor::SourceStatus(file, source.stream, dosDate, dosTime, attributes);
    const std::unique_ptr<IEntryInput> filtered = source.input ? source.input(file, false) : nullptr;
    CFileInput plain(file);
    IEntryInput& input = filtered ? *filtered : plain;
    m_zip.AddStream(
        input, source.name, source.comment, dosDate, dosTime, attributes,
        [this] {
            if (m_idle)
                m_idle();
        },
        source.level);
}

void CZipPipeline::AddNext()
{
    if (m_pool == nullptr) {
        CSource source;
        const bool more = m_sources(source);
        BAS_ASSERT(more);
        if (m_names)
            m_names(source.name, source.comment);
        addHere(source);
        return;
    }
    planAhead();
    BAS_ASSERT(!m_planned.empty());
    CPlanned& planned = m_planned.front();
    setFront(planned.work->index, 0);
    // The name and comment in archive order, once, before the data.
    if (!planned.namesDone) {
        planned.namesDone = true;
        if (m_names)
            m_names(planned.source.name, planned.source.comment);
    }
    writeEntry(planned);
}

void CZipPipeline::setFront(std::uint64_t index, std::size_t block)
{
    m_pool->SetFront(Order(index, std::min<std::uint64_t>(block + m_pool->Workers(), kBlockMask)));
}

void CZipPipeline::writeEntry(CPlanned& planned)
{
    // The entry's time: its tasks' on the workers and the writer's own.
    struct CTimed {
        std::uint32_t& milliseconds;
        std::shared_ptr<CEntryWork> work;
        std::int64_t start = Ticks();
        ~CTimed() { milliseconds = Milliseconds(work->ticks + (Ticks() - start)); }
    } timed{m_lastMilliseconds, planned.work};
    // Whatever becomes of the entry, it leaves the plan and what it holds
    // goes; only a quit leaves it for the destructor to stop.
    try {
        writeData(planned);
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException*) {
        finishFront();
        throw;
    } catch (const std::bad_alloc&) {
        finishFront();
        Bas::ThrowMemory();
    }
    finishFront();
}

void CZipPipeline::finishFront()
{
    m_planned.front().work->Abandon();
    m_planned.pop_front();
    // Published only between entries: an entry cut back leaves the archive
    // as long as it was before it, so the room never grows past this.
    *m_ceiling = m_zip.RoomCeiling();
}

void CZipPipeline::writeData(CPlanned& planned)
{
    CEntryWork& work = *planned.work;
    const auto slot = [&](std::size_t at) -> CEntryWork::CSlot* {
        std::lock_guard guard(work.lock);
        return at < work.slots.size() ? &work.slots[at] : nullptr;
    };
    // The writer alone meets a source it cannot open (or filter) before the
    // archive's limits, and one it cannot read after them, its folders
    // written.
    Bas::CExceptionPtr error;
    try {
        m_pool->Wait(slot(0)->task, m_idle);
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException* raw) {
        error = Bas::Own(raw);
        if (!work.inputReady)
            Bas::Rethrow(std::move(error));
    }
    CZipCompressor::CEntryData data(m_zip, planned.source.name, planned.source.comment, work.dosDate, work.dosTime,
                                    work.attributes);
    data.CheckLength(work.sourceLength);
    if (error)
        Bas::Rethrow(std::move(error));
    for (std::size_t at = 0;; ++at) {
        CEntryWork::CSlot* block = slot(at);
        // A worker stops reading only once the data cannot fit: the blocks
        // before have been refused then.
        if (block == nullptr)
            Bas::ThrowCheck(ERR_ZIP_ARCHIVE_TOO_LARGE, data.StoredName());
        if (at > 0) {
            setFront(work.index, at);
            m_pool->Wait(block->task, m_idle);
        }
        if (block->voided) {
            writeFrom(planned, at, data);
            break;
        }
        if (block->stopped)
            Bas::ThrowCheck(ERR_ZIP_ARCHIVE_TOO_LARGE, data.StoredName());
        data.Add(block->block);
        const bool last = block->block.last;
        {
            std::lock_guard guard(work.lock);
            m_pool->Release(block->block.Reserved());
            block->block = {};
            block->ready = false;
        }
        if (last)
            break;
    }
    data.End();
}

void CZipPipeline::writeFrom(CPlanned& planned, std::size_t from, CZipCompressor::CEntryData& data)
{
    CEntryWork& work = *planned.work;
    // The blocks before were made with stand-ins given already, so they
    // come out the same; they are read again only to bring the filter where
    // they end. Their dictionary is what was read the first time, which the
    // data written holds, whatever the file holds now.
    work.file->Seek(0);
    const std::unique_ptr<IEntryInput> input = planned.source.input(*work.file, false);
    const Bas::CSpares<CBlockDeflater>::CLease deflater(*m_deflaters);
    unsigned char* buffer = deflater->Buffer();
    std::uint64_t taken = 0;
    bool last = false;
    for (std::size_t at = 0; at < from && !last; ++at)
        CBlockDeflater::ReadBlock(*input, taken, buffer, last);
    std::string dictionary = work.Slot(from).dictionary;
    std::size_t size = 0;
    // A file that shrank meanwhile ends where it was read the first time.
    while (true) {
        if (!last)
            size = CBlockDeflater::ReadBlock(*input, taken, buffer, last);
        else
            size = 0;
        CBlockDeflater::CBlock block;
        deflater->Deflate(buffer, size, dictionary, last, block, work.source.level);
        data.Add(block);
        if (last)
            break;
        const std::size_t keep = std::min(size, CBlockDeflater::kDictionarySize);
        dictionary.assign(reinterpret_cast<const char*>(buffer + size - keep), keep);
        if (m_idle)
            m_idle();
    }
}

} // namespace Granite

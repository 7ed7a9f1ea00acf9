#include "ZipPipeline.h"

#include "File.h"
#include "TempFile.h"

#include <optional>

namespace Granite {

namespace {

// The time and attributes of a source's entry: from the file it was copied
// from when there is one, else its own.
void SourceStatus(const CZipPipeline::CSource& source, const Bas::CFile& input, CDeflatedEntry& result)
{
    Bas::CFile original;
    const bool fromOriginal = !source.statusPath.empty() &&
                              original.TryOpen(source.statusPath, Bas::CFile::OpenRead | Bas::CFile::ShareRead |
                                                                      Bas::CFile::ShareWrite);
    CZipCompressor::SourceStatus(fromOriginal ? original : input, source.stream, result.dosDate, result.dosTime,
                                 result.attributes);
}

// What a worker does for one source: open it, take its status, deflate it.
void DeflateSource(const CZipPipeline::CSource& source, const std::wstring& stored, CDeflatedEntry& result,
                   std::atomic<bool>& opened, std::atomic<std::uint64_t>& inMemory, std::uint64_t budget,
                   const Bas::CWorkerPool& pool, Bas::CSpares<CEntryDeflater>& deflaters)
{
    pool.ThrowIfCancelled();
    const Bas::CSpares<CEntryDeflater>::CLease deflater(deflaters);
    Bas::CFile input(source.path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    opened = true;
    SourceStatus(source, input, result);
    std::optional<Bas::CFile> spill;
    const auto output = [&](const unsigned char* data, std::size_t size) {
        if (!spill) {
            if (inMemory.fetch_add(size) + size <= budget) {
                result.data.append(reinterpret_cast<const char*>(data), size);
                return;
            }
            // Past the budget this result goes on in a temporary file.
            inMemory.fetch_sub(size);
            result.dataFile = Bas::CreateTempFile(Bas::GetTempFolder(), L"GZP", L"tmp");
            spill.emplace(result.dataFile, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
            spill->Write(result.data.data(), result.data.size());
            inMemory.fetch_sub(result.data.size());
            std::string().swap(result.data);
        }
        spill->Write(data, size);
    };
    result.sizes = deflater->Deflate(input, stored, output, [&] { pool.ThrowIfCancelled(); });
    if (spill)
        spill->Close();
}

} // namespace

CZipPipeline::CZipPipeline(CZipCompressor& zip, Bas::CWorkerPool* pool, CSources sources, Bas::CProgress idle)
    : m_zip(zip), m_pool(pool != nullptr && pool->Workers() > 0 ? pool : nullptr), m_sources(std::move(sources)),
      m_idle(std::move(idle))
{
}

CZipPipeline::~CZipPipeline()
{
    if (m_started == 0)
        return;
    // Nothing a worker still does may outlive what it writes into.
    m_pool->Cancel();
    for (CPlanned& planned : m_planned) {
        if (planned.result)
            release(*planned.result);
        removeTemporary(planned.source);
    }
}

void CZipPipeline::release(CDeflatedEntry& result)
{
    m_inMemory->fetch_sub(result.data.size());
    std::string().swap(result.data);
    if (!result.dataFile.empty()) {
        if (Bas::IsTempFile(result.dataFile))
            Bas::DeleteTempFile(result.dataFile);
        result.dataFile.clear();
    }
}

void CZipPipeline::startAhead()
{
    // Far enough ahead of the writer that a large file does not start last
    // and run alone, and that small files hide each other's waits; the
    // memory of the results stays within the budget whatever the distance.
    const std::uint64_t budget = kMemoryPerWorker * m_pool->Workers();
    while (m_started < kMaxAhead && (m_started == 0 || m_bytesAhead < kBytesAhead)) {
        if (m_started == m_planned.size()) {
            CSource source;
            if (!m_sourcesLeft || !(m_sourcesLeft = m_sources(source)))
                return;
            m_planned.push_back({std::move(source), nullptr, nullptr, nullptr});
        }
        CPlanned& planned = m_planned[m_started++];
        m_bytesAhead += planned.source.size;
        planned.result = std::make_shared<CDeflatedEntry>();
        planned.opened = std::make_shared<std::atomic<bool>>(false);
        if (planned.source.refused)
            continue; // nothing to read: AddNext gives the error
        auto copy = std::make_shared<CSource>();
        copy->path = planned.source.path;
        copy->stream = planned.source.stream;
        copy->statusPath = planned.source.statusPath;
        const std::uint64_t cost = planned.source.size;
        planned.task = m_pool->Queue([source = std::move(copy), stored = CZipCompressor::NormalizeName(planned.source.name),
                                      result = planned.result, opened = planned.opened, inMemory = m_inMemory, budget,
                                      pool = m_pool, deflaters = m_deflaters] {
            DeflateSource(*source, stored, *result, *opened, *inMemory, budget, *pool, *deflaters);
        }, cost);
    }
}

CZipPipeline::CPlanned CZipPipeline::takeFront()
{
    CPlanned planned = std::move(m_planned.front());
    m_planned.pop_front();
    --m_started;
    m_bytesAhead -= planned.source.size;
    return planned;
}

void CZipPipeline::removeTemporary(const CSource& source)
{
    if (source.temporary && Bas::IsTempFile(source.path))
        Bas::DeleteTempFile(source.path);
}

void CZipPipeline::addHere(const CSource& source)
{
    Bas::CFile input(source.path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    CDeflatedEntry status;
    SourceStatus(source, input, status);
    m_zip.AddStream(input, source.name, source.comment, status.dosDate, status.dosTime, status.attributes);
}

void CZipPipeline::AddNext()
{
    if (m_pool == nullptr) {
        CSource source;
        const bool more = m_sources(source);
        BAS_ASSERT(more);
        struct CRemove {
            const CSource& source;
            ~CRemove() { removeTemporary(source); }
        } remove{source};
        if (source.refused)
            Bas::Rethrow(std::move(source.refused));
        addHere(source);
        return;
    }
    startAhead();
    BAS_ASSERT(!m_planned.empty());
    if (m_planned.front().source.refused) {
        CPlanned planned = takeFront();
        removeTemporary(planned.source);
        startAhead();
        Bas::Rethrow(std::move(planned.source.refused));
    }
    Bas::CExceptionPtr error;
    try {
        m_pool->Wait(m_planned.front().task, m_idle);
    } catch (Bas::CException* raw) {
        error = Bas::Own(raw);
        // Ended by the wait itself (a quit while the work goes on): the
        // entry stays planned for the destructor to stop.
        if (!m_pool->Done(m_planned.front().task))
            Bas::Rethrow(std::move(error));
    }
    CPlanned planned = takeFront();
    // Whatever happens to this entry, its data goes and the next ones start.
    struct CDone {
        CZipPipeline& pipeline;
        CPlanned& planned;
        ~CDone()
        {
            pipeline.release(*planned.result);
            removeTemporary(planned.source);
        }
    } done{*this, planned};
    startAhead();
    if (error) {
        // The writer alone meets a source it cannot open before the limits
        // of the archive, and one it cannot read after them: then a limit's
        // error is the one to give.
        if (*planned.opened && dynamic_cast<Bas::CUserException*>(error.get()) == nullptr)
            m_zip.CheckEntry(planned.source.name, planned.source.comment);
        Bas::Rethrow(std::move(error));
    }
    m_zip.AddDeflated(*planned.result, planned.source.name, planned.source.comment);
}

} // namespace Granite

#include "ZipPipeline.h"

#include "File.h"
#include "TempFile.h"

#include <optional>
#include <vector>

namespace Granite {

namespace {

// Thrown inside a worker once its input's data is void: the rest of the
// input is then only read, not compressed.
struct CVoidData {
};

// Reads the rest of an input whose data will not be used; it goes on only
// so far as the source can be read.
void ReadToTheEnd(IEntryInput& input, const Bas::CWorkerPool& pool)
{
    std::vector<unsigned char> block(CEntryDeflater::kChunkSize);
    try {
        while (input.Read(block.data(), block.size()) > 0)
            pool.ThrowIfCancelled();
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
    }
}

// What a worker does for one source: open it, take its status, deflate it.
void DeflateSource(const CZipPipeline::CSource& source, const std::wstring& stored, CDeflatedEntry& result,
                   CZipPipeline::CAhead& ahead, std::atomic<std::uint64_t>& inMemory, std::uint64_t budget,
                   const Bas::CWorkerPool& pool, Bas::CSpares<CEntryDeflater>& deflaters)
{
    pool.ThrowIfCancelled();
    const Bas::CSpares<CEntryDeflater>::CLease deflater(deflaters);
    Bas::CFile file(source.path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    ahead.opened = true;
    CZipCompressor::SourceStatus(file, source.stream, result.dosDate, result.dosTime, result.attributes);
    CFileInput plain(file);
    if (source.input)
        ahead.input = source.input(file, true);
    IEntryInput& input = ahead.input ? *ahead.input : plain;
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
    try {
        result.sizes = deflater->Deflate(input, stored, output, [&] {
            pool.ThrowIfCancelled();
            if (input.Void())
                throw CVoidData();
        });
    } catch (const CVoidData&) {
        // What the input still holds is read for what it finds; the data
        // is made again at the writer's turn.
        ReadToTheEnd(input, pool);
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException*) {
        // Refused once its data has begun: the writer alone reads the rest
        // of a filtered input all the same.
        if (ahead.input)
            ReadToTheEnd(input, pool);
        throw;
    }
    ahead.voided = input.Void();
    if (spill)
        spill->Close();
}

} // namespace

CZipPipeline::CZipPipeline(CZipCompressor& zip, Bas::CWorkerPool* pool, CSources sources, Bas::CProgress idle,
                           CNames names)
    : m_zip(zip), m_pool(pool != nullptr && pool->Workers() > 0 ? pool : nullptr), m_sources(std::move(sources)),
      m_idle(std::move(idle)), m_names(std::move(names))
{
}

CZipPipeline::~CZipPipeline()
{
    if (m_started == 0)
        return;
    // Nothing a worker still does may outlive what it writes into.
    m_pool->Cancel();
    for (CPlanned& planned : m_planned)
        if (planned.result)
            release(*planned.result);
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
        planned.ahead = std::make_shared<CAhead>();
        auto copy = std::make_shared<CSource>();
        copy->path = planned.source.path;
        copy->stream = planned.source.stream;
        copy->input = planned.source.input;
        const std::uint64_t cost = planned.source.size;
        planned.task = m_pool->Queue([source = std::move(copy), stored = CZipCompressor::NormalizeName(planned.source.name),
                                      result = planned.result, ahead = planned.ahead, inMemory = m_inMemory, budget,
                                      pool = m_pool, deflaters = m_deflaters] {
            DeflateSource(*source, stored, *result, *ahead, *inMemory, budget, *pool, *deflaters);
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

void CZipPipeline::addHere(const CSource& source)
{
    Bas::CFile file(source.path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    CDeflatedEntry status;
    CZipCompressor::SourceStatus(file, source.stream, status.dosDate, status.dosTime, status.attributes);
    // An entry the archive refuses is refused before its file is read, as
    // at the turn of an entry made ahead.
    m_zip.CheckEntry(source.name, source.comment);
    CFileInput plain(file);
    const std::unique_ptr<IEntryInput> filtered = source.input ? source.input(file, false) : nullptr;
    IEntryInput& input = filtered ? *filtered : plain;
    try {
        m_zip.AddStream(input, source.name, source.comment, status.dosDate, status.dosTime, status.attributes);
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException*) {
        // A filter finds what it finds in the whole of what can be read,
        // also when the entry is refused once its data has begun: so the
        // same is found whether or not a worker read the file ahead.
        if (filtered) {
            std::vector<unsigned char> block(CEntryDeflater::kChunkSize);
            try {
                while (filtered->Read(block.data(), block.size()) > 0) {
                }
            } catch (Bas::CUserException*) {
                throw;
            } catch (Bas::CException* raw) {
                auto error = Bas::Own(raw);
            }
        }
        throw;
    }
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
    startAhead();
    BAS_ASSERT(!m_planned.empty());
    // The name and comment in archive order, once, before the data.
    if (!m_planned.front().namesDone) {
        m_planned.front().namesDone = true;
        if (m_names)
            m_names(m_planned.front().source.name, m_planned.front().source.comment);
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
        ~CDone() { pipeline.release(*planned.result); }
    } done{*this, planned};
    startAhead();
    const bool user = error && dynamic_cast<Bas::CUserException*>(error.get()) != nullptr;
    // The writer alone meets a source it cannot open before the limits of
    // the archive, and one it cannot read after them: then a limit's error
    // is the one to give. What a filter found while it read takes effect
    // where the writer alone would have read too: for an entry that fails
    // here (one whose data was void is read again below, and what it finds
    // takes effect then, as the writer alone finds it).
    if (planned.ahead->opened && !user) {
        m_zip.CheckEntry(planned.source.name, planned.source.comment);
        if (error && planned.ahead->input)
            planned.ahead->input->Settle();
    }
    if (error)
        Bas::Rethrow(std::move(error));
    if (planned.ahead->voided) {
        addHere(planned.source);
        return;
    }
    m_zip.AddDeflated(*planned.result, planned.source.name, planned.source.comment);
}

} // namespace Granite

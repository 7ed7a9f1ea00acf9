#include "ZipVerifier.h"

#include "Errors.h"
#include "File.h"
#include "ArchiveMessages.h"
#include "MemoryBuffer.h"

#include <zlib.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

namespace Granite {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::size_t kEndSize = 22;

std::uint16_t U16(const unsigned char* at)
{
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

std::uint32_t U32(const unsigned char* at)
{
    return U16(at) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
}

class CVerification {
public:
    CVerification(const std::wstring& path) : m_path(path), m_file(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead) {}

    [[noreturn]] void Fail(const Bas::CMessageName& reason) const
    {
        Bas::ThrowCheck(ERR_ZIP_ARCHIVE_DAMAGED, m_path, Bas::GetText(reason));
    }
    [[noreturn]] void Fail(const Bas::CMessageName& reason, const std::wstring& entry) const
    {
        Bas::ThrowCheck(ERR_ZIP_ARCHIVE_DAMAGED, m_path, Bas::Format(reason, entry));
    }

    // The archive is read front to back in two places at once, the central
    // directory and the entries, so a window over each serves the many small
    // reads of records, headers and data without a seek each.
    struct CWindow {
        std::vector<unsigned char> bytes = std::vector<unsigned char>(CZipCompressor::kChunkSize);
        std::uint64_t start = 0;
        std::size_t size = 0;
    };

    // Exactly `size` bytes from `offset`; fewer means the archive is short.
    void Read(CWindow& window, std::uint64_t offset, void* buffer, std::size_t size)
    {
        auto* bytes = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            if (offset < window.start || offset >= window.start + window.size) {
                m_file.Seek(offset);
                window.start = offset;
                window.size = m_file.Read(window.bytes.data(), window.bytes.size());
                if (window.size == 0)
                    Fail(MSG_ZIP_CUT_SHORT);
            }
            const std::size_t at = static_cast<std::size_t>(offset - window.start);
            const std::size_t count = std::min(size, window.size - at);
            std::memcpy(bytes, window.bytes.data() + at, count);
            bytes += count;
            offset += count;
            size -= count;
        }
    }
    void Read(std::uint64_t offset, void* buffer, std::size_t size) { Read(m_data, offset, buffer, size); }
    void ReadDirectory(std::uint64_t offset, void* buffer, std::size_t size) { Read(m_directory, offset, buffer, size); }

    std::uint64_t Length() const { return m_file.GetLength(); }

private:
    std::wstring m_path;
    Bas::CFile m_file;
    CWindow m_data;
    CWindow m_directory;
};

// One inflate state and two buffers for all entries of an archive.
class CInflater {
public:
    CInflater()
    {
        m_in.SetCommittedSize(m_in.Capacity());
        m_out.SetCommittedSize(m_out.Capacity());
        if (inflateInit2(&m_stream, -15) != Z_OK)
            Bas::ThrowCheck(ERR_ZLIB_INIT_FAILED);
    }
    ~CInflater() { inflateEnd(&m_stream); }
    CInflater(const CInflater&) = delete;
    CInflater& operator=(const CInflater&) = delete;

    z_stream& Stream()
    {
        inflateReset(&m_stream);
        return m_stream;
    }
    CMemoryBuffer& In() noexcept { return m_in; }
    CMemoryBuffer& Out() noexcept { return m_out; }

private:
    CMemoryBuffer m_in{CZipCompressor::kChunkSize};
    CMemoryBuffer m_out{CZipCompressor::kChunkSize};
    z_stream m_stream = {};
};

// Inflates the entry's data, checking its sizes and CRC-32.
void CheckData(CVerification& archive, CInflater& inflater, const CZipEntry& entry, std::uint64_t dataOffset,
               const Bas::CProgress& progress)
{
    if (entry.method == 0) {
        if (entry.compressedSize != 0 || entry.uncompressedSize != 0)
            archive.Fail(MSG_ZIP_DATA_DIFFERS, FromUtf8(entry.Name()));
        return;
    }
    CMemoryBuffer& in = inflater.In();
    CMemoryBuffer& out = inflater.Out();
    z_stream& stream = inflater.Stream();
    std::uint64_t offset = dataOffset;
    std::uint64_t left = entry.compressedSize;
    std::uint64_t produced = 0;
    uLong crc = crc32(0, Z_NULL, 0);
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            if (left == 0)
                archive.Fail(MSG_ZIP_DATA_DIFFERS, FromUtf8(entry.Name()));
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, in.Capacity()));
            archive.Read(offset, in.Data(), chunk);
            offset += chunk;
            left -= chunk;
            stream.next_in = in.Data();
            stream.avail_in = static_cast<uInt>(chunk);
        }
        stream.next_out = out.Data();
        stream.avail_out = static_cast<uInt>(out.Capacity());
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            archive.Fail(MSG_ZIP_DATA_DIFFERS, FromUtf8(entry.Name()));
        const std::size_t count = out.Capacity() - stream.avail_out;
        crc = crc32(crc, out.Data(), static_cast<uInt>(count));
        produced += count;
        if (progress)
            progress();
    }
    if (left != 0 || stream.avail_in != 0 || produced != entry.uncompressedSize || crc != entry.crc32)
        archive.Fail(MSG_ZIP_DATA_DIFFERS, FromUtf8(entry.Name()));
}

// The data checks of an archive on the workers of a pool: the entries go in
// batches of a few megabytes, each read through a file handle of its own;
// the results are taken in the archive's order, so the first wrong entry is
// the one reported.
class CDataChecks {
public:
    CDataChecks(const std::wstring& path, Bas::CWorkerPool& pool, const Bas::CProgress& progress)
        : m_path(path), m_pool(pool), m_progress(progress)
    {
    }
    ~CDataChecks()
    {
        if (!m_pending.empty())
            m_pool.Cancel();
    }
    CDataChecks(const CDataChecks&) = delete;
    CDataChecks& operator=(const CDataChecks&) = delete;

    void Add(const CZipEntry& entry, std::uint64_t dataOffset)
    {
        m_batch.push_back({&entry, dataOffset});
        m_batchBytes += entry.compressedSize;
        if (m_batchBytes >= kBatchBytes || m_batch.size() >= kBatchEntries)
            flush();
    }
    // Waits for every check; the first failure is thrown.
    void Finish()
    {
        flush();
        while (!m_pending.empty())
            waitOldest();
    }

private:
    static constexpr std::uint64_t kBatchBytes = 8u << 20;
    static constexpr std::size_t kBatchEntries = 512;
    // The records outlive the checks: the caller's list of what was written.
    using CBatch = std::vector<std::pair<const CZipEntry*, std::uint64_t>>;

    void flush()
    {
        if (m_batch.empty())
            return;
        if (m_pending.size() >= 2 * static_cast<std::size_t>(m_pool.Workers()))
            waitOldest();
        Bas::CWorkerPool& pool = m_pool;
        m_pending.push_back(pool.Queue([path = m_path, batch = std::move(m_batch), &pool, inflaters = m_inflaters] {
            // One inflater a worker, kept for every entry it checks.
            const Bas::CSpares<CInflater>::CLease inflater(*inflaters);
            CVerification archive(path);
            for (const auto& [entry, offset] : batch)
                CheckData(archive, *inflater, *entry, offset, [&pool] { pool.ThrowIfCancelled(); });
        }));
        m_batch.clear();
        m_batchBytes = 0;
    }
    void waitOldest()
    {
        const Bas::CWorkerPool::CTaskPtr task = m_pending.front();
        m_pool.Wait(task, m_progress);
        m_pending.pop_front();
    }

    std::wstring m_path;
    Bas::CWorkerPool& m_pool;
    const Bas::CProgress& m_progress;
    CBatch m_batch;
    std::uint64_t m_batchBytes = 0;
    std::deque<Bas::CWorkerPool::CTaskPtr> m_pending;
    std::shared_ptr<Bas::CSpares<CInflater>> m_inflaters = std::make_shared<Bas::CSpares<CInflater>>();
};

// The end record, the central records and the local headers against what
// was written; each entry's data here, or through `checks` when given.
void verifyArchive(CVerification& archive, const std::vector<CZipEntry>& written, const Bas::CProgress& progress,
                   CDataChecks* checks)
{
    const std::uint64_t length = archive.Length();
    if (length < kEndSize)
        archive.Fail(MSG_ZIP_CUT_SHORT);
    unsigned char end[kEndSize];
    archive.Read(length - kEndSize, end, kEndSize);
    // The writer puts no archive comment: the end record is the last 22 bytes.
    const std::uint32_t directorySize = U32(end + 12);
    const std::uint32_t directoryStart = U32(end + 16);
    if (U32(end) != kEndSignature || U16(end + 8) != written.size() || U16(end + 10) != written.size() ||
        std::uint64_t{directoryStart} + directorySize != length - kEndSize)
        archive.Fail(U32(end) != kEndSignature ? MSG_ZIP_CUT_SHORT : MSG_ZIP_DIRECTORY_DIFFERS);

    // The directory is read record by record, never whole: it grows with
    // the entries.
    const std::uint64_t directoryEnd = std::uint64_t{directoryStart} + directorySize;
    std::uint64_t at = directoryStart;
    CInflater inflater;
    std::string names;
    for (const CZipEntry& entry : written) {
        const std::string_view name = entry.Name();
        const std::string_view comment = entry.Comment();
        if (at + 46 + name.size() + comment.size() > directoryEnd)
            archive.Fail(MSG_ZIP_DIRECTORY_DIFFERS);
        unsigned char record[46];
        archive.ReadDirectory(at, record, sizeof(record));
        names.resize(entry.names.size());
        archive.ReadDirectory(at + 46, names.data(), names.size());
        const bool same = U32(record) == kCentralSignature && U16(record + 10) == entry.method &&
                          U16(record + 12) == entry.dosTime && U16(record + 14) == entry.dosDate &&
                          U32(record + 16) == entry.crc32 && U32(record + 20) == entry.compressedSize &&
                          U32(record + 24) == entry.uncompressedSize && U16(record + 28) == name.size() &&
                          U16(record + 30) == 0 && U16(record + 32) == comment.size() &&
                          U32(record + 38) == entry.externalAttributes && U32(record + 42) == entry.localHeaderOffset &&
                          names == entry.names;
        if (!same)
            archive.Fail(MSG_ZIP_DIRECTORY_DIFFERS);
        at += 46 + name.size() + comment.size();

        // The local header repeats the central record but for the comment.
        std::string local(30 + name.size(), '\0');
        archive.Read(entry.localHeaderOffset, local.data(), local.size());
        const auto* header = reinterpret_cast<const unsigned char*>(local.data());
        if (U32(header) != kLocalSignature || std::memcmp(header + 4, record + 6, 26) != 0 ||
            local.compare(30, std::string::npos, name) != 0)
            archive.Fail(MSG_ZIP_LOCAL_HEADER_DIFFERS, FromUtf8(entry.Name()));
        if (checks != nullptr)
            checks->Add(entry, entry.localHeaderOffset + local.size());
        else
            CheckData(archive, inflater, entry, entry.localHeaderOffset + local.size(), progress);
    }
    if (at != directoryEnd)
        archive.Fail(MSG_ZIP_DIRECTORY_DIFFERS);
}

} // namespace

void VerifyZipArchive(const std::wstring& path, const std::vector<CZipEntry>& written, const Bas::CProgress& progress,
                      Bas::CWorkerPool* pool)
{
    CVerification archive(path);
    if (pool == nullptr || pool->Workers() == 0) {
        verifyArchive(archive, written, progress, nullptr);
        return;
    }
    CDataChecks checks(path, *pool, progress);
    try {
        verifyArchive(archive, written, progress, &checks);
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException* raw) {
        // A wrong record or header found here comes after the entries whose
        // data is still being checked: theirs would come first.
        auto error = Bas::Own(raw);
        checks.Finish();
        Bas::Rethrow(std::move(error));
    }
    checks.Finish();
}

} // namespace Granite

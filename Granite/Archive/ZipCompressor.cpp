#include "ZipCompressor.h"

#include "Errors.h"
#include "ArchiveMessages.h"
#include "MemoryBuffer.h"
#include "MessageHandlers.h"
#include "TextTools.h"
#include "ZDeflateStream.h"

#include <zlib.h>

#include <algorithm>
#include <exception>

namespace Granite {

namespace {

constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kFlags = 0x0802;
constexpr std::uint32_t kDirectoryAttributes = 0x30;

class CHeader {
public:
    void U16(std::uint16_t value)
    {
        m_bytes += static_cast<char>(value & 0xFF);
        m_bytes += static_cast<char>(value >> 8);
    }
    void U32(std::uint32_t value)
    {
        U16(static_cast<std::uint16_t>(value & 0xFFFF));
        U16(static_cast<std::uint16_t>(value >> 16));
    }
    const std::string& Bytes() const noexcept { return m_bytes; }

private:
    std::string m_bytes;
};

// The fields the local and the central header share, from "version needed
// to extract" to the extra-field length.
void WriteSharedFields(CHeader& header, const CZipEntry& entry, std::size_t nameLength)
{
    header.U16(kVersion);
    header.U16(kFlags);
    header.U16(entry.method);
    header.U16(entry.dosTime);
    header.U16(entry.dosDate);
    header.U32(entry.crc32);
    header.U32(entry.compressedSize);
    header.U32(entry.uncompressedSize);
    header.U16(static_cast<std::uint16_t>(nameLength));
    header.U16(0);
}

} // namespace

std::wstring FromUtf8(std::string_view bytes)
{
    return Bas::Widen(bytes, CP_UTF8);
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    BAS_PRESUME_LAST_ERROR(length > 0);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    BAS_PRESUME_LAST_ERROR(::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr,
                                                 nullptr) > 0);
    return bytes;
}

CZipCompressor::~CZipCompressor()
{
    // Destroyed by an error on its way to the caller (a full disk, say):
    // the archive is abandoned, and finishing it would only fail and report
    // the same trouble a second time.
    if (m_open && std::uncaught_exceptions() > 0) {
        m_open = false;
        CFile::Close();
        return;
    }
    try {
        Close();
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        Bas::ReportException(*error);
    }
}

void CZipCompressor::Open(const std::wstring& path)
{
    BAS_ASSERT(!m_open);
    CFile::Open(path, OpenRead | OpenWrite | OpenCreate | ShareRead);
    m_open = true;
}

std::wstring CZipCompressor::NormalizeName(const std::wstring& name)
{
    std::wstring result = name;
    for (wchar_t& c : result)
        if (c == L'\\')
            c = L'/';
    const std::size_t span = result.find_first_not_of(L"./");
    if ((span == std::wstring::npos ? result.size() : span) == 2)
        result.erase(0, 2);
    BAS_ASSERT(!result.empty());
    return result;
}

bool CZipCompressor::IsSafeName(std::wstring_view name)
{
    if (name.empty() || name.front() == L'/' || name.front() == L'\\')
        return false;
    if (name.back() == L'/' || name.back() == L'\\')
        name.remove_suffix(1);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(name.find_first_of(L"/\\", start), name.size());
        const std::wstring_view component = name.substr(start, end - start);
        if (component.find_first_not_of(L". ") == std::wstring_view::npos)
            return false;
        for (const wchar_t c : component)
            if (c < 0x20 || c == 0x7F || c == L':')
                return false;
        if (end == name.size())
            return true;
        start = end + 1;
    }
}

namespace {

// zlib's compressBound: what deflate can make of `size` bytes at worst.
std::uint64_t DeflateBound(std::uint64_t size)
{
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 13;
}

std::uint64_t RecordBytes(const CZipEntry& entry)
{
    return 46 + entry.names.size();
}

// The folders a name lies in ("a/" and "a/b/" of "a/b/c"), as directory
// entries would name them.
void AddFoldersOf(const std::wstring& name, std::unordered_set<std::wstring>& folders)
{
    const std::wstring stored = CZipCompressor::NormalizeName(name);
    for (std::size_t slash = stored.find(L'/'); slash != std::wstring::npos && slash + 1 < stored.size();
         slash = stored.find(L'/', slash + 1))
        folders.insert(stored.substr(0, slash + 1));
}

} // namespace

std::uint64_t CZipCompressor::BytesFor(const CPlannedEntry& entry)
{
    const std::uint64_t name = ToUtf8(NormalizeName(entry.name)).size();
    return 30 + name + DeflateBound(entry.size) + 46 + name + ToUtf8(entry.comment).size();
}

std::uint64_t CZipCompressor::BytesFor(const std::vector<CPlannedEntry>& entries)
{
    std::uint64_t bytes = 0;
    std::unordered_set<std::wstring> folders;
    for (const CPlannedEntry& entry : entries) {
        bytes += BytesFor(entry);
        AddFoldersOf(entry.name, folders);
    }
    for (const std::wstring& folder : folders)
        bytes += 2 * (30 + ToUtf8(folder).size()) + 16;
    return bytes;
}

std::uint64_t CZipCompressor::dataLimit(const CZipEntry& entry) const
{
    const std::uint64_t taken = m_reservedBytes + m_centralBytes + RecordBytes(entry);
    return taken >= kMaxPosition ? 0 : kMaxPosition - taken;
}

std::size_t CZipCompressor::EntriesFor(const std::vector<std::wstring>& names)
{
    std::unordered_set<std::wstring> folders;
    for (const std::wstring& name : names)
        AddFoldersOf(name, folders);
    return names.size() + folders.size();
}

void CZipCompressor::ToDosTime(const FILETIME& time, std::uint16_t& dosDate, std::uint16_t& dosTime)
{
    WORD date = 0;
    WORD clock = 0;
    if (!::FileTimeToDosDateTime(&time, &date, &clock))
        date = clock = 0;
    dosDate = date;
    dosTime = clock;
}

std::uint32_t CZipCompressor::position() const
{
    const std::uint64_t current = GetPosition();
    BAS_PRESUME(current <= kMaxPosition);
    return static_cast<std::uint32_t>(current);
}

bool CZipCompressor::hasDirectory(const std::wstring& stored) const
{
    return m_directories.count(stored) != 0;
}

// The directory entries a stored name still needs, itself excluded.
std::size_t CZipCompressor::missingDirectories(const std::wstring& name) const
{
    std::size_t missing = 0;
    std::size_t end = name.size() >= 2 ? name.rfind(L'/', name.size() - 2) : std::wstring::npos;
    while (end != std::wstring::npos) {
        if (hasDirectory(name.substr(0, end + 1)))
            break;
        ++missing;
        end = end == 0 ? std::wstring::npos : name.rfind(L'/', end - 1);
    }
    return missing;
}

void CZipCompressor::checkLimits(const std::wstring& name, const std::wstring& comment, std::size_t newEntries,
                                 const std::wstring& forEntry) const
{
    if (!IsSafeName(name))
        Bas::ThrowCheck(ERR_ZIP_UNSAFE_NAME, forEntry);
    if (m_entries.size() + newEntries + m_reserved > kMaxEntries)
        Bas::ThrowCheck(ERR_ZIP_TOO_MANY_ENTRIES, forEntry);
    if (ToUtf8(name).size() > kMaxFieldLength || ToUtf8(comment).size() > kMaxFieldLength)
        Bas::ThrowCheck(ERR_ZIP_NAME_TOO_LONG, forEntry);
}

void CZipCompressor::addParentDirectories(const std::wstring& name, const std::wstring& forEntry)
{
    if (name.size() < 2)
        return;
    const std::size_t slash = name.rfind(L'/', name.size() - 2);
    if (slash != std::wstring::npos)
        addDirectoryStored(name.substr(0, slash + 1), std::wstring(), forEntry);
}

void CZipCompressor::AddDirectory(const std::wstring& name, const std::wstring& comment)
{
    BAS_ASSERT(m_open);
    if (name == L".")
        return;
    std::wstring stored = NormalizeName(name);
    if (stored.back() != L'/')
        stored += L'/';
    if (hasDirectory(stored))
        return;
    checkLimits(stored, comment, missingDirectories(stored) + 1, stored);
    addDirectoryStored(stored, comment, stored);
}

void CZipCompressor::addDirectoryStored(const std::wstring& stored, const std::wstring& comment,
                                        const std::wstring& forEntry)
{
    if (hasDirectory(stored))
        return;
    addParentDirectories(stored, forEntry);
    CZipEntry entry;
    entry.SetNames(ToUtf8(stored), ToUtf8(comment));
    entry.externalAttributes = kDirectoryAttributes;
    // A directory has no data; stored (method 0) is the only method for which
    // no data at all is a valid encoding.
    entry.method = 0;
    const std::uint64_t start = GetPosition();
    try {
        entry.localHeaderOffset = position();
        writeLocalHeader(entry);
        if (GetPosition() > dataLimit(entry))
            Bas::ThrowCheck(ERR_ZIP_ARCHIVE_TOO_LARGE, forEntry);
    } catch (Bas::CException*) {
        cutBack(start);
        throw;
    }
    m_centralBytes += RecordBytes(entry);
    m_entries.push_back(std::move(entry));
    try {
        m_directories.insert(stored);
    } catch (...) {
        m_centralBytes -= RecordBytes(m_entries.back());
        m_entries.pop_back();
        throw;
    }
}

void CZipCompressor::SourceStatus(const Bas::CFile& input, bool streamEntry, std::uint16_t& dosDate,
                                  std::uint16_t& dosTime, std::uint32_t& attributes)
{
    WIN32_FILE_ATTRIBUTE_DATA status = {};
    dosDate = 0;
    dosTime = 0;
    attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (input.GetStatus(status)) {
        attributes = status.dwFileAttributes;
        ToDosTime(status.ftLastWriteTime, dosDate, dosTime);
    } else if (!streamEntry) {
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        ToDosTime(now, dosDate, dosTime);
    }
}

void CZipCompressor::AddFile(const std::wstring& sourcePath, const std::wstring& name, const std::wstring& comment,
                             bool streamEntry)
{
    BAS_ASSERT(m_open);
    Bas::CFile input(sourcePath, OpenRead | ShareRead);
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    std::uint32_t attributes = 0;
    SourceStatus(input, streamEntry, dosDate, dosTime, attributes);
    AddStream(input, name, comment, dosDate, dosTime, attributes);
}

std::wstring CZipCompressor::CheckEntry(const std::wstring& name, const std::wstring& comment) const
{
    std::wstring stored = NormalizeName(name);
    checkLimits(stored, comment, missingDirectories(stored) + 1, stored);
    return stored;
}

CZipEntry CZipCompressor::beginEntry(const std::wstring& name, const std::wstring& comment, std::uint16_t dosDate,
                                     std::uint16_t dosTime, std::uint32_t attributes, std::wstring& stored)
{
    BAS_ASSERT(m_open);
    stored = CheckEntry(name, comment);
    addParentDirectories(stored, stored);
    CZipEntry entry;
    entry.SetNames(ToUtf8(stored), ToUtf8(comment));
    entry.dosDate = dosDate;
    entry.dosTime = dosTime;
    entry.externalAttributes = attributes;
    return entry;
}

void CZipCompressor::AddStream(Bas::CFile& input, const std::wstring& name, const std::wstring& comment,
                               std::uint16_t dosDate, std::uint16_t dosTime, std::uint32_t attributes)
{
    input.Seek(0);
    CFileInput file(input);
    AddStream(file, name, comment, dosDate, dosTime, attributes);
}

void CZipCompressor::AddStream(IEntryInput& input, const std::wstring& name, const std::wstring& comment,
                               std::uint16_t dosDate, std::uint16_t dosTime, std::uint32_t attributes)
{
    std::wstring stored;
    CZipEntry entry = beginEntry(name, comment, dosDate, dosTime, attributes, stored);
    const std::uint64_t start = GetPosition();
    try {
        BAS_PRESUME(start <= kMaxPosition);
        entry.localHeaderOffset = static_cast<std::uint32_t>(start);
        const std::uint64_t dataStart = start + writeLocalHeader(entry);
        compressStream(entry, stored, input, dataStart);
        const std::uint64_t end = dataStart + entry.compressedSize;
        if (end > dataLimit(entry))
            Bas::ThrowCheck(ERR_ZIP_ARCHIVE_TOO_LARGE, stored);
        Seek(entry.localHeaderOffset);
        writeLocalHeader(entry);
        Seek(end);
    } catch (Bas::CException*) {
        cutBack(start);
        throw;
    }
    m_centralBytes += RecordBytes(entry);
    m_entries.push_back(std::move(entry));
}

// Leaves the archive as it was before a failed entry: a valid prefix that
// Close can finish.
void CZipCompressor::cutBack(std::uint64_t offset)
{
    try {
        SetLength(offset);
        Seek(GetLength());
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
    }
}

std::string CZipCompressor::localHeader(const CZipEntry& entry)
{
    CHeader header;
    header.U32(0x04034B50);
    WriteSharedFields(header, entry, entry.nameLength);
    std::string bytes = header.Bytes();
    bytes += entry.Name();
    return bytes;
}

std::size_t CZipCompressor::writeLocalHeader(const CZipEntry& entry)
{
    // Header and name in one write.
    const std::string bytes = localHeader(entry);
    Write(bytes.data(), bytes.size());
    return bytes.size();
}

CEntryDeflater::CResult CEntryDeflater::Deflate(IEntryInput& input, const std::wstring& entryName,
                                                const COutput& output, const std::function<void()>& step)
{
    if (!m_used) {
        m_in.SetCommittedSize(kChunkSize);
        m_out.SetCommittedSize(kChunkSize);
        m_used = true;
    } else {
        m_deflater.Reset();
    }
    // The format's sizes are 32-bit and there is no zip64: an input of 4 GiB
    // or more is refused, before any work when its length tells, and at the
    // latest once the bytes read pass the limit (a file that grows).
    const std::uint64_t length = input.SourceLength();
    if (length > kMaxEntrySize)
        Bas::ThrowCheck(ERR_ZIP_ENTRY_TOO_LARGE, entryName);
    std::size_t read = input.Read(m_in.Data(), kChunkSize);
    m_in.SetSize(read);
    m_deflater.SetInput(m_in.Data(), static_cast<unsigned>(read));
    uLong crc = crc32(0, Z_NULL, 0);
    std::uint64_t uncompressed = 0;
    std::uint64_t compressed = 0;
    for (;;) {
        uncompressed += read;
        // The input's end: its length as it was when the entry began, or a
        // short read. An input of exactly one chunk ends with it.
        const bool last = read < kChunkSize || (input.SameLength() && uncompressed >= length);
        if (uncompressed > kMaxEntrySize)
            Bas::ThrowCheck(ERR_ZIP_ENTRY_TOO_LARGE, entryName);
        const unsigned char* consumedFrom = m_in.Data();
        for (;;) {
            m_out.SetCommittedSize(m_out.Capacity());
            const unsigned before = m_deflater.InputLeft();
            const unsigned produced = m_deflater.Deflate(m_out.Data(), static_cast<unsigned>(m_out.Capacity()), last);
            const unsigned consumed = before - m_deflater.InputLeft();
            crc = crc32(crc, consumedFrom, consumed);
            consumedFrom += consumed;
            m_out.SetSize(produced);
            compressed += produced;
            output(m_out.Data(), produced);
            if (produced < m_out.Capacity())
                break;
        }
        if (last)
            break;
        if (step)
            step();
        read = input.Read(m_in.Data(), kChunkSize);
        m_in.SetSize(read);
        m_deflater.SetInput(m_in.Data(), static_cast<unsigned>(read));
    }
    return {static_cast<std::uint32_t>(crc), static_cast<std::uint32_t>(uncompressed),
            static_cast<std::uint32_t>(compressed)};
}

void CZipCompressor::compressStream(CZipEntry& entry, const std::wstring& name, IEntryInput& input,
                                    std::uint64_t dataStart)
{
    if (!m_deflater)
        m_deflater = std::make_unique<CEntryDeflater>();
    const std::uint64_t limit = dataLimit(entry);
    std::uint64_t written = dataStart;
    const auto result = m_deflater->Deflate(input, name, [&](const unsigned char* data, std::size_t size) {
        Write(data, size);
        written += size;
        // Stop early when the archive can no longer stay below 2 GiB.
        if (written > limit)
            Bas::ThrowCheck(ERR_ZIP_ARCHIVE_TOO_LARGE, name);
    });
    entry.crc32 = result.crc32;
    entry.uncompressedSize = result.uncompressedSize;
    entry.compressedSize = result.compressedSize;
}

void CZipCompressor::AddDeflated(const CDeflatedEntry& deflated, const std::wstring& name, const std::wstring& comment)
{
    std::wstring stored;
    CZipEntry entry = beginEntry(name, comment, deflated.dosDate, deflated.dosTime, deflated.attributes, stored);
    entry.crc32 = deflated.sizes.crc32;
    entry.uncompressedSize = deflated.sizes.uncompressedSize;
    entry.compressedSize = deflated.sizes.compressedSize;
    const std::uint64_t start = GetPosition();
    try {
        BAS_PRESUME(start <= kMaxPosition);
        entry.localHeaderOffset = static_cast<std::uint32_t>(start);
        const std::uint64_t end = start + 30 + entry.nameLength + entry.compressedSize;
        if (end > dataLimit(entry))
            Bas::ThrowCheck(ERR_ZIP_ARCHIVE_TOO_LARGE, stored);
        if (deflated.dataFile.empty()) {
            BAS_PRESUME(deflated.data.size() == entry.compressedSize);
            // A small entry's header and data in one write: thousands of
            // small files make the writes' count matter.
            std::string bytes = localHeader(entry);
            if (deflated.data.size() <= kChunkSize) {
                bytes += deflated.data;
                Write(bytes.data(), bytes.size());
            } else {
                Write(bytes.data(), bytes.size());
                Write(deflated.data.data(), deflated.data.size());
            }
        } else {
            writeLocalHeader(entry);
            Bas::CFile data(deflated.dataFile, OpenRead);
            BAS_PRESUME(data.GetLength() == entry.compressedSize);
            std::vector<unsigned char> block(kChunkSize);
            for (std::size_t read; (read = data.Read(block.data(), block.size())) > 0;)
                Write(block.data(), read);
        }
    } catch (Bas::CException*) {
        cutBack(start);
        throw;
    }
    m_centralBytes += RecordBytes(entry);
    m_entries.push_back(std::move(entry));
}

void CZipCompressor::Close()
{
    if (!m_open)
        return;
    // Closed from here on whatever happens, so that the destructor never
    // writes a second central directory after a failed one.
    m_open = false;
    try {
        writeCentralDirectory();
    } catch (Bas::CException*) {
        CFile::Close();
        throw;
    }
    CFile::Close();
}

void CZipCompressor::writeCentralDirectory()
{
    const std::uint32_t start = position();
    for (const auto& entry : m_entries) {
        const std::string_view name = entry.Name();
        const std::string_view comment = entry.Comment();
        CHeader header;
        header.U32(0x02014B50);
        header.U16(kVersion); // version made by: MS-DOS host
        WriteSharedFields(header, entry, name.size());
        header.U16(static_cast<std::uint16_t>(comment.size()));
        header.U16(0);
        header.U16(0);
        header.U32(entry.externalAttributes);
        header.U32(entry.localHeaderOffset);
        Write(header.Bytes().data(), header.Bytes().size());
        Write(name.data(), name.size());
        Write(comment.data(), comment.size());
    }
    const std::uint64_t end = GetPosition();
    CHeader record;
    record.U32(0x06054B50);
    record.U16(0);
    record.U16(0);
    record.U16(static_cast<std::uint16_t>(m_entries.size()));
    record.U16(static_cast<std::uint16_t>(m_entries.size()));
    record.U32(static_cast<std::uint32_t>(end - start));
    record.U32(start);
    record.U16(0);
    Write(record.Bytes().data(), record.Bytes().size());
}

} // namespace Granite

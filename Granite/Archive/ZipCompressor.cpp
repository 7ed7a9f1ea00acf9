#include "ZipCompressor.h"

#include "Errors.h"
#include "ArchiveMessages.h"
#include "MemoryBuffer.h"
#include "MessageHandlers.h"
#include "NativeFileSystem.h"
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
    // Folders get a real date: readers show none for 0 (month 0, day 0),
    // and some fail on it.
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ToDosTime(now, m_directoryDate, m_directoryTime);
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

namespace {

// The longest component a Windows file system holds, in UTF-16 units.
constexpr std::size_t kMaxComponent = 255;

bool IsForbidden(wchar_t c)
{
    return c < 0x20 || c == 0x7F || std::wstring_view(L":<>\"|?*").find(c) != std::wstring_view::npos;
}

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// A surrogate without its other half: UTF-8 has no form for it, so the
// stored name would hold U+FFFD, and two names that differ only there would
// become one.
bool IsLoneSurrogate(std::wstring_view text, std::size_t at)
{
    if (IsHighSurrogate(text[at]))
        return at + 1 >= text.size() || !IsLowSurrogate(text[at + 1]);
    if (IsLowSurrogate(text[at]))
        return at == 0 || !IsHighSurrogate(text[at - 1]);
    return false;
}

void ReplaceTrailingDotsAndBlanks(std::wstring& name)
{
    for (std::size_t end = name.size(); end > 0 && (name[end - 1] == L'.' || name[end - 1] == L' '); --end)
        name[end - 1] = L'_';
}

} // namespace

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
        // Windows strips a trailing dot or blank, so that ".." and "..."
        // lead up and "a." becomes "a"; it opens devices for their names.
        if (component.empty() || component.size() > kMaxComponent || component.back() == L'.' ||
            component.back() == L' ' || Bas::IsDeviceName(component))
            return false;
        for (std::size_t i = 0; i < component.size(); ++i)
            if (IsForbidden(component[i]) || IsLoneSurrogate(component, i))
                return false;
        if (end == name.size())
            return true;
        start = end + 1;
    }
}

std::wstring CZipCompressor::SafeComponent(std::wstring_view component)
{
    std::wstring safe(component);
    for (std::size_t i = 0; i < safe.size(); ++i)
        if (IsForbidden(safe[i]) || safe[i] == L'/' || safe[i] == L'\\' || IsLoneSurrogate(component, i))
            safe[i] = L'_';
    ReplaceTrailingDotsAndBlanks(safe);
    if (safe.empty())
        safe = L"_";
    if (Bas::IsDeviceName(safe))
        safe.insert(safe.find(L'.') == std::wstring::npos ? safe.size() : safe.find(L'.'), 1, L'_');
    if (safe.size() > kMaxComponent) {
        // Cut before a short extension, which keeps its meaning; the
        // beginning stays, and with it what sets the name apart (the
        // collector's number).
        const std::size_t dot = safe.rfind(L'.');
        const std::size_t extension = dot != std::wstring::npos && dot > 0 && safe.size() - dot <= 16 ? safe.size() - dot : 0;
        std::size_t keep = kMaxComponent - extension;
        if (IsHighSurrogate(safe[keep - 1]))
            --keep;
        safe.erase(keep, safe.size() - keep - extension);
        ReplaceTrailingDotsAndBlanks(safe);
    }
    return safe;
}

std::wstring CZipCompressor::NameKey(std::wstring_view stored)
{
    std::wstring key(stored);
    while (!key.empty() && key.back() == L'/')
        key.pop_back();
    ::CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
    return key;
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
    // DOS dates run from 1980 to 2107; readers refuse the date 0 (month 0,
    // day 0) that the system's conversion gives for a time before 1980, and
    // the system's conversion wraps a later year around. A time outside the
    // range takes the nearest end.
    SYSTEMTIME parts = {};
    if (!::FileTimeToSystemTime(&time, &parts) || parts.wYear < 1980) {
        dosDate = (1 << 5) | 1;
        dosTime = 0;
    } else if (parts.wYear > 2107) {
        dosDate = (127 << 9) | (12 << 5) | 31;
        dosTime = (23 << 11) | (59 << 5) | 29;
    } else {
        dosDate = static_cast<std::uint16_t>(((parts.wYear - 1980) << 9) | (parts.wMonth << 5) | parts.wDay);
        dosTime = static_cast<std::uint16_t>((parts.wHour << 11) | (parts.wMinute << 5) | (parts.wSecond / 2));
    }
}

std::uint32_t CZipCompressor::position() const
{
    const std::uint64_t current = GetPosition();
    BAS_PRESUME(current <= kMaxPosition);
    return static_cast<std::uint32_t>(current);
}

bool CZipCompressor::hasDirectory(const std::wstring& stored) const
{
    const auto found = m_names.find(NameKey(stored));
    return found != m_names.end() && found->second;
}

void CZipCompressor::ReserveName(const std::wstring& name)
{
    m_reservedNames.insert(NameKey(NormalizeName(name)));
}

void CZipCompressor::ReleaseName(const std::wstring& name)
{
    m_reservedNames.erase(NameKey(NormalizeName(name)));
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
    // One entry of a name, and none where a folder of that name must be:
    // an extractor would keep one and lose the other.
    const bool directory = name.back() == L'/';
    const std::wstring key = NameKey(name);
    if (const auto found = m_names.find(key);
        (found != m_names.end() && !(directory && found->second)) || m_reservedNames.count(key) != 0)
        Bas::ThrowCheck(ERR_ZIP_DUPLICATE_NAME, forEntry);
    for (std::size_t slash = name.find(L'/'); slash != std::wstring::npos && slash + 1 < name.size();
         slash = name.find(L'/', slash + 1)) {
        const std::wstring folder = NameKey(std::wstring_view(name).substr(0, slash));
        if (const auto found = m_names.find(folder);
            (found != m_names.end() && !found->second) || m_reservedNames.count(folder) != 0)
            Bas::ThrowCheck(ERR_ZIP_DUPLICATE_NAME, forEntry);
    }
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
    entry.dosDate = m_directoryDate;
    entry.dosTime = m_directoryTime;
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
        m_names.emplace(NameKey(stored), true);
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
                               std::uint16_t dosDate, std::uint16_t dosTime, std::uint32_t attributes,
                               const std::function<void()>& step, int level)
{
    CEntryData data(*this, name, comment, dosDate, dosTime, attributes);
    data.CheckLength(input.SourceLength());
    if (!m_deflater)
        m_deflater = std::make_unique<CBlockDeflater>();
    // The end of each block's input is the next one's dictionary.
    std::string dictionary;
    std::uint64_t taken = 0;
    for (bool last = false; !last;) {
        unsigned char* buffer = m_deflater->Buffer();
        const std::size_t size = CBlockDeflater::ReadBlock(input, taken, buffer, last);
        CBlockDeflater::CBlock block;
        m_deflater->Deflate(buffer, size, dictionary, last, block, level);
        data.Add(block);
        const std::size_t keep = std::min(size, CBlockDeflater::kDictionarySize);
        dictionary.assign(reinterpret_cast<const char*>(buffer + size - keep), keep);
        if (step && !last)
            step();
    }
    data.End();
}

CZipCompressor::CEntryData::CEntryData(CZipCompressor& zip, const std::wstring& name, const std::wstring& comment,
                                       std::uint16_t dosDate, std::uint16_t dosTime, std::uint32_t attributes)
    : m_zip(zip)
{
    m_entry = zip.beginEntry(name, comment, dosDate, dosTime, attributes, m_stored);
    m_start = zip.GetPosition();
    try {
        BAS_PRESUME(m_start <= kMaxPosition);
        m_entry.localHeaderOffset = static_cast<std::uint32_t>(m_start);
        m_dataStart = m_start + zip.writeLocalHeader(m_entry);
        if (m_dataStart > zip.dataLimit(m_entry))
            Bas::ThrowCheck(ERR_ZIP_ARCHIVE_TOO_LARGE, m_stored);
    } catch (Bas::CException*) {
        zip.cutBack(m_start);
        throw;
    }
    m_crc = static_cast<std::uint32_t>(crc32(0, Z_NULL, 0));
}

CZipCompressor::CEntryData::~CEntryData()
{
    if (!m_ended)
        m_zip.cutBack(m_start);
}

void CZipCompressor::CEntryData::CheckLength(std::uint64_t sourceLength) const
{
    // The format's sizes are 32-bit and there is no zip64.
    if (sourceLength > kMaxEntrySize)
        Bas::ThrowCheck(ERR_ZIP_ENTRY_TOO_LARGE, m_stored);
}

void CZipCompressor::CEntryData::Add(const CBlockDeflater::CBlock& block)
{
    BAS_ASSERT(!m_ended);
    // Refused before it is written: the data would pass 4 GiB (a filter's
    // output, which may grow), or the archive would pass 2 GiB.
    if (m_input + block.inputSize > kMaxEntrySize)
        Bas::ThrowCheck(ERR_ZIP_ENTRY_TOO_LARGE, m_stored);
    if (m_dataStart + m_output + block.outputSize > m_zip.dataLimit(m_entry))
        Bas::ThrowCheck(ERR_ZIP_ARCHIVE_TOO_LARGE, m_stored);
    for (const std::string& piece : block.pieces)
        m_zip.Write(piece.data(), piece.size());
    m_crc = static_cast<std::uint32_t>(crc32_combine(m_crc, block.crc32, static_cast<z_off_t>(block.inputSize)));
    m_input += block.inputSize;
    m_output += block.outputSize;
}

void CZipCompressor::CEntryData::End()
{
    BAS_ASSERT(!m_ended);
    m_entry.crc32 = m_crc;
    m_entry.uncompressedSize = static_cast<std::uint32_t>(m_input);
    m_entry.compressedSize = static_cast<std::uint32_t>(m_output);
    const std::uint64_t end = m_dataStart + m_output;
    m_zip.Seek(m_entry.localHeaderOffset);
    m_zip.writeLocalHeader(m_entry);
    m_zip.Seek(end);
    m_zip.m_centralBytes += RecordBytes(m_entry);
    m_zip.m_names.emplace(NameKey(m_stored), false);
    m_zip.m_entries.push_back(std::move(m_entry));
    m_ended = true;
}

std::uint64_t CZipCompressor::RoomCeiling() const
{
    const std::uint64_t position = GetPosition();
    return position >= kMaxPosition ? 0 : kMaxPosition - position;
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

std::uint64_t CBlockDeflater::CBlock::Reserved() const noexcept
{
    std::uint64_t bytes = 0;
    for (const std::string& piece : pieces)
        bytes += piece.capacity();
    return bytes;
}

std::uint64_t CBlockDeflater::ReserveFor(std::uint64_t inputSize)
{
    return DeflateBound(std::min<std::uint64_t>(inputSize, kBlockSize));
}

unsigned char* CBlockDeflater::Buffer()
{
    if (m_buffer.empty())
        m_buffer.resize(kBlockSize);
    return m_buffer.data();
}

std::size_t CBlockDeflater::ReadBlock(IEntryInput& input, std::uint64_t& taken, unsigned char* buffer, bool& last)
{
    const std::uint64_t length = input.SourceLength();
    const std::size_t want = input.SameLength()
                                 ? static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, length - std::min(length, taken)))
                                 : kBlockSize;
    const std::size_t read = want > 0 ? input.Read(buffer, want) : 0;
    taken += read;
    last = read < want || (input.SameLength() && taken >= length);
    return read;
}

void CBlockDeflater::Deflate(const unsigned char* data, std::size_t size, std::string_view dictionary, bool last,
                             CBlock& block, int level)
{
    if (m_used || level != CZDeflateStream::kBestLevel)
        m_stream.Reset(level);
    m_used = true;
    if (m_out.empty())
        m_out.resize(0x40000);
    if (!dictionary.empty())
        m_stream.SetDictionary(reinterpret_cast<const unsigned char*>(dictionary.data()),
                               static_cast<unsigned>(dictionary.size()));
    m_stream.SetInput(data, static_cast<unsigned>(size));
    block.inputSize = size;
    block.last = last;
    block.crc32 = static_cast<std::uint32_t>(crc32(crc32(0, Z_NULL, 0), data, static_cast<uInt>(size)));
    const CZDeflateStream::EFlush flush = last ? CZDeflateStream::Finish : CZDeflateStream::SyncFlush;
    const std::uint64_t bound = DeflateBound(size);
    for (;;) {
        const unsigned produced = m_stream.Deflate(m_out.data(), static_cast<unsigned>(m_out.size()), flush);
        if (produced > 0) {
            if (block.pieces.empty() || block.pieces.back().size() + produced > kPieceSize) {
                // A piece takes what the worst case leaves, so that the
                // pieces of data that does not compress hold no more than
                // ReserveFor says, not a second whole piece for its last
                // bytes.
                const std::uint64_t left = bound - std::min(bound, block.outputSize);
                block.pieces.emplace_back();
                block.pieces.back().reserve(static_cast<std::size_t>(
                    std::max<std::uint64_t>(produced, std::min<std::uint64_t>(kPieceSize, left))));
            }
            block.pieces.back().append(reinterpret_cast<const char*>(m_out.data()), produced);
            block.outputSize += produced;
        }
        // With space left over the flush or the end is complete.
        if (produced < m_out.size())
            break;
    }
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

// Writes one zip archive in a single forward pass: raw deflate at level 9,
// UTF-8 names and comments (flag 0x0802), a directory entry before the first
// entry inside each folder, and the local header rewritten after the data,
// so there are no data descriptors.
#pragma once

#include "File.h"
#include "MemoryBuffer.h"
#include "ZDeflateStream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace Granite {

// A central-directory record. An archive holds the records of all its
// entries until Close, so name and comment are kept as they are stored, in
// UTF-8, one after the other in one string.
struct CZipEntry {
    std::string names;
    std::uint16_t nameLength = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t compressedSize = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
    std::uint16_t method = 8;

    std::string_view Name() const noexcept { return std::string_view(names).substr(0, nameLength); }
    std::string_view Comment() const noexcept { return std::string_view(names).substr(nameLength); }
    // The name is at most 65535 bytes.
    void SetNames(const std::string& name, const std::string& comment)
    {
        names = name + comment;
        nameLength = static_cast<std::uint16_t>(name.size());
    }
};

// What an entry's data is read from: a file as it is, or what a filter
// makes of one on its way in (the privacy mask).
class IEntryInput {
public:
    virtual ~IEntryInput() = default;
    // Up to `size` bytes; fewer only at the end.
    virtual std::size_t Read(void* buffer, std::size_t size) = 0;
    // The length of the file behind it when the entry began.
    virtual std::uint64_t SourceLength() const = 0;
    // Whether the data is the file's own bytes, as long as the file was
    // when the entry began; a filter's ends only with its short read.
    virtual bool SameLength() const = 0;
    // For an input read ahead of the writer: whether what it made is void
    // and must be made again at the writer's turn, after Settle.
    virtual bool Void() const { return false; }
    // At the writer's turn, in archive order, for an entry read ahead that
    // fails: what the input found takes effect (the mask's stand-ins for
    // what it met first), as if the writer had read it.
    virtual void Settle() {}
};

// A file read as it is.
class CFileInput : public IEntryInput {
public:
    explicit CFileInput(Bas::CFile& file) : m_file(file), m_length(file.GetLength()) {}
    std::size_t Read(void* buffer, std::size_t size) override { return m_file.Read(buffer, size); }
    std::uint64_t SourceLength() const override { return m_length; }
    bool SameLength() const override { return true; }

private:
    Bas::CFile& m_file;
    std::uint64_t m_length;
};

// Raw deflate of one input at level 9 in chunks of 256 KiB: the one way the
// writer and the workers that compress ahead of it turn a file into an
// entry's data, so that both give the same bytes. The buffers and zlib's
// state are made once and serve every entry.
class CEntryDeflater {
public:
    static constexpr std::size_t kChunkSize = 0x40000;
    static constexpr std::uint64_t kMaxEntrySize = 0xFFFFFFFF;

    struct CResult {
        std::uint32_t crc32 = 0;
        std::uint32_t uncompressedSize = 0;
        std::uint32_t compressedSize = 0;
    };
    using COutput = std::function<void(const unsigned char* data, std::size_t size)>;

    // The whole input from its beginning, as long as it was when the entry
    // began (a file that grows meanwhile is taken as it was) or up to a
    // short read (one that shrinks). Each block of output goes to `output`.
    // An input of 4 GiB or more is refused (ERR_ZIP_ENTRY_TOO_LARGE with the
    // entry's name), before any work when its length tells.
    // `step`, when given, is called after each chunk read (a worker checks
    // there whether it is to stop).
    CResult Deflate(IEntryInput& input, const std::wstring& entryName, const COutput& output,
                    const std::function<void()>& step = {});

private:
    CMemoryBuffer m_in{kChunkSize};
    CMemoryBuffer m_out{kChunkSize};
    CZDeflateStream m_deflater;
    bool m_used = false;
};

// An entry's data compressed ahead of the writer, with what its headers say.
struct CDeflatedEntry {
    CEntryDeflater::CResult sizes;
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    std::uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE;
    // The deflate data: in memory, or, when it was too large for that, in a
    // temporary file of its own.
    std::string data;
    std::wstring dataFile;
};

class CZipCompressor : public Bas::CFile {
public:
    static constexpr std::size_t kChunkSize = CEntryDeflater::kChunkSize;
    static constexpr std::uint64_t kMaxPosition = 0x7FFFFFFF;
    static constexpr std::size_t kMaxEntries = 0xFFFF;
    static constexpr std::size_t kMaxFieldLength = 0xFFFF;
    static constexpr std::uint64_t kMaxEntrySize = CEntryDeflater::kMaxEntrySize;

    CZipCompressor() = default;
    ~CZipCompressor() override;

    // Creates (or replaces) the archive file.
    void Open(const std::wstring& path);
    bool IsOpen() const noexcept { return m_open; }

    // The source's last-write time (UTC, as stored) and attributes go into
    // the entry; the source file is opened before anything is written.
    // When its status cannot be read: the time now, or for a stream entry
    // (a log of the run) no time at all.
    void AddFile(const std::wstring& sourcePath, const std::wstring& name, const std::wstring& comment,
                 bool streamEntry = false);
    // What the entry of an open source gets from its status, as AddFile.
    static void SourceStatus(const Bas::CFile& input, bool streamEntry, std::uint16_t& dosDate, std::uint16_t& dosTime,
                             std::uint32_t& attributes);
    // Refuses a name and comment as AddStream would, before any data;
    // returns the name as it is stored.
    std::wstring CheckEntry(const std::wstring& name, const std::wstring& comment) const;
    // The whole contents of an open file, from its beginning.
    void AddStream(Bas::CFile& input, const std::wstring& name, const std::wstring& comment, std::uint16_t dosDate,
                   std::uint16_t dosTime, std::uint32_t attributes);
    // The whole of an input, from where it stands.
    void AddStream(IEntryInput& input, const std::wstring& name, const std::wstring& comment, std::uint16_t dosDate,
                   std::uint16_t dosTime, std::uint32_t attributes);
    // Data compressed ahead: the entry is written once, its sizes and CRC
    // known, giving the same bytes as AddStream of the same source.
    void AddDeflated(const CDeflatedEntry& deflated, const std::wstring& name, const std::wstring& comment);
    void AddDirectory(const std::wstring& name, const std::wstring& comment);
    // Writes the central directory and the end record and closes the file.
    // The writer is closed afterwards also when that fails.
    void Close();

    // Keeps entries free for what must follow: later additions fail with
    // ERR_ZIP_TOO_MANY_ENTRIES rather than take the last `count` entries.
    // 0 gives them back.
    void ReserveEntries(std::size_t count) noexcept { m_reserved = count; }
    // Keeps bytes free the same way: an entry fails with
    // ERR_ZIP_ARCHIVE_TOO_LARGE rather than leave less than `bytes` before
    // the archive's limit, its central directory counted in.
    void ReserveBytes(std::uint64_t bytes) noexcept { m_reservedBytes = bytes; }
    std::size_t EntryCount() const noexcept { return m_entries.size(); }
    // Room for this many records at once, for an archive whose size is known.
    void ReserveRecords(std::size_t count) { m_entries.reserve(count); }

    const std::vector<CZipEntry>& Entries() const noexcept { return m_entries; }
    // The records, given up by a closed writer.
    std::vector<CZipEntry> TakeEntries() noexcept { return std::move(m_entries); }

    // "\" becomes "/", and a leading "./" is dropped.
    static std::wstring NormalizeName(const std::wstring& name);
    // A name that an extractor writes inside its target folder: not empty,
    // not rooted, no drive or stream (":"), no control character, and no
    // component that is empty or only dots and blanks (".", "..", and what
    // Windows trims to them). "/" and "\" both separate components; one
    // trailing separator makes a directory name.
    static bool IsSafeName(std::wstring_view name);
    // The entries that adding these names can take at most: each name, and
    // each folder named in them once.
    static std::size_t EntriesFor(const std::vector<std::wstring>& names);
    // The bytes that adding an entry of this many source bytes can take at
    // most: headers, deflate's worst case, and its central record; and for
    // a list of them, each folder named in them as a directory entry too.
    struct CPlannedEntry {
        std::wstring name;
        std::wstring comment;
        std::uint64_t size = 0;
    };
    static std::uint64_t BytesFor(const CPlannedEntry& entry);
    static std::uint64_t BytesFor(const std::vector<CPlannedEntry>& entries);
    // The DOS date and time of a FILETIME; both 0 when it cannot be converted.
    static void ToDosTime(const FILETIME& time, std::uint16_t& dosDate, std::uint16_t& dosTime);

private:
    void addParentDirectories(const std::wstring& name, const std::wstring& forEntry);
    // The record of a new entry, its name checked and its folders added;
    // `stored` gets the name as stored, for the entry's errors.
    CZipEntry beginEntry(const std::wstring& name, const std::wstring& comment, std::uint16_t dosDate,
                         std::uint16_t dosTime, std::uint32_t attributes, std::wstring& stored);
    void addDirectoryStored(const std::wstring& stored, const std::wstring& comment, const std::wstring& forEntry);
    // Refuses an entry that the 16-bit fields of the format cannot describe.
    void checkLimits(const std::wstring& name, const std::wstring& comment, std::size_t newEntries,
                     const std::wstring& forEntry) const;
    std::size_t missingDirectories(const std::wstring& name) const;
    bool hasDirectory(const std::wstring& stored) const;
    std::uint32_t position() const;
    // The last position the entry's data may reach: the limit less the
    // reserved bytes and the central directory with the entry's own record.
    std::uint64_t dataLimit(const CZipEntry& entry) const;
    static std::string localHeader(const CZipEntry& entry);
    // Returns the bytes written.
    std::size_t writeLocalHeader(const CZipEntry& entry);
    void compressStream(CZipEntry& entry, const std::wstring& name, IEntryInput& input, std::uint64_t dataStart);
    void cutBack(std::uint64_t offset);

    void writeCentralDirectory();

    bool m_open = false;
    std::size_t m_reserved = 0;
    std::uint64_t m_reservedBytes = 0;
    // The central directory and end record that Close will write.
    std::uint64_t m_centralBytes = 22;
    std::unique_ptr<CEntryDeflater> m_deflater;
    std::vector<CZipEntry> m_entries;
    std::unordered_set<std::wstring> m_directories;
};

// UTF-16 to UTF-8 (code page 65001) and back.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(std::string_view bytes);

} // namespace Granite

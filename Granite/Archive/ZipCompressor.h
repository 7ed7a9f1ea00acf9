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
#include <unordered_map>
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
    // For an input read ahead of the writer: whether what it gave since it
    // was made is void, and must be made again at the writer's turn (a
    // mask that met what it had given no stand-in yet).
    virtual bool Void() const { return false; }
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

// An entry's data is read and compressed in blocks of 1 MiB of input, each
// on its own (on any worker, or all on the writer's thread: the bytes are
// the same): raw deflate at level 9 with the 32 KiB of input before the
// block as its dictionary, ended by a flush that ends on a byte, the last
// block by the stream's end. Written one after the other they make one
// deflate stream that any reader inflates as one entry; the CRC-32 of the
// entry is the blocks' CRCs combined.
class CBlockDeflater {
public:
    static constexpr std::size_t kBlockSize = 0x100000;
    static constexpr std::size_t kDictionarySize = 0x8000;
    // Compressed data is kept in pieces of at most this size.
    static constexpr std::size_t kPieceSize = 0x100000;
    static constexpr std::uint64_t kMaxEntrySize = 0xFFFFFFFF;

    // A block's compressed data in pieces, with what its headers need.
    struct CBlock {
        std::vector<std::string> pieces;
        std::uint64_t inputSize = 0;
        std::uint64_t outputSize = 0;
        std::uint32_t crc32 = 0;
        bool last = false;
        // The bytes the pieces have reserved.
        std::uint64_t Reserved() const noexcept;
    };

    // The memory a block's result of this much input may take at most.
    static std::uint64_t ReserveFor(std::uint64_t inputSize);

    // Reads the next block of an input into the buffer (kBlockSize bytes):
    // at most a block, and of an input as long as its file at most the
    // length it had when the entry began (a file that grows meanwhile is
    // taken as it was; one that shrinks ends with its short read). Returns
    // the bytes read; `last` tells whether they end the data.
    static std::size_t ReadBlock(IEntryInput& input, std::uint64_t& taken, unsigned char* buffer, bool& last);

    // Compresses one block at the level given; `dictionary` is the end of
    // the input before it (empty for the first block).
    void Deflate(const unsigned char* data, std::size_t size, std::string_view dictionary, bool last, CBlock& block,
                 int level = CZDeflateStream::kBestLevel);

    // A block buffer of kBlockSize bytes, kept with the deflater.
    unsigned char* Buffer();

private:
    CZDeflateStream m_stream;
    std::vector<unsigned char> m_out;
    std::vector<unsigned char> m_buffer;
    bool m_used = false;
};

class CZipCompressor : public Bas::CFile {
public:
    static constexpr std::size_t kChunkSize = 0x40000;
    static constexpr std::uint64_t kMaxPosition = 0x7FFFFFFF;
    static constexpr std::size_t kMaxEntries = 0xFFFF;
    static constexpr std::size_t kMaxFieldLength = 0xFFFF;
    static constexpr std::uint64_t kMaxEntrySize = CBlockDeflater::kMaxEntrySize;

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
    // The whole of an input, from where it stands, a block at a time at the
    // deflate level given; `step` is called after each block (the caller's
    // message pump).
    void AddStream(IEntryInput& input, const std::wstring& name, const std::wstring& comment, std::uint16_t dosDate,
                   std::uint16_t dosTime, std::uint32_t attributes, const std::function<void()>& step = {},
                   int level = CZDeflateStream::kBestLevel);

    // An entry whose data comes a block at a time, compressed elsewhere:
    // made, it has checked its name against the archive's limits and
    // written its folders and its local header; Add takes each block in
    // order and refuses one that would pass the limits before writing it;
    // End records the entry. Destroyed before End, it cuts the archive
    // back to where the entry began.
    class CEntryData {
    public:
        CEntryData(CZipCompressor& zip, const std::wstring& name, const std::wstring& comment, std::uint16_t dosDate,
                   std::uint16_t dosTime, std::uint32_t attributes);
        ~CEntryData();
        CEntryData(const CEntryData&) = delete;
        CEntryData& operator=(const CEntryData&) = delete;

        // Refuses data of this source length (ERR_ZIP_ENTRY_TOO_LARGE).
        void CheckLength(std::uint64_t sourceLength) const;
        void Add(const CBlockDeflater::CBlock& block);
        void End();
        const std::wstring& StoredName() const noexcept { return m_stored; }

    private:
        CZipCompressor& m_zip;
        std::wstring m_stored;
        CZipEntry m_entry;
        std::uint64_t m_start = 0;
        std::uint64_t m_dataStart = 0;
        std::uint64_t m_input = 0;
        std::uint64_t m_output = 0;
        std::uint32_t m_crc = 0;
        bool m_ended = false;
    };

    // The bytes the archive can still take at most, whatever is reserved:
    // an entry whose data is larger is refused for certain.
    std::uint64_t RoomCeiling() const;

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
    // A name that an extractor on Windows writes as itself, inside its
    // target folder: not empty, not rooted, no component that is empty,
    // longer than 255 UTF-16 units (a file system's most) or ends in a dot
    // or blank (which Windows strips, so that ".." and "..." lead up and
    // "a." would be "a"), none named like a device (CON, PRN, AUX, NUL,
    // COM1, LPT1, ..., with or without an extension), none of the
    // characters Windows file names cannot hold (control characters and
    // : < > " | ? *), and no surrogate without its other half (UTF-8 has no
    // form for it). "/" and "\" both separate components; one trailing
    // separator makes a directory name.
    static bool IsSafeName(std::wstring_view name);
    // A component made safe: those characters and lone surrogates become
    // "_", and so do a trailing dot or blank; a device name gets "_" after
    // its base name; a component longer than 255 units is cut to 255 from
    // its end, before an extension of up to 15 characters.
    static std::wstring SafeComponent(std::wstring_view component);
    // What two names that one folder on Windows cannot hold both have in
    // common: the name lower-cased, without a trailing "/".
    static std::wstring NameKey(std::wstring_view stored);

    // Keeps a name for an entry added later: any other entry of that name is
    // refused (ERR_ZIP_DUPLICATE_NAME) until the name is given back.
    void ReserveName(const std::wstring& name);
    void ReleaseName(const std::wstring& name);
    // The DOS date and time of the directory entries (by default the time
    // the archive was opened).
    void SetDirectoryTime(std::uint16_t dosDate, std::uint16_t dosTime) noexcept
    {
        m_directoryDate = dosDate;
        m_directoryTime = dosTime;
    }
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
    // The DOS date and time of a FILETIME, as it is (no time zone applied);
    // a time before 1980 gives 1980-01-01 00:00, one after 2107 the last
    // DOS time of 2107.
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
    void cutBack(std::uint64_t offset);

    void writeCentralDirectory();

    bool m_open = false;
    std::size_t m_reserved = 0;
    std::uint64_t m_reservedBytes = 0;
    // The central directory and end record that Close will write.
    std::uint64_t m_centralBytes = 22;
    std::unique_ptr<CBlockDeflater> m_deflater;
    std::vector<CZipEntry> m_entries;
    // Every name in the archive by its key: true for a directory. One
    // folder on Windows holds one of a name, whatever its case.
    std::unordered_map<std::wstring, bool> m_names;
    std::unordered_set<std::wstring> m_reservedNames;
    std::uint16_t m_directoryDate = 0;
    std::uint16_t m_directoryTime = 0;
};

// UTF-16 to UTF-8 (code page 65001) and back.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(std::string_view bytes);

} // namespace Granite

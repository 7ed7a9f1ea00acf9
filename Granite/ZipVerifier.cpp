#include "ZipVerifier.h"

#include "Errors.h"
#include "File.h"
#include "GraniteMessages.h"
#include "MemoryBuffer.h"

#include <zlib.h>

#include <cstring>

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

    // Exactly `size` bytes from `offset`; fewer means the archive is short.
    void Read(std::uint64_t offset, void* buffer, std::size_t size)
    {
        m_file.Seek(offset);
        if (m_file.Read(buffer, size) != size)
            Fail(MSG_ZIP_CUT_SHORT);
    }

    std::uint64_t Length() const { return m_file.GetLength(); }
    Bas::CFile& File() noexcept { return m_file; }

private:
    std::wstring m_path;
    Bas::CFile m_file;
};

// Inflates the entry's data, checking its sizes and CRC-32.
void CheckData(CVerification& archive, const CZipEntry& entry, std::uint64_t dataOffset)
{
    if (entry.method == 0) {
        if (entry.compressedSize != 0 || entry.uncompressedSize != 0)
            archive.Fail(MSG_ZIP_DATA_DIFFERS, entry.name);
        return;
    }
    CMemoryBuffer in(CZipCompressor::kChunkSize);
    CMemoryBuffer out(CZipCompressor::kChunkSize);
    in.SetCommittedSize(in.Capacity());
    out.SetCommittedSize(out.Capacity());
    z_stream stream = {};
    if (inflateInit2(&stream, -15) != Z_OK)
        Bas::ThrowCheck(ERR_ZLIB_INIT_FAILED);
    struct CEnd {
        z_stream& stream;
        ~CEnd() { inflateEnd(&stream); }
    } end{stream};
    archive.File().Seek(dataOffset);
    std::uint64_t left = entry.compressedSize;
    std::uint64_t produced = 0;
    uLong crc = crc32(0, Z_NULL, 0);
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            if (left == 0)
                archive.Fail(MSG_ZIP_DATA_DIFFERS, entry.name);
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, in.Capacity()));
            if (archive.File().Read(in.Data(), chunk) != chunk)
                archive.Fail(MSG_ZIP_CUT_SHORT);
            left -= chunk;
            stream.next_in = in.Data();
            stream.avail_in = static_cast<uInt>(chunk);
        }
        stream.next_out = out.Data();
        stream.avail_out = static_cast<uInt>(out.Capacity());
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            archive.Fail(MSG_ZIP_DATA_DIFFERS, entry.name);
        const std::size_t count = out.Capacity() - stream.avail_out;
        crc = crc32(crc, out.Data(), static_cast<uInt>(count));
        produced += count;
    }
    if (left != 0 || stream.avail_in != 0 || produced != entry.uncompressedSize || crc != entry.crc32)
        archive.Fail(MSG_ZIP_DATA_DIFFERS, entry.name);
}

} // namespace

void VerifyZipArchive(const std::wstring& path, const std::vector<CZipEntry>& written)
{
    CVerification archive(path);
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

    std::vector<unsigned char> directory(directorySize);
    archive.Read(directoryStart, directory.data(), directory.size());
    std::size_t at = 0;
    for (const CZipEntry& entry : written) {
        const std::string name = ToUtf8(entry.name);
        const std::string comment = ToUtf8(entry.comment);
        if (at + 46 > directory.size())
            archive.Fail(MSG_ZIP_DIRECTORY_DIFFERS);
        const unsigned char* record = directory.data() + at;
        const bool same = U32(record) == kCentralSignature && U16(record + 10) == entry.method &&
                          U16(record + 12) == entry.dosTime && U16(record + 14) == entry.dosDate &&
                          U32(record + 16) == entry.crc32 && U32(record + 20) == entry.compressedSize &&
                          U32(record + 24) == entry.uncompressedSize && U16(record + 28) == name.size() &&
                          U16(record + 30) == 0 && U16(record + 32) == comment.size() &&
                          U32(record + 38) == entry.externalAttributes && U32(record + 42) == entry.localHeaderOffset &&
                          at + 46 + name.size() + comment.size() <= directory.size() &&
                          std::memcmp(record + 46, name.data(), name.size()) == 0 &&
                          std::memcmp(record + 46 + name.size(), comment.data(), comment.size()) == 0;
        if (!same)
            archive.Fail(MSG_ZIP_DIRECTORY_DIFFERS);
        at += 46 + name.size() + comment.size();

        // The local header repeats the central record but for the comment.
        unsigned char local[30];
        archive.Read(entry.localHeaderOffset, local, sizeof local);
        std::string localName(name.size(), '\0');
        archive.Read(entry.localHeaderOffset + 30, localName.data(), localName.size());
        if (U32(local) != kLocalSignature || std::memcmp(local + 4, record + 6, 26) != 0 || localName != name)
            archive.Fail(MSG_ZIP_LOCAL_HEADER_DIFFERS, entry.name);
        CheckData(archive, entry, entry.localHeaderOffset + 30 + name.size());
    }
    if (at != directory.size())
        archive.Fail(MSG_ZIP_DIRECTORY_DIFFERS);
}

} // namespace Granite

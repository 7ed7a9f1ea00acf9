#include "Errors.h"
#include "ArchiveMessages.h"
#include "MessageHandlers.h"
#include "TestFolder.h"
#include "ZipCompressor.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <random>

namespace {

TEST(ZipNames, OnlyNamesThatStayInsideTheTargetFolderAreSafe)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"Glean.ini", true},
        {L"Logs/Old/001_b.log", true},
        {L"MSI/", true},
        {L"Reg\\App.reg", true},
        {L"a..b/.hidden/x.y", true},
        {L"000_nul.txt", true},
        {L"console.log/COM10", true},
        // What Windows would not make as itself: a trailing dot or blank, a
        // device's name with or without an extension, a reserved character.
        {L"a..b/.hidden/x..", false},
        {L"dir./x.txt", false},
        {L"trail /z.txt", false},
        {L"prn.reg", false},
        {L"Logs/nul.txt", false},
        {L"CON", false},
        {L"com1.txt", false},
        {L"LPT9 .log", false},
        {L"aux/", false},
        {L"a<b", false},
        {L"what?", false},
        {L"star*", false},
        {L"pipe|", false},
        {L"q\"uote", false},
        {L"", false},
        {L"/rooted", false},
        {L"\\rooted", false},
        {L"../../up/000_one.txt", false},
        {L"a/../b", false},
        {L"a\\..\\b", false},
        {L"./a", false},
        {L"a/.", false},
        {L"..", false},
        {L"... /x", false}, // Windows trims a component of dots and blanks to nothing
        {L"a//b", false},
        {L"a//", false},
        {L"C:/x", false},
        {L"x:stream", false},
        {L"a\nb", false},
        {L"a\x7F", false},
        {L"tab\there", false},
    };
    for (const auto& [name, safe] : cases) {
        EXPECT_EQ(Granite::CZipCompressor::IsSafeName(name), safe) << '"' << Granite::ToUtf8(name) << '"';
        // Every component made safe is safe.
        std::wstring made;
        for (std::size_t start = 0; start <= std::wcslen(name);) {
            const std::wstring_view rest = std::wstring_view(name).substr(start);
            const std::size_t end = std::min(rest.find_first_of(L"/\\"), rest.size());
            made += (made.empty() ? L"" : L"/") + Granite::CZipCompressor::SafeComponent(rest.substr(0, end));
            start += end + 1;
        }
        EXPECT_TRUE(Granite::CZipCompressor::IsSafeName(made)) << Granite::ToUtf8(made);
    }
    EXPECT_EQ(Granite::CZipCompressor::SafeComponent(L"dir."), L"dir_");
    EXPECT_EQ(Granite::CZipCompressor::SafeComponent(L"nul.txt"), L"nul_.txt");
    EXPECT_EQ(Granite::CZipCompressor::SafeComponent(L"a<b>"), L"a_b_");
    // A name from the disk may take all 255 units a component can hold, so
    // that the collector's number takes it past them; a surrogate without
    // its pair would turn into U+FFFD in the stored name.
    const std::wstring longest = L"000_" + std::wstring(251, L'n') + L".txt";
    EXPECT_TRUE(Granite::CZipCompressor::IsSafeName(std::wstring(251, L'n') + L".txt/x"));
    EXPECT_FALSE(Granite::CZipCompressor::IsSafeName(longest));
    EXPECT_FALSE(Granite::CZipCompressor::IsSafeName(L"Data/" + longest + L"/x"));
    EXPECT_EQ(Granite::CZipCompressor::SafeComponent(longest), L"000_" + std::wstring(247, L'n') + L".txt");
    std::wstring smiles = L"000_";
    for (int i = 0; i < 130; ++i)
        smiles += L"\xD83D\xDE00";
    const std::wstring cut = Granite::CZipCompressor::SafeComponent(smiles);
    EXPECT_EQ(cut.size(), 254u);
    EXPECT_TRUE(Granite::CZipCompressor::IsSafeName(cut));
    for (const std::wstring lone : {L"a\xD800", L"\xDC00" L"b", L"a\xDC00\xD800.txt/x"}) {
        EXPECT_FALSE(Granite::CZipCompressor::IsSafeName(lone));
        EXPECT_EQ(Granite::CZipCompressor::SafeComponent(lone).find_first_of(L"\xD800\xDC00"), std::wstring::npos);
    }
    EXPECT_TRUE(Granite::CZipCompressor::IsSafeName(L"\xD83D\xDE00.txt"));
}

std::uint16_t U16(const std::string& b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t U32(const std::string& b, std::size_t at)
{
    return U16(b, at) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}

// An independent reader of what the writer produced: every central record,
// with its local header checked against it and its data inflated.
struct CReadEntry {
    std::string name;
    std::string comment;
    std::string data;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t attributes = 0;
    std::uint32_t offset = 0;
};

std::string Inflate(const std::string& compressed, std::size_t expectedSize)
{
    z_stream stream = {};
    EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
    std::string out(expectedSize + 1, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(stream.avail_in, 0u) << "data after the end of the deflate stream";
    out.resize(out.size() - stream.avail_out);
    inflateEnd(&stream);
    return out;
}

std::vector<CReadEntry> ReadArchive(const std::string& b)
{
    std::vector<CReadEntry> entries;
    EXPECT_GE(b.size(), 22u);
    const std::size_t end = b.size() - 22;
    EXPECT_EQ(U32(b, end), 0x06054B50u);
    const std::uint16_t count = U16(b, end + 8);
    EXPECT_EQ(U16(b, end + 10), count);
    const std::uint32_t size = U32(b, end + 12);
    const std::uint32_t start = U32(b, end + 16);
    EXPECT_EQ(start + size, end);
    std::size_t at = start;
    for (int i = 0; i < count; ++i) {
        CReadEntry e;
        EXPECT_EQ(U32(b, at), 0x02014B50u);
        EXPECT_EQ(U16(b, at + 4), 20);
        EXPECT_EQ(U16(b, at + 6), 20);
        e.flags = U16(b, at + 8);
        e.method = U16(b, at + 10);
        e.crc = U32(b, at + 16);
        e.compressedSize = U32(b, at + 20);
        const std::uint32_t uncompressed = U32(b, at + 24);
        const std::uint16_t nameLength = U16(b, at + 28);
        EXPECT_EQ(U16(b, at + 30), 0);
        const std::uint16_t commentLength = U16(b, at + 32);
        e.attributes = U32(b, at + 38);
        e.offset = U32(b, at + 42);
        e.name = b.substr(at + 46, nameLength);
        e.comment = b.substr(at + 46 + nameLength, commentLength);
        at += 46 + nameLength + commentLength;

        // The local header repeats everything but the comment.
        const std::size_t local = e.offset;
        EXPECT_EQ(U32(b, local), 0x04034B50u);
        EXPECT_EQ(U16(b, local + 4), 20);
        EXPECT_EQ(U16(b, local + 6), e.flags);
        EXPECT_EQ(U16(b, local + 8), e.method);
        EXPECT_EQ(U32(b, local + 10), U32(b, at - 46 - nameLength - commentLength + 12));
        EXPECT_EQ(U32(b, local + 14), e.crc);
        EXPECT_EQ(U32(b, local + 18), e.compressedSize);
        EXPECT_EQ(U32(b, local + 22), uncompressed);
        EXPECT_EQ(U16(b, local + 26), nameLength);
        EXPECT_EQ(U16(b, local + 28), 0);
        EXPECT_EQ(b.substr(local + 30, nameLength), e.name);
        const std::string compressed = b.substr(local + 30 + nameLength, e.compressedSize);
        if (e.method == 8)
            e.data = Inflate(compressed, uncompressed);
        else
            e.data = compressed;
        EXPECT_EQ(e.data.size(), uncompressed) << e.name;
        EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())), e.crc)
            << e.name;
        entries.push_back(std::move(e));
    }
    EXPECT_EQ(at, end);
    return entries;
}

class ZipCompressor : public testing::Test {
protected:
    Testing::CTestFolder folder;
    std::wstring archive = folder / L"test.zip";

    std::string Bytes() { return folder.ReadBytes(L"test.zip"); }

    void AddBytes(Granite::CZipCompressor& zip, const std::wstring& name, const std::string& bytes,
                  const std::wstring& comment = L"")
    {
        folder.WriteBytes(L"source.bin", bytes);
        zip.AddFile(folder / L"source.bin", name, comment);
    }

    static std::string RandomBytes(std::size_t size, unsigned seed, bool compressible)
    {
        std::mt19937 random(seed);
        std::string bytes(size, '\0');
        for (auto& c : bytes)
            c = compressible ? "abcdefgh \n"[random() % 10] : static_cast<char>(random());
        return bytes;
    }
};

TEST_F(ZipCompressor, EmptyArchiveIsTheEndRecordAlone)
{
    Granite::CZipCompressor zip;
    zip.Open(archive);
    zip.Close();
    zip.Close();
    EXPECT_EQ(Bytes(), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST_F(ZipCompressor, ContentsOfManySizesSurviveInflate)
{
    const std::size_t chunk = Granite::CZipCompressor::kChunkSize;
    const std::vector<std::size_t> sizes = {0, 1, 100, chunk - 1, chunk, chunk + 1, 2 * chunk, 2 * chunk + 7, 1 << 20};
    std::vector<std::string> contents;
    {
        Granite::CZipCompressor zip;
        zip.Open(archive);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            contents.push_back(RandomBytes(sizes[i], static_cast<unsigned>(i), i % 2 == 0));
            AddBytes(zip, L"f" + std::to_wstring(i), contents.back());
        }
    }
    const auto entries = ReadArchive(Bytes());
    ASSERT_EQ(entries.size(), sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(entries[i].name, "f" + std::to_string(i));
        EXPECT_EQ(entries[i].data, contents[i]) << sizes[i];
        EXPECT_EQ(entries[i].method, 8);
        EXPECT_EQ(entries[i].flags, 0x0802);
    }
    // An empty input is the two bytes of an empty final block.
    EXPECT_EQ(entries[0].compressedSize, 2u);
    EXPECT_EQ(entries[0].crc, 0u);
}

TEST_F(ZipCompressor, DirectoriesComeBeforeTheirFirstEntryAndOnlyOnce)
{
    {
        Granite::CZipCompressor zip;
        zip.Open(archive);
        AddBytes(zip, L"logs\\old\\one.log", "1");
        AddBytes(zip, L"logs\\old\\two.log", "2");
        zip.AddDirectory(L"MSI/", L"");
        zip.AddDirectory(L"MSI", L"");
        zip.AddDirectory(L".", L"");
        AddBytes(zip, L"./top.txt", "t");
        // One entry a name whatever its case, and no file where a folder
        // must be nor a folder where a file is; a name kept for later is
        // refused until it is given back.
        AddBytes(zip, L"LOGS/Old/three.log", "3");
        zip.ReserveName(L"GleanAppLog.log");
        for (const wchar_t* refused : {L"logs/old/ONE.LOG", L"top.txt/x", L"msi", L"gleanapplog.log"}) {
            try {
                AddBytes(zip, refused, "x");
                ADD_FAILURE() << Granite::ToUtf8(refused) << " was added";
            } catch (Bas::CCheckException* raw) {
                EXPECT_EQ(&Bas::Own(raw)->Message(), &Granite::ERR_ZIP_DUPLICATE_NAME) << Granite::ToUtf8(refused);
            }
        }
        EXPECT_THROW(zip.AddDirectory(L"Top.TXT", L""), Bas::CCheckException*);
        zip.ReleaseName(L"GleanAppLog.log");
        AddBytes(zip, L"GleanAppLog.log", "log");
    }
    const auto entries = ReadArchive(Bytes());
    std::vector<std::string> names;
    for (const auto& e : entries)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"logs/", "logs/old/", "logs/old/one.log", "logs/old/two.log", "MSI/",
                                               "top.txt", "LOGS/Old/three.log", "GleanAppLog.log"}));
    // Folders carry a date a reader can take (the time the archive was
    // opened): neither month nor day is 0.
    const std::string bytes = Bytes();
    const std::uint16_t date = U16(bytes, 12);
    EXPECT_NE((date >> 5) & 0xF, 0) << "month";
    EXPECT_NE(date & 0x1F, 0) << "day";
    for (const auto& e : entries) {
        if (e.name.back() != '/')
            continue;
        EXPECT_EQ(e.attributes, 0x30u) << e.name;
        EXPECT_EQ(e.compressedSize, 0u) << e.name;
        EXPECT_EQ(e.method, 0) << e.name;
        EXPECT_EQ(e.comment, "") << e.name;
    }
}

TEST_F(ZipCompressor, NamesAreNormalised)
{
    using Z = Granite::CZipCompressor;
    EXPECT_EQ(Z::NormalizeName(L"a\\b\\c"), L"a/b/c");
    EXPECT_EQ(Z::NormalizeName(L".\\a"), L"a");
    EXPECT_EQ(Z::NormalizeName(L"../a"), L"../a");
    EXPECT_EQ(Z::NormalizeName(L".../a"), L".../a");
    EXPECT_EQ(Z::NormalizeName(L"/a"), L"/a");
    EXPECT_EQ(Z::NormalizeName(L"//a"), L"a");
    try {
        Z::NormalizeName(L"./");
        FAIL() << "an empty name was accepted";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        EXPECT_NE(dynamic_cast<Bas::CInternalError*>(error.get()), nullptr);
    }
}

TEST_F(ZipCompressor, Utf8NamesAndCommentsOnlyInTheCentralDirectory)
{
    {
        Granite::CZipCompressor zip;
        zip.Open(archive);
        AddBytes(zip, L"\x041B\x043E\x0433\\\x0444.txt", "x", L"Settings \x00E9 File");
    }
    const std::string bytes = Bytes();
    const auto entries = ReadArchive(bytes);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "\xD0\x9B\xD0\xBE\xD0\xB3/");
    EXPECT_EQ(entries[1].name, "\xD0\x9B\xD0\xBE\xD0\xB3/\xD1\x84.txt");
    EXPECT_EQ(entries[1].comment, "Settings \xC3\xA9 File");
    EXPECT_EQ(bytes.find("Settings"), bytes.rfind("Settings"));
    EXPECT_GT(bytes.find("Settings"), U32(bytes, bytes.size() - 22 + 16));
}

TEST_F(ZipCompressor, AnEntryWhoseSourceFailsIsCutBack)
{
    {
        Granite::CZipCompressor zip;
        zip.Open(archive);
        AddBytes(zip, L"first.txt", "first");
        const std::uint64_t before = zip.GetPosition();
        // Opened without read access: reading fails after the local header
        // has been written.
        folder.WriteBytes(L"unreadable.bin", "data");
        Bas::CFile unreadable(folder / L"unreadable.bin", Bas::CFile::OpenWrite);
        try {
            zip.AddStream(unreadable, L"dir\\unreadable.bin", L"", 0, 0, 0x20);
            FAIL() << "no error";
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            EXPECT_NE(dynamic_cast<Bas::CFileException*>(error.get()), nullptr);
        }
        // The directory entry made for it stays; the file entry is gone.
        EXPECT_EQ(zip.GetLength(), zip.GetPosition());
        EXPECT_GT(zip.GetPosition(), before);
        AddBytes(zip, L"second.txt", "second");
    }
    const auto entries = ReadArchive(Bytes());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].name, "dir/");
    EXPECT_EQ(entries[2].name, "second.txt");
    EXPECT_EQ(entries[2].data, "second");
    EXPECT_EQ(entries[2].offset, entries[1].offset + 30 + 4);
}

TEST_F(ZipCompressor, UnsafeNamesAreRefusedBeforeAnythingIsWritten)
{
    folder.WriteBytes(L"one.txt", "1");
    Granite::CZipCompressor zip;
    zip.Open(archive);
    for (const wchar_t* name : {L"../../up/000_one.txt", L"/rooted/one.txt", L"C:/one.txt", L"a/../../b/"}) {
        try {
            if (name[wcslen(name) - 1] == L'/')
                zip.AddDirectory(name, L"");
            else
                zip.AddFile(folder / L"one.txt", name, L"");
            ADD_FAILURE() << "accepted " << Granite::ToUtf8(name);
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(&check->Message(), &Granite::ERR_ZIP_UNSAFE_NAME);
        }
    }
    EXPECT_EQ(zip.GetPosition(), 0u);
    EXPECT_TRUE(zip.Entries().empty());
}

TEST_F(ZipCompressor, MissingSourceWritesNothing)
{
    Granite::CZipCompressor zip;
    zip.Open(archive);
    try {
        zip.AddFile(folder / L"absent.txt", L"sub/absent.txt", L"");
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        EXPECT_NE(dynamic_cast<Bas::CFileException*>(error.get()), nullptr);
    }
    EXPECT_EQ(zip.GetPosition(), 0u);
    EXPECT_TRUE(zip.Entries().empty());
}

// Bytes kept for what must follow: an entry that would leave less is refused
// and cut back; BytesFor is never less than what an entry takes, data that
// does not compress included.
TEST_F(ZipCompressor, KeepsTheReservedBytesFree)
{
    using Z = Granite::CZipCompressor;
    Z zip;
    zip.Open(archive);
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{70000}, Z::kChunkSize + 1}) {
        const std::string noise = RandomBytes(size, 5, false);
        const std::uint64_t before = zip.GetPosition();
        const std::wstring name = L"noise" + std::to_wstring(size) + L".bin";
        AddBytes(zip, name, noise, L"comment");
        const std::uint64_t taken = zip.GetPosition() - before + 46 + zip.Entries().back().names.size();
        EXPECT_LE(taken, Z::BytesFor({name, L"comment", size})) << size;
    }
    EXPECT_GE(Z::BytesFor(std::vector<Z::CPlannedEntry>{{L"MSI/a.log", L"", 10}, {L"MSI/b.log", L"", 10}}),
              Z::BytesFor({L"MSI/a.log", L"", 10}) + Z::BytesFor({L"MSI/b.log", L"", 10}) + 2 * (30 + 4) + 16);

    // All but 1000 bytes of the 2 GiB kept: 3000 bytes of noise do not fit.
    const std::uint64_t full = zip.GetPosition();
    zip.ReserveBytes(Z::kMaxPosition - full - 1000);
    try {
        AddBytes(zip, L"late.bin", RandomBytes(3000, 6, false));
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(&check->Message(), &Granite::ERR_ZIP_ARCHIVE_TOO_LARGE);
    }
    EXPECT_EQ(zip.GetPosition(), full);
    // The central directory counts too: 100 bytes hold the entry's header
    // and data, not the records of all entries.
    zip.ReserveBytes(Z::kMaxPosition - full - 100);
    try {
        AddBytes(zip, L"small.txt", "x");
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        Bas::Own(raw);
    }
    zip.ReserveBytes(0);
    AddBytes(zip, L"late.bin", RandomBytes(3000, 6, false));
    zip.Close();
    EXPECT_TRUE(zip.Entries().back().Name() == "late.bin");
}

TEST_F(ZipCompressor, RefusesEntriesPastTheFormatsCounts)
{
    Granite::CZipCompressor zip;
    zip.Open(archive);
    // Past 65535 bytes in components a file system holds.
    std::wstring tooLong;
    while (tooLong.size() < 0x10000)
        tooLong += std::wstring(200, L'n') + L"/";
    tooLong += L"n";
    for (const auto& [name, comment] : {std::pair{tooLong, std::wstring()}, std::pair{std::wstring(L"n"), tooLong}}) {
        try {
            AddBytes(zip, name, "x", comment);
            FAIL() << "no error";
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(&check->Message(), &Granite::ERR_ZIP_NAME_TOO_LONG);
        }
    }
    EXPECT_EQ(zip.GetPosition(), 0u);

    for (std::size_t i = 0; i < Granite::CZipCompressor::kMaxEntries - 2; ++i)
        zip.AddDirectory(L"d" + std::to_wstring(i), L"");
    // Entries kept for what must follow are not given to anything else.
    zip.ReserveEntries(2);
    EXPECT_THROW(
        {
            try {
                AddBytes(zip, L"one-more.txt", "x");
            } catch (Bas::CException* raw) {
                auto error = Bas::Own(raw);
                auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
                ASSERT_NE(check, nullptr);
                EXPECT_EQ(&check->Message(), &Granite::ERR_ZIP_TOO_MANY_ENTRIES);
                throw 1;
            }
        },
        int);
    zip.ReserveEntries(0);
    AddBytes(zip, L"reserved.txt", "x");
    // What names take at most: each, and each folder in them once.
    EXPECT_EQ(Granite::CZipCompressor::EntriesFor({L"a.txt", L"MSI\\x.log", L"MSI/Logs/y.log", L"EventLog/A.evt",
                                                   L"EventLog/B.evt"}),
              5u + 3u);
    // The last free entry cannot take a file that needs a directory too.
    const std::uint64_t full = zip.GetPosition();
    try {
        AddBytes(zip, L"new/file.txt", "x");
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(&check->Message(), &Granite::ERR_ZIP_TOO_MANY_ENTRIES);
        EXPECT_EQ(check->Parameter(0), L"new/file.txt");
    }
    EXPECT_EQ(zip.GetPosition(), full);
    AddBytes(zip, L"last.txt", "x");
    zip.Close();
    const std::string bytes = Bytes();
    EXPECT_EQ(U16(bytes, bytes.size() - 22 + 8), 0xFFFF);
}

// Sizes are 32-bit without zip64: a source of 4 GiB + 10 bytes would be
// recorded as 10 bytes. It is refused and cut back like any failed entry.
TEST_F(ZipCompressor, RefusesAnEntryOf4GiBOrMore)
{
    {
        Bas::CFile big(folder / L"big.bin", Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        big.Seek(0x100000000ull);
        big.Write("0123456789", 10); // sparse up to here
    }
    Granite::CZipCompressor zip;
    zip.Open(archive);
    AddBytes(zip, L"before.txt", "before");
    const std::uint64_t before = zip.GetPosition();
    try {
        zip.AddFile(folder / L"big.bin", L"Logs/big.bin", L"");
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(&check->Message(), &Granite::ERR_ZIP_ENTRY_TOO_LARGE);
        EXPECT_EQ(check->Parameter(0), L"Logs/big.bin");
    }
    // Only its directory entry stays.
    EXPECT_EQ(zip.GetLength(), before + 30 + 5);
    AddBytes(zip, L"after.txt", "after");
    zip.Close();
    const auto entries = ReadArchive(Bytes());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].name, "Logs/");
    EXPECT_EQ(entries[2].data, "after");
}

class CCountingHandler : public Bas::CMessageHandler {
public:
    int ShowMessage(HWND, const std::wstring&, const std::wstring&, UINT) override { return ++shown, IDOK; }
    int shown = 0;
};

// A failed Close leaves the writer closed: its destructor must not write
// a second central directory and report the error again.
TEST_F(ZipCompressor, AFailedCloseIsReportedOnce)
{
    CCountingHandler handler;
    Bas::SetThreadMessageHandler(&handler);
    {
        Granite::CZipCompressor zip;
        zip.Open(archive);
        AddBytes(zip, L"a.txt", "a");
        zip.Seek(0x80000000ull); // beyond what the format's offsets can hold
        try {
            zip.Close();
            FAIL() << "no error";
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            EXPECT_NE(dynamic_cast<Bas::CInternalError*>(error.get()), nullptr);
        }
        EXPECT_FALSE(zip.IsOpen());
        zip.Close();
    }
    Bas::SetThreadMessageHandler(nullptr);
    EXPECT_EQ(handler.shown, 0);
    // The file was closed with the writer.
    EXPECT_TRUE(::DeleteFileW(archive.c_str()));
}

// An error that leaves the writer's scope while it is open (a full disk
// while an entry was written) is reported once, by whoever catches it: the
// writer's destructor does not try again and report its own failure.
TEST_F(ZipCompressor, AnErrorPassingThroughIsNotReportedTwice)
{
    CCountingHandler handler;
    Bas::SetThreadMessageHandler(&handler);
    try {
        Granite::CZipCompressor zip;
        zip.Open(archive);
        AddBytes(zip, L"a.txt", "a");
        zip.Seek(0x80000000ull); // a central directory here would fail
        Bas::ThrowFileError(ERROR_DISK_FULL, archive);
    } catch (Bas::CException* raw) {
        Bas::Own(raw);
    }
    Bas::SetThreadMessageHandler(nullptr);
    EXPECT_EQ(handler.shown, 0);
    EXPECT_TRUE(::DeleteFileW(archive.c_str()));
}

TEST_F(ZipCompressor, DosTimeOfAFileTime)
{
    SYSTEMTIME system = {2024, 3, 0, 15, 13, 45, 30, 0};
    FILETIME time;
    ASSERT_TRUE(::SystemTimeToFileTime(&system, &time));
    std::uint16_t date = 0;
    std::uint16_t clock = 0;
    Granite::CZipCompressor::ToDosTime(time, date, clock);
    EXPECT_EQ(date, ((2024 - 1980) << 9) | (3 << 5) | 15);
    EXPECT_EQ(clock, (13 << 11) | (45 << 5) | 15);
    // A file's time outside the DOS range (a file dated 1970, or 1601 for a
    // zero time; one in 2200) takes the nearest end, never month 0 or a
    // year wrapped around.
    const auto dosOf = [](WORD year, WORD month, WORD day, WORD hour) {
        SYSTEMTIME parts = {year, month, 0, day, hour, 0, 0, 0};
        FILETIME when = {};
        EXPECT_TRUE(::SystemTimeToFileTime(&parts, &when));
        std::uint16_t dosDate = 0;
        std::uint16_t dosTime = 0;
        Granite::CZipCompressor::ToDosTime(when, dosDate, dosTime);
        return std::pair{dosDate, dosTime};
    };
    const std::pair<std::uint16_t, std::uint16_t> first{(1 << 5) | 1, 0};
    const std::pair<std::uint16_t, std::uint16_t> last{(127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29};
    EXPECT_EQ(dosOf(1601, 1, 1, 0), first);
    EXPECT_EQ(dosOf(1970, 1, 1, 0), first);
    EXPECT_EQ(dosOf(1979, 12, 31, 23), first);
    EXPECT_EQ(dosOf(2108, 1, 1, 0), last);
    EXPECT_EQ(dosOf(2200, 6, 1, 0), last);
    EXPECT_EQ(dosOf(2107, 12, 31, 23).first, last.first);
}

// A sample archive for the independent readers (unzip, 7z, bsdtar, Python),
// written where GRANITE_SAMPLE_ZIP says.
TEST_F(ZipCompressor, WritesTheSampleForIndependentReaders)
{
    const char* target = std::getenv("GRANITE_SAMPLE_ZIP");
    if (target == nullptr)
        GTEST_SKIP() << "GRANITE_SAMPLE_ZIP is not set";
    std::wstring path(target, target + std::strlen(target));
    Granite::CZipCompressor zip;
    zip.Open(path);
    AddBytes(zip, L"Glean.ini", "[Common]\r\nAppName=Test\r\n", L"Settings File");
    AddBytes(zip, L"Logs\\sub\\000_big.bin", RandomBytes(3 * Granite::CZipCompressor::kChunkSize + 5, 7, false),
             L"C:\\source\\big.bin");
    AddBytes(zip, L"Logs\\001_empty.txt", "", L"C:\\source\\empty.txt");
    zip.AddDirectory(L"MSI", L"");
    AddBytes(zip, L"MSI\\\x0444\x0430\x0439\x043B.log", RandomBytes(5000, 9, true), L"C:\\\x0444.log");
    zip.AddDirectory(L"EventLog/", L"");
    zip.Close();
}

} // namespace

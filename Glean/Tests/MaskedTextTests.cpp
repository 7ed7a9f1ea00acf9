#include "MaskedText.h"
#include "TestFolder.h"
#include "TextTools.h"

#include <gtest/gtest.h>

namespace {

Glean::CPrivacyMask::CConfig Config()
{
    Glean::CPrivacyMask::CConfig config;
    config.users = {L"jdoe", L"M\u00FCller"};
    config.hosts = {L"ACME-PC"};
    return config;
}

struct CMasked {
    std::string bytes;
    Glean::CMaskedReader::EEncoding encoding;
};

// A file as it goes into the archive, read in the deflater's chunks.
CMasked ReadMasked(Glean::CPrivacyMask& mask, const std::wstring& path, bool wide = false)
{
    Bas::CFile file(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    Glean::CMaskedReader reader(file, mask, Glean::CMaskedReader::Registering, wide);
    std::string bytes;
    std::string chunk(0x40000, '\0');
    for (std::size_t read; (read = reader.Read(chunk.data(), chunk.size())) > 0;)
        bytes.append(chunk.data(), read);
    return {bytes, reader.Encoding()};
}

std::string Utf16(const std::wstring& text, bool bigEndian = false)
{
    std::string bytes;
    for (const wchar_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

// Every encoding keeps its bytes wherever there is nothing to mask, and
// gets the stand-ins in its own form where there is.
TEST(MaskedText, EachEncodingInItsOwnForm)
{
    Testing::CTestFolder folder;
    Glean::CPrivacyMask mask(Config());
    struct CCase {
        const wchar_t* name;
        std::string bytes;
        bool wide;
        std::string expected;
        Glean::CMaskedReader::EEncoding encoding;
    };
    const CCase cases[] = {
        {L"utf8.log", "caf\xC3\xA9 jdoe\r\nnothing\n", false, "caf\xC3\xA9 user1\r\nnothing\n", Glean::CMaskedReader::Utf8},
        {L"mark.log", "\xEF\xBB\xBFjdoe on ACME-PC", false, "\xEF\xBB\xBFuser1 on host1", Glean::CMaskedReader::Utf8},
        {L"ansi.log", "caf\xE9 jdoe\r\n", false, "caf\xE9 user1\r\n", Glean::CMaskedReader::Ansi},
        {L"wide.log", "\xFF\xFE" + Utf16(L"host ACME-PC\r\nuser jdoe"), false, "\xFF\xFE" + Utf16(L"host host1\r\nuser user1"),
         Glean::CMaskedReader::Utf16},
        {L"big.log", "\xFE\xFF" + Utf16(L"jdoe\n", true), false, "\xFE\xFF" + Utf16(L"user1\n", true),
         Glean::CMaskedReader::Utf16BigEndian},
        // UTF-16 without a mark: by its pattern, and where the program reads
        // such files as text (an installer log); an odd last byte is kept.
        {L"nomark.log", Utf16(L"=== jdoe\r\n") + "\x7F", false, Utf16(L"=== user1\r\n") + "\x7F", Glean::CMaskedReader::Utf16},
        {L"msi.log", Utf16(L"\u4E00 jdoe"), true, Utf16(L"\u4E00 user1"), Glean::CMaskedReader::Utf16},
        {L"data.bin", std::string("jdoe\0\0jdoe", 10), false, std::string("jdoe\0\0jdoe", 10), Glean::CMaskedReader::Binary},
    };
    for (const CCase& test : cases) {
        folder.WriteBytes(test.name, test.bytes);
        const CMasked masked = ReadMasked(mask, folder / test.name, test.wide);
        EXPECT_EQ(masked.bytes, test.expected) << Bas::Narrow(test.name, CP_UTF8);
        EXPECT_EQ(masked.encoding, test.encoding) << Bas::Narrow(test.name, CP_UTF8);
    }
}

// Text whose first 64 KiB are ASCII is taken as UTF-8; an ANSI line after
// them is no UTF-8, and is masked in the code page instead of being damaged;
// with nothing to mask the file stays byte for byte. A UTF-8 line in a file
// taken for the code page is masked as UTF-8.
TEST(MaskedText, AnAnsiLineAfterTheProbeIsNeitherDamagedNorMissed)
{
    Testing::CTestFolder folder;
    Glean::CPrivacyMask mask(Config());
    const std::string ansiName = Bas::Narrow(L"M\u00FCller", CP_ACP);
    std::string ascii;
    while (ascii.size() < 0x12000)
        ascii += "plain ASCII line of a log that holds nothing personal\r\n";
    const std::string caf = "caf\xE9 au lait\r\n";
    folder.WriteBytes(L"late.log", ascii + caf + "bye\r\n");
    EXPECT_EQ(ReadMasked(mask, folder / L"late.log").bytes, ascii + caf + "bye\r\n");
    folder.WriteBytes(L"name.log", ascii + caf + "from " + ansiName + "\r\n");
    const CMasked masked = ReadMasked(mask, folder / L"name.log");
    EXPECT_EQ(masked.encoding, Glean::CMaskedReader::Utf8);
    EXPECT_EQ(masked.bytes, ascii + caf + "from user1\r\n");
    // The other way round: a UTF-8 line in a file of the code page.
    folder.WriteBytes(L"utf8name.log", caf + "from M\xC3\xBCller\r\n" + caf);
    const CMasked utf8 = ReadMasked(mask, folder / L"utf8name.log");
    EXPECT_EQ(utf8.encoding, Glean::CMaskedReader::Ansi);
    EXPECT_EQ(utf8.bytes, caf + "from user1\r\n" + caf);
}

// What lies across the edge of a read block, and a line longer than a
// block, is found all the same.
TEST(MaskedText, OriginalsAcrossBlockEdgesAndInLongLines)
{
    Testing::CTestFolder folder;
    Glean::CPrivacyMask mask(Config());
    std::string filler;
    while (filler.size() < 0x100000 - 4)
        filler += "line of text from the log, nothing to hide here at all\r\n";
    filler.resize(0x100000 - 4);
    folder.WriteBytes(L"edge.log", filler + "\r\nACME-PC jdoe\r\n");
    EXPECT_EQ(ReadMasked(mask, folder / L"edge.log").bytes, filler + "\r\nhost1 user1\r\n");

    // One line of 2.5 MiB: the cuts fall between words.
    std::string line;
    while (line.size() < 0x280000)
        line += "word jdoe,ACME-PC;";
    folder.WriteBytes(L"long.log", line);
    const CMasked masked = ReadMasked(mask, folder / L"long.log");
    EXPECT_EQ(masked.bytes.find("jdoe"), std::string::npos);
    EXPECT_EQ(masked.bytes.find("ACME"), std::string::npos);
    EXPECT_EQ(masked.bytes.size(), line.size() / 18 * 17);

    // Lines whose only blanks are part of a listed word, in UTF-8 and in
    // UTF-16, with a name right across the end of the first block.
    Glean::CPrivacyMask::CConfig config = Config();
    config.words = {L"Project Falcon"};
    Glean::CPrivacyMask spaced(config);
    std::string prose;
    while (prose.size() < 0x100000 - 3)
        prose += "lorem ipsum ";
    prose.resize(0x100000 - 3);
    prose += " jdoe ";
    while (prose.size() < 0x300000)
        prose += "dolor ";
    folder.WriteBytes(L"prose.log", prose);
    EXPECT_EQ(ReadMasked(spaced, folder / L"prose.log").bytes.find("jdoe"), std::string::npos);
    std::wstring wide(0x80000 - 3, L'x');
    wide += L" ACME-PC and 10.20.30.40 ";
    wide.append(0x100000, L'y');
    folder.WriteBytes(L"prose16.log", "\xFF\xFE" + Utf16(wide));
    const std::string masked16 = ReadMasked(spaced, folder / L"prose16.log").bytes;
    EXPECT_EQ(masked16.find(Utf16(L"ACME")), std::string::npos);
    EXPECT_NE(masked16.find(Utf16(L" host1 and ip")), std::string::npos);
}

// Text that another program appended in another encoding: UTF-16 after an
// ASCII start (at either byte alignment), text of the code page after a
// UTF-16 start.
TEST(MaskedText, TextAppendedInAnotherEncoding)
{
    Testing::CTestFolder folder;
    Glean::CPrivacyMask mask(Config());
    const std::string ascii(0x11000, 'a');
    for (const std::string& gap : {std::string("\r\n"), std::string("\r\nx")}) {
        folder.WriteBytes(L"late16.log", ascii + gap + Utf16(L"user jdoe on ACME-PC\r\n"));
        EXPECT_EQ(ReadMasked(mask, folder / L"late16.log").bytes, ascii + gap + Utf16(L"user user1 on host1\r\n"));
    }
    const std::string start = "\xFF\xFE" + Utf16(L"started\r\n");
    folder.WriteBytes(L"lateAnsi.log", start + "echo by jdoe on ACME-PC\r\n");
    EXPECT_EQ(ReadMasked(mask, folder / L"lateAnsi.log").bytes, start + "echo by user1 on host1\r\n");
    // UTF-16 again after an odd number of such bytes.
    folder.WriteBytes(L"lateBoth.log", start + "odd by jdoe\r\n" + Utf16(L"again ACME-PC\r\n"));
    EXPECT_EQ(ReadMasked(mask, folder / L"lateBoth.log").bytes, start + "odd by user1\r\n" + Utf16(L"again host1\r\n"));
}

// Ahead of the writer nothing gets a stand-in: the data is void once the
// filter meets an original without one, and reads the same at the writer's
// turn as it would have had it been read there first.
TEST(MaskedText, AheadOfTheWriterNewOriginalsVoidTheData)
{
    Testing::CTestFolder folder;
    Glean::CPrivacyMask mask(Config());
    folder.WriteBytes(L"a.log", "jdoe at 10.1.2.3\r\n");
    Bas::CFile file(folder / L"a.log", Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    Glean::CMaskedReader ahead(file, mask, Glean::CMaskedReader::Ahead, false);
    char buffer[64];
    ahead.Read(buffer, sizeof buffer);
    EXPECT_TRUE(ahead.Void());
    EXPECT_TRUE(mask.Key().empty());
    EXPECT_EQ(ReadMasked(mask, folder / L"a.log").bytes, "user1 at ip1\r\n");
    file.Seek(0);
    Glean::CMaskedReader again(file, mask, Glean::CMaskedReader::Ahead, false);
    const std::size_t read = again.Read(buffer, sizeof buffer);
    EXPECT_FALSE(again.Void());
    EXPECT_EQ(std::string(buffer, read), "user1 at ip1\r\n");
}

} // namespace

#include "Errors.h"
#include "TestFolder.h"
#include "TextStream.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::wstring>;

Lines ReadLines(const std::wstring& path, unsigned codePage, unsigned* detected = nullptr)
{
    Bas::CTextFile file;
    file.Open(path, Bas::CTextFile::ModeRead, codePage);
    if (detected != nullptr)
        *detected = file.CodePage();
    Lines lines;
    std::wstring line;
    while (file.ReadTextLine(line))
        lines.push_back(line);
    return lines;
}

TEST(WriteLines, Utf16WithMarkAndCrLfAfterEachLine)
{
    Testing::CTestFolder folder;
    Bas::WriteLines(folder / L"two.log", {L"a", L""});
    EXPECT_EQ(folder.ReadBytes(L"two.log"), std::string("\xFF\xFE" "a\0\r\0\n\0\r\0\n\0", 12));
    Bas::WriteLines(folder / L"none.log", {});
    EXPECT_EQ(folder.ReadBytes(L"none.log"), "\xFF\xFE");
    Bas::WriteLines(folder / L"ru.log", {L"\x0424"});
    EXPECT_EQ(folder.ReadBytes(L"ru.log"), std::string("\xFF\xFE\x24\x04\r\0\n\0", 8));
}

TEST(TextFileWrite, MarksAndTerminatorsOfEachCodePage)
{
    Testing::CTestFolder folder;
    const struct {
        unsigned codePage;
        std::string bytes;
    } cases[] = {
        {1201, std::string("\xFE\xFF\x04\x24\0\r\0\n", 8)},
        {65001, "\xEF\xBB\xBF\xD0\xA4\r\n"},
        {1251, "\xD4\r\n"},
    };
    for (const auto& c : cases) {
        const std::wstring name = L"cp" + std::to_wstring(c.codePage);
        Bas::CTextFile file;
        file.Open(folder / name, Bas::CTextFile::ModeWrite, c.codePage);
        file.WriteLine(L"\x0424");
        file.Close();
        EXPECT_EQ(folder.ReadBytes(name), c.bytes) << c.codePage;
        EXPECT_EQ(ReadLines(folder / name, 1251), Lines{L"\x0424"}) << c.codePage;
    }
}

TEST(TextFileRead, EveryTerminator)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"mixed.txt", "a\rb\r\nc");
    EXPECT_EQ(ReadLines(folder / L"mixed.txt", 0), (Lines{L"a", L"b", L"c"}));
    folder.WriteBytes(L"more.txt", "1\n2\v3\f4\r\r5\n");
    EXPECT_EQ(ReadLines(folder / L"more.txt", 0), (Lines{L"1", L"2", L"3", L"4", L"", L"5"}));
    folder.WriteBytes(L"wide.txt", std::string("\xFF\xFE" "a\0\x28\x20" "b\0\x29\x20" "c\0\r\0\n\0", 16));
    EXPECT_EQ(ReadLines(folder / L"wide.txt", 0), (Lines{L"a", L"b", L"c"}));
    folder.WriteBytes(L"utf8.txt", "\xEF\xBB\xBFx\xE2\x80\xA8y");
    EXPECT_EQ(ReadLines(folder / L"utf8.txt", 0), (Lines{L"x", L"y"}));
    folder.WriteBytes(L"empty.txt", "");
    EXPECT_EQ(ReadLines(folder / L"empty.txt", 0), Lines{});
}

TEST(TextFileRead, ByteOrderMarkWinsOverTheCallersCodePage)
{
    Testing::CTestFolder folder;
    unsigned detected = 0;
    folder.WriteBytes(L"utf8.txt", "\xEF\xBB\xBF\xD0\xA4");
    EXPECT_EQ(ReadLines(folder / L"utf8.txt", 1251, &detected), Lines{L"\x0424"});
    EXPECT_EQ(detected, 65001u);
    folder.WriteBytes(L"be.txt", std::string("\xFE\xFF\x04\x24", 4));
    EXPECT_EQ(ReadLines(folder / L"be.txt", 1251, &detected), Lines{L"\x0424"});
    EXPECT_EQ(detected, 1201u);
    // Without a mark the caller's code page decides.
    folder.WriteBytes(L"plain.txt", "\xD4");
    EXPECT_EQ(ReadLines(folder / L"plain.txt", 1251, &detected), Lines{L"\x0424"});
    EXPECT_EQ(detected, 1251u);
    folder.WriteBytes(L"short.txt", "\xEF");
    EXPECT_EQ(ReadLines(folder / L"short.txt", 1252), Lines{L"\xEF"});
}

TEST(TextFileRead, LinesLongerThanTheBuffer)
{
    Testing::CTestFolder folder;
    const std::string longLine(5000, 'q');
    folder.WriteBytes(L"long.txt", longLine + "\r\n" + longLine);
    const Lines lines = ReadLines(folder / L"long.txt", 0);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::wstring(5000, L'q'));
    EXPECT_EQ(lines[1], std::wstring(5000, L'q'));
}

TEST(TextFileRead, MissingFileIsAFileError)
{
    Testing::CTestFolder folder;
    Bas::CTextFile file;
    try {
        file.Open(folder / L"absent.txt", Bas::CTextFile::ModeRead, 0);
        FAIL() << "no exception";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* fileError = dynamic_cast<Bas::CFileException*>(error.get());
        ASSERT_NE(fileError, nullptr);
        EXPECT_EQ(fileError->Kind(), Bas::EFileError::NotFound);
    }
}

} // namespace

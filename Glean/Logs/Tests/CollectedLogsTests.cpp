#include "DrivesLog.h"
#include "File.h"
#include "Errors.h"
#include "FilesLog.h"
#include "GleanAppLog.h"
#include "Message.h"
#include "MsiLogs.h"
#include "PostedQuit.h"
#include "TempFile.h"
#include "TestFolder.h"
#include "generated/GleanMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

std::string Utf16Bytes(const std::wstring& text, bool mark = false)
{
    std::string bytes;
    if (mark)
        bytes = "\xFF\xFE";
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// The lines of a text split going forwards: "\r\n" and a lone "\n" end a
// line, a lone "\r" stays in it; what follows the last break is a line,
// an empty one too (read backwards it comes first).
std::vector<std::wstring> ForwardLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::wstring current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n') {
            if (!current.empty() && current.back() == L'\r')
                current.pop_back();
            lines.push_back(current);
            current.clear();
        } else {
            current.push_back(text[i]);
        }
    }
    if (!text.empty())
        lines.push_back(current);
    return lines;
}

std::vector<std::wstring> BackwardLines(const std::wstring& path)
{
    Glean::CMsiLogReader reader(path);
    std::vector<std::wstring> lines;
    std::wstring line;
    while (reader.ReadPreviousLine(line))
        lines.push_back(line);
    std::reverse(lines.begin(), lines.end());
    return lines;
}

// A text of `units` code units with line breaks of every kind, the ones
// named in `breaks` placed so that a break starts at that index.
std::wstring MakeLog(std::size_t units, const std::map<std::size_t, std::wstring>& breaks)
{
    std::wstring text;
    text.reserve(units);
    unsigned n = 0;
    while (text.size() < units) {
        auto at = breaks.find(text.size());
        if (at != breaks.end()) {
            text += at->second;
            continue;
        }
        ++n;
        if (n % 97 == 0)
            text += L"\r\n";
        else if (n % 89 == 0)
            text += L"\n";
        else if (n % 83 == 0)
            text += L"\r";
        else
            text.push_back(static_cast<wchar_t>(L'a' + n % 26));
    }
    text.resize(units);
    return text;
}

class MsiLogReader : public testing::Test {
protected:
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;

    void ExpectSameSplit(const std::wstring& text, bool mark = false)
    {
        folder.WriteBytes(L"MSI1.log", Utf16Bytes(text, mark));
        const auto backward = BackwardLines(folder / L"MSI1.log");
        const auto forward = ForwardLines(text);
        ASSERT_EQ(backward.size(), forward.size()) << text.size() << " units";
        for (std::size_t i = 0; i < forward.size(); ++i)
            ASSERT_EQ(backward[i], forward[i]) << "line " << i << " of a text of " << text.size() << " units";
    }
};

TEST_F(MsiLogReader, ReadsBackwardsAcrossWindowsLikeAForwardSplit)
{
    constexpr std::size_t w = Glean::CMsiLogReader::kWindowUnits;
    for (std::size_t units : {std::size_t{1}, w - 1, w, w + 1, std::size_t{150000}})
        ExpectSameSplit(MakeLog(units, {}));
    // 300 KiB with breaks on, just before and across each window boundary.
    const std::size_t big = 300 * 1024 / 2;
    ExpectSameSplit(MakeLog(big, {{w - 1, L"\r\n"}, {w + 5, L"\n"}, {2 * w - 2, L"\r\n"}}));
    ExpectSameSplit(MakeLog(big, {{w, L"\r\n"}, {2 * w - 1, L"\n\n"}}));
    ExpectSameSplit(MakeLog(big, {{w - 1, L"\n"}, {2 * w - 1, L"\r"}}));
    // A "\r\n" split over the boundary counts once: the line before it ends
    // in a letter, not in "\r".
    const std::wstring split = MakeLog(big, {{w - 1, L"\r\n"}});
    ASSERT_EQ(split.substr(w - 1, 2), L"\r\n");
    ExpectSameSplit(split);
}

TEST_F(MsiLogReader, MarkDroppedAndEmptyFilesReadNothing)
{
    ExpectSameSplit(L"first\r\nsecond\r\n", true);
    folder.WriteBytes(L"MSI1.log", Utf16Bytes(L"only", true));
    EXPECT_EQ(BackwardLines(folder / L"MSI1.log"), std::vector<std::wstring>{L"only"});
    // A mark not at the start stays.
    folder.WriteBytes(L"MSI1.log", Utf16Bytes(L"a\n\xFEFF" L"b"));
    EXPECT_EQ(BackwardLines(folder / L"MSI1.log"), (std::vector<std::wstring>{L"a", L"\xFEFF" L"b"}));
    for (const std::string& bytes : {std::string(), std::string("x")}) {
        folder.WriteBytes(L"MSI1.log", bytes);
        Glean::CMsiLogReader reader(folder / L"MSI1.log");
        EXPECT_FALSE(reader.HasWindow());
        std::wstring line;
        EXPECT_FALSE(reader.ReadPreviousLine(line));
    }
    EXPECT_TRUE(log.Lines().empty());
}

// A line past the bound gives its beginning, and the lines before it are
// still read. A log of 1.5 GB without a line break after its deciding line
// is read through without becoming one string.
TEST_F(MsiLogReader, LongLinesAreReadToTheBound)
{
    constexpr std::size_t bound = Glean::CMsiLogReader::kMaxLineUnits;
    std::wstring longLine;
    for (std::size_t i = 0; i < 3 * bound + 5; ++i)
        longLine.push_back(static_cast<wchar_t>(0x4E00 + i % 20011));
    folder.WriteBytes(L"MSI1.log", Utf16Bytes(L"first\r\n" + longLine + L"\r\nlast", true));
    EXPECT_EQ(BackwardLines(folder / L"MSI1.log"),
              (std::vector<std::wstring>{L"first", longLine.substr(0, bound), L"last"}));

    const std::wstring path = folder / L"MSI2.log";
    {
        // Zeros after the line: a sparse file, written in no time.
        Bas::CFile file(path, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        const std::string start = Utf16Bytes(L"Property(S): ProductName = Writer\r\n", true);
        file.Write(start.data(), start.size());
        file.SetLength(1536ull << 20);
    }
    Glean::CMsiLogReader reader(path);
    std::wstring line;
    ASSERT_TRUE(reader.ReadPreviousLine(line));
    EXPECT_EQ(line, std::wstring(bound, L'\0'));
    EXPECT_LE(line.capacity(), 2 * bound);
    ASSERT_TRUE(reader.ReadPreviousLine(line));
    EXPECT_EQ(line, L"Property(S): ProductName = Writer");
}

TEST_F(MsiLogReader, ProductSelection)
{
    const std::vector<Glean::CMsiEntry> products = {{L"Reader X", L"Logs/"}, {L"Writer", L""}};
    auto index = [&](const std::wstring& text) {
        folder.WriteBytes(L"MSI1.log", Utf16Bytes(text, true));
        return Glean::FindProductIndex(folder / L"MSI1.log", products);
    };
    EXPECT_EQ(index(L"start\r\nProperty(S): ProductName =  Reader X \t\r\nend\r\n"), 0);
    EXPECT_EQ(index(L"Property(S): ProductName = Writer\r\nMore\r\n"), 1);
    EXPECT_EQ(index(L"Property(S):ProductName=Writer"), 1);
    // Only "Property(S):" decides; client-side lines are passed over.
    EXPECT_EQ(index(L"Property(C): ProductName = Writer\r\n"), 0);
    EXPECT_EQ(index(L"Property(S): ProductName = Other\r\n"), -1);
    // The line nearest the end decides.
    EXPECT_EQ(index(L"Property(S): ProductName = Writer\r\nProperty(S): ProductName = Other\r\n"), -1);
    EXPECT_EQ(index(L"Property(S): ProductName = Other\r\nProperty(S): ProductName = Writer\r\n"), 1);
    // Case matters for the prefix, the property and the product.
    EXPECT_EQ(index(L"property(s): ProductName = Writer\r\n"), 0);
    EXPECT_EQ(index(L"Property(S): productname = Writer\r\n"), 0);
    EXPECT_EQ(index(L"Property(S): ProductName = writer\r\n"), -1);
    EXPECT_EQ(index(L"Property(S): ProductNameX = Writer\r\nProperty(S): NoEquals\r\n"), 0);
    EXPECT_EQ(index(L""), 0);
    // A log that cannot be opened is offered as the first product's, with a
    // line in the application log.
    EXPECT_EQ(Glean::FindProductIndex(folder / L"missing.log", products), 0);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].find(Bas::Format(MSG_MSI_LOG_OPEN_ERROR, folder / L"missing.log", L"")), 0u);
}

TEST_F(MsiLogReader, RunSelectsMatchingLogsOfTheFolderOnly)
{
    const std::vector<Glean::CMsiEntry> products = {{L"Reader X", L"Logs/"}, {L"Writer", L""}};
    folder.WriteBytes(L"msiB.LOG", Utf16Bytes(L"Property(S): ProductName = Writer\r\n", true));
    folder.WriteBytes(L"MSIa.log", Utf16Bytes(L"Property(S): ProductName = Reader X\r\n", true));
    folder.WriteBytes(L"MSIc.log", Utf16Bytes(L"Property(S): ProductName = Other\r\n", true));
    folder.WriteBytes(L"MSIe.log", "");
    folder.WriteBytes(L"MSIh.log", "");
    ::SetFileAttributesW((folder / L"MSIh.log").c_str(), FILE_ATTRIBUTE_HIDDEN);
    folder.WriteBytes(L"other.log", "");
    ::CreateDirectoryW((folder / L"MSIsub.log").c_str(), nullptr);
    Glean::CMsiLogs logs;
    logs.Run(products, folder.Path());
    EXPECT_EQ(logs.files, (std::vector<std::wstring>{folder / L"MSIa.log", folder / L"msiB.LOG", folder / L"MSIe.log"}));
    EXPECT_EQ(logs.subFolders, (std::vector<std::wstring>{L"Logs/", L"", L"Logs/"}));
    logs.Run({}, folder.Path());
    EXPECT_TRUE(logs.files.empty());
    logs.Run(products, folder / L"missing");
    EXPECT_TRUE(logs.files.empty());
}

void SetWriteTime(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour, WORD minute)
{
    SYSTEMTIME utc = {year, month, 0, day, hour, minute, 0, 0};
    FILETIME time = {};
    ::SystemTimeToFileTime(&utc, &time);
    Bas::CFileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(file.IsValid());
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &time));
}

TEST(FilesLog, ListingOrderIndentTimesAndDigests)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"b.txt", "abc");
    folder.WriteBytes(L"A.txt", "");
    folder.WriteBytes(L"_x", "message digest");
    folder.WriteBytes(L"desktop.ini", "hidden");
    ::SetFileAttributesW((folder / L"desktop.ini").c_str(), FILE_ATTRIBUTE_HIDDEN);
    folder.WriteBytes(L"sys.dat", "system");
    ::SetFileAttributesW((folder / L"sys.dat").c_str(), FILE_ATTRIBUTE_SYSTEM);
    ::CreateDirectoryW((folder / L"Sub").c_str(), nullptr);
    folder.WriteBytes(L"Sub\\x.dll", "a");
    ::CreateDirectoryW((folder / L"Sub\\Empty").c_str(), nullptr);
    for (const wchar_t* name : {L"b.txt", L"A.txt", L"_x", L"Sub\\x.dll"})
        SetWriteTime(folder / name, 2025, 12, 31, 23, 30);
    SetWriteTime(folder / L"Sub\\Empty", 2001, 2, 3, 4, 5);
    SetWriteTime(folder / L"Sub", 2009, 10, 11, 0, 7);

    std::vector<std::wstring> lines;
    Glean::ListFolder(L"  ", folder.Path(), true, lines);
    const std::vector<std::wstring> tree = {
        L"  A.txt\t31.12.25 23:30\t0\tD41D8CD98F00B204E9800998ECF8427E",
        L"  Sub\t11.10.09 00:07\tFolder",
        L"    Empty\t03.02.01 04:05\tFolder",
        L"    x.dll\t31.12.25 23:30\t1\t0CC175B9C0F1B6A831C399E269772661",
        L"  _x\t31.12.25 23:30\t14\tF96B697D7CB7938D525A2F31AAF161D0",
        L"  b.txt\t31.12.25 23:30\t3\t900150983CD24FB0D6963F7D28E17F72",
    };
    EXPECT_EQ(lines, tree);
    // Not recursive: the subfolder's line without its contents.
    lines.clear();
    Glean::ListFolder(L"  ", folder.Path(), false, lines);
    EXPECT_EQ(lines, (std::vector<std::wstring>{tree[0], tree[1], tree[4], tree[5]}));
}

TEST(FilesLog, LockedFileGetsTheDigestErrorAndMissingFolderThrows)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"locked.txt", "x");
    {
        Bas::CFile writer(folder / L"locked.txt", Bas::CFile::OpenWrite | Bas::CFile::ShareRead);
        std::vector<std::wstring> lines;
        Glean::ListFolder(L"  ", folder.Path(), false, lines);
        ASSERT_EQ(lines.size(), 1u);
        const std::wstring expected = L"\t1\tMD5 calculation error: ";
        EXPECT_NE(lines[0].find(expected), std::wstring::npos) << lines[0];
        EXPECT_GT(lines[0].size(), lines[0].find(expected) + expected.size());
    }
    std::vector<std::wstring> lines;
    EXPECT_THROW(
        {
            try {
                Glean::ListFolder(L"  ", folder / L"gone", false, lines);
            } catch (Bas::CException* raw) {
                auto error = Bas::Own(raw);
                EXPECT_NE(dynamic_cast<Bas::CFileException*>(error.get()), nullptr);
                throw 1;
            }
        },
        int);
}

TEST(FilesLog, RunWritesHeadingsAndBlockEnds)
{
    Testing::CTestFolder folder;
    ::CreateDirectoryW((folder / L"empty").c_str(), nullptr);
    ::CreateDirectoryW((folder / L"tree").c_str(), nullptr);
    folder.WriteBytes(L"tree\\f", "");
    SetWriteTime(folder / L"tree\\f", 2020, 1, 2, 3, 4);
    Glean::CFilesLog log;
    log.Run({folder / L"empty"}, {folder / L"tree"});
    const std::wstring expected = L"\xFEFF" + folder / L"empty" + L" Files:\r\n \r\n" + folder / L"tree" +
                                  L" Tree:\r\n  f\t02.01.20 03:04\t0\tD41D8CD98F00B204E9800998ECF8427E\r\n \r\n";
    std::wstring text;
    const std::string bytes = Testing::ReadFileBytes(log.FilePath());
    text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    EXPECT_EQ(text, expected);
    Glean::CFilesLog none;
    none.Run({}, {});
    EXPECT_EQ(Testing::ReadFileBytes(none.FilePath()), "\xFF\xFE");
}

// Drives answered from a table; a drive letter missing from it has no root.
class CFakeDrives : public Glean::IDriveSystem {
public:
    struct CDrive {
        UINT type;
        bool medium;
        std::wstring label;
        DWORD serial;
    };
    std::map<wchar_t, CDrive> drives;
    // Folder contents by path; a folder with an error code cannot be listed.
    std::map<std::wstring, std::vector<Bas::CFindEntry>> folders;
    std::map<std::wstring, DWORD> listingErrors;
    std::map<std::wstring, std::uint64_t> sizes;
    int probes = 0;

    std::vector<Bas::CFindEntry> ListFolder(const std::wstring& folder) override
    {
        if (const auto error = listingErrors.find(folder); error != listingErrors.end())
            Bas::ThrowFileError(error->second, folder);
        const auto found = folders.find(folder);
        return found == folders.end() ? std::vector<Bas::CFindEntry>{} : found->second;
    }
    DWORD FileSize(const std::wstring& path, std::uint64_t& size) override
    {
        const auto found = sizes.find(path);
        if (found == sizes.end())
            return ERROR_ACCESS_DENIED;
        size = found->second;
        return 0;
    }

    UINT DriveType(const std::wstring& root) override
    {
        auto at = drives.find(root[0]);
        return at == drives.end() ? DRIVE_NO_ROOT_DIR : at->second.type;
    }
    bool QueryVolume(const std::wstring& root, std::wstring& label, DWORD& serial) override
    {
        ++probes;
        // No system box may come up while a drive is probed.
        UINT mode = ::GetThreadErrorMode();
        EXPECT_TRUE(mode & SEM_FAILCRITICALERRORS);
        const CDrive& drive = drives.at(root[0]);
        label = drive.label;
        serial = drive.serial;
        return drive.medium;
    }
};

TEST(DrivesLog, BlocksForDrivesWithAMediumLinesForEmptyOnes)
{
    Glean::CGleanAppLog log;
    CFakeDrives fake;
    // Letters of no configured drive (the run has C:, R:, S: and Z:), so
    // their roots hold nothing.
    fake.drives = {{L'G', {DRIVE_FIXED, true, L"", 1}},       {L'H', {DRIVE_CDROM, false, L"", 0}},
                   {L'I', {DRIVE_REMOVABLE, false, L"", 0}},  {L'J', {DRIVE_REMOVABLE, true, L"BACKUP", 4000000000u}},
                   {L'K', {DRIVE_REMOVABLE, true, L"", 0}},   {L'L', {DRIVE_CDROM, true, L"disc", 7}},
                   {L'M', {DRIVE_REMOTE, true, L"", 1}}};
    const UINT before = ::GetThreadErrorMode();
    Glean::CDrivesLog drives(fake);
    EXPECT_EQ(drives.BuildLines(),
              (std::vector<std::wstring>{L"Removable drive J:\\", L"Label = BACKUP", L"Serial number = 4000000000", L" ",
                                         L"Removable drive K:\\", L"Label = ", L"Serial number = 0", L" ", L"CD-ROM L:\\",
                                         L" "}));
    EXPECT_EQ(::GetThreadErrorMode(), before);
    EXPECT_EQ(fake.probes, 5);
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{Bas::Format(MSG_DRIVE_HASNO_COMPACT_DISK, L"H:\\"),
                                                      Bas::Format(MSG_DRIVE_HASNO_FLOPPY_DISK, L"I:\\")}));
    EXPECT_NE(log.Lines()[0].find(L"H:\\"), std::wstring::npos);
}

// A folder of the medium that cannot be listed ("System Volume Information"
// on NTFS) is one line; the rest of the medium is still listed.
TEST(DrivesLog, AFolderThatCannotBeListedIsOneLine)
{
    Glean::CGleanAppLog log;
    CFakeDrives fake;
    fake.drives = {{L'J', {DRIVE_REMOVABLE, true, L"STICK", 9}}};
    const auto folder = [](const wchar_t* name) { return Bas::CFindEntry{name, FILE_ATTRIBUTE_DIRECTORY}; };
    const auto file = [](const wchar_t* name) { return Bas::CFindEntry{name, FILE_ATTRIBUTE_ARCHIVE}; };
    // "loop" in z is a junction back to the root: not entered.
    const Bas::CFindEntry loop{L"loop", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT};
    fake.folders[L"J:\\"] = {file(L"a.txt"), folder(L"System Volume Information"), folder(L"z"), file(L"zz.bin")};
    fake.folders[L"J:\\z"] = {file(L"big.bin"), file(L"locked.txt"), loop};
    fake.folders[L"J:\\z\\loop"] = fake.folders[L"J:\\"];
    fake.listingErrors[L"J:\\System Volume Information"] = ERROR_ACCESS_DENIED;
    fake.sizes = {{L"J:\\a.txt", 3}, {L"J:\\z\\big.bin", 0x140000000ull}, {L"J:\\zz.bin", 0xFFFFFFFFull}};
    Glean::CDrivesLog drives(fake);
    EXPECT_EQ(drives.BuildLines(),
              (std::vector<std::wstring>{L"Removable drive J:\\", L"Label = STICK", L"Serial number = 9", L"J:\\a.txt\t3",
                                         L"J:\\System Volume Information\tError 5", L"J:\\z\\big.bin\tSize of file > 4 Gb",
                                         L"J:\\z\\locked.txt\tError 5", L"J:\\zz.bin\t4294967295", L" "}));
}

// The listing pumps the window's messages: a quit ends it.
TEST(DrivesLog, AQuitEndsTheListing)
{
    Glean::CGleanAppLog log;
    CFakeDrives fake;
    fake.drives = {{L'J', {DRIVE_REMOVABLE, true, L"STICK", 9}}};
    fake.folders[L"J:\\"] = {Bas::CFindEntry{L"a.txt", FILE_ATTRIBUTE_ARCHIVE}};
    Glean::CDrivesLog drives(fake);
    Testing::CPostedQuit quit;
    try {
        drives.Run();
        FAIL() << "the quit did not end the listing";
    } catch (Bas::CUserException* raw) {
        Bas::Own(raw);
    }
    if (!drives.FilePath().empty())
        Bas::DeleteTempFile(drives.FilePath());
}

TEST(DrivesLog, ContentsInCaseInsensitiveOrderWithHiddenFiles)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"b.txt", "abc");
    folder.WriteBytes(L"C.txt", "");
    folder.WriteBytes(L".hidden", "12");
    ::SetFileAttributesW((folder / L".hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::CreateDirectoryW((folder / L"a").c_str(), nullptr);
    folder.WriteBytes(L"a\\inner.bin", "1234");
    ::CreateDirectoryW((folder / L"a\\empty").c_str(), nullptr);
    std::vector<std::wstring> lines;
    Glean::CWindowsDriveSystem system;
    Glean::ListDriveContents(system, folder.Path(), lines);
    EXPECT_EQ(lines, (std::vector<std::wstring>{folder / L".hidden\t2", folder / L"a\\inner.bin\t4",
                                               folder / L"b.txt\t3", folder / L"C.txt\t0"}));
    lines.clear();
    Glean::ListDriveContents(system, folder / L"none", lines);
    EXPECT_TRUE(lines.empty());
}

} // namespace

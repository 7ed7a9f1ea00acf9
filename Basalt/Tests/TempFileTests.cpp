#include "BasaltMessages.h"
#include "Errors.h"
#include "File.h"
#include "Handles.h"
#include "NativeFileSystem.h"
#include "TempFile.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(TempNameGenerator, XorshiftStepsInBase40)
{
    // One step from 1: x ^= x << 13 gives 8193; x ^= x >> 17 keeps it;
    // x ^= x << 15 gives 8193 ^ 268468224 = 268476417.
    Bas::CTempNameGenerator generator(1);
    std::uint32_t x = 268476417u;
    std::wstring expected;
    for (int i = 0; i < 5; ++i, x /= 40)
        expected += Bas::CTempNameGenerator::kAlphabet[x % 40];
    EXPECT_EQ(generator.Next(), expected);
    // A zero seed starts from 1 as well.
    EXPECT_EQ(Bas::CTempNameGenerator(0).Next(), expected);
    std::set<std::wstring> names;
    Bas::CTempNameGenerator many(12345);
    for (int i = 0; i < 10000; ++i)
        names.insert(many.Next());
    EXPECT_EQ(names.size(), 10000u);
}

TEST(TempFiles, NamesPrefixAndExtension)
{
    Testing::CTestFolder folder;
    const std::wstring path = Bas::CreateTempFile(folder.Path(), L"GML", L"tmp");
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    ASSERT_EQ(name.size(), 3u + 5u + 4u);
    EXPECT_EQ(name.substr(0, 3), L"GML");
    EXPECT_EQ(name.substr(8), L".tmp");
    EXPECT_EQ(name.substr(3, 5).find_first_not_of(Bas::CTempNameGenerator::kAlphabet), std::wstring::npos);
    EXPECT_EQ(folder.ReadBytes(name), "");
    EXPECT_TRUE(Bas::IsTempFile(path));
    const std::wstring plain = Bas::CreateTempFile(folder.Path(), L"", L"");
    EXPECT_EQ(plain.substr(plain.find_last_of(L'\\') + 1, 3), L"tmp");
    EXPECT_EQ(plain.substr(plain.size() - 4), L".tmp");
    Bas::DeleteTempFile(path);
    Bas::DeleteTempFile(plain);
    EXPECT_FALSE(Bas::IsTempFile(path));
    EXPECT_EQ(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(TempFiles, EveryNameIsNew)
{
    Testing::CTestFolder folder;
    std::set<std::wstring> paths;
    for (int i = 0; i < 300; ++i)
        paths.insert(Bas::CreateTempFile(folder.Path(), L"GFL", L"tmp"));
    EXPECT_EQ(paths.size(), 300u);
    for (const auto& path : paths)
        Bas::DeleteTempFile(path);
}

TEST(TempFiles, MissingFolderFailsBeforeAnyFile)
{
    Testing::CTestFolder folder;
    for (int which = 0; which < 2; ++which) {
        try {
            if (which == 0)
                Bas::CreateTempFile(folder / L"absent", L"GML", L"tmp");
            else
                Bas::CreateTempFolder(folder / L"absent");
            FAIL() << "no error";
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(&check->Message(), &Bas::ERR_CREATE_TEMP_FILE);
            EXPECT_EQ(check->Parameter(0), folder / L"absent");
        }
    }
}

TEST(TempFiles, HolderDeletesItsFile)
{
    Testing::CTestFolder folder;
    std::wstring path;
    {
        Bas::CTempFilePath holder(Bas::CreateTempFile(folder.Path(), L"GEL", L"tmp"));
        path = holder.Path();
        Bas::CTempFilePath moved(std::move(holder));
        EXPECT_TRUE(holder.Empty());
        EXPECT_NE(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(TempFiles, ShutdownRemovesFilesAndFoldersWithTheirContents)
{
    Testing::CTestFolder folder;
    const std::wstring file = Bas::CreateTempFile(folder.Path(), L"GAL", L"tmp");
    const std::wstring sub = Bas::CreateTempFolder(folder.Path());
    EXPECT_EQ(sub.substr(sub.find_last_of(L'\\') + 1, 3), L"tmp");
    Testing::CTestFolder unused;
    const std::wstring copy = sub + L"\\Glean.zip";
    Bas::CFileHandle(::CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_NE(::GetFileAttributesW(copy.c_str()), INVALID_FILE_ATTRIBUTES);

    Bas::SetKeepTempFiles(true);
    Bas::ShutdownTempFiles();
    Bas::SetKeepTempFiles(false);
    EXPECT_NE(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(::GetFileAttributesW(copy.c_str()), INVALID_FILE_ATTRIBUTES);

    Bas::RegisterTempFile(file);
    const std::wstring second = Bas::CreateTempFolder(sub);
    Bas::ShutdownTempFiles();
    EXPECT_EQ(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(::GetFileAttributesW(sub.c_str()), INVALID_FILE_ATTRIBUTES) << "forgotten folders stay";
    EXPECT_EQ(::GetFileAttributesW(second.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace

namespace {

// A folder with a link to a folder outside it, made by the test script
// (Wine offers no call to make one): removing the folder removes no file
// the link points to.
TEST(TempFolders, RemovalLeavesWhatALinkPointsTo)
{
    wchar_t folder[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"GLEAN_LINK_FOLDER", folder, MAX_PATH) == 0)
        GTEST_SKIP() << "GLEAN_LINK_FOLDER is not set";
    const std::wstring outside = std::wstring(folder) + L"\\link\\precious.txt";
    ASSERT_NE(::GetFileAttributesW(outside.c_str()), INVALID_FILE_ATTRIBUTES) << "no link in the folder";
    Bas::RemoveFolderTree(folder);
    EXPECT_EQ(::GetFileAttributesW((std::wstring(folder) + L"\\inside.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A registered temporary folder that was itself replaced by a link.
TEST(TempFolders, AFolderReplacedByALinkLeavesItsTarget)
{
    wchar_t folder[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"GLEAN_LINKED_ROOT", folder, MAX_PATH) == 0)
        GTEST_SKIP() << "GLEAN_LINKED_ROOT is not set";
    const DWORD attributes = ::GetFileAttributesW(folder);
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "not a link";
    Bas::RemoveFolderTree(folder);
}

} // namespace

namespace {

// A folder past MAX_PATH: the mask search, temporary files and folders and
// their removal work there as anywhere.
TEST(Paths, FilesPastMaxPath)
{
    Testing::CTestFolder folder;
    std::wstring deep = folder.Path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(60, L'd');
        ASSERT_TRUE(Bas::MakeFolder(deep)) << ::GetLastError();
    }
    const std::wstring file = Bas::CreateTempFile(deep, L"GAL", L"log");
    EXPECT_EQ(Bas::FindFiles(folder.Path(), L"*.log", true), std::vector<std::wstring>{file});
    EXPECT_EQ(Bas::FindFiles(deep, L"*.log", false), std::vector<std::wstring>{file});
    const std::wstring sub = Bas::CreateTempFolder(deep);
    Bas::CFile(Bas::JoinPath(sub, L"Glean.zip"), Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
    Bas::DeleteTempFile(file);
    EXPECT_FALSE(Bas::FileExists(file));
    Bas::ShutdownTempFiles();
    EXPECT_FALSE(Bas::FolderExists(sub));
    Bas::RemoveFolderTree(folder / std::wstring(60, L'd'));
    EXPECT_FALSE(Bas::FolderExists(deep));
}

std::wstring CurrentFolder()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, buffer);
    return std::wstring(buffer, length);
}

// Runs in the folder, then back where it was.
class CCurrentFolder {
public:
    explicit CCurrentFolder(const std::wstring& folder) : m_previous(CurrentFolder())
    {
        EXPECT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
    }
    ~CCurrentFolder() { ::SetCurrentDirectoryW(m_previous.c_str()); }

private:
    std::wstring m_previous;
};

TEST(Paths, LongPathNormalisesAndPrefixesEveryPath)
{
    Testing::CTestFolder folder;
    const CCurrentFolder inside(folder.Path());
    const std::wstring here = L"\\\\?\\" + folder.Path();
    const std::wstring parent = here.substr(0, here.rfind(L'\\'));
    const std::wstring drive = folder.Path().substr(0, 2);
    const std::wstring d300(300, L'd');
    const struct {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"x.txt", here + L"\\x.txt"},
        {L".\\sub/../x.txt", here + L"\\x.txt"},
        {L"..\\x.txt", parent + L"\\x.txt"},
        {drive + L"x.txt", here + L"\\x.txt"},
        {L"\\x.txt", L"\\\\?\\" + drive + L"\\x.txt"},
        {L"C:\\" + d300 + L"\\.\\sub\\..\\x.txt", L"\\\\?\\C:\\" + d300 + L"\\x.txt"},
        {L"C:\\" + d300 + L"\\..\\" + d300 + L"\\..\\..\\x.txt", L"\\\\?\\C:\\x.txt"},
        {L"C:\\Data\\dir.\\trail \\nul.txt", L"\\\\?\\C:\\Data\\dir.\\trail \\nul.txt"},
        {L"C:\\Data\\con.log", L"\\\\?\\C:\\Data\\con.log"},
        {L"C:\\Data\\COM1", L"\\\\?\\C:\\Data\\COM1"},
        {L"C:/a//b/./c/", L"\\\\?\\C:\\a\\b\\c"},
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"C:\\..", L"\\\\?\\C:\\"},
        {L"\\\\server\\share\\a\\..\\b", L"\\\\?\\UNC\\server\\share\\b"},
        {L"//server/share/../..", L"\\\\?\\UNC\\server\\share\\"},
        {L"\\\\?\\C:\\a\\..\\b.", L"\\\\?\\C:\\a\\..\\b."},
        {L"\\\\.\\COM1", L"\\\\.\\COM1"},
        {L"", L""},
    };
    for (const auto& test : cases)
        EXPECT_EQ(Bas::LongPath(test.path), test.expected) << test.path;
}

TEST(Paths, ListedNamesAreTheFilesTheyName)
{
    // Without the prefix the system reads "dir.\y.txt" as "dir\y.txt" and
    // "nul.txt" as the null device.
    Testing::CTestFolder folder;
    const std::wstring root = folder / L"root";
    const std::wstring dotted = Bas::JoinPath(root, L"dir.");
    const std::wstring trailing = Bas::JoinPath(root, L"trail ");
    for (const std::wstring& made : {root, dotted, Bas::JoinPath(root, L"dir"), trailing})
        ASSERT_TRUE(Bas::MakeFolder(made)) << made;
    const auto write = [](const std::wstring& path, const std::string& bytes) {
        Bas::CFile(path, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate).Write(bytes.data(), bytes.size());
    };
    write(Bas::JoinPath(dotted, L"y.txt"), "dotted");
    write(Bas::JoinPath(root, L"dir\\y.txt"), "plain");
    write(Bas::JoinPath(root, L"nul.txt"), "hello");
    write(Bas::JoinPath(trailing, L"COM1.txt"), "port");
    std::vector<std::wstring> read;
    for (const std::wstring& path : Bas::FindFiles(root, L"*.txt", true)) {
        std::string bytes(16, '\0');
        bytes.resize(Bas::CFile(path, Bas::CFile::OpenRead).Read(bytes.data(), bytes.size()));
        read.push_back(Bas::FileNameOf(Bas::FolderOf(path)) + L"/" + Bas::FileNameOf(path) + L"=" +
                       std::wstring(bytes.begin(), bytes.end()));
    }
    EXPECT_EQ(read, (std::vector<std::wstring>{L"root/nul.txt=hello", L"dir/y.txt=plain", L"dir./y.txt=dotted",
                                               L"trail /COM1.txt=port"}));
    // The long folder of ".." past 248 characters.
    std::wstring deep = dotted;
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(60, L'd');
        ASSERT_TRUE(Bas::MakeFolder(deep));
    }
    write(Bas::JoinPath(deep, L"..\\..\\up.txt"), "up");
    EXPECT_EQ(Bas::FindFiles(Bas::FolderOf(Bas::FolderOf(deep)), L"up.txt", false).size(), 1u);
    Bas::RemoveFolderTree(root);
    EXPECT_EQ(Bas::PathAttributes(root), INVALID_FILE_ATTRIBUTES);
}

TEST(Paths, FindFilesStopsAtItsLimit)
{
    // The system lists "a..." before "B..." (ignoring case), the search
    // orders them by code unit: the limit keeps the first ones of the
    // search's order all the same.
    Testing::CTestFolder folder;
    for (int i = 0; i < 50; ++i)
        folder.WriteBytes((i % 2 ? L"B" : L"a") + std::to_wstring(100 + i) + L".log", std::string(i, 'x'));
    ASSERT_TRUE(Bas::MakeFolder(folder / L"sub"));
    folder.WriteBytes(L"sub\\a.log", "a");
    folder.WriteBytes(L"sub\\b.log", "b");
    std::vector<std::uint64_t> allSizes;
    bool stopped = true;
    const auto all = Bas::FindFiles(folder.Path(), L"*.log", true, nullptr, &allSizes, Bas::kNoFileLimit, &stopped);
    ASSERT_EQ(all.size(), 52u);
    EXPECT_FALSE(stopped);
    for (const std::size_t limit : {0u, 1u, 10u, 50u, 51u, 52u, 60u}) {
        std::vector<std::uint64_t> sizes;
        const auto found = Bas::FindFiles(folder.Path(), L"*.log", true, nullptr, &sizes, limit, &stopped);
        const std::size_t expected = std::min<std::size_t>(limit, all.size());
        EXPECT_EQ(found, std::vector<std::wstring>(all.begin(), all.begin() + expected)) << limit;
        EXPECT_EQ(sizes, std::vector<std::uint64_t>(allSizes.begin(), allSizes.begin() + expected)) << limit;
        EXPECT_EQ(stopped, limit < all.size()) << limit;
    }
    // A folder held without sharing cannot be searched: its error shows
    // that the search went there, and only where the limit was not reached.
    const Bas::CFileHandle held(::CreateFileW((folder / L"sub").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(held.IsValid());
    std::vector<std::wstring> errors;
    EXPECT_EQ(Bas::FindFiles(folder.Path(), L"*.log", true, &errors).size(), 50u);
    EXPECT_EQ(errors.size(), 1u);
    errors.clear();
    EXPECT_EQ(Bas::FindFiles(folder.Path(), L"*.log", true, &errors, nullptr, 50, &stopped).size(), 50u);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(errors.size(), 1u);
    errors.clear();
    EXPECT_EQ(Bas::FindFiles(folder.Path(), L"*.log", true, &errors, nullptr, 49, &stopped).size(), 49u);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(errors.empty());
}

} // namespace

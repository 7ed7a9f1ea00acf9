#include "Errors.h"
#include "GleanAppLog.h"
#include "GleanSettings.h"
#include "Handles.h"
#include "LogCollector.h"
#include "generated/GleanMessages.h"
#include "TestFolder.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

namespace {

class GleanSettings : public testing::Test {
protected:
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    Glean::CGleanSettings settings;

    void Load(const std::string& ini)
    {
        folder.WriteBytes(L"Glean.ini", ini);
        settings.SetSettingsPath(folder / L"Glean.ini");
        settings.Load();
    }

    bool Logged(const std::wstring& line) const
    {
        const auto lines = log.Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

TEST_F(GleanSettings, MissingFileOrCommonSectionIsFatal)
{
    // No file, a file without [Common], and a [Common] without keys.
    for (const std::string& contents : {std::string(), std::string("; only a comment\r\n[Other]\r\nA=1\r\n"),
                                        std::string("[Common]\r\n[Other]\r\nA=1\r\n")}) {
        if (!contents.empty())
            folder.WriteBytes(L"Glean.ini", contents);
        settings.SetSettingsPath(folder / L"Glean.ini");
        try {
            settings.Load();
            FAIL() << "no error";
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(&check->Message(), &Glean::ERR_INI_FILE_IS_INVALID);
            EXPECT_EQ(check->Parameter(0), L"Glean.ini");
        }
    }
}

TEST_F(GleanSettings, ApplicationLogLinesOfTheSteps)
{
    Load("[Common]\r\nTempDir=\r\n[Access]\r\nKey1=HKEY_LOCAL_MACHINE\\SOFTWARE\\X\r\nKey2=SOFTWARE\\X\r\n"
         "Key3=HKEY_CURRENT_USER\\Y\r\nOther1=z\r\nFile1=C:\\a|b\r\nFile2=C:\\NoSuchFolder\r\n");
    EXPECT_EQ(log.Lines().front(),
              L"\x041A\x043B\x044E\x0447 AppName \x0432 \x0441\x0435\x043A\x0446\x0438\x0438 common "
              L"\x043D\x0435 \x043D\x0430\x0439\x0434\x0435\x043D");
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_NOT_FOUND, L"Registry")));
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_NOT_FOUND, L"EventLog")));
    EXPECT_FALSE(Logged(Bas::Format(MSG_SECTION_NOT_FOUND, L"Access")));
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"Access", L"SOFTWARE\\X")));
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_UNKNOWN_OBJECT, L"Access", L"Other1")));
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_CORRUPTED_FILE_NAME, L"Access", L"C:\\a|b")));
    std::vector<std::wstring> names;
    for (const auto& object : settings.AccessObjects())
        names.push_back(object.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"C:\\NoSuchFolder", L"CURRENT_USER\\Y", L"MACHINE\\SOFTWARE\\X"}));
    EXPECT_EQ(settings.RecipientName(), L"Zarvo Technical Support");
}

TEST_F(GleanSettings, CollectedFilesFromBaseSectionsAndMasks)
{
    folder.WriteBytes(L"app.txt", "a");
    ::CreateDirectoryW((folder / L"Bin").c_str(), nullptr);
    folder.WriteBytes(L"Bin\\x.dll", "x");
    ::CreateDirectoryW((folder / L"Logs").c_str(), nullptr);
    ::CreateDirectoryW((folder / L"Logs\\Old").c_str(), nullptr);
    folder.WriteBytes(L"Logs\\a.log", "1");
    folder.WriteBytes(L"Logs\\Old\\b.log", "2");
    const std::string base(folder.Path().begin(), folder.Path().end());
    Load("[Common]\r\nAppName=\r\nAppPath=" + base + "\r\n"
         "[AppPath\\Bin]\r\nFile1=x.dll\r\n"
         "[Foo\\Bar]\r\nFile1=app.txt\r\n"
         "[OtherFiles]\r\nLogs/MaskWithSubdirs1=" + base + "\\Logs\\*.log\r\n"
         "Mask2=" + base + "\\Nowhere\\*.log\r\nMask3=" + base + "\\Logs\\*.none\r\n"
         "[EventLog]\r\nLog1=Application\r\nLog1Sources= A ; B \r\nLog3=System\r\n");
    EXPECT_FALSE(Logged(Bas::Format(MSG_KEY_NOT_FOUND_IN_SECTION, L"AppName", L"common")));
    const auto& files = settings.OtherFiles();
    // "OtherFiles" comes before the sections named with a backslash.
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].path, folder / L"Logs\\a.log");
    EXPECT_EQ(files[0].subFolder, L"");
    EXPECT_EQ(files[1].path, folder / L"Logs\\Old\\b.log");
    EXPECT_EQ(files[1].subFolder, L"Old/");
    EXPECT_EQ(files[2].path, folder / L"Bin\\x.dll");
    EXPECT_EQ(files[2].subFolder, L"");
    EXPECT_EQ(Glean::CLogCollector::OtherFileName(files[1].KeyName(), files[1].subFolder, 1, files[1].path),
              L"Logs/Old/001_b.log");
    EXPECT_TRUE(Logged(Bas::Format(MSG_DIRECTORY_NOT_FOUND, folder / L"Nowhere")));
    EXPECT_TRUE(Logged(Bas::Format(MSG_FILES_BY_MASK_NOT_FOUND, folder / L"Logs\\*.none")));
    ASSERT_EQ(settings.EventLogs().size(), 1u);
    EXPECT_EQ(settings.EventLogs()[0].logName, L"Application");
    EXPECT_EQ(settings.EventLogs()[0].sources, (std::set<std::wstring>{L"A", L"B"}));
}

// A mask's value may name a folder inside the base folder: the files come
// from that folder, which leads their archive sub-folder.
TEST_F(GleanSettings, MaskWithAFolderPart)
{
    ::CreateDirectoryW((folder / L"Logs").c_str(), nullptr);
    ::CreateDirectoryW((folder / L"Logs\\Old").c_str(), nullptr);
    folder.WriteBytes(L"a.log", "not this one");
    folder.WriteBytes(L"Logs\\a.log", "1");
    folder.WriteBytes(L"Logs\\Old\\b.log", "2");
    const std::string base(folder.Path().begin(), folder.Path().end());
    Load("[Common]\r\nAppName=\r\nAppPath=" + base + "\r\n[AppPath]\r\nMask1=Logs\\*.log\r\n"
         "[OtherFiles]\r\nMaskWithSubdirs1=" + base + "\\..\\" + base.substr(base.rfind('\\') + 1) + "\\Logs\\*.log\r\n"
         "[AppPath\\Logs]\r\nMaskWithSubdirs2=..\\Logs\\*.log\r\n");
    std::vector<std::pair<std::wstring, std::wstring>> found;
    for (const auto& file : settings.OtherFiles())
        found.emplace_back(file.path, file.subFolder);
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {folder / L"Logs\\a.log", L"Logs/"},                                    // [AppPath]
        {folder / L"Logs\\a.log", L""}, {folder / L"Logs\\Old\\b.log", L"Old/"}, // [OtherFiles]
        {folder / L"Logs\\a.log", L""}, {folder / L"Logs\\Old\\b.log", L"Old/"}, // [AppPath\Logs], up and down again
    };
    EXPECT_EQ(found, expected);
}

// Key names that would make archive entries outside the extraction folder,
// or file names outside the temporary folder, are refused one by one.
TEST_F(GleanSettings, KeyNamesThatLeadOutsideAreSkipped)
{
    folder.WriteBytes(L"one.txt", "1");
    const std::string one = std::string(folder.Path().begin(), folder.Path().end()) + "\\one.txt";
    Load("[Common]\r\nAppName=\r\n"
         "[OtherFiles]\r\n../../up/File1=" + one + "\r\n/rooted/File2=" + one + "\r\nC:x/File3=" + one +
         "\r\nok/./Mask4=" + one + "\r\nGood/File5=" + one + "\r\n..\\File6=" + one + "\r\n"
         "[Registry]\r\n..\\..\\Documents\\keep.txt=HKEY_CURRENT_USER\\Software\r\nReg/App.reg=HKEY_CURRENT_USER\\A\r\n"
         "Reg/=HKEY_CURRENT_USER\\B\r\n"
         "[Msi]\r\n../Up/Product1=Pagewise\r\nLogs/Product2=Pagewise\r\n"
         "[EventLog]\r\nLog1=..\\..\\x\r\nLog2=Application\r\nLog3=a/b\r\n");
    std::vector<std::wstring> keys;
    for (const auto& file : settings.OtherFiles())
        keys.push_back(file.KeyName());
    std::sort(keys.begin(), keys.end());
    // "..\File6" has no "/": its folder part is empty and its entry is "000_one.txt".
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"..\\File6", L"Good/File5"}));
    for (const wchar_t* key : {L"../../up/File1", L"/rooted/File2", L"C:x/File3", L"ok/./Mask4"})
        EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"OtherFiles", key))) << key;
    ASSERT_EQ(settings.RegistryKeys().size(), 1u);
    EXPECT_EQ(settings.RegistryKeys()[0].second, L"Reg/App.reg");
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"Registry", L"..\\..\\Documents\\keep.txt")));
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"Registry", L"Reg/")));
    ASSERT_EQ(settings.MsiEntries().size(), 1u);
    EXPECT_EQ(settings.MsiEntries()[0].subFolder, L"Logs/");
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"Msi", L"../Up/Product1")));
    ASSERT_EQ(settings.EventLogs().size(), 1u);
    EXPECT_EQ(settings.EventLogs()[0].logName, L"Application");
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"EventLog", L"..\\..\\x")));
    EXPECT_TRUE(Logged(Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"EventLog", L"a/b")));
}

// A sub-folder that cannot be searched is a line of its own, and the rest
// of the tree is still searched.
TEST_F(GleanSettings, AFolderThatCannotBeSearchedIsALine)
{
    for (const wchar_t* name : {L"Logs", L"Logs\\Locked", L"Logs\\Open"})
        ::CreateDirectoryW((folder / name).c_str(), nullptr);
    folder.WriteBytes(L"Logs\\Locked\\a.log", "1");
    folder.WriteBytes(L"Logs\\Open\\b.log", "2");
    // Held open without sharing, as another program may hold it.
    const Bas::CFileHandle lock(::CreateFileW((folder / L"Logs\\Locked").c_str(), GENERIC_READ, 0, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(lock.IsValid());
    const std::string base(folder.Path().begin(), folder.Path().end());
    Load("[Common]\r\nAppName=\r\n[OtherFiles]\r\nMaskWithSubdirs1=" + base + "\\Logs\\*.log\r\n"
         "MaskWithSubdirs2=" + base + "\\Logs\\Locked\\*.log\r\n");
    ASSERT_EQ(settings.OtherFiles().size(), 1u);
    EXPECT_EQ(settings.OtherFiles()[0].path, folder / L"Logs\\Open\\b.log");
    const auto lines = log.Lines();
    const auto locked = std::count_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.find(folder / L"Logs\\Locked") != std::wstring::npos;
    });
    EXPECT_EQ(locked, 2) << "one line for each search of the locked folder";
    EXPECT_FALSE(Logged(Bas::Format(MSG_FILES_BY_MASK_NOT_FOUND, folder / L"Logs\\Locked\\*.log")));
}

TEST(GleanSettingsPaths, SpecialFolderMacros)
{
    wchar_t appData[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)));
    EXPECT_EQ(Glean::CGleanSettings::ExpandSpecialFolder(L"<SF_AppData>\\Vendor\\x.log"),
              std::wstring(appData) + L"\\Vendor\\x.log");
    EXPECT_EQ(Glean::CGleanSettings::ExpandSpecialFolder(L"ignored<sf_appdata>//y"), std::wstring(appData) + L"\\y");
    EXPECT_EQ(Glean::CGleanSettings::ExpandSpecialFolder(L"<SF_Unknown>\\x"), L"<SF_Unknown>\\x");
    EXPECT_EQ(Glean::CGleanSettings::ExpandSpecialFolder(L"no macro"), L"no macro");
    ::SetEnvironmentVariableW(L"GLEAN_TEST_DIR", L"<SF_Windows>");
    wchar_t windows[MAX_PATH];
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(_wcsicmp(Glean::CGleanSettings::ExpandPath(L"%GLEAN_TEST_DIR%\\a").c_str(),
                       (std::wstring(windows) + L"\\a").c_str()),
              0);
}

TEST(GleanCollector, NumberedArchiveNames)
{
    using C = Glean::CLogCollector;
    EXPECT_EQ(C::OtherFileName(L"Logs/File1", L"", 0, L"C:\\x\\y.txt"), L"Logs/000_y.txt");
    EXPECT_EQ(C::OtherFileName(L"File1", L"", 999, L"C:\\y.txt"), L"999_y.txt");
    EXPECT_EQ(C::OtherFileName(L"a/b/Mask", L"Old/", 1000, L"C:\\y.txt"), L"a/b/Old/1000_y.txt");
    // Folders and names from the disk that Windows would not make as they
    // are become names it makes.
    EXPECT_EQ(C::OtherFileName(L"Mask", L"dir./con/trail /", 2, L"C:\\x."), L"dir_/con_/trail_/002_x_");
    EXPECT_EQ(C::OtherFileName(L"Mask", L"", 3, L"C:\\nul.txt"), L"003_nul.txt");
    // A name of all the 255 units a component holds keeps its extension
    // within them after the number.
    EXPECT_EQ(C::OtherFileName(L"Mask", L"", 65534, L"C:\\" + std::wstring(251, L'n') + L".log"),
              L"65534_" + std::wstring(245, L'n') + L".log");
}

// What the application log keeps free for the lines of the files to come is
// what those lines can take: a million planned files of ordinary paths fit
// well inside the archive's 2 GiB, and a file's real lines inside its share.
TEST(GleanCollector, ApplicationLogReserveFitsItsLines)
{
    using C = Glean::CLogCollector;
    std::uint64_t reserve = 0;
    for (int i = 0; i < 1000000; ++i) {
        const std::wstring source = L"C:\\Program Files\\Pagewise\\Logs\\Service\\trace-" + std::to_wstring(i) + L".log";
        reserve += C::LinesBytes(source, L"Logs/Service/" + std::to_wstring(i) + L"_trace-" + std::to_wstring(i) + L".log");
    }
    EXPECT_LT(reserve, 1100000000u);
    const std::wstring source = L"C:\\Data\\file.txt";
    const std::wstring name = L"Data/000_file.txt";
    const std::wstring failure = Bas::CFileException(ERROR_SHARING_VIOLATION, Bas::EFileError::SharingViolation, source)
                                     .GetMessageText() + L"\r\n" + Bas::Format(MSG_ADD_FILE_FAILED, source, name) + L"\r\n";
    EXPECT_LE(2 * failure.size(), C::LinesBytes(source, name));
}

// The run's last entries: the summary page and the manifest, then the
// application log. An archive with one entry left refuses the two pages,
// which become the application log's lines, and the log still goes in last.
TEST(GleanCollector, ApplicationLogComesLastWhateverBecomesOfTheReport)
{
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    const auto lastEntries = [&](std::size_t filled) {
        Granite::CZipCompressor zip;
        zip.Open(folder / (L"run" + std::to_wstring(filled) + L".zip"));
        for (std::size_t i = 0; i < filled; ++i)
            zip.AddDirectory(L"d" + std::to_wstring(i), L"");
        Glean::CLogCollector::AddRunEnd(zip, nullptr, Glean::CRunReport());
        zip.Close();
        std::vector<std::string> names;
        for (std::size_t i = filled; i < zip.Entries().size(); ++i)
            names.emplace_back(zip.Entries()[i].Name());
        return names;
    };
    EXPECT_EQ(lastEntries(0), (std::vector<std::string>{"GleanSummary.html", "GleanManifest.json", "GleanAppLog.log"}));
    EXPECT_EQ(lastEntries(Granite::CZipCompressor::kMaxEntries - 1), std::vector<std::string>{"GleanAppLog.log"});
    const std::vector<std::wstring> lines = log.Lines();
    for (const auto& [comment, name] : {std::pair{L"Run Summary", L"GleanSummary.html"},
                                        std::pair{L"Run Manifest", L"GleanManifest.json"}})
        EXPECT_NE(std::find(lines.begin(), lines.end(), Bas::Format(MSG_ADD_FILE_FAILED, comment, name)), lines.end());
}

} // namespace

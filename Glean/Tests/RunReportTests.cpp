#include "ArchiveMessages.h"
#include "Errors.h"
#include "File.h"
#include "NativeFileSystem.h"
#include "PrivacyMask.h"
#include "ResourceInfo.h"
#include "RunReport.h"
#include "TextStream.h"
#include "ZipCompressor.h"
#include "generated/GleanMessages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

using Glean::CRunItem;

FILETIME At(WORD hour, WORD minute, WORD second, WORD milliseconds = 0)
{
    const SYSTEMTIME time = {2024, 5, 3, 1, hour, minute, second, milliseconds};
    FILETIME file = {};
    ::SystemTimeToFileTime(&time, &file);
    return file;
}

CRunItem Added(CRunItem::EKind kind, std::wstring source, std::wstring name, std::uint64_t size,
               std::uint64_t compressed, std::uint32_t crc = 0, std::uint32_t milliseconds = 1)
{
    CRunItem item;
    item.kind = kind;
    item.source = std::move(source);
    item.archiveName = std::move(name);
    item.entry = true;
    item.size = size;
    item.compressedSize = compressed;
    item.crc32 = crc;
    item.milliseconds = milliseconds;
    return item;
}

CRunItem Failed(CRunItem::EKind kind, std::wstring source, std::wstring name, const Bas::CException& error)
{
    CRunItem item;
    item.kind = kind;
    item.source = std::move(source);
    item.archiveName = std::move(name);
    Glean::SetFailure(item, error);
    return item;
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

bool IsUtf8(const std::string& bytes)
{
    return bytes.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                  static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

// Every text escaping must survive: markup, quotes, backslashes, control
// characters, a NUL, a lone surrogate of either half and a proper pair.
const std::wstring kHostile[] = {
    L"<script>alert(1)</script>.txt",
    L"say \"hi\" it's C:\\now",
    std::wstring(L"a\x01\x1f\t\n\rb\0c", 9),
    L"lone\xD800x\xDC00",
    L"pair\xD83D\xDE00 caf\x00E9",
};

TEST(RunReport, FailuresAreClassifiedByTheirMessage)
{
    for (const wchar_t* name : {L"ERR_ZIP_ARCHIVE_TOO_LARGE", L"ERR_ZIP_ENTRY_TOO_LARGE", L"ERR_ZIP_TOO_MANY_ENTRIES",
                                L"ERR_ZIP_NAME_TOO_LONG", L"ERR_ZIP_UNSAFE_NAME", L"ERR_ZIP_DUPLICATE_NAME",
                                L"ERR_EVENT_LOG_TOO_LARGE", L"MSG_ITEM_NAME_REFUSED", L"MSG_ITEM_NAME_TAKEN",
                                L"MSG_ITEM_LIMIT_REACHED"})
        EXPECT_EQ(Glean::FailureStatus(name), CRunItem::Refused) << name;
    for (const wchar_t* name : {L"MSG_PRIVACY_KEY_NOT_COLLECTED", L"MSG_REGISTRY_KEY_MISSING",
                                L"MSG_REGISTRY_ROOT_LEFT_OUT", L"MSG_ITEM_FILE_MISSING", L"MSG_ITEM_FOLDER_MISSING"})
        EXPECT_EQ(Glean::FailureStatus(name), CRunItem::Skipped) << name;
    for (const wchar_t* name : {L"ERR_FILE_NOT_FOUND", L"ERR_ZIP_ARCHIVE_DAMAGED", L"ERR_ZIP_ENTRY_TOO_LARGE_X",
                                L"err_zip_entry_too_large", L""})
        EXPECT_EQ(Glean::FailureStatus(name), CRunItem::Failed) << name;
}

class RunReportFailure : public testing::Test {
protected:
    void TearDown() override { Bas::ResetResourceBase(); }
};

TEST_F(RunReportFailure, TakesTheMessagesNameAndItsEnglishText)
{
    CRunItem refused = Failed(CRunItem::File, L"D:\\big.bin", L"x/000_big.bin",
                              Bas::CCheckException(Granite::ERR_ZIP_ENTRY_TOO_LARGE, L"x/000_big.bin"));
    EXPECT_EQ(refused.status, CRunItem::Refused);
    EXPECT_EQ(refused.messageName, L"ERR_ZIP_ENTRY_TOO_LARGE");
    EXPECT_EQ(refused.messageText, L"x/000_big.bin was not added: the archive cannot hold a file of 4 GB or more.");

    const CRunItem missing = Failed(CRunItem::File, L"C:\\x.log", L"x.log",
                                    Bas::CFileException(ERROR_FILE_NOT_FOUND, Bas::EFileError::NotFound, L"C:\\x.log"));
    EXPECT_EQ(missing.status, CRunItem::Failed);
    EXPECT_EQ(missing.messageName, L"ERR_FILE_NOT_FOUND");
    EXPECT_EQ(missing.messageText, L"C:\\x.log was not found.");

    // A system error has a text but no message of the catalogue.
    const CRunItem denied = Failed(CRunItem::File, L"C:\\y.log", L"y.log", Bas::CLastErrorException(ERROR_ACCESS_DENIED));
    EXPECT_EQ(denied.status, CRunItem::Failed);
    EXPECT_EQ(denied.messageName, L"");
    EXPECT_EQ(denied.messageText, Bas::GetLastErrorText(ERROR_ACCESS_DENIED));

    CRunItem key;
    key.kind = CRunItem::Registry;
    Glean::SetFailure(key, MSG_REGISTRY_KEY_MISSING, {L"HKEY_CURRENT_USER\\Software\\Gone"});
    EXPECT_EQ(key.status, CRunItem::Skipped);
    EXPECT_EQ(key.messageText, L"The registry key HKEY_CURRENT_USER\\Software\\Gone does not exist.");

    // With the dialog in Arabic the reasons stay English, and the thread
    // keeps its language afterwards.
    Bas::AddResourcePrefix(Bas::FolderOf(Bas::GetModulePath()), L"Glean");
    ASSERT_TRUE(Bas::SetInterfaceLanguage(61));
    const std::wstring arabic = Bas::Format(Granite::ERR_ZIP_ENTRY_TOO_LARGE, L"x/000_big.bin");
    ASSERT_NE(arabic, refused.messageText);
    const std::wstring english = refused.messageText;
    refused = Failed(CRunItem::File, L"D:\\big.bin", L"x/000_big.bin",
                     Bas::CCheckException(Granite::ERR_ZIP_ENTRY_TOO_LARGE, L"x/000_big.bin"));
    EXPECT_EQ(refused.messageText, english);
    EXPECT_EQ(Bas::Format(Granite::ERR_ZIP_ENTRY_TOO_LARGE, L"x/000_big.bin"), arabic);
    EXPECT_EQ(Bas::GetThreadLanguage(), -1);
}

Glean::CRunReport SmallReport()
{
    Glean::CRunReport report;
    report.programVersion = L"1.0.0.0";
    report.build = L"x86";
    report.started = At(12, 0, 0);
    report.ended = At(12, 0, 42, 500);
    report.settingsSha256 = L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    report.threads = 2;
    report.masking = true;
    report.maskCounts = {{L"user", 2}, {L"host", 1}};
    report.computer.windows = L"Windows 10 64-bit";
    report.computer.edition = L"Professional";
    report.computer.windowsVersion = L"10.0.19045";
    report.items.push_back(Added(CRunItem::Settings, L"C:\\Glean\\Glean.ini", L"Glean.ini", 1200, 512, 0x1a2b3c4d, 3));
    report.items.push_back(Failed(CRunItem::File, L"D:\\huge.bin", L"Product/000_huge.bin",
                                  Bas::CCheckException(Granite::ERR_ZIP_ENTRY_TOO_LARGE, L"Product/000_huge.bin")));
    CRunItem log;
    log.kind = CRunItem::InstallerLog;
    log.source = L"C:\\Temp\\MSI1.log";
    log.archiveName = L"MSI/MSI1.log";
    log.status = CRunItem::Failed;
    log.messageText = L"Access is denied.";
    report.items.push_back(log);
    return report;
}

TEST(RunReport, ManifestInItsExactForm)
{
    const std::string expected =
        "{\n"
        "\"format\":1,\n"
        "\"program\":{\"name\":\"Glean\",\"version\":\"1.0.0.0\",\"build\":\"x86\"},\n"
        "\"windows\":{\"name\":\"Windows 10 64-bit\",\"edition\":\"Professional\",\"version\":\"10.0.19045\"},\n"
        "\"started\":\"2024-05-01T12:00:00Z\",\n"
        "\"ended\":\"2024-05-01T12:00:42Z\",\n"
        "\"settingsSha256\":\"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\",\n"
        "\"threads\":2,\n"
        "\"masking\":{\"enabled\":true,\"counts\":{\"user\":2,\"host\":1}},\n"
        "\"items\":[\n"
        "{\"kind\":\"settings\",\"source\":\"C:\\\\Glean\\\\Glean.ini\",\"archiveName\":\"Glean.ini\",\"status\":\"added\","
        "\"size\":1200,\"compressedSize\":512,\"crc32\":\"1a2b3c4d\",\"milliseconds\":3},\n"
        "{\"kind\":\"file\",\"source\":\"D:\\\\huge.bin\",\"archiveName\":\"Product/000_huge.bin\",\"status\":\"refused\","
        "\"message\":{\"name\":\"ERR_ZIP_ENTRY_TOO_LARGE\",\"text\":\"Product/000_huge.bin was not added: the archive "
        "cannot hold a file of 4 GB or more.\"}},\n"
        "{\"kind\":\"installer-log\",\"source\":\"C:\\\\Temp\\\\MSI1.log\",\"archiveName\":\"MSI/MSI1.log\","
        "\"status\":\"failed\",\"message\":{\"name\":null,\"text\":\"Access is denied.\"}}\n"
        "]\n"
        "}\n";
    EXPECT_EQ(Glean::ManifestJson(SmallReport()), expected);

    Glean::CRunReport empty;
    const std::string none = Glean::ManifestJson(empty);
    EXPECT_NE(none.find("\"settingsSha256\":null,\n"), std::string::npos);
    EXPECT_NE(none.find("\"masking\":{\"enabled\":false,\"counts\":{}},\n\"items\":[]\n}\n"), std::string::npos);
}

TEST(RunReport, ManifestEscapesEveryString)
{
    Glean::CRunReport report;
    for (const std::wstring& text : kHostile) {
        CRunItem item = Added(CRunItem::File, text, text, 1, 1);
        item.status = CRunItem::Failed;
        item.messageName = text;
        item.messageText = text;
        report.items.push_back(item);
    }
    report.maskCounts = {{kHostile[1], 1}};
    const std::string json = Glean::ManifestJson(report);
    EXPECT_TRUE(IsUtf8(json));
    EXPECT_EQ(json.substr(0, 2), "{\n");
    EXPECT_EQ(Count(json, "\"source\":\"<script>alert(1)</script>.txt\""), 1u);
    EXPECT_EQ(Count(json, "\"say \\\"hi\\\" it's C:\\\\now\""), 5u);
    EXPECT_EQ(Count(json, "\"a\\u0001\\u001f\\t\\n\\rb\\u0000c\""), 4u);
    EXPECT_EQ(Count(json, "\"lone\xEF\xBF\xBDx\xEF\xBF\xBD\""), 4u);
    EXPECT_EQ(Count(json, "\"pair\xF0\x9F\x98\x80 caf\xC3\xA9\""), 4u);
}

TEST(RunReport, PageEscapesEveryValueFromTheComputer)
{
    Glean::CRunReport report = SmallReport();
    for (const std::wstring& text : kHostile) {
        CRunItem item;
        item.source = text;
        item.archiveName = text;
        item.status = CRunItem::Refused;
        item.messageText = text;
        report.items.push_back(item);
        report.computer.modules.push_back({text, text});
        report.computer.drives.push_back({text, text, true, 100, 50});
    }
    report.computer.processor = kHostile[0];
    report.computer.applicationFolder = kHostile[1];
    report.maskCounts.push_back({kHostile[0], 1});
    const std::string page = Glean::SummaryHtml(report);
    EXPECT_TRUE(IsUtf8(page));
    EXPECT_EQ(Count(page, "<script"), 0u);
    EXPECT_EQ(Count(page, "<SCRIPT"), 0u);
    // Source, archive name and reason of its failure row, module name and
    // version, drive root and type, processor, masking kind.
    EXPECT_EQ(Count(page, "&lt;script&gt;alert(1)&lt;/script&gt;.txt"), 9u);
    EXPECT_EQ(Count(page, "say &quot;hi&quot; it&#39;s C:\\now"), 8u);
    EXPECT_EQ(Count(page, "a\xE2\x90\x81\xE2\x90\x9F\t\n\rb\xE2\x90\x80" "c"), 7u);
    EXPECT_EQ(Count(page, "lone\xEF\xBF\xBDx\xEF\xBF\xBD"), 7u);
    EXPECT_EQ(Count(page, "<tr class=\"failure "), 7u);
    EXPECT_EQ(Count(page, "<div class=\"drive\">"), 5u);
    EXPECT_EQ(Count(page, "<div class=\"bar\""), 5u);
}

TEST(RunReport, PageLeadsWithWhatWentWrongAndSortsTheEntries)
{
    Glean::CRunReport report = SmallReport();
    report.items.push_back(Added(CRunItem::Log, L"a", L"small.log", 10, 5));
    report.items.push_back(Added(CRunItem::File, L"b", L"large.bin", 3000000, 2000000));
    report.items.push_back(Added(CRunItem::EventLog, L"c", L"EventLog/middle.evt", 200000, 30000));
    report.computer.drives = {{L"C:\\", L"Fixed", true, 1000, 50}, {L"E:\\", L"CD-ROM", false, 0, 0}};
    const std::string page = Glean::SummaryHtml(report);
    EXPECT_NE(page.find("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                        "style-src 'unsafe-inline'\">"),
              std::string::npos);
    EXPECT_LT(page.find("<tr class=\"failure refused\">"), page.find("id=\"computer\""));
    EXPECT_LT(page.find("<tr class=\"failure failed\">"), page.find("id=\"computer\""));
    EXPECT_LT(page.find("large.bin"), page.find("middle.evt"));
    EXPECT_LT(page.find("middle.evt"), page.find("Glean.ini"));
    EXPECT_LT(page.find("Glean.ini"), page.find("small.log"));
    EXPECT_NE(page.find("<td class=\"n\">2.9 MB</td><td class=\"n\">1.9 MB</td><td class=\"n\">66.7%</td>"),
              std::string::npos);
    // A drive with less than a tenth free stands out; one without figures
    // has no bar.
    EXPECT_NE(page.find("<div class=\"drive full\"><span class=\"letter\">C:\\</span>"), std::string::npos);
    EXPECT_NE(page.find("<span class=\"letter\">E:\\</span><span class=\"type\">CD-ROM</span><div class=\"figures\">"),
              std::string::npos);
    EXPECT_NE(page.find("took 42.5 s"), std::string::npos);

    report.items.resize(1);
    const std::string clean = Glean::SummaryHtml(report);
    EXPECT_EQ(Count(clean, "<tr class=\"failure"), 0u);
    EXPECT_NE(clean.find("<p class=\"all-good\">"), std::string::npos);
}

// 20,000 items, as a run over a large tree gives, a quarter of them
// refused: a writer that copied what it has built for every item would take
// minutes, not milliseconds. The page lists every refusal, but only the
// largest entries.
TEST(RunReport, ManyItemsInLinearTime)
{
    Glean::CRunReport report;
    for (int i = 0; i < 20000; ++i) {
        const std::wstring number = std::to_wstring(i);
        report.items.push_back(Added(CRunItem::File, L"C:\\Program Files\\Product\\Logs\\folder\\file" + number + L".log",
                                     L"Logs/" + number + L"_file.log", 5000 + i, 1000));
        if (i % 4 == 0) {
            report.items.back().archiveName = L"Logs/" + number + L"_refused.bin";
            Glean::SetFailure(report.items.back(), Granite::ERR_ZIP_TOO_MANY_ENTRIES, {report.items.back().archiveName});
        }
    }
    const auto start = std::chrono::steady_clock::now();
    const std::string json = Glean::ManifestJson(report);
    const std::string page = Glean::SummaryHtml(report);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(Count(json, "\"status\":\"added\""), 15000u);
    EXPECT_EQ(Count(json, "\"status\":\"refused\""), 5000u);
    EXPECT_EQ(Count(page, "<tr class=\"failure refused\">"), 5000u);
    EXPECT_EQ(Count(page, "_file.log</td>"), 100u);
    EXPECT_NE(page.find("15,000 entries"), std::string::npos);
    EXPECT_NE(page.find("The 100 largest are listed here"), std::string::npos);
    EXPECT_LT(page.find(">Logs/19999_file.log<"), page.find(">Logs/19998_file.log<"));
    EXPECT_NE(page.find(">Logs/19867_file.log<"), std::string::npos);
    EXPECT_EQ(page.find(">Logs/19866_file.log<"), std::string::npos);
}

class CFakeFilter : public Bas::ILogFilter {
public:
    std::wstring Filter(const std::wstring& text, EForm) override
    {
        std::wstring result = text;
        for (std::size_t at = result.find(L"jdoe"); at != std::wstring::npos; at = result.find(L"jdoe", at))
            result.replace(at, 4, L"user1");
        return result;
    }
    std::wstring SecretStandIn(const std::wstring&) override { return L"secret1"; }
};

TEST(RunReport, MaskingReachesSourcesReasonsAndTheProductFolder)
{
    Glean::CRunReport report;
    report.items.push_back(Added(CRunItem::File, L"C:\\Users\\jdoe\\a.log", L"Logs/jdoe.log", 1, 1));
    report.items.push_back(Failed(CRunItem::File, L"C:\\Users\\jdoe\\b.log", L"Logs/b.log",
                                  Bas::CFileException(5, Bas::EFileError::AccessDenied, L"C:\\Users\\jdoe\\b.log")));
    report.computer.applicationFolder = L"C:\\Users\\jdoe\\Product";
    CFakeFilter filter;
    Glean::FilterReport(report, filter);
    EXPECT_EQ(report.items[0].source, L"C:\\Users\\user1\\a.log");
    EXPECT_EQ(report.items[1].messageText, L"Access to C:\\Users\\user1\\b.log was denied.");
    EXPECT_EQ(report.computer.applicationFolder, L"C:\\Users\\user1\\Product");
    // The archive's own names are what the archive shows.
    EXPECT_EQ(report.items[0].archiveName, L"Logs/jdoe.log");
    const std::string all = Glean::ManifestJson(report) + Glean::SummaryHtml(report);
    EXPECT_EQ(Count(all, "jdoe"), 2u);
}

// A reason cut to its bound with masking on is cut before a name it would
// cut in two: what was left of it ("John Sm") is no original the mask finds.
TEST(RunReport, AReasonIsNeverCutInsideAName)
{
    Glean::CPrivacyMask::CConfig config;
    config.users = {L"John Smith"};
    Glean::CPrivacyMask mask(config);
    const std::wstring path = L"C:\\" + std::wstring(240, L'x') + L"\\John Smith\\notes.txt";
    for (std::size_t shift = 0; shift < 12; ++shift) {
        Glean::CRunReport report;
        const std::wstring source = path.substr(shift);
        Bas::SetLogFilter(&mask);
        report.items.push_back(Failed(CRunItem::File, L"", L"", Bas::CFileException(5, Bas::EFileError::AccessDenied, source)));
        Glean::FilterReport(report, mask);
        Bas::SetLogFilter(nullptr);
        const std::wstring& text = report.items[0].messageText;
        EXPECT_LE(text.size(), Glean::kMessageTextBound);
        EXPECT_EQ(text.find(L"Jo"), std::wstring::npos) << shift;
    }
}

// The lines as CMainLog::BuildText writes them, the OS details over two.
const wchar_t kMainLog[] =
    L"UserName = tester\r\n"
    L"ComputerName = BOX\r\n"
    L"OS = Windows 7 64-bit Service Pack 1 ( version - 6.1.7601, platform - 2,\r\n"
    L"service pack - 1.0, suite mask - 256, product type - 1 (Work Station) )\r\n"
    L"Edition = Professional\r\n"
    L"Application directory = C:\\Program Files (x86)\\Product\r\n"
    L"Windows directory = C:\\windows\r\n"
    L"MS Word Version = \r\n"
    L"\r\n"
    L"Dll & Exe Versions:\r\n"
    L"Riched20.dll\t[6.1.7601.17514]\r\n"
    L"Twain.dll\t\t[Unknown]\r\n"
    L"Product.exe\t[2.0.0.5]\r\n"
    L"\r\n"
    L"Hardware:\r\n"
    L"CPU Vendor = GenuineIntel\r\n"
    L"CPU Name =   Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz  \r\n"
    L"Number of logical CPU cores = 8\r\n"
    L"RAM = 16271 Mb\r\n"
    L"\r\n"
    L"Drives:\r\n"
    L"A:\\\tRemovable\r\n"
    L"C:\\\tFixed \tFree space = 2097151 Mb\t\\Device\\HarddiskVolume3\r\n"
    L"D:\\\tCD-ROM\r\n"
    L"N:\\\tRemote (network) drive";

TEST(RunReport, MainLogFacts)
{
    const Glean::CMainLogFacts facts = Glean::ParseMainLog(kMainLog);
    EXPECT_EQ(facts.windows, L"Windows 7 64-bit Service Pack 1");
    EXPECT_EQ(facts.windowsVersion, L"6.1.7601");
    EXPECT_EQ(facts.edition, L"Professional");
    EXPECT_EQ(facts.processor, L"Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz");
    EXPECT_EQ(facts.logicalProcessors, 8u);
    EXPECT_EQ(facts.memoryMb, 16271u);
    EXPECT_EQ(facts.applicationFolder, L"C:\\Program Files (x86)\\Product");
    ASSERT_EQ(facts.modules.size(), 3u);
    EXPECT_EQ(facts.modules[0].name, L"Riched20.dll");
    EXPECT_EQ(facts.modules[0].version, L"6.1.7601.17514");
    EXPECT_EQ(facts.modules[1].name, L"Twain.dll");
    EXPECT_EQ(facts.modules[1].version, L"Unknown");
    ASSERT_EQ(facts.drives.size(), 4u);
    EXPECT_EQ(facts.drives[1].root, L"C:\\");
    EXPECT_EQ(facts.drives[1].type, L"Fixed");
    EXPECT_EQ(facts.drives[3].type, L"Remote (network) drive");

    // A text without those lines leaves the facts empty.
    const Glean::CMainLogFacts none = Glean::ParseMainLog(L"OS = \r\nRAM = lots\r\nDrives:\r\nno tab here");
    EXPECT_EQ(none.windows, L"");
    EXPECT_EQ(none.memoryMb, 0u);
    EXPECT_TRUE(none.drives.empty());
}

TEST(RunReport, FixedDrivesAreMeasured)
{
    std::vector<Glean::CDriveFacts> drives = {
        {L"C:\\", L"Fixed"}, {L"C:\\", L"CD-ROM"}, {L"Q:\\", L"Fixed"}};
    Glean::MeasureDrives(drives);
    EXPECT_TRUE(drives[0].measured);
    EXPECT_GT(drives[0].totalBytes, 0u);
    EXPECT_LE(drives[0].freeBytes, drives[0].totalBytes);
    EXPECT_FALSE(drives[1].measured);
    // Q: does not exist in the test prefix.
    EXPECT_FALSE(drives[2].measured);
}

void WriteFile(const std::wstring& path, const std::string& bytes)
{
    Bas::CFile file(path, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
    file.Write(bytes.data(), bytes.size());
    file.Close();
}

// The sample of a made-up run for the schema and the browser, written into
// the folder GLEAN_REPORT_SAMPLE names: three drives (two measured), four
// items that did not go in, markup in a file name, a registry key's name and
// a registry value.
TEST(RunReport, WritesTheSampleForTheBrowser)
{
    const char* target = std::getenv("GLEAN_REPORT_SAMPLE");
    if (target == nullptr)
        GTEST_SKIP() << "GLEAN_REPORT_SAMPLE is not set";
    std::wstring folder(target, target + std::strlen(target));
    for (wchar_t& c : folder)
        if (c == L'/')
            c = L'\\';
    Bas::CreateFolders(folder);

    Glean::CRunReport report = SmallReport();
    report.computer = Glean::ParseMainLog(kMainLog);
    // The processor's name is a registry value, and may hold anything.
    report.computer.processor = L"Intel(R) Core(TM) <b>i5</b> <script>alert(3)</script> CPU @ 1.60GHz";
    report.computer.drives = {{L"C:\\", L"Fixed", true, 511ull << 30, 138ull << 30},
                              {L"D:\\", L"Fixed", true, 1863ull << 30, 41ull << 30},
                              {L"E:\\", L"CD-ROM"}};
    report.items.push_back(Failed(CRunItem::File, L"C:\\Users\\user1\\Desktop\\<script>alert(1)</script>.txt",
                                  L"Desktop/002_<script>alert(1)</script>.txt",
                                  Bas::CFileException(32, Bas::EFileError::SharingViolation,
                                                      L"C:\\Users\\user1\\Desktop\\<script>alert(1)</script>.txt")));
    CRunItem key;
    key.kind = CRunItem::Registry;
    key.source = L"HKEY_CURRENT_USER\\Software\\Zarvo\\<img src=x onerror=alert(2)>";
    key.archiveName = L"Product.reg";
    Glean::SetFailure(key, MSG_REGISTRY_KEY_MISSING, {key.source});
    report.items.push_back(key);
    for (int i = 0; i < 12; ++i)
        report.items.push_back(Added(CRunItem::File, L"C:\\ProgramData\\Product\\Logs\\trace" + std::to_wstring(i) + L".log",
                                     L"Product/Logs/" + std::to_wstring(100 + i) + L"_trace" + std::to_wstring(i) + L".log",
                                     (i * 7919ull % 13 + 1) * 40000, (i * 7919ull % 13 + 1) * 6000, 0x9e3779b9u * i, 2 + i));
    report.items.push_back(Added(CRunItem::Log, L"C:\\Users\\user1\\AppData\\Local\\Temp\\GML1.tmp", L"GleanMain.log",
                                 9000, 2100, 0x0badf00d, 1));
    report.items.push_back(Added(CRunItem::EventLog, L"C:\\Users\\user1\\AppData\\Local\\Temp\\GEV2.tmp",
                                 L"EventLog/Application.evt", 3145728, 401000, 0xdeadbeef, 140));
    WriteFile(folder + L"\\GleanManifest.json", Glean::ManifestJson(report));
    WriteFile(folder + L"\\GleanSummary.html", Glean::SummaryHtml(report));
}

} // namespace

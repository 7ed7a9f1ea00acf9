#include "LogCollector.h"

#include "Errors.h"
#include "AccessLog.h"
#include "DrivesLog.h"
#include "EventLogs.h"
#include "File.h"
#include "FilesLog.h"
#include "GleanAppLog.h"
#include "GleanSettings.h"
#include "MainLog.h"
#include "MessageLoopMica.h"
#include "MsiLogs.h"
#include "MaskedText.h"
#include "PrivacyKey.h"
#include "PrivacyMask.h"
#include "NativeFileSystem.h"
#include "RegistryExport.h"
#include "RunReport.h"
#include "Sha256.h"
#include "TempFile.h"
#include "TextStream.h"
#include "ZipCompressor.h"
#include "ZipVerifier.h"
#include "generated/GleanMessages.h"

#include <atomic>
#include <cstdio>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace Glean {

namespace {

// An error's text besides the source and the name it may give, in
// characters: the catalogue's texts of the errors a file meets are shorter;
// a longer one (a system error's text) is cut to it in the log.
constexpr std::size_t kErrorTextBound = 256;

// The two lines of an entry that did not go in: its error (cut to the
// bound the log's room counts with) and the failure; a privacy key left out
// is no failure, its one line says so.
void LogFailure(const Bas::CException& error, const std::wstring& source, const std::wstring& name)
{
    CGleanAppLog& log = CGleanAppLog::Instance();
    log.AddLine(CutText(error.GetMessageText(), kErrorTextBound + source.size() + name.size()));
    const auto* check = dynamic_cast<const Bas::CCheckException*>(&error);
    if (check == nullptr || &check->Message() != &MSG_PRIVACY_KEY_NOT_COLLECTED)
        log.AddLine(Bas::Format(MSG_ADD_FILE_FAILED, source, name));
}

} // namespace

std::uint64_t CLogCollector::LinesBytes(const std::wstring& source, const std::wstring& name)
{
    static const std::uint64_t added = Bas::Format(MSG_FILE_ADDED_TO_ARCHIVE, L"", L"").size();
    static const std::uint64_t failed = Bas::Format(MSG_ADD_FILE_FAILED, L"", L"").size();
    static const std::uint64_t notMasked = Bas::Format(MSG_FILE_NOT_MASKED, L"").size();
    // The lines in UTF-16 with their CR LF: "added" and "not masked" when it
    // goes in, its error and "failed" when it does not.
    const std::uint64_t goesIn = added + source.size() + name.size() + 2 + notMasked + source.size() + 2;
    const std::uint64_t fails = kErrorTextBound + source.size() + name.size() + 2 + failed + source.size() + name.size() + 2;
    return 2 * std::max(goesIn, fails);
}

namespace {

// The names entries take, as one folder on Windows holds them: a name once,
// whatever its case, and no file where a folder must be.
class CArchiveNames {
public:
    // False, taking nothing, when the name or a folder it needs is taken.
    bool Claim(const std::wstring& name)
    {
        const std::wstring stored = Granite::CZipCompressor::NormalizeName(name);
        std::vector<std::wstring> folders;
        for (std::size_t slash = stored.find(L'/'); slash != std::wstring::npos && slash + 1 < stored.size();
             slash = stored.find(L'/', slash + 1)) {
            folders.push_back(Granite::CZipCompressor::NameKey(std::wstring_view(stored).substr(0, slash)));
            if (const auto found = m_names.find(folders.back()); found != m_names.end() && !found->second)
                return false;
        }
        const std::wstring key = Granite::CZipCompressor::NameKey(stored);
        if (m_names.count(key) != 0)
            return false;
        for (const std::wstring& folder : folders)
            m_names.emplace(folder, true);
        m_names.emplace(key, false);
        return true;
    }

private:
    std::unordered_map<std::wstring, bool> m_names;
};

std::uint64_t FileLength(const std::wstring& path)
{
    Bas::CFile file;
    return file.TryOpen(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead | Bas::CFile::ShareWrite)
               ? file.GetLength()
               : 0;
}

// A privacy key of an earlier run holds every original of its archive: it
// is never collected. A key is known by its first line, or by the end of
// the name every key is saved under (which the keys of earlier versions,
// without a title, have too).
void RefusePrivacyKey(Bas::CFile& file, const std::wstring& path)
{
    char head[kPrivacyKeyProbeBytes];
    const std::size_t read = file.Read(head, sizeof head);
    file.Seek(0);
    const std::wstring name = Bas::FileNameOf(path);
    const std::size_t suffix = kPrivacyKeySuffix.size();
    if (IsPrivacyKey(std::string_view(head, read)) ||
        (name.size() >= suffix &&
         ::CompareStringOrdinal(name.c_str() + name.size() - suffix, static_cast<int>(suffix), kPrivacyKeySuffix.data(),
                                static_cast<int>(suffix), TRUE) == CSTR_EQUAL))
        Bas::ThrowCheck(MSG_PRIVACY_KEY_NOT_COLLECTED, path);
}

} // namespace

CLogCollector::CLogCollector() = default;

CLogCollector::~CLogCollector()
{
    Bas::SetLogFilter(nullptr);
    m_pool.reset();
    discardArchive();
}

void CLogCollector::discardArchive()
{
    if (!m_archiveFile.empty() && Bas::FileExists(m_archiveFile)) {
        if (Bas::IsTempFile(m_archiveFile))
            Bas::DeleteTempFile(m_archiveFile);
        else
            Bas::RemoveFile(m_archiveFile);
    }
    m_archiveFile.clear();
    m_archiveEntries.clear();
}

const std::wstring& CLogCollector::MainLogText()
{
    if (m_mainLogText.empty()) {
        const CGleanSettings& settings = CGleanSettings::Instance();
        CWindowsMainLogSystem system;
        CMainLog(system, {settings.AppName(), settings.AppPath(), settings.TempDir()}).BuildText(m_mainLogText);
    }
    return m_mainLogText;
}

void CLogCollector::CollectLogs()
{
    ::GetSystemTimeAsFileTime(&m_runStart);
    // With [Privacy] Mask=1 every log of the run passes through the mask on
    // its way to its file. One mask serves every run of the collector, so
    // that a stand-in keeps its meaning in the main log they share.
    const CPrivacySettings& privacy = CGleanSettings::Instance().Privacy();
    if (privacy.mask && !m_mask)
        m_mask = std::make_unique<CPrivacyMask>(
            PrivateNamesOfThisComputer(privacy.words, CGleanSettings::Instance().RecipientAddress()));
    Bas::SetLogFilter(m_mask.get());
    if (m_mainLogFile.empty()) {
        const std::wstring& text = MainLogText();
        const std::wstring path = Bas::CreateTempFile(Bas::GetTempFolder(), L"GML", L"tmp");
        Bas::CLogWriter file(path, Bas::CLogWriter::MainLogText);
        file.WriteText(text);
        file.Close();
        m_mainLogFile = path;
    }
    const CGleanSettings& settings = CGleanSettings::Instance();
    // A run's workers, joined when it ends.
    m_pool.reset();
    if (const unsigned workers = Bas::CWorkerPool::WorkersFor(settings.Threads()); workers > 0) {
        // Without its workers the run goes on on its own thread.
        try {
            m_pool = std::make_unique<Bas::CWorkerPool>(workers);
        } catch (Bas::CUserException*) {
            throw;
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            CGleanAppLog::Instance().AddLine(Bas::Format(MSG_WORKERS_NOT_STARTED, error->GetMessageText()));
        }
    }
    CFilesLog filesLog;
    filesLog.Run(settings.Directories(), settings.Trees(), m_pool.get());
    m_filesLogFile = filesLog.FilePath();
    Mica::PumpMessages();
    CWindowsDriveSystem drives;
    CDrivesLog drivesLog(drives);
    drivesLog.Run();
    m_drivesLogFile = drivesLog.FilePath();
    Mica::PumpMessages();
    m_registryExports.clear();
    CWindowsRegistrySource registry;
    m_registryIssues.clear();
    m_registryExports = ExportAll(registry, settings.RegistryKeys(), Bas::GetTempFolder(), &m_registryIssues);
    Mica::PumpMessages();
    m_accessLogFile = WriteAccessLog(settings.AccessObjects());
    Mica::PumpMessages();
    CMsiLogs msiLogs;
    msiLogs.Run(settings.MsiEntries(), settings.TempDir());
    m_msiLogFiles = std::move(msiLogs.files);
    m_msiSubFolders = std::move(msiLogs.subFolders);
    Mica::PumpMessages();
    m_eventLogIssues.clear();
    m_eventLogs = SaveEventLogs(settings.EventLogs(), Bas::GetTempFolder(), &m_eventLogIssues);
    Mica::PumpMessages();
    m_environmentLogFile = WriteEnvironmentLog();
    Mica::PumpMessages();
}

std::wstring CLogCollector::OtherFileName(const std::wstring& keyName, const std::wstring& subFolder,
                                          std::size_t index, const std::wstring& path)
{
    wchar_t number[32];
    std::swprintf(number, 32, L"%0*zu_", 3, index);
    const auto slash = keyName.rfind(L'/');
    const std::wstring keyFolder = slash == std::wstring::npos ? std::wstring() : keyName.substr(0, slash + 1);
    // The folders and the file name come from the disk, where a name may
    // end in a dot or be a device's: each is made one that Windows can
    // extract, and the number keeps every file's name its own.
    std::wstring name = keyFolder;
    for (std::size_t start = 0; start < subFolder.size();) {
        const std::size_t end = subFolder.find(L'/', start);
        name += Granite::CZipCompressor::SafeComponent(std::wstring_view(subFolder).substr(start, end - start)) + L'/';
        start = end == std::wstring::npos ? subFolder.size() : end + 1;
    }
    return name + Granite::CZipCompressor::SafeComponent(number + Bas::FileNameOf(path));
}

bool CLogCollector::addFileLogged(Granite::CZipPipeline& pipeline, const std::wstring& source, const std::wstring& name,
                                  CRunItem& item)
{
    CGleanAppLog& log = CGleanAppLog::Instance();
    try {
        pipeline.AddNext();
        log.AddLine(Bas::Format(MSG_FILE_ADDED_TO_ARCHIVE, source, name));
        return true;
    } catch (Bas::CUserException*) {
        throw;
    } catch (const std::bad_alloc&) {
        // What the file holds may drive an allocation too large: the file
        // fails with the out-of-memory error, the run goes on.
        const Bas::CMemoryException error;
        LogFailure(error, source, name);
        SetFailure(item, error);
        return false;
    } catch (Bas::CException* raw) {
        const auto error = Bas::Own(raw);
        LogFailure(*error, source, name);
        SetFailure(item, *error);
        return false;
    }
}

void CLogCollector::AddRunEnd(Granite::CZipCompressor& zip, Bas::CWorkerPool* pool, const CRunReport& report)
{
    CGleanAppLog& log = CGleanAppLog::Instance();
    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> pages[] = {
        {L"GSU", L"GleanSummary.html", L"Run Summary"}, {L"GMF", L"GleanManifest.json", L"Run Manifest"}};
    // The application log's entry and room are kept while the two go in:
    // what fails of them is its lines there, and it still comes last.
    std::uint64_t lines = 0;
    for (const auto& [prefix, name, comment] : pages)
        lines += LinesBytes(comment, name);
    zip.ReserveEntries(1);
    zip.ReserveBytes(
        Granite::CZipCompressor::BytesFor({L"GleanAppLog.log", L"Glean Application Log", log.WrittenSize() + lines}));
    const auto addOne = [&](const std::wstring& path, const wchar_t* name, const wchar_t* comment, int level) {
        bool given = false;
        // Compressed in blocks on the workers, as every entry.
        Granite::CZipPipeline pipeline(
            zip, pool,
            [&](Granite::CZipPipeline::CSource& source) {
                if (given)
                    return false;
                given = true;
                source = {path, name, comment, true};
                source.size = FileLength(path);
                source.level = level;
                return true;
            },
            [] { Mica::PumpMessages(); });
        zip.ReleaseName(name);
        pipeline.AddNext();
    };
    for (const auto& [prefix, name, comment] : pages) {
        const auto failed = [&](const Bas::CException& error) { LogFailure(error, comment, name); };
        try {
            const std::wstring path = Bas::CreateTempFile(Bas::GetTempFolder(), prefix, L"tmp");
            Bas::CFile file(path, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
            const auto write = [&file](std::string_view part) { file.Write(part.data(), part.size()); };
            if (std::wstring_view(name) == L"GleanSummary.html")
                write(SummaryHtml(report));
            else
                WriteManifest(report, write);
            file.Close();
            addOne(path, name, comment, kReportLevel);
        } catch (Bas::CUserException*) {
            throw;
        } catch (const std::bad_alloc&) {
            failed(Bas::CMemoryException());
        } catch (Bas::CException* raw) {
            failed(*Bas::Own(raw));
        }
    }
    zip.ReserveEntries(0);
    zip.ReserveBytes(0);
    // The application log goes last, so that it records the packing too.
    log.SetFilePath(Bas::CreateTempFile(Bas::GetTempFolder(), L"GAL", L"tmp"));
    log.Write();
    addOne(log.FilePath(), L"GleanAppLog.log", L"Glean Application Log", Granite::CZDeflateStream::kBestLevel);
}

void CLogCollector::PackArchive()
{
    const CGleanSettings& settings = CGleanSettings::Instance();
    // The previous run's archive has been copied where it was going.
    discardArchive();
    m_archiveFile = Bas::CreateTempFile(Bas::GetTempFolder(), L"tmp", L"tmp");
    Granite::CZipCompressor zip;
    zip.Open(m_archiveFile);
    // The folders carry the run's start; the application log's name is
    // kept for it.
    if (m_runStart.dwHighDateTime == 0 && m_runStart.dwLowDateTime == 0)
        ::GetSystemTimeAsFileTime(&m_runStart);
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    Granite::CZipCompressor::ToDosTime(m_runStart, dosDate, dosTime);
    zip.SetDirectoryTime(dosDate, dosTime);
    for (const wchar_t* name : {L"GleanSummary.html", L"GleanManifest.json", L"GleanAppLog.log"})
        zip.ReserveName(name);

    // The run's account for the manifest and the summary page: every item
    // it tries, in archive order, with what became of it; the computer as
    // the main log saw it.
    CRunReport report;
    report.started = m_runStart;
    report.threads = m_pool ? m_pool->Workers() : 1;
    report.masking = m_mask != nullptr;
    SetProgram(report);
    // With masking, the facts of the main log as the archive holds it.
    report.computer = ParseMainLog(m_mask ? m_mask->Filter(MainLogText(), Bas::ILogFilter::MainLog) : MainLogText());
    MeasureDrives(report.computer.drives);
    try {
        report.settingsSha256 = Granite::FileSha256Text(settings.SettingsPath());
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException* raw) {
        // The settings were read: a file that cannot be read again now
        // has its digest left out, not the run.
        Bas::Own(raw);
    }
    if (m_mask)
        report.maskCounts.resize(CPrivacyMask::KindCount);
    // The room the two take: the rest, and each item at most until it is
    // done, then exactly.
    std::uint64_t reportBytes = ReportFixedBytes(report);
    const auto addItem = [&](CRunItem::EKind kind, const std::wstring& source, const std::wstring& name) {
        CRunItem& item = report.items.emplace_back();
        item.kind = kind;
        item.source = source;
        item.archiveName = name;
        return report.items.size() - 1;
    };
    // An item left out before packing, with its error; its room was kept
    // at most until now.
    const auto addIssue = [&](CRunItem::EKind kind, const std::wstring& source, const std::wstring& name,
                              const Bas::CException& error) {
        CRunItem& item = report.items[addItem(kind, source, name)];
        SetFailure(item, error);
        reportBytes += ReportItemBytes(item);
        reportBytes -= ReportItemBound(kind, source, name);
    };
    const auto sectionKind = [](CSettingsIssue::ESection section) {
        return section == CSettingsIssue::Registry ? CRunItem::Registry
               : section == CSettingsIssue::Msi    ? CRunItem::InstallerLog
               : section == CSettingsIssue::EventLog ? CRunItem::EventLog
                                                     : CRunItem::File;
    };
    const auto settingsIssues = [&](CSettingsIssue::ESection section) {
        for (const CSettingsIssue& issue : settings.Issues())
            if (issue.section == section)
                addIssue(sectionKind(section), issue.source, issue.name, *issue.error);
    };

    // Every entry in its order: the logs of the run, the collected files,
    // then the registry exports, the installer logs and the event logs,
    // each of the last two groups after its folder.
    using CSource = Granite::CZipPipeline::CSource;
    struct CItem {
        std::wstring path;
        std::wstring name;
        std::wstring comment;
        // What the entry is made of, for the run's account.
        std::wstring source;
    };
    std::vector<CItem> fixed;
    fixed.push_back({settings.SettingsPath(), L"Glean.ini", L"Settings File", settings.SettingsPath()});
    for (const auto& [path, name, comment] : {std::tuple{&m_mainLogFile, L"GleanMain.log", L"Main Log"},
                                              std::tuple{&m_filesLogFile, L"GleanFiles.log", L"Files Log"},
                                              std::tuple{&m_drivesLogFile, L"GleanDrives.log", L"Drives Log"},
                                              std::tuple{&m_accessLogFile, L"GleanAccess.log", L"Access Log"},
                                              std::tuple{&m_environmentLogFile, L"GleanEnvVars.log",
                                                         L"Environment variables"}})
        if (!path->empty())
            fixed.push_back({*path, name, comment, comment});
    struct CTrailing {
        CItem item;
        const wchar_t* folder; // null for a registry export, added as a stream
    };
    const wchar_t* const msiFolder = L"MSI/";
    const wchar_t* const eventLogFolder = L"EventLog/";
    std::vector<CTrailing> trailing;
    for (const CRegistryExportFile& file : m_registryExports)
        trailing.push_back({{file.path, file.archiveName, file.path, file.keyPath}, nullptr});
    for (std::size_t i = 0; i < m_msiLogFiles.size(); ++i) {
        const std::wstring name = msiFolder + m_msiSubFolders[i] + Bas::FileNameOf(m_msiLogFiles[i]);
        trailing.push_back({{m_msiLogFiles[i], name, m_msiLogFiles[i], m_msiLogFiles[i]}, msiFolder});
    }
    for (const CSavedEventLog& saved : m_eventLogs)
        trailing.push_back({{saved.path, eventLogFolder + saved.fileName, saved.path,
                             saved.fileName.substr(0, saved.fileName.size() - 4)},
                            eventLogFolder});
    const auto& others = settings.OtherFiles();
    const auto otherName = [&](std::size_t i) {
        return OtherFileName(others[i].KeyName(), others[i].subFolder, i, others[i].path);
    };
    // Items left out for a name another entry has, by their group.
    struct CTaken {
        const wchar_t* folder;
        std::wstring source;
        std::wstring name;
        Bas::CCheckException error;
    };
    std::vector<CTaken> taken;
    // One entry a name: a registry export, installer log or event log whose
    // name an entry before it has taken (the logs', the collected files' and
    // the names of the report and the application log to come included), or
    // that needs a folder where a file has that name, is left out with a
    // line; the first one stays.
    {
        CArchiveNames names;
        for (const CItem& item : fixed)
            names.Claim(item.name);
        for (const wchar_t* name : {L"GleanSummary.html", L"GleanManifest.json", L"GleanAppLog.log"})
            names.Claim(name);
        for (std::size_t i = 0; i < others.size(); ++i)
            names.Claim(otherName(i));
        std::vector<CTrailing> kept;
        for (CTrailing& item : trailing) {
            if (names.Claim(item.item.name)) {
                kept.push_back(std::move(item));
                continue;
            }
            const wchar_t* section = item.folder == nullptr ? L"Registry" : item.folder == msiFolder ? L"Msi" : L"EventLog";
            CGleanAppLog::Instance().AddLine(Bas::Format(MSG_DUPLICATE_ARCHIVE_NAME, section, item.item.name));
            taken.push_back({item.folder, item.item.source,
                             item.item.name, Bas::CCheckException(MSG_ITEM_NAME_TAKEN, section, item.item.name)});
        }
        trailing = std::move(kept);
    }
    std::vector<std::wstring> following = {L"GleanSummary.html", L"GleanManifest.json", L"GleanAppLog.log"};
    std::vector<Granite::CZipCompressor::CPlannedEntry> planned;
    std::uint64_t linesToCome = 0;
    for (const CTrailing& item : trailing) {
        following.push_back(item.item.name);
        planned.push_back({item.item.name, item.item.comment, FileLength(item.item.path)});
        linesToCome += LinesBytes(item.item.path, item.item.name);
    }
    // With masking, the settings file and (with MaskCollectedFiles) the
    // collected files and installer logs are read through the mask, on the
    // workers ahead of the writer like every file; no collected file that
    // is a privacy key goes in. What each masked file was taken for is
    // kept for its application-log line.
    std::vector<std::shared_ptr<std::atomic<int>>> detected;
    const auto maskedInput = [&](CSource& source, bool maskText, bool wide, bool refuseKeys) {
        auto seen = std::make_shared<std::atomic<int>>(-1);
        detected.push_back(maskText ? seen : nullptr);
        CPrivacyMask* mask = m_mask.get();
        source.input = [mask, maskText, wide, refuseKeys, seen, path = source.path](
                           Bas::CFile& file, bool ahead) -> std::unique_ptr<Granite::IEntryInput> {
            if (refuseKeys)
                RefusePrivacyKey(file, path);
            if (!maskText)
                return nullptr;
            return std::make_unique<CMaskedReader>(file, *mask, ahead ? CMaskedReader::Ahead : CMaskedReader::Registering,
                                                   wide, seen.get());
        };
    };
    // The workers compress ahead of the writer; the sources are made as far
    // ahead as they go, in their order, not all at once.
    std::size_t next = 0;
    const bool maskCollected = m_mask && settings.Privacy().maskCollectedFiles;
    const auto sources = [&](CSource& source) {
        const std::size_t at = next++;
        if (at < fixed.size()) {
            const CItem& item = fixed[at];
            source = {item.path, item.name, item.comment, true};
            source.size = FileLength(item.path);
            // The settings file, whose Word lines are what is hidden.
            if (m_mask && at == 0)
                maskedInput(source, true, false, false);
        } else if (at < fixed.size() + others.size()) {
            const std::size_t i = at - fixed.size();
            source = {others[i].path, otherName(i), others[i].path, false};
            source.size = others[i].size;
            if (m_mask)
                maskedInput(source, maskCollected, false, true);
        } else if (at < fixed.size() + others.size() + trailing.size()) {
            const std::size_t k = at - fixed.size() - others.size();
            const CTrailing& item = trailing[k];
            source = {item.item.path, item.item.name, item.item.comment, item.folder == nullptr};
            source.size = planned[k].size;
            if (maskCollected && item.folder == msiFolder)
                maskedInput(source, true, true, false);
        } else {
            return false;
        }
        if (detected.size() <= at)
            detected.resize(at + 1);
        return true;
    };
    // Every name and comment (which name source paths, with the user's
    // name) through the mask, in archive order.
    const auto names = [&](std::wstring& name, std::wstring& comment) {
        if (m_mask) {
            name = m_mask->Filter(name);
            comment = m_mask->Filter(comment);
        }
    };
    const auto binary = [&](std::size_t at) {
        return at < detected.size() && detected[at] && *detected[at] == CMaskedReader::Binary;
    };
    Granite::CZipPipeline pipeline(zip, m_pool.get(), sources, [] { Mica::PumpMessages(); }, names);
    Mica::PumpMessages();

    // An item whose entry went in: what the archive recorded, under the
    // name it was stored by, and the time it took; its room now exact.
    const auto entryDone = [&](std::size_t at) {
        CRunItem& item = report.items[at];
        const Granite::CZipEntry& entry = zip.Entries().back();
        SetEntry(item, entry);
        item.archiveName = Granite::FromUtf8(entry.Name());
        item.milliseconds = pipeline.LastMilliseconds();
    };
    const auto itemDone = [&](std::size_t at, const std::wstring& source, const std::wstring& name) {
        reportBytes += ReportItemBytes(report.items[at]);
        reportBytes -= ReportItemBound(report.items[at].kind, source, name);
    };
    // One record an item, held to the end: as many as there will be, not a
    // vector that doubles.
    report.items.reserve(fixed.size() + others.size() + trailing.size() + taken.size() + settings.Issues().size() +
                         m_registryIssues.size() + m_eventLogIssues.size());
    for (std::size_t i = 0; i < fixed.size(); ++i) {
        const std::size_t at = addItem(i == 0 ? CRunItem::Settings : CRunItem::Log, fixed[i].source, fixed[i].name);
        pipeline.AddNext();
        entryDone(at);
        reportBytes += ReportItemBytes(report.items[at]);
        // After each log but the environment's, as the collection run has it.
        if (fixed[i].name != L"GleanEnvVars.log")
            Mica::PumpMessages();
    }

    // The entries after the collected files are kept free while those are
    // added, and the application log with them: when collected files would
    // fill the archive's 65535 entries or its 2 GiB, the ones left out get
    // their application-log lines, and everything after them still goes in.
    // Their files exist already, so their sizes are known; the application
    // log holds what it has and the lines that every file still to come may
    // add.
    const auto trailingKind = [&](const CTrailing& item) {
        return item.folder == nullptr ? CRunItem::Registry : item.folder == msiFolder ? CRunItem::InstallerLog
                                                                                       : CRunItem::EventLog;
    };
    for (std::size_t i = 0; i < others.size(); ++i) {
        const std::wstring name = otherName(i);
        linesToCome += LinesBytes(others[i].path, name);
        reportBytes += ReportItemBound(CRunItem::File, others[i].path, name);
    }
    for (const CTrailing& item : trailing)
        reportBytes += ReportItemBound(trailingKind(item), item.item.source, item.item.name);
    for (const CSettingsIssue& issue : settings.Issues())
        reportBytes += ReportItemBound(sectionKind(issue.section), issue.source, issue.name);
    for (const CRegistryExportIssue& issue : m_registryIssues)
        reportBytes += ReportItemBound(CRunItem::Registry, issue.keyPath, issue.fileName);
    for (const CEventLogIssue& issue : m_eventLogIssues)
        reportBytes += ReportItemBound(CRunItem::EventLog, issue.logName, eventLogFolder + issue.logName + L".evt");
    for (const CTaken& left : taken)
        reportBytes += ReportItemBound(left.folder == nullptr ? CRunItem::Registry
                                       : left.folder == msiFolder ? CRunItem::InstallerLog
                                                                  : CRunItem::EventLog,
                                       left.source, left.name);
    std::uint64_t trailingBytes = Granite::CZipCompressor::BytesFor(planned);
    CGleanAppLog& log = CGleanAppLog::Instance();
    const auto reserveRoom = [&] {
        zip.ReserveBytes(trailingBytes +
                         Granite::CZipCompressor::BytesFor({{L"GleanSummary.html", L"Run Summary", reportBytes},
                                                            {L"GleanManifest.json", L"Run Manifest", 0}}) +
                         64 +
                         Granite::CZipCompressor::BytesFor(
                             {L"GleanAppLog.log", L"Glean Application Log", log.WrittenSize() + linesToCome}));
    };
    zip.ReserveEntries(Granite::CZipCompressor::EntriesFor(following));
    // The records of all entries at once, rather than a vector that doubles.
    zip.ReserveRecords(zip.EntryCount() + others.size() + Granite::CZipCompressor::EntriesFor(following) + 64);

    if (m_mask && !maskCollected && !others.empty())
        log.AddLine(Bas::GetText(MSG_COLLECTED_FILES_NOT_MASKED));
    settingsIssues(CSettingsIssue::Files);
    for (std::size_t i = 0; i < others.size(); ++i) {
        const std::wstring name = otherName(i);
        reserveRoom();
        const std::size_t at = addItem(CRunItem::File, others[i].path, name);
        if (addFileLogged(pipeline, others[i].path, name, report.items[at])) {
            entryDone(at);
            if (binary(fixed.size() + i))
                log.AddLine(Bas::Format(MSG_FILE_NOT_MASKED, others[i].path));
        }
        itemDone(at, others[i].path, name);
        linesToCome -= LinesBytes(others[i].path, name);
        Mica::PumpMessagesNowAndThen();
    }
    zip.ReserveEntries(3);
    // Each group's items left out before packing come before its entries.
    const wchar_t* const groups[] = {nullptr, msiFolder, eventLogFolder};
    std::size_t groupsDone = 0;
    const auto groupIssues = [&](const wchar_t* upTo) {
        for (; groupsDone < 3 && (groupsDone == 0 || groups[groupsDone - 1] != upTo); ++groupsDone) {
            const wchar_t* group = groups[groupsDone];
            if (group == nullptr) {
                settingsIssues(CSettingsIssue::Registry);
                for (const CRegistryExportIssue& issue : m_registryIssues)
                    addIssue(CRunItem::Registry, issue.keyPath, issue.fileName, *issue.error);
            } else if (group == msiFolder) {
                settingsIssues(CSettingsIssue::Msi);
            } else {
                settingsIssues(CSettingsIssue::EventLog);
                for (const CEventLogIssue& issue : m_eventLogIssues)
                    addIssue(CRunItem::EventLog, issue.logName, eventLogFolder + issue.logName + L".evt", *issue.error);
            }
            for (const CTaken& left : taken)
                if (left.folder == group)
                    addIssue(group == nullptr ? CRunItem::Registry : group == msiFolder ? CRunItem::InstallerLog
                                                                                        : CRunItem::EventLog,
                             left.source, left.name, left.error);
        }
    };
    const wchar_t* folderAdded = nullptr;
    for (std::size_t k = 0; k < trailing.size(); ++k) {
        const CTrailing& item = trailing[k];
        groupIssues(item.folder);
        trailingBytes -= Granite::CZipCompressor::BytesFor(planned[k]);
        reserveRoom();
        const std::size_t at = addItem(trailingKind(item), item.item.source, item.item.name);
        if (item.folder == nullptr) {
            // A registry export the archive refuses (its name, when masking
            // makes two alike) gets the two lines of a file; the run goes on.
            try {
                pipeline.AddNext();
                entryDone(at);
            } catch (Bas::CUserException*) {
                throw;
            } catch (Bas::CException* raw) {
                const auto error = Bas::Own(raw);
                LogFailure(*error, item.item.path, item.item.name);
                SetFailure(report.items[at], *error);
            }
        } else {
            if (folderAdded != item.folder) {
                zip.AddDirectory(item.folder, L"");
                folderAdded = item.folder;
            }
            if (addFileLogged(pipeline, item.item.path, item.item.name, report.items[at])) {
                entryDone(at);
                if (binary(fixed.size() + others.size() + k))
                    log.AddLine(Bas::Format(MSG_FILE_NOT_MASKED, item.item.path));
            }
        }
        itemDone(at, item.item.source, item.item.name);
        linesToCome -= LinesBytes(item.item.path, item.item.name);
        Mica::PumpMessages();
    }
    groupIssues(eventLogFolder);
    groupIssues(nullptr);
    zip.ReserveEntries(0);
    zip.ReserveBytes(0);
    Mica::PumpMessages();

    // The run's account, with masking in masked text only.
    ::GetSystemTimeAsFileTime(&report.ended);
    if (m_mask)
        FilterReport(report, *m_mask);
    // What was masked, by kind, not what it stands for.
    if (m_mask) {
        std::wstring counts;
        const auto kinds = m_mask->Counts();
        for (int kind = 0; kind < CPrivacyMask::KindCount; ++kind) {
            const wchar_t* name = CPrivacyMask::KindName(CPrivacyMask::EKind(kind));
            counts += (kind > 0 ? L", " : L"") + std::wstring(name) + L" " + std::to_wstring(kinds[kind]);
            report.maskCounts[kind] = {name, kinds[kind]};
        }
        log.AddLine(Bas::Format(MSG_PRIVACY_MASKED, counts));
    }
    AddRunEnd(zip, m_pool.get(), report);
    Bas::SetLogFilter(nullptr);
    zip.Close();
    m_archiveEntries = zip.TakeEntries();
    Mica::PumpMessages();
}

std::wstring CLogCollector::CopyArchive(const std::wstring& destination, const std::wstring& keyFolder)
{
    std::wstring key;
    try {
        if (m_mask && keyFolder.empty()) {
            key = SavePrivacyKeyBeside(destination, m_mask->Key());
        } else if (m_mask) {
            SYSTEMTIME now;
            ::GetLocalTime(&now);
            key = SavePrivacyKeyInto(keyFolder, Bas::FileNameOf(destination), m_mask->Key(), now);
        }
    } catch (Bas::CException*) {
        m_pool.reset();
        throw;
    }
    // Rather no file than a damaged or partial one that looks good, and no
    // key without its archive.
    try {
        const auto pump = [] { Mica::PumpMessagesNowAndThen(); };
        Bas::CopyFileReplacing(m_archiveFile, destination, pump);
        Granite::VerifyZipArchive(destination, m_archiveEntries, pump, m_pool.get());
    } catch (Bas::CException*) {
        m_pool.reset();
        Bas::RemoveFile(destination);
        if (!key.empty())
            Bas::RemoveFile(key);
        throw;
    }
    m_pool.reset();
    return key;
}

} // namespace Glean

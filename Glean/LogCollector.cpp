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
#include "NativeFileSystem.h"
#include "RegistryExport.h"
#include "TempFile.h"
#include "TextStream.h"
#include "ZipCompressor.h"
#include "ZipVerifier.h"
#include "generated/GleanMessages.h"

#include <cstdio>
#include <tuple>

namespace Glean {

namespace {

// What a line of the application log holds at most besides the two names
// in it, in characters.
constexpr std::uint64_t kLineTextBound = 512;

// The bytes of the application-log lines that adding a file may bring: one
// when it goes in, two (its error and the failure) when it does not.
std::uint64_t LinesBytes(const std::wstring& source, const std::wstring& name)
{
    return 2 * 2 * (kLineTextBound + source.size() + name.size() + 2);
}

std::uint64_t FileLength(const std::wstring& path)
{
    Bas::CFile file;
    return file.TryOpen(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead | Bas::CFile::ShareWrite)
               ? file.GetLength()
               : 0;
}

} // namespace

CLogCollector::CLogCollector() = default;

CLogCollector::~CLogCollector()
{
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
    if (m_mainLogFile.empty()) {
        const std::wstring& text = MainLogText();
        const std::wstring path = Bas::CreateTempFile(Bas::GetTempFolder(), L"GML", L"tmp");
        Bas::CTextFile file;
        file.Open(path, Bas::CTextFile::ModeWrite, 1200);
        file.Write(text);
        file.Close();
        m_mainLogFile = path;
    }
    const CGleanSettings& settings = CGleanSettings::Instance();
    CFilesLog filesLog;
    filesLog.Run(settings.Directories(), settings.Trees());
    m_filesLogFile = filesLog.FilePath();
    Mica::PumpMessages();
    CWindowsDriveSystem drives;
    CDrivesLog drivesLog(drives);
    drivesLog.Run();
    m_drivesLogFile = drivesLog.FilePath();
    Mica::PumpMessages();
    m_registryExports.clear();
    CWindowsRegistrySource registry;
    m_registryExports = ExportAll(registry, settings.RegistryKeys(), Bas::GetTempFolder());
    Mica::PumpMessages();
    m_accessLogFile = WriteAccessLog(settings.AccessObjects());
    Mica::PumpMessages();
    CMsiLogs msiLogs;
    msiLogs.Run(settings.MsiEntries(), settings.TempDir());
    m_msiLogFiles = std::move(msiLogs.files);
    m_msiSubFolders = std::move(msiLogs.subFolders);
    Mica::PumpMessages();
    m_eventLogs = SaveEventLogs(settings.EventLogs(), Bas::GetTempFolder());
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
    return keyFolder + subFolder + number + Bas::FileNameOf(path);
}

void AddStreamEntry(Granite::CZipCompressor& zip, const std::wstring& source, const std::wstring& name,
                    const std::wstring& comment)
{
    Bas::CFile input(source, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    WIN32_FILE_ATTRIBUTE_DATA status = {};
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    std::uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (input.GetStatus(status)) {
        attributes = status.dwFileAttributes;
        Granite::CZipCompressor::ToDosTime(status.ftLastWriteTime, dosDate, dosTime);
    }
    zip.AddStream(input, name, comment, dosDate, dosTime, attributes);
}

void CLogCollector::addFileLogged(Granite::CZipCompressor& zip, const std::wstring& source, const std::wstring& name)
{
    CGleanAppLog& log = CGleanAppLog::Instance();
    try {
        zip.AddFile(source, name, source);
        log.AddLine(Bas::Format(MSG_FILE_ADDED_TO_ARCHIVE, source, name));
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        log.AddLine(error->GetMessageText());
        log.AddLine(Bas::Format(MSG_ADD_FILE_FAILED, source, name));
    }
}

void CLogCollector::PackArchive()
{
    const CGleanSettings& settings = CGleanSettings::Instance();
    // The previous run's archive has been copied where it was going.
    discardArchive();
    m_archiveFile = Bas::CreateTempFile(Bas::GetTempFolder(), L"tmp", L"tmp");
    Granite::CZipCompressor zip;
    zip.Open(m_archiveFile);
    Mica::PumpMessages();

    AddStreamEntry(zip, settings.SettingsPath(), L"Glean.ini", L"Settings File");
    Mica::PumpMessages();
    if (!m_mainLogFile.empty()) {
        AddStreamEntry(zip, m_mainLogFile, L"GleanMain.log", L"Main Log");
        Mica::PumpMessages();
    }
    for (const auto& [path, name, comment] : {std::tuple{&m_filesLogFile, L"GleanFiles.log", L"Files Log"},
                                              std::tuple{&m_drivesLogFile, L"GleanDrives.log", L"Drives Log"},
                                              std::tuple{&m_accessLogFile, L"GleanAccess.log", L"Access Log"}}) {
        if (!path->empty()) {
            AddStreamEntry(zip, *path, name, comment);
            Mica::PumpMessages();
        }
    }
    if (!m_environmentLogFile.empty())
        AddStreamEntry(zip, m_environmentLogFile, L"GleanEnvVars.log", L"Environment variables");

    // The entries after the collected files: the registry exports, then the
    // installer logs and the event logs, each group after its folder.
    struct CTrailing {
        std::wstring source;
        std::wstring name;
        const wchar_t* folder; // null for a registry export, added as a stream
    };
    std::vector<CTrailing> trailing;
    for (const CRegistryExportFile& file : m_registryExports)
        trailing.push_back({file.path, file.archiveName, nullptr});
    for (std::size_t i = 0; i < m_msiLogFiles.size(); ++i)
        trailing.push_back({m_msiLogFiles[i], L"MSI/" + m_msiSubFolders[i] + Bas::FileNameOf(m_msiLogFiles[i]), L"MSI/"});
    for (const CSavedEventLog& saved : m_eventLogs)
        trailing.push_back({saved.path, L"EventLog/" + saved.fileName, L"EventLog/"});

    // They are kept free while the collected files are added, and the
    // application log with them: when collected files would fill the
    // archive's 65535 entries or its 2 GiB, the ones left out get their
    // application-log lines, and everything after them still goes in. Their
    // files exist already, so their sizes are known; the application log
    // holds what it has and the lines that every file still to come may add.
    std::vector<std::wstring> following = {L"GleanAppLog.log"};
    std::vector<Granite::CZipCompressor::CPlannedEntry> planned;
    std::uint64_t linesToCome = 0;
    for (const CTrailing& item : trailing) {
        following.push_back(item.name);
        planned.push_back({item.name, item.source, FileLength(item.source)});
        if (item.folder != nullptr)
            linesToCome += LinesBytes(item.source, item.name);
    }
    const auto& others = settings.OtherFiles();
    std::vector<std::wstring> otherNames;
    otherNames.reserve(others.size());
    for (std::size_t i = 0; i < others.size(); ++i) {
        otherNames.push_back(OtherFileName(others[i].KeyName(), others[i].subFolder, i, others[i].path));
        linesToCome += LinesBytes(others[i].path, otherNames.back());
    }
    std::uint64_t trailingBytes = Granite::CZipCompressor::BytesFor(planned);
    CGleanAppLog& log = CGleanAppLog::Instance();
    const auto reserveRoom = [&] {
        zip.ReserveBytes(trailingBytes + Granite::CZipCompressor::BytesFor(
                                             {L"GleanAppLog.log", L"Glean Application Log", log.WrittenSize() + linesToCome}));
    };
    zip.ReserveEntries(Granite::CZipCompressor::EntriesFor(following));
    // The records of all entries at once, rather than a vector that doubles.
    zip.ReserveRecords(zip.EntryCount() + others.size() + Granite::CZipCompressor::EntriesFor(following) + 64);

    for (std::size_t i = 0; i < others.size(); ++i) {
        reserveRoom();
        addFileLogged(zip, others[i].path, otherNames[i]);
        linesToCome -= LinesBytes(others[i].path, otherNames[i]);
        Mica::PumpMessagesNowAndThen();
    }
    zip.ReserveEntries(1);
    const wchar_t* folderAdded = nullptr;
    for (std::size_t k = 0; k < trailing.size(); ++k) {
        const CTrailing& item = trailing[k];
        trailingBytes -= Granite::CZipCompressor::BytesFor(planned[k]);
        reserveRoom();
        if (item.folder == nullptr) {
            AddStreamEntry(zip, item.source, item.name, item.source);
        } else {
            if (folderAdded != item.folder) {
                zip.AddDirectory(item.folder, L"");
                folderAdded = item.folder;
            }
            addFileLogged(zip, item.source, item.name);
            linesToCome -= LinesBytes(item.source, item.name);
        }
        Mica::PumpMessages();
    }
    zip.ReserveEntries(0);
    zip.ReserveBytes(0);
    Mica::PumpMessages();

    // The application log goes last, so that it records the packing too.
    log.SetFilePath(Bas::CreateTempFile(Bas::GetTempFolder(), L"GAL", L"tmp"));
    log.Write();
    AddStreamEntry(zip, log.FilePath(), L"GleanAppLog.log", L"Glean Application Log");
    zip.Close();
    m_archiveEntries = zip.TakeEntries();
    Mica::PumpMessages();
}

void CLogCollector::CopyArchive(const std::wstring& destination) const
{
    // Rather no file than a damaged or partial one that looks good.
    try {
        const auto pump = [] { Mica::PumpMessagesNowAndThen(); };
        Bas::CopyFileReplacing(m_archiveFile, destination, pump);
        Granite::VerifyZipArchive(destination, m_archiveEntries, pump);
    } catch (Bas::CException*) {
        Bas::RemoveFile(destination);
        throw;
    }
}

} // namespace Glean

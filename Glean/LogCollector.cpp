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

CLogCollector::CLogCollector() = default;

CLogCollector::~CLogCollector()
{
    if (!m_archiveFile.empty() && Bas::FileExists(m_archiveFile)) {
        if (Bas::IsTempFile(m_archiveFile))
            Bas::DeleteTempFile(m_archiveFile);
        else
            ::DeleteFileW(m_archiveFile.c_str());
    }
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

    // The entries after the collected files are kept free while those are
    // added: when collected files would fill the archive's 65535 entries,
    // the ones left out get their application-log lines, and the registry
    // exports, installer logs, event logs and the application log still go in.
    std::vector<std::wstring> msiNames;
    for (std::size_t i = 0; i < m_msiLogFiles.size(); ++i)
        msiNames.push_back(L"MSI/" + m_msiSubFolders[i] + Bas::FileNameOf(m_msiLogFiles[i]));
    std::vector<std::wstring> eventLogNames;
    for (const CSavedEventLog& saved : m_eventLogs)
        eventLogNames.push_back(L"EventLog/" + saved.fileName);
    std::vector<std::wstring> following = {L"GleanAppLog.log"};
    for (const CRegistryExportFile& file : m_registryExports)
        following.push_back(file.archiveName);
    following.insert(following.end(), msiNames.begin(), msiNames.end());
    following.insert(following.end(), eventLogNames.begin(), eventLogNames.end());
    zip.ReserveEntries(Granite::CZipCompressor::EntriesFor(following));
    // The records of all entries at once, rather than a vector that doubles.
    zip.ReserveRecords(zip.EntryCount() + settings.OtherFiles().size() + Granite::CZipCompressor::EntriesFor(following) +
                       64);

    const auto& others = settings.OtherFiles();
    for (std::size_t i = 0; i < others.size(); ++i) {
        addFileLogged(zip, others[i].path, OtherFileName(others[i].KeyName(), others[i].subFolder, i, others[i].path));
        Mica::PumpMessagesNowAndThen();
    }
    zip.ReserveEntries(1);
    for (const CRegistryExportFile& file : m_registryExports) {
        AddStreamEntry(zip, file.path, file.archiveName, file.path);
        Mica::PumpMessages();
    }
    if (!msiNames.empty()) {
        zip.AddDirectory(L"MSI/", L"");
        for (std::size_t i = 0; i < msiNames.size(); ++i) {
            addFileLogged(zip, m_msiLogFiles[i], msiNames[i]);
            Mica::PumpMessages();
        }
    }
    if (!eventLogNames.empty()) {
        zip.AddDirectory(L"EventLog/", L"");
        for (std::size_t i = 0; i < eventLogNames.size(); ++i) {
            addFileLogged(zip, m_eventLogs[i].path, eventLogNames[i]);
            Mica::PumpMessages();
        }
    }
    zip.ReserveEntries(0);
    Mica::PumpMessages();

    // The application log goes last, so that it records the packing too.
    CGleanAppLog& log = CGleanAppLog::Instance();
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
        Bas::CopyFileReplacing(m_archiveFile, destination);
        Granite::VerifyZipArchive(destination, m_archiveEntries);
    } catch (Bas::CException*) {
        ::DeleteFileW(destination.c_str());
        throw;
    }
}

} // namespace Glean

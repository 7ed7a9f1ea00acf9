// One collection run: the log writers in their fixed order, then the archive
// with its entries in their fixed order and names.
#pragma once

#include "EventLogs.h"
#include "PrivacyMask.h"
#include "RegistryExport.h"
#include "RunReport.h"
#include "WorkerPool.h"
#include "ZipCompressor.h"
#include "ZipPipeline.h"

#include <memory>
#include <string>
#include <vector>

namespace Glean {

class CLogCollector {
public:
    CLogCollector();
    // Deletes the temporary archive if it is still there.
    ~CLogCollector();
    CLogCollector(const CLogCollector&) = delete;
    CLogCollector& operator=(const CLogCollector&) = delete;

    void CollectLogs();
    // The system-information text, built once per collector; the dialog
    // shows it before the first run.
    const std::wstring& MainLogText();
    void PackArchive();
    const std::wstring& ArchivePath() const noexcept { return m_archiveFile; }
    // Copies the packed archive to the destination, replacing a file there,
    // and reads the copy back against what was written; a copy that does
    // not verify is removed and its error raised. Messages are pumped
    // between blocks.
    // With masking, the key from stand-ins to originals is written first:
    // beside the destination and named after it, or with `keyFolder` into
    // that folder under a dated name no other key has. A key that cannot be
    // written is the error, and the destination stays as it was; a copy
    // that fails removes the key too. Returns the key's path, empty without
    // masking.
    // The run ends here: its workers are joined.
    std::wstring CopyArchive(const std::wstring& destination, const std::wstring& keyFolder = {});
    // The entries as the writer wrote them, for reading the archive back.
    const std::vector<Granite::CZipEntry>& ArchiveEntries() const noexcept { return m_archiveEntries; }

    // The archive name of collected file `index`: its key-name folder, its
    // sub-folder, the number ("%03d_") and its own file name.
    static std::wstring OtherFileName(const std::wstring& keyName, const std::wstring& subFolder, std::size_t index,
                                      const std::wstring& path);
    // The bytes of the application-log lines that adding a file may bring,
    // in UTF-16: two when it goes in (added, and not masked), its error and
    // "failed" when it does not.
    static std::uint64_t LinesBytes(const std::wstring& source, const std::wstring& name);
    // The run's last entries: the summary page and the manifest made from
    // the report, then the application log, written then. A page that
    // cannot be made or that the archive refuses gets the two lines of a
    // file, and the application log still goes in, last.
    static void AddRunEnd(Granite::CZipCompressor& zip, Bas::CWorkerPool* pool, const CRunReport& report);

private:
    void discardArchive();
    // The pipeline's next entry, with its application-log line, or the two
    // lines of its failure.
    // True when it went in.
    bool addFileLogged(Granite::CZipPipeline& pipeline, const std::wstring& source, const std::wstring& name,
                       CRunItem& item);

    std::wstring m_mainLogText;
    std::wstring m_mainLogFile;
    std::wstring m_filesLogFile;
    std::wstring m_drivesLogFile;
    std::wstring m_accessLogFile;
    std::vector<CRegistryExportFile> m_registryExports;
    std::vector<CRegistryExportIssue> m_registryIssues;
    std::vector<std::wstring> m_msiLogFiles;
    std::vector<std::wstring> m_msiSubFolders;
    std::vector<CSavedEventLog> m_eventLogs;
    std::vector<CEventLogIssue> m_eventLogIssues;
    std::wstring m_environmentLogFile;
    std::wstring m_archiveFile;
    // When the run began: the date of the archive's folders.
    FILETIME m_runStart = {};
    std::vector<Granite::CZipEntry> m_archiveEntries;
    // The workers of a run (none with Threads=1), from CollectLogs to the
    // end of CopyArchive.
    std::unique_ptr<Bas::CWorkerPool> m_pool;
    // [Privacy] Mask=1: the mask of every run of this collector.
    std::unique_ptr<CPrivacyMask> m_mask;
};

} // namespace Glean

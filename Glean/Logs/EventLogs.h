// The configured event logs saved as classic ".evt" files: the 48-byte
// header, the records as the system gives them (renumbered from 1, filtered
// by source, masked when a log filter is set) and the 40-byte end-of-file
// record. The writer takes its records from IEventRecordSource, so the
// format can be tried with made-up records.
#pragma once

#include "Errors.h"
#include "GleanSettings.h"
#include "Handles.h"
#include "NativeFileSystem.h"
#include "TextStream.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Glean {

class IEventRecordSource {
public:
    virtual ~IEventRecordSource() = default;
    virtual DWORD RecordCount() = 0;
    // The next record, oldest first, whole (EVENTLOGRECORD and its variable
    // part); throws when it cannot be read.
    virtual std::vector<BYTE> ReadNext() = 0;
};

// One open event log of this computer, read forwards.
class CEventLogCache : public IEventRecordSource {
public:
    explicit CEventLogCache(const std::wstring& logName);
    DWORD RecordCount() override;
    std::vector<BYTE> ReadNext() override;

private:
    Bas::CEventLogHandle m_log;
};

// The source name of a record: the string after its 56-byte fixed part.
std::wstring RecordSourceName(const std::vector<BYTE>& record);

// A record (at least its 56-byte fixed part) rebuilt with its personal data
// masked: the source and computer names, the insertion strings and the text
// inside the event data pass through the filter; a user SID whose text the
// filter changes becomes S-1-5-21-0-0-<k>-<rest> for a masked text
// "sid<k>-<rest>", else the null SID S-1-0-0. The parts are laid out anew
// (names, SID on a DWORD boundary, strings, data, padding, the length
// again) with every offset and length set to match. A part the record's
// fields place outside the record, or that cannot be read, is left out: the
// names become empty, the strings, SID or data are dropped.
std::vector<BYTE> MaskEventRecord(const std::vector<BYTE>& record, Bas::ILogFilter& filter);

// Writes the records whose source is in `sources` (every record for an empty
// set) into a new file, each masked by MaskEventRecord when a log filter is
// set. A file that would reach the limit (2 GiB) is refused. `progress` is
// called before each record; what it throws ends the writing.
constexpr std::uint32_t kEventLogFileLimit = 0x80000000u;
void WriteEventLogFile(IEventRecordSource& records, const std::set<std::wstring>& sources, const std::wstring& path,
                       std::uint32_t limit = kEventLogFileLimit, const Bas::CProgress& progress = {});

void SaveEventLog(const CEventLogSpec& spec, const std::wstring& path, const Bas::CProgress& progress = {});
struct CSavedEventLog {
    std::wstring path;     // a "GEV" temporary file
    std::wstring fileName; // "<name>.evt", its name in the archive
};

// Saves each log into a new temporary file in the folder; returns the saved
// files. A log that fails gets an application-log line and leaves no file.
// The window's messages are pumped now and then meanwhile; a quit ends the
// saving with its CUserException.
// A log that could not be saved, with its error.
struct CEventLogIssue {
    std::wstring logName;
    std::shared_ptr<const Bas::CException> error;
};
// `issues`, when given, gets each log that could not be saved.
std::vector<CSavedEventLog> SaveEventLogs(const std::vector<CEventLogSpec>& specs, const std::wstring& folder,
                                          std::vector<CEventLogIssue>* issues = nullptr);

} // namespace Glean

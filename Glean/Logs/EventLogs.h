// The configured event logs saved as classic ".evt" files: the 48-byte
// header, the records as the system gives them (renumbered from 1, filtered
// by source) and the 40-byte end-of-file record. The writer takes its
// records from IEventRecordSource, so the format can be tried with made-up
// records.
#pragma once

#include "GleanSettings.h"
#include "Handles.h"

#include <cstdint>
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

// Writes the records whose source is in `sources` (every record for an empty
// set) into a new file. A file that would reach 2 GiB is refused.
void WriteEventLogFile(IEventRecordSource& records, const std::set<std::wstring>& sources, const std::wstring& path,
                       std::uint32_t limit = 0x80000000u);

void SaveEventLog(const CEventLogSpec& spec, const std::wstring& path);
struct CSavedEventLog {
    std::wstring path;     // a "GEV" temporary file
    std::wstring fileName; // "<name>.evt", its name in the archive
};

// Saves each log into a new temporary file in the folder; returns the saved
// files. A log that fails gets an application-log line and leaves no file.
std::vector<CSavedEventLog> SaveEventLogs(const std::vector<CEventLogSpec>& specs, const std::wstring& folder);

} // namespace Glean

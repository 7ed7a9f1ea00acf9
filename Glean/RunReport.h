// The account of one collection run, for the archive: what was tried, what
// went in and what did not and why, and the computer it ran on. The run
// fills a CRunReport from the records it keeps; two writers turn it into
// GleanManifest.json (for programs; its schema is docs/manifest.schema.json)
// and GleanSummary.html (for people: one page without scripts or anything
// from outside).
#pragma once

#include "WinApi.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Bas {
class CException;
class CMessageName;
class ILogFilter;
} // namespace Bas

namespace Granite {
struct CZipEntry;
}

namespace Glean {

// One thing the run tried to put into the archive.
struct CRunItem {
    enum EKind { Settings, Log, File, Registry, InstallerLog, EventLog };
    enum EStatus { Added, Failed, Refused, Skipped };

    EKind kind = File;
    std::wstring source;      // the path read, or what the entry was made of
    std::wstring archiveName; // the entry's name in the archive
    EStatus status = Added;
    // For anything but Added: the message's name (empty for a system error
    // that has none) and its English text with its parameters filled in.
    std::wstring messageName;
    std::wstring messageText;
    // With an archive entry: its sizes, CRC-32 and the time it took.
    bool entry = false;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t milliseconds = 0;
};

struct CModuleVersion {
    std::wstring name;
    std::wstring version; // "6.1.7601.17514" or "Unknown"
};

struct CDriveFacts {
    std::wstring root; // "C:\"
    std::wstring type; // the main log's words: "Fixed", "Removable", "CD-ROM", ...
    bool measured = false;
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
};

// What the summary page shows of the main log.
struct CMainLogFacts {
    std::wstring windows;        // "Windows 10 64-bit", a service pack included
    std::wstring windowsVersion; // "10.0.19045"
    std::wstring edition;        // "Professional"; empty when the main log has none
    std::wstring processor;
    unsigned logicalProcessors = 0;
    std::uint64_t memoryMb = 0;
    std::wstring applicationFolder;
    std::vector<CModuleVersion> modules;
    std::vector<CDriveFacts> drives;
};

struct CRunReport {
    static constexpr int kFormat = 1;

    std::wstring programVersion; // of the module's version resource
    std::wstring build;          // "x86" or "x64"
    FILETIME started = {};       // UTC
    FILETIME ended = {};
    std::wstring settingsSha256; // 64 lower-case hexadecimal digits; empty when unknown
    unsigned threads = 1;        // the threads that compressed (1: no workers)
    bool masking = false;
    // How many stand-ins of each kind ("user", "host", "ip", ...), never
    // what they stand for.
    std::vector<std::pair<std::wstring, unsigned>> maskCounts;
    std::vector<CRunItem> items; // in archive order
    CMainLogFacts computer;
};

// What a failure is, by its message's name: Refused for the archive's
// limits and name rules, Skipped for what is left out on purpose, Failed
// for anything else.
CRunItem::EStatus FailureStatus(std::wstring_view messageName) noexcept;

// The item's failure: its status, the message's name and its English text,
// whatever language the user chose.
void SetFailure(CRunItem& item, const Bas::CException& error);
void SetFailure(CRunItem& item, const Bas::CMessageName& message, const std::vector<std::wstring>& parameters);
// The item's entry as the archive writer recorded it; the item is Added.
void SetEntry(CRunItem& item, const Granite::CZipEntry& entry);
// This program's version and build.
void SetProgram(CRunReport& report);
// With masking, every text of the report that may hold personal data
// through the filter, as the logs go: sources, reasons, the product's
// folder.
void FilterReport(CRunReport& report, Bas::ILogFilter& filter);

// The facts of the main log's text ("OS = ", "Edition = ", "CPU Name = ",
// ..., the module rows and the drive rows); what is missing stays empty.
CMainLogFacts ParseMainLog(std::wstring_view text);
// The total and free bytes of each fixed drive; a drive that cannot tell
// stays unmeasured.
void MeasureDrives(std::vector<CDriveFacts>& drives);

// The deflate level the two files go in at: zlib's default, a quarter of
// the strongest level's time on megabytes of lines alike (a run over 20,000
// files), for 3% more bytes.
inline constexpr int kReportLevel = 6;

// A reason's text is cut to this many characters besides the source and
// the archive name it may give.
inline constexpr std::size_t kMessageTextBound = 256;
// The text cut to at most `most` characters, "..." included, where the
// run's log filter (masking) allows: no original is cut in two, so that
// what is left of it would not be found.
std::wstring CutText(const std::wstring& text, std::size_t most);

// What the manifest and the page take for one item, in bytes: exactly for
// an item done, and at most, whatever becomes of it, for one planned; and
// what they take besides the items, at most. The run keeps room for them in
// the archive as it goes.
std::uint64_t ReportItemBytes(const CRunItem& item);
std::uint64_t ReportItemBound(CRunItem::EKind kind, const std::wstring& source, const std::wstring& archiveName);
std::uint64_t ReportFixedBytes(const CRunReport& report);

// UTF-8 without a byte-order mark; every value is escaped, a lone surrogate
// replaced by U+FFFD.
std::string ManifestJson(const CRunReport& report);
// The same handed to `write` a part at a time, never held whole.
void WriteManifest(const CRunReport& report, const std::function<void(std::string_view part)>& write);
std::string SummaryHtml(const CRunReport& report);

} // namespace Glean

#include "RunReport.h"

#include "Errors.h"
#include "NativeFileSystem.h"
#include "ResourceInfo.h"
#include "TextStream.h"
#include "VersionInfo.h"
#include "ZipCompressor.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwchar>

namespace Glean {

namespace {

// Text conversion: UTF-16 in, UTF-8 out, one code point at a time.

// The code point at `at`, which moves past it; a surrogate without its
// other half (a file name may hold one) reads as U+FFFD.
char32_t NextCodePoint(std::wstring_view text, std::size_t& at) noexcept
{
    const char32_t unit = static_cast<char16_t>(text[at++]);
    if (unit >= 0xD800 && unit <= 0xDBFF && at < text.size()) {
        const char32_t low = static_cast<char16_t>(text[at]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++at;
            return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendJsonString(std::string& out, std::wstring_view text)
{
    out += '"';
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = NextCodePoint(text, at);
        switch (c) {
        case U'"': out += "\\\""; break;
        case U'\\': out += "\\\\"; break;
        case U'\b': out += "\\b"; break;
        case U'\f': out += "\\f"; break;
        case U'\n': out += "\\n"; break;
        case U'\r': out += "\\r"; break;
        case U'\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                AppendUtf8(out, c);
            }
        }
    }
    out += '"';
}

// Text and attribute values alike. Control characters, which a browser
// would drop or show as nothing, become their visible pictures (U+2400...).
void AppendHtmlText(std::string& out, std::wstring_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = NextCodePoint(text, at);
        switch (c) {
        case U'&': out += "&amp;"; break;
        case U'<': out += "&lt;"; break;
        case U'>': out += "&gt;"; break;
        case U'"': out += "&quot;"; break;
        case U'\'': out += "&#39;"; break;
        case U'\t':
        case U'\n':
        case U'\r':
            out += static_cast<char>(c);
            break;
        default:
            if (c < 0x20)
                AppendUtf8(out, 0x2400 + c);
            else if (c == 0x7F)
                AppendUtf8(out, 0x2421);
            else
                AppendUtf8(out, c);
        }
    }
}

// Figures.

std::string Number(std::uint64_t value)
{
    return std::to_string(value);
}

// "1,234,567".
std::string Grouped(std::uint64_t value)
{
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

// "512 B", "1.5 KB", "12.3 MB", "1.2 GB", in units of 1024 as Windows shows them.
std::string SizeText(std::uint64_t bytes)
{
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024)
        return Number(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), value < 100 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

// part of whole in per cent with one decimal, "0.0" for an empty whole.
std::string Percent(std::uint64_t part, std::uint64_t whole)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / whole);
    return text;
}

std::uint64_t Ticks(const FILETIME& time) noexcept
{
    return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// "2024-05-01T12:00:42Z", or with `separator` ' ' and `zone` " UTC" for people.
std::string TimeText(const FILETIME& time, char separator = 'T', const char* zone = "Z")
{
    SYSTEMTIME utc = {};
    if (!::FileTimeToSystemTime(&time, &utc))
        utc = {1601, 1, 0, 1, 0, 0, 0, 0};
    char text[40];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u%c%02u:%02u:%02u%s", utc.wYear, utc.wMonth, utc.wDay, separator,
                  utc.wHour, utc.wMinute, utc.wSecond, zone);
    return text;
}

// "850 ms", "42.1 s", "3 min 05 s", "1 h 02 min".
std::string DurationText(std::uint64_t milliseconds)
{
    char text[40];
    if (milliseconds < 1000)
        std::snprintf(text, sizeof(text), "%u ms", static_cast<unsigned>(milliseconds));
    else if (milliseconds < 60000)
        std::snprintf(text, sizeof(text), "%.1f s", milliseconds / 1000.0);
    else if (milliseconds < 3600000)
        std::snprintf(text, sizeof(text), "%u min %02u s", static_cast<unsigned>(milliseconds / 60000),
                      static_cast<unsigned>(milliseconds / 1000 % 60));
    else
        std::snprintf(text, sizeof(text), "%u h %02u min", static_cast<unsigned>(milliseconds / 3600000),
                      static_cast<unsigned>(milliseconds / 60000 % 60));
    return text;
}

std::uint64_t RunMilliseconds(const CRunReport& report) noexcept
{
    const std::uint64_t started = Ticks(report.started);
    const std::uint64_t ended = Ticks(report.ended);
    return ended > started ? (ended - started) / 10000 : 0;
}

const char* KindName(CRunItem::EKind kind) noexcept
{
    switch (kind) {
    case CRunItem::Settings: return "settings";
    case CRunItem::Log: return "log";
    case CRunItem::File: return "file";
    case CRunItem::Registry: return "registry";
    case CRunItem::InstallerLog: return "installer-log";
    case CRunItem::EventLog: return "event-log";
    }
    return "file";
}

const char* StatusName(CRunItem::EStatus status) noexcept
{
    switch (status) {
    case CRunItem::Added: return "added";
    case CRunItem::Failed: return "failed";
    case CRunItem::Refused: return "refused";
    case CRunItem::Skipped: return "skipped";
    }
    return "failed";
}

// The message texts of a failure in English, whatever the interface
// language: the support engineer reads them, not the user.
class CEnglishTexts {
public:
    CEnglishTexts() : m_before(Bas::GetThreadLanguage()) { Bas::SetThreadLanguage(0); }
    ~CEnglishTexts() { Bas::SetThreadLanguage(m_before); }
    CEnglishTexts(const CEnglishTexts&) = delete;
    CEnglishTexts& operator=(const CEnglishTexts&) = delete;

private:
    int m_before;
};

// Markup goes in as it is (narrow literals and figures); a wide string is
// a value from the customer's computer and is always escaped.
class CHtml {
public:
    explicit CHtml(std::string& out) : m_out(out) {}
    CHtml& operator<<(std::string_view markup)
    {
        m_out += markup;
        return *this;
    }
    CHtml& operator<<(const char* markup)
    {
        m_out += markup;
        return *this;
    }
    CHtml& operator<<(std::wstring_view text)
    {
        AppendHtmlText(m_out, text);
        return *this;
    }
    CHtml& operator<<(const std::wstring& text) { return *this << std::wstring_view(text); }

private:
    std::string& m_out;
};

} // namespace

namespace {

// A reason is cut where the run's account of it may end (a system error's
// text can be of any length).
void CutMessage(CRunItem& item)
{
    item.messageText = CutText(item.messageText, kMessageTextBound + item.source.size() + item.archiveName.size());
}

} // namespace

std::wstring CutText(const std::wstring& text, std::size_t most)
{
    if (text.size() <= most)
        return text;
    std::size_t cut = most - 3;
    if (const Bas::ILogFilter* filter = Bas::LogFilter())
        cut = filter->SafeCut(text, cut);
    return text.substr(0, cut) + L"...";
}

CRunItem::EStatus FailureStatus(std::wstring_view messageName) noexcept
{
    // The archive's limits and name rules.
    static constexpr std::wstring_view kRefused[] = {
        L"ERR_ZIP_ARCHIVE_TOO_LARGE", L"ERR_ZIP_ENTRY_TOO_LARGE", L"ERR_ZIP_NAME_TOO_LONG",
        L"ERR_ZIP_TOO_MANY_ENTRIES",  L"ERR_ZIP_UNSAFE_NAME",     L"ERR_ZIP_DUPLICATE_NAME",
        L"ERR_EVENT_LOG_TOO_LARGE",   L"MSG_ITEM_NAME_REFUSED",   L"MSG_ITEM_NAME_TAKEN",
        L"MSG_ITEM_LIMIT_REACHED"};
    // Left out on purpose or with nothing to take: the key to masked data
    // stays at home; a missing file, folder or registry key; a whole root.
    static constexpr std::wstring_view kSkipped[] = {L"MSG_PRIVACY_KEY_NOT_COLLECTED", L"MSG_REGISTRY_KEY_MISSING",
                                                     L"MSG_REGISTRY_ROOT_LEFT_OUT",    L"MSG_ITEM_FILE_MISSING",
                                                     L"MSG_ITEM_FOLDER_MISSING"};
    for (const std::wstring_view name : kRefused)
        if (messageName == name)
            return CRunItem::Refused;
    for (const std::wstring_view name : kSkipped)
        if (messageName == name)
            return CRunItem::Skipped;
    return CRunItem::Failed;
}

void SetFailure(CRunItem& item, const Bas::CException& error)
{
    std::wstring name;
    if (const auto* check = dynamic_cast<const Bas::CCheckException*>(&error))
        name = check->Message().Name();
    else if (const auto* file = dynamic_cast<const Bas::CFileException*>(&error))
        name = file->Message().Name();
    {
        CEnglishTexts english;
        item.messageText = error.GetMessageText();
    }
    item.status = FailureStatus(name);
    item.messageName = std::move(name);
    item.entry = false;
    CutMessage(item);
}

void SetFailure(CRunItem& item, const Bas::CMessageName& message, const std::vector<std::wstring>& parameters)
{
    {
        CEnglishTexts english;
        item.messageText = Bas::Format(message, parameters.data(), parameters.size());
    }
    item.messageName = message.Name();
    item.status = FailureStatus(item.messageName);
    CutMessage(item);
    item.entry = false;
}

void SetEntry(CRunItem& item, const Granite::CZipEntry& entry)
{
    item.status = CRunItem::Added;
    item.entry = true;
    item.size = entry.uncompressedSize;
    item.compressedSize = entry.compressedSize;
    item.crc32 = entry.crc32;
}

void SetProgram(CRunReport& report)
{
    Bas::CVersionInfo version;
    version.LoadFromFile(Bas::GetModulePath());
    VS_FIXEDFILEINFO info = {};
    if (version.GetFixedFileInfo(info))
        report.programVersion = std::to_wstring(HIWORD(info.dwFileVersionMS)) + L"." +
                                std::to_wstring(LOWORD(info.dwFileVersionMS)) + L"." +
                                std::to_wstring(HIWORD(info.dwFileVersionLS)) + L"." +
                                std::to_wstring(LOWORD(info.dwFileVersionLS));
    report.build = sizeof(void*) == 8 ? L"x64" : L"x86";
}

void FilterReport(CRunReport& report, Bas::ILogFilter& filter)
{
    for (CRunItem& item : report.items) {
        item.source = filter.Filter(item.source);
        // An entry's name is the one it was stored under, masked already.
        if (!item.entry)
            item.archiveName = filter.Filter(item.archiveName);
        if (!item.messageText.empty())
            item.messageText = filter.Filter(item.messageText);
    }
    report.computer.applicationFolder = filter.Filter(report.computer.applicationFolder);
}

// The main log.

namespace {

std::wstring_view Trimmed(std::wstring_view text) noexcept
{
    const std::size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

bool TakePrefix(std::wstring_view& line, std::wstring_view prefix) noexcept
{
    if (line.substr(0, prefix.size()) != prefix)
        return false;
    line.remove_prefix(prefix.size());
    return true;
}

std::uint64_t LeadingNumber(std::wstring_view text) noexcept
{
    std::uint64_t value = 0;
    for (const wchar_t c : Trimmed(text)) {
        if (c < L'0' || c > L'9' || value > (UINT64_MAX - 9) / 10)
            break;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return value;
}

} // namespace

CMainLogFacts ParseMainLog(std::wstring_view text)
{
    CMainLogFacts facts;
    enum { Lines, Modules, Drives } block = Lines;
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find(L'\n', at);
        if (end == std::wstring_view::npos)
            end = text.size();
        std::wstring_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == L'\r')
            line.remove_suffix(1);

        if (line.empty()) {
            block = Lines;
        } else if (line == L"Dll & Exe Versions:") {
            block = Modules;
        } else if (line == L"Drives:") {
            block = Drives;
        } else if (block == Modules) {
            // "name\t[version]", or with two tabs.
            const std::size_t tab = line.find(L'\t');
            const std::size_t open = line.find(L'[', tab == std::wstring_view::npos ? 0 : tab);
            const std::size_t close = line.rfind(L']');
            if (tab == std::wstring_view::npos || open == std::wstring_view::npos || close == std::wstring_view::npos ||
                close < open)
                continue;
            facts.modules.push_back({std::wstring(line.substr(0, tab)), std::wstring(line.substr(open + 1, close - open - 1))});
        } else if (block == Drives) {
            // "C:\\\tFixed \tFree space = 100 Mb\t\\Device\\HarddiskVolume3".
            const std::size_t tab = line.find(L'\t');
            if (tab == std::wstring_view::npos)
                continue;
            const std::wstring_view rest = line.substr(tab + 1);
            CDriveFacts drive;
            drive.root = line.substr(0, tab);
            drive.type = Trimmed(rest.substr(0, rest.find(L'\t')));
            facts.drives.push_back(std::move(drive));
        } else if (TakePrefix(line, L"OS = ")) {
            // "Windows 10 64-bit  ( version - 10.0.19045, platform - 2,";
            // the rest of the details follows on the next line.
            const std::size_t details = line.find(L"( version - ");
            facts.windows = Trimmed(line.substr(0, details));
            if (details != std::wstring_view::npos) {
                const std::wstring_view version = line.substr(details + 12);
                facts.windowsVersion = Trimmed(version.substr(0, version.find_first_of(L", )")));
            }
        } else if (TakePrefix(line, L"Edition = ")) {
            facts.edition = Trimmed(line);
        } else if (TakePrefix(line, L"CPU Name = ")) {
            facts.processor = Trimmed(line);
        } else if (TakePrefix(line, L"Number of logical CPU cores = ")) {
            facts.logicalProcessors = static_cast<unsigned>(std::min<std::uint64_t>(LeadingNumber(line), UINT_MAX));
        } else if (TakePrefix(line, L"RAM = ")) {
            facts.memoryMb = LeadingNumber(line);
        } else if (TakePrefix(line, L"Application directory = ")) {
            facts.applicationFolder = line;
        }
    }
    return facts;
}

void MeasureDrives(std::vector<CDriveFacts>& drives)
{
    for (CDriveFacts& drive : drives) {
        if (drive.type != L"Fixed")
            continue;
        ULARGE_INTEGER total = {};
        ULARGE_INTEGER free = {};
        drive.measured = ::GetDiskFreeSpaceExW(Bas::LongPath(drive.root).c_str(), nullptr, &total, &free) != FALSE;
        drive.totalBytes = drive.measured ? total.QuadPart : 0;
        drive.freeBytes = drive.measured ? std::min(free.QuadPart, total.QuadPart) : 0;
    }
}

// The manifest.

namespace {

// One item of the manifest, on its line.
void AppendManifestItem(std::string& out, const CRunItem& item)
{
    const auto string = [&out](std::wstring_view text) { AppendJsonString(out, text); };
    out += "{\"kind\":\"";
    out += KindName(item.kind);
    out += "\",\"source\":";
    string(item.source);
    out += ",\"archiveName\":";
    string(item.archiveName);
    out += ",\"status\":\"";
    out += StatusName(item.status);
    out += '"';
    if (item.entry) {
        char crc[16];
        std::snprintf(crc, sizeof(crc), "%08x", static_cast<unsigned>(item.crc32));
        out += ",\"size\":" + Number(item.size) + ",\"compressedSize\":" + Number(item.compressedSize) +
               ",\"crc32\":\"" + crc + "\",\"milliseconds\":" + Number(item.milliseconds);
    }
    if (item.status != CRunItem::Added) {
        out += ",\"message\":{\"name\":";
        if (item.messageName.empty())
            out += "null";
        else
            string(item.messageName);
        out += ",\"text\":";
        string(item.messageText);
        out += '}';
    }
    out += '}';
}

} // namespace

std::string ManifestJson(const CRunReport& report)
{
    std::string whole;
    WriteManifest(report, [&whole](std::string_view part) { whole += part; });
    return whole;
}

void WriteManifest(const CRunReport& report, const std::function<void(std::string_view part)>& write)
{
    // One field of the run a line, then one item a line, without blanks:
    // a run over 20,000 files gives megabytes of them, handed on in parts of
    // about 64 KiB rather than held whole.
    constexpr std::size_t kPart = 0x10000;
    std::string out;
    out.reserve(2 * kPart);
    const auto string = [&out](std::wstring_view text) { AppendJsonString(out, text); };

    out += "{\n\"format\":" + Number(CRunReport::kFormat) + ",\n\"program\":{\"name\":\"Glean\",\"version\":";
    string(report.programVersion);
    out += ",\"build\":";
    string(report.build);
    out += "},\n\"windows\":{\"name\":";
    string(report.computer.windows);
    out += ",\"edition\":";
    string(report.computer.edition);
    out += ",\"version\":";
    string(report.computer.windowsVersion);
    out += "},\n\"started\":\"" + TimeText(report.started) + "\",\n\"ended\":\"" + TimeText(report.ended) +
           "\",\n\"settingsSha256\":";
    if (report.settingsSha256.empty())
        out += "null";
    else
        string(report.settingsSha256);
    out += ",\n\"threads\":" + Number(report.threads) + ",\n\"masking\":{\"enabled\":" +
           (report.masking ? "true" : "false") + ",\"counts\":{";
    for (std::size_t i = 0; i < report.maskCounts.size(); ++i) {
        if (i > 0)
            out += ',';
        string(report.maskCounts[i].first);
        out += ':' + Number(report.maskCounts[i].second);
    }
    out += "}},\n\"items\":[";
    for (std::size_t i = 0; i < report.items.size(); ++i) {
        out += i > 0 ? ",\n" : "\n";
        AppendManifestItem(out, report.items[i]);
        if (out.size() >= kPart) {
            write(out);
            out.clear();
        }
    }
    out += report.items.empty() ? "]\n}\n" : "\n]\n}\n";
    write(out);
}

// The summary page.

namespace {

const char kStyle[] = R"(
html{color-scheme:light;--text:#1f2328;--muted:#5c6670;--line:#d8dee4;--soft:#f6f8fa;--bar:#dfe5ec;
--used:#4f78b0;--red:#c0392b;--amber:#9a6400;--grey:#6a737d;--green:#2d7d46}
*{box-sizing:border-box}
html{background:#fff}
body{margin:0 auto;max-width:72rem;padding:2rem 2rem 3rem;color:var(--text);
font:15px/1.5 system-ui,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
h1{font-size:1.6rem;font-weight:600;margin:0 0 .2rem}
h2{font-size:1.15rem;font-weight:600;margin:2.2rem 0 .8rem;padding-bottom:.3rem;border-bottom:1px solid var(--line)}
h3{font-size:.95rem;font-weight:600;margin:1.4rem 0 .6rem;color:var(--muted)}
p{margin:.4rem 0}
.lead{color:var(--muted);margin:0}
.counts{display:flex;flex-wrap:wrap;gap:.6rem;list-style:none;padding:0;margin:1.1rem 0 0}
.counts li{border:1px solid var(--line);border-radius:6px;padding:.25rem .8rem;background:var(--soft)}
.counts b{font-size:1.05rem;margin-right:.3rem}
.counts .zero{color:var(--muted)}
.counts .failed:not(.zero) b{color:var(--red)}
.counts .refused:not(.zero) b{color:var(--amber)}
.all-good{color:var(--green);font-weight:600}
table{border-collapse:collapse;width:100%;font-size:.88rem}
th,td{text-align:left;vertical-align:top;padding:.35rem .6rem;border-bottom:1px solid var(--line)}
th{background:var(--soft);font-weight:600;white-space:nowrap}
.n{text-align:right;white-space:nowrap;font-variant-numeric:tabular-nums}
.path{overflow-wrap:anywhere;font-family:ui-monospace,Consolas,"DejaVu Sans Mono",monospace;font-size:.82rem}
.reason{white-space:pre-line}
.status{display:inline-block;border-radius:1em;padding:0 .6rem;font-size:.78rem;font-weight:600;color:#fff}
tr.failed .status{background:var(--red)}
tr.refused .status{background:var(--amber)}
tr.skipped .status{background:var(--grey)}
dl.facts{display:grid;grid-template-columns:max-content 1fr;gap:.3rem 2rem;margin:0}
dl.facts dt{color:var(--muted)}
dl.facts dd{margin:0}
.drives{display:grid;grid-template-columns:repeat(auto-fill,minmax(17rem,1fr));gap:.8rem}
.drive{border:1px solid var(--line);border-radius:6px;padding:.6rem .8rem}
.drive .letter{font-weight:600;margin-right:.5rem}
.drive .type{color:var(--muted)}
.bar{height:.6rem;border-radius:.3rem;background:var(--bar);overflow:hidden;margin:.5rem 0 .35rem}
.bar .used{height:100%;background:var(--used)}
.drive.full .bar .used{background:var(--red)}
.figures{font-size:.82rem;color:var(--muted)}
.modules{columns:2 18rem;column-gap:2.5rem;margin:0;padding:0;list-style:none;font-size:.88rem}
.modules li{display:flex;justify-content:space-between;gap:1rem;border-bottom:1px solid var(--line);
padding:.2rem 0;break-inside:avoid}
.modules .version{font-variant-numeric:tabular-nums;color:var(--muted)}
footer{margin-top:2.5rem;color:var(--muted);font-size:.82rem}
@page{margin:1.5cm}
@media print{
body{max-width:none;padding:0;font-size:10pt}
h2{break-after:avoid}
tr,.drive,dl.facts{break-inside:avoid}
thead{display:table-header-group}
.bar,.status,th,.counts li{-webkit-print-color-adjust:exact;print-color-adjust:exact}
}
)";

constexpr std::size_t kLargestEntries = 100;

void Fact(CHtml& html, const char* label, const std::wstring& value)
{
    if (!value.empty())
        html << "<dt>" << label << "</dt><dd>" << value << "</dd>\n";
}

void DriveHtml(CHtml& html, const CDriveFacts& drive)
{
    // Less than a tenth free is what often makes a product fail.
    const bool full = drive.measured && drive.freeBytes < drive.totalBytes / 10;
    html << (full ? "<div class=\"drive full\">" : "<div class=\"drive\">") << "<span class=\"letter\">" << drive.root
         << "</span><span class=\"type\">" << drive.type << "</span>";
    if (drive.measured) {
        const std::uint64_t used = drive.totalBytes - drive.freeBytes;
        html << "<div class=\"bar\" title=\"" << Percent(used, drive.totalBytes) << "% used\"><div class=\"used\" style=\"width:"
             << Percent(used, drive.totalBytes) << "%\"></div></div><div class=\"figures\">" << SizeText(drive.freeBytes)
             << " free of " << SizeText(drive.totalBytes) << " (" << Percent(used, drive.totalBytes) << "% used)</div>";
    } else {
        html << "<div class=\"figures\">No figures for this drive.</div>";
    }
    html << "</div>\n";
}

} // namespace

namespace {

void FailureRow(CHtml& html, const CRunItem& item)
{
    html << "<tr class=\"failure " << StatusName(item.status) << "\"><td><span class=\"status\">"
         << StatusName(item.status) << "</span></td><td class=\"path\">" << item.source << "</td><td class=\"path\">"
         << item.archiveName << "</td><td class=\"reason\">" << item.messageText << "</td></tr>\n";
}

void EntryRow(CHtml& html, const CRunItem& item)
{
    html << "<tr><td class=\"path\">" << item.archiveName << "</td><td>" << KindName(item.kind)
         << "</td><td class=\"n\">" << SizeText(item.size) << "</td><td class=\"n\">" << SizeText(item.compressedSize)
         << "</td><td class=\"n\">"
         << (item.size == 0 ? std::string("&ndash;") : Percent(item.compressedSize, item.size) + "%")
         << "</td><td class=\"n\">" << Number(item.milliseconds) << " ms</td></tr>\n";
}

} // namespace

std::uint64_t ReportItemBytes(const CRunItem& item)
{
    std::string out;
    AppendManifestItem(out, item);
    CHtml html(out);
    if (item.status != CRunItem::Added)
        FailureRow(html, item);
    if (item.entry)
        EntryRow(html, item);
    return out.size() + 2;
}

std::uint64_t ReportItemBound(CRunItem::EKind kind, const std::wstring& source, const std::wstring& archiveName)
{
    // The item at its longest: failed with the longest reason an item's
    // text may have, and with an entry of the largest numbers.
    CRunItem item;
    item.kind = kind;
    item.source = source;
    item.archiveName = archiveName;
    item.status = CRunItem::Refused;
    item.messageName.assign(64, L'X');
    item.messageText.assign(kMessageTextBound, L'x');
    item.messageText += source + archiveName;
    item.entry = true;
    item.size = item.compressedSize = ~std::uint64_t(0);
    item.milliseconds = ~std::uint32_t(0);
    // A reason of a system's language may take three bytes a character.
    return ReportItemBytes(item) + 4 * kMessageTextBound;
}

std::uint64_t ReportFixedBytes(const CRunReport& report)
{
    // All but the items, whose sizes the run counts apart; the counts and
    // times that the end of the run gives take some more digits at most.
    CRunReport empty;
    empty.programVersion = report.programVersion;
    empty.build = report.build;
    empty.settingsSha256 = report.settingsSha256;
    empty.maskCounts = report.maskCounts;
    empty.computer = report.computer;
    return ManifestJson(empty).size() + SummaryHtml(empty).size() + 4096;
}

std::string SummaryHtml(const CRunReport& report)
{
    std::string out;
    std::size_t textSize = 0;
    for (const CRunItem& item : report.items)
        if (item.status != CRunItem::Added)
            textSize += item.archiveName.size() + item.source.size() + item.messageText.size() + 160;
    out.reserve(48 * 1024 + textSize * 3 / 2);
    CHtml html(out);
    const CMainLogFacts& computer = report.computer;

    std::size_t counts[4] = {};
    std::uint64_t bytes = 0;
    std::uint64_t compressed = 0;
    std::vector<const CRunItem*> entries;
    entries.reserve(report.items.size());
    for (const CRunItem& item : report.items) {
        ++counts[item.status];
        if (item.entry) {
            entries.push_back(&item);
            bytes += item.size;
            compressed += item.compressedSize;
        }
    }

    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>Glean run summary</title>\n<style>"
         << kStyle << "</style>\n</head>\n<body>\n";

    // What the run was, in one line, and its counts.
    html << "<header>\n<h1>Glean run summary</h1>\n<p class=\"lead\">Glean " << report.programVersion << " ("
         << report.build << ")";
    if (!computer.windows.empty())
        html << " on " << computer.windows << (computer.edition.empty() ? "" : " ") << computer.edition;
    html << " &middot; " << TimeText(report.started, ' ', " UTC") << " &middot; took "
         << DurationText(RunMilliseconds(report)) << "</p>\n<ul class=\"counts\">";
    for (const CRunItem::EStatus status : {CRunItem::Added, CRunItem::Failed, CRunItem::Refused, CRunItem::Skipped})
        html << "<li class=\"" << StatusName(status) << (counts[status] == 0 ? " zero" : "") << "\"><b>"
             << Grouped(counts[status]) << "</b>" << StatusName(status) << "</li>";
    html << "</ul>\n</header>\n";

    // What went wrong comes first: it is what the reader came for.
    html << "<section id=\"problems\">\n<h2>What went wrong</h2>\n";
    if (counts[CRunItem::Added] == report.items.size()) {
        html << "<p class=\"all-good\">Nothing: everything the run tried went into the archive.</p>\n";
    } else {
        html << "<table class=\"problems\">\n<thead><tr><th>Status</th><th>Source</th><th>Archive name</th>"
                "<th>Reason</th></tr></thead>\n<tbody>\n";
        for (const CRunItem& item : report.items)
            if (item.status != CRunItem::Added)
                FailureRow(html, item);
        html << "</tbody>\n</table>\n";
    }
    html << "</section>\n";

    // The computer at a glance.
    html << "<section id=\"computer\">\n<h2>The computer</h2>\n<dl class=\"facts\">\n";
    std::wstring windows = computer.windows;
    if (!computer.edition.empty())
        windows += L", " + computer.edition;
    if (!computer.windowsVersion.empty())
        windows += L" (version " + computer.windowsVersion + L")";
    Fact(html, "Windows", windows);
    std::wstring processor = computer.processor;
    if (computer.logicalProcessors > 0)
        processor += (processor.empty() ? L"" : L", ") + std::to_wstring(computer.logicalProcessors) + L" logical cores";
    Fact(html, "Processor", processor);
    if (computer.memoryMb > 0)
        html << "<dt>Memory</dt><dd>" << SizeText(computer.memoryMb << 20) << "</dd>\n";
    Fact(html, "Product folder", computer.applicationFolder);
    html << "</dl>\n";
    if (!computer.drives.empty()) {
        html << "<h3>Drives</h3>\n<div class=\"drives\">\n";
        for (const CDriveFacts& drive : computer.drives)
            DriveHtml(html, drive);
        html << "</div>\n";
    }
    if (!computer.modules.empty()) {
        html << "<h3>Module versions</h3>\n<ul class=\"modules\">\n";
        for (const CModuleVersion& module : computer.modules)
            html << "<li><span>" << module.name << "</span><span class=\"version\">" << module.version
                 << "</span></li>\n";
        html << "</ul>\n";
    }
    html << "</section>\n";

    // What was collected, largest first. A page of thousands of rows is
    // read by nobody and prints on hundreds of sheets: it shows the largest
    // entries, the manifest every one. Equal sizes keep the archive's order.
    const std::size_t shown = std::min(entries.size(), kLargestEntries);
    std::partial_sort(entries.begin(), entries.begin() + shown, entries.end(),
                      [](const CRunItem* a, const CRunItem* b) { return a->size != b->size ? a->size > b->size : a < b; });
    html << "<section id=\"collected\">\n<h2>What was collected</h2>\n<p>" << Grouped(entries.size())
         << (entries.size() == 1 ? " entry, " : " entries, ") << SizeText(bytes) << ", compressed to "
         << SizeText(compressed) << " (" << Percent(compressed, bytes) << "%).";
    if (shown < entries.size())
        html << " The " << Number(shown) << " largest are listed here; GleanManifest.json lists every one.";
    html << "</p>\n";
    if (shown > 0) {
        html << "<table class=\"entries\">\n<thead><tr><th>Archive name</th><th>Kind</th><th class=\"n\">Size</th>"
                "<th class=\"n\">Compressed</th><th class=\"n\">Ratio</th><th class=\"n\">Time</th></tr></thead>\n"
                "<tbody>\n";
        for (std::size_t i = 0; i < shown; ++i)
            EntryRow(html, *entries[i]);
        html << "</tbody>\n</table>\n";
    }
    html << "</section>\n";

    // The run.
    html << "<section id=\"run\">\n<h2>The run</h2>\n<dl class=\"facts\">\n<dt>Started</dt><dd>"
         << TimeText(report.started, ' ', " UTC") << "</dd>\n<dt>Ended</dt><dd>" << TimeText(report.ended, ' ', " UTC")
         << "</dd>\n<dt>Took</dt><dd>" << DurationText(RunMilliseconds(report)) << "</dd>\n<dt>Threads</dt><dd>"
         << Number(report.threads) << "</dd>\n<dt>Masking</dt><dd>";
    if (!report.masking) {
        html << "off";
    } else {
        html << "on";
        for (std::size_t i = 0; i < report.maskCounts.size(); ++i)
            html << (i == 0 ? ": " : ", ") << report.maskCounts[i].first << " " << Number(report.maskCounts[i].second);
    }
    html << "</dd>\n";
    Fact(html, "Settings SHA-256", report.settingsSha256);
    html << "</dl>\n</section>\n<footer>GleanManifest.json beside this page holds the same run for programs.</footer>\n"
            "</body>\n</html>\n";
    return out;
}

} // namespace Glean

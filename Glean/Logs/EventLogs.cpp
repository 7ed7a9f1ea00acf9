#include "EventLogs.h"

#include "Errors.h"
#include "File.h"
#include "GleanAppLog.h"
#include "MaskedBinary.h"
#include "Message.h"
#include "MessageLoopMica.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TempFile.h"
#include "generated/GleanMessages.h"

#include <cstring>
#include <new>
#include <sddl.h>

namespace Glean {

namespace {

constexpr std::uint32_t kHeaderSize = 48;
constexpr std::uint32_t kEofSize = 40;
constexpr std::size_t kFixedPart = 56;
constexpr std::size_t kRecordNumberOffset = 8;
constexpr std::size_t kNumStringsOffset = 26;
constexpr std::size_t kStringOffsetOffset = 36;
constexpr std::size_t kSidLengthOffset = 40;
constexpr std::size_t kSidOffsetOffset = 44;
constexpr std::size_t kDataLengthOffset = 48;
constexpr std::size_t kDataOffsetOffset = 52;

void Put(std::vector<BYTE>& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<BYTE>(value >> (8 * i));
}

std::uint32_t Get(const std::vector<BYTE>& bytes, std::size_t offset)
{
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

// Whether `length` bytes at `offset` lie inside the record, after its fixed
// part.
bool Inside(const std::vector<BYTE>& record, std::uint32_t offset, std::uint32_t length)
{
    return offset >= kFixedPart && offset <= record.size() && length <= record.size() - offset;
}

// The zero-terminated UTF-16 string at `at`, with `at` moved past its zero;
// false, with neither touched, when the record ends first.
bool ReadString(const std::vector<BYTE>& record, std::size_t& at, std::wstring& text)
{
    std::wstring read;
    for (std::size_t i = at; i + 1 < record.size(); i += 2) {
        const wchar_t unit = static_cast<wchar_t>(record[i] | (record[i + 1] << 8));
        if (unit == L'\0') {
            text = std::move(read);
            at = i + 2;
            return true;
        }
        read.push_back(unit);
    }
    return false;
}

void AppendString(std::vector<BYTE>& bytes, const std::wstring& text)
{
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
}

// The user SID of a masked record: as it is when the filter leaves its text
// alone, its stand-in when not; empty when the bytes are no SID.
std::vector<BYTE> MaskSid(const BYTE* bytes, std::size_t length, Bas::ILogFilter& filter)
{
    // The SID functions read as many sub-authorities as the SID's count
    // says, so the count is checked against the bytes there are first.
    if (length < 8 || bytes[0] != SID_REVISION || bytes[1] > SID_MAX_SUB_AUTHORITIES ||
        8u + 4u * bytes[1] > length)
        return {};
    std::vector<BYTE> sid(bytes, bytes + 8 + 4 * bytes[1]);
    wchar_t* raw = nullptr;
    if (!::IsValidSid(sid.data()) || !::ConvertSidToStringSidW(sid.data(), &raw))
        return {};
    Bas::CLocalMemory owner(raw);
    const std::wstring text = raw;
    const std::wstring masked = filter.Filter(text);
    return masked == text ? sid : StandInSid(masked);
}

std::vector<BYTE> Fields(std::initializer_list<std::uint32_t> values)
{
    std::vector<BYTE> bytes(values.size() * 4);
    std::size_t offset = 0;
    for (std::uint32_t value : values) {
        Put(bytes, offset, value);
        offset += 4;
    }
    return bytes;
}

} // namespace

CEventLogCache::CEventLogCache(const std::wstring& logName)
{
    // OpenEventLogW opens the Application log for a name it does not know,
    // which would be saved under the wrong name: a log exists only where
    // its service key does.
    Bas::CRegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, (L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + logName).c_str()))
        Bas::ThrowLastError();
    m_log.Reset(::OpenEventLogW(nullptr, logName.c_str()));
    if (!m_log)
        Bas::ThrowLastError();
}

DWORD CEventLogCache::RecordCount()
{
    DWORD count = 0;
    if (!::GetNumberOfEventLogRecords(m_log.Get(), &count))
        Bas::ThrowLastError();
    return count;
}

std::vector<BYTE> CEventLogCache::ReadNext()
{
    constexpr DWORD flags = EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ;
    BYTE probe = 0;
    DWORD read = 0;
    DWORD needed = 0;
    // An empty buffer only asks for the size of the next record.
    BAS_PRESUME(!::ReadEventLogW(m_log.Get(), flags, 0, &probe, 0, &read, &needed));
    std::vector<BYTE> record(needed);
    if (needed == 0 || !::ReadEventLogW(m_log.Get(), flags, 0, record.data(), needed, &read, &needed))
        Bas::ThrowLastError();
    record.resize(read);
    return record;
}

std::wstring RecordSourceName(const std::vector<BYTE>& record)
{
    std::wstring name;
    for (std::size_t at = kFixedPart; at + 1 < record.size(); at += 2) {
        const wchar_t unit = static_cast<wchar_t>(record[at] | (record[at + 1] << 8));
        if (unit == 0)
            break;
        name.push_back(unit);
    }
    return name;
}

std::vector<BYTE> MaskEventRecord(const std::vector<BYTE>& record, Bas::ILogFilter& filter)
{
    BAS_PRESUME(record.size() >= kFixedPart);
    // Every part is read only where the record's own fields place it inside
    // the record; what cannot be read is left out rather than copied, since
    // it could not be masked.
    std::size_t at = kFixedPart;
    std::wstring source;
    std::wstring computer;
    if (ReadString(record, at, source))
        ReadString(record, at, computer);

    std::vector<std::wstring> strings;
    const unsigned count = record[kNumStringsOffset] | (record[kNumStringsOffset + 1] << 8);
    const std::uint32_t stringOffset = Get(record, kStringOffsetOffset);
    std::size_t stringAt = stringOffset;
    if (count > 0 && Inside(record, stringOffset, 0)) {
        for (unsigned i = 0; i < count; ++i) {
            std::wstring text;
            if (!ReadString(record, stringAt, text)) {
                strings.clear();
                break;
            }
            strings.push_back(std::move(text));
        }
    }

    std::vector<BYTE> sid;
    const std::uint32_t sidLength = Get(record, kSidLengthOffset);
    const std::uint32_t sidOffset = Get(record, kSidOffsetOffset);
    if (sidLength > 0 && Inside(record, sidOffset, sidLength))
        sid = MaskSid(record.data() + sidOffset, sidLength, filter);

    std::vector<BYTE> data;
    const std::uint32_t dataLength = Get(record, kDataLengthOffset);
    const std::uint32_t dataOffset = Get(record, kDataOffsetOffset);
    if (dataLength > 0 && Inside(record, dataOffset, dataLength))
        data = MaskBinary(std::vector<BYTE>(record.begin() + dataOffset, record.begin() + dataOffset + dataLength),
                          filter);

    // Laid out as the system lays out a record: names, the SID on a DWORD
    // boundary, strings, data, padding to a DWORD and the length again.
    std::vector<BYTE> masked(record.begin(), record.begin() + kFixedPart);
    AppendString(masked, filter.Filter(source));
    AppendString(masked, filter.Filter(computer));
    while (masked.size() % 4 != 0)
        masked.push_back(0);
    Put(masked, kSidOffsetOffset, static_cast<std::uint32_t>(masked.size()));
    Put(masked, kSidLengthOffset, static_cast<std::uint32_t>(sid.size()));
    masked.insert(masked.end(), sid.begin(), sid.end());
    Put(masked, kStringOffsetOffset, static_cast<std::uint32_t>(masked.size()));
    masked[kNumStringsOffset] = static_cast<BYTE>(strings.size() & 0xFF);
    masked[kNumStringsOffset + 1] = static_cast<BYTE>(strings.size() >> 8);
    for (const std::wstring& text : strings)
        AppendString(masked, filter.Filter(text));
    Put(masked, kDataOffsetOffset, static_cast<std::uint32_t>(masked.size()));
    Put(masked, kDataLengthOffset, static_cast<std::uint32_t>(data.size()));
    masked.insert(masked.end(), data.begin(), data.end());
    // Classic readers refuse a record whose SID ends right at the repeated
    // length, as one that runs into it: a SID with nothing after it gets a
    // DWORD of padding.
    if (!sid.empty() && strings.empty() && data.empty())
        masked.resize(masked.size() + 4);
    while (masked.size() % 4 != 0)
        masked.push_back(0);
    const auto length = static_cast<std::uint32_t>(masked.size() + 4);
    masked.resize(length);
    Put(masked, 0, length);
    Put(masked, length - 4, length);
    return masked;
}

void WriteEventLogFile(IEventRecordSource& records, const std::set<std::wstring>& sources, const std::wstring& path,
                       std::uint32_t limit, const Bas::CProgress& progress)
{
    Bas::CFile file(path, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
    file.Seek(kHeaderSize);
    std::uint64_t position = kHeaderSize;
    std::uint32_t number = 1;
    Bas::ILogFilter* const filter = Bas::LogFilter();
    const DWORD count = records.RecordCount();
    for (DWORD i = 0; i < count; ++i) {
        if (progress)
            progress();
        std::vector<BYTE> record = records.ReadNext();
        BAS_PRESUME(record.size() >= kFixedPart);
        if (!sources.empty() && sources.count(RecordSourceName(record)) == 0)
            continue;
        if (filter != nullptr)
            record = MaskEventRecord(record, *filter);
        if (position + record.size() + kEofSize >= limit)
            Bas::ThrowCheck(ERR_EVENT_LOG_TOO_LARGE, path);
        Put(record, kRecordNumberOffset, number++);
        file.Write(record.data(), record.size());
        position += record.size();
    }
    const auto end = static_cast<std::uint32_t>(position);
    const auto eof = Fields({kEofSize, 0x11111111, 0x22222222, 0x33333333, 0x44444444, kHeaderSize, end, number, 1,
                             kEofSize});
    file.Write(eof.data(), eof.size());
    const auto size = static_cast<std::uint32_t>(file.GetLength());
    const auto header = Fields({kHeaderSize, 0x654C664C, 1, 1, kHeaderSize, end, number, 1, size, 0, 0, kHeaderSize});
    file.Seek(0);
    file.Write(header.data(), header.size());
    file.Close();
}

void SaveEventLog(const CEventLogSpec& spec, const std::wstring& path, const Bas::CProgress& progress)
{
    CEventLogCache log(spec.logName);
    WriteEventLogFile(log, spec.sources, path, kEventLogFileLimit, progress);
}

std::vector<CSavedEventLog> SaveEventLogs(const std::vector<CEventLogSpec>& specs, const std::wstring& folder,
                                          std::vector<CEventLogIssue>* issues)
{
    std::vector<CSavedEventLog> saved;
    for (const CEventLogSpec& spec : specs) {
        std::wstring path;
        // The log's line, and its error for the run's account.
        const auto failed = [&](std::shared_ptr<const Bas::CException> error) {
            if (!path.empty())
                Bas::DeleteTempFile(path);
            CGleanAppLog::Instance().AddLine(Bas::Format(MSG_EVENT_LOG_SAVE_ERROR, spec.logName, error->GetMessageText()));
            if (issues != nullptr)
                issues->push_back({spec.logName, std::move(error)});
        };
        try {
            path = Bas::CreateTempFile(folder, L"GEV", L"tmp");
            SaveEventLog(spec, path, [] { Mica::PumpMessagesNowAndThen(); });
            saved.push_back({path, spec.logName + L".evt"});
        } catch (Bas::CUserException*) {
            throw;
        } catch (Bas::CException* raw) {
            failed(std::shared_ptr<const Bas::CException>(Bas::Own(raw)));
        } catch (const std::bad_alloc&) {
            // A record too large for the memory left ends this log alone.
            failed(std::make_shared<Bas::CMemoryException>());
        }
    }
    return saved;
}

} // namespace Glean

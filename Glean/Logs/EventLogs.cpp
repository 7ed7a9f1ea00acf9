#include "EventLogs.h"

#include "Errors.h"
#include "File.h"
#include "GleanAppLog.h"
#include "Message.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TempFile.h"
#include "generated/GleanMessages.h"

#include <cstring>

namespace Glean {

namespace {

constexpr std::uint32_t kHeaderSize = 48;
constexpr std::uint32_t kEofSize = 40;
constexpr std::size_t kFixedPart = 56;
constexpr std::size_t kRecordNumberOffset = 8;

void Put(std::vector<BYTE>& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<BYTE>(value >> (8 * i));
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

void WriteEventLogFile(IEventRecordSource& records, const std::set<std::wstring>& sources, const std::wstring& path,
                       std::uint32_t limit)
{
    Bas::CFile file(path, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
    file.Seek(kHeaderSize);
    std::uint64_t position = kHeaderSize;
    std::uint32_t number = 1;
    const DWORD count = records.RecordCount();
    for (DWORD i = 0; i < count; ++i) {
        std::vector<BYTE> record = records.ReadNext();
        BAS_PRESUME(record.size() >= kFixedPart);
        if (!sources.empty() && sources.count(RecordSourceName(record)) == 0)
            continue;
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

void SaveEventLog(const CEventLogSpec& spec, const std::wstring& path)
{
    CEventLogCache log(spec.logName);
    WriteEventLogFile(log, spec.sources, path);
}

std::vector<CSavedEventLog> SaveEventLogs(const std::vector<CEventLogSpec>& specs, const std::wstring& folder)
{
    std::vector<CSavedEventLog> saved;
    for (const CEventLogSpec& spec : specs) {
        std::wstring path;
        try {
            path = Bas::CreateTempFile(folder, L"GEV", L"tmp");
            SaveEventLog(spec, path);
            saved.push_back({path, spec.logName + L".evt"});
        } catch (Bas::CUserException*) {
            throw;
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            if (!path.empty())
                Bas::DeleteTempFile(path);
            CGleanAppLog::Instance().AddLine(Bas::Format(MSG_EVENT_LOG_SAVE_ERROR, spec.logName, error->GetMessageText()));
        }
    }
    return saved;
}

} // namespace Glean

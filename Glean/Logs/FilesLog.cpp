#include "FilesLog.h"

#include "Errors.h"
#include "File.h"
#include "Md5.h"
#include "MessageLoopMica.h"
#include "NativeFileSystem.h"
#include "TempFile.h"
#include "TextStream.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>

namespace Glean {


std::wstring FileTimeText(const FILETIME& time)
{
    SYSTEMTIME utc = {};
    ::FileTimeToSystemTime(&time, &utc);
    wchar_t text[32];
    std::swprintf(text, 32, L"%02u.%02u.%02u %02u:%02u", utc.wDay, utc.wMonth, utc.wYear % 100u, utc.wHour,
                  utc.wMinute);
    return text;
}

namespace {

std::wstring Md5Text(Bas::CFile& file, const std::function<void()>& step, CDigestBuffer& digestBuffer)
{
    std::vector<unsigned char>& buffer = digestBuffer.bytes;
    Granite::CMd5 md5;
    for (unsigned blocks = 1;; ++blocks) {
        const std::size_t read = file.Read(buffer.data(), CDigestBuffer::kSize);
        md5.Update(buffer.data(), read);
        if (read < CDigestBuffer::kSize)
            break;
        if (blocks % 100 == 0 && step)
            step();
    }
    return Granite::CMd5::ToText(md5.Finish());
}

// The digest column: the MD5, or the error's text after its label; a
// cancellation passes through.
template <class Digest>
std::wstring DigestOrError(Digest digest)
{
    try {
        return digest();
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException* raw) {
        return L"MD5 calculation error: " + Bas::Own(raw)->GetMessageText();
    }
}

// The line of one entry; a folder's says so through `folder`. `step` is
// called now and then while a large file is read.
std::wstring EntryLine(const std::wstring& indent, const Bas::CFindEntry& entry, const std::wstring& path,
                       const std::function<void()>& step, CDigestBuffer& buffer, bool& folder)
{
    folder = false;
    // A file is opened once: its attributes come from the open handle,
    // which is then read for the digest. Only when it cannot be opened are
    // the attributes looked up by name, and the digest's own attempt gives
    // the error text.
    Bas::CFile file;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    const bool opened = !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        file.TryOpen(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead) && file.GetStatus(data);
    if (!opened) {
        file.Close();
        if (!::GetFileAttributesExW(Bas::LongPath(path).c_str(), GetFileExInfoStandard, &data))
            return indent + entry.name + L"\tFailed to get file attributes:" + Bas::GetLastErrorText(::GetLastError());
    }
    const std::wstring time = FileTimeText(data.ftLastWriteTime);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or folder link is listed, never entered: one that
        // points at an ancestor would list the same files forever.
        folder = !((entry.attributes | data.dwFileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT);
        return indent + entry.name + L"\t" + time + L"\tFolder";
    }
    const std::wstring size = data.nFileSizeHigh == 0 ? std::to_wstring(data.nFileSizeLow) : L"Size of file > 4 Gb";
    const std::wstring digest = file.IsOpen() ? DigestOrError([&] { return Md5Text(file, step, buffer); })
                                              : DigestOrError([&] {
                                                    Bas::CFile again(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
                                                    return Md5Text(again, step, buffer);
                                                });
    return indent + entry.name + L"\t" + time + L"\t" + size + L"\t" + digest;
}

} // namespace

std::wstring GetFileMd5Text(const std::wstring& path)
{
    Bas::CFile file(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    CDigestBuffer buffer;
    return Md5Text(file, [] { Mica::PumpMessages(); }, buffer);
}

void CFileLines::Add(const std::wstring& indent, const Bas::CFindEntry& entry, const std::wstring& path, bool& folder)
{
    // Folders, which decide what is listed next, and every entry without
    // workers, are done here.
    if (m_pool == nullptr || (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const Bas::CSpares<CDigestBuffer>::CLease buffer(*m_buffers);
        m_lines.push_back(EntryLine(indent, entry, path, [] { Mica::PumpMessages(); }, *buffer, folder));
        return;
    }
    folder = false;
    // A file's line is made on a worker and put in its place when done; a
    // few hundred wait at most, so their memory stays small.
    if (m_pending.size() >= kMaxPending)
        finishOldest();
    m_lines.emplace_back();
    auto line = std::make_shared<std::wstring>();
    Bas::CWorkerPool& pool = *m_pool;
    auto task = pool.Queue([indent, entry, path, line, &pool, buffers = m_buffers] {
        bool ignored = false;
        const Bas::CSpares<CDigestBuffer>::CLease buffer(*buffers);
        *line = EntryLine(indent, entry, path, [&pool] { pool.ThrowIfCancelled(); }, *buffer, ignored);
    }, entry.size);
    m_pending.push_back({m_lines.size() - 1, std::move(task), std::move(line)});
}

void CFileLines::finishOldest()
{
    CPending& oldest = m_pending.front();
    m_pool->Wait(oldest.task, [] { Mica::PumpMessages(); });
    m_lines[oldest.index] = std::move(*oldest.line);
    m_pending.pop_front();
}

std::vector<std::wstring>& CFileLines::Finish()
{
    while (!m_pending.empty())
        finishOldest();
    return m_lines;
}

CFileLines::~CFileLines()
{
    // Ended early (a quit): nothing a worker still does may outlive it.
    if (!m_pending.empty())
        m_pool->Cancel();
}

void ListFolder(const std::wstring& indent, const std::wstring& folder, bool recursive, CFileLines& lines)
{
    auto entries = Bas::ListFolderEntries(folder, L"*",
                                          Bas::FindFileEntries | Bas::FindFolderEntries | Bas::SkipHiddenAndSystem);
    std::sort(entries.begin(), entries.end(),
              [](const Bas::CFindEntry& a, const Bas::CFindEntry& b) { return a.name < b.name; });
    for (const Bas::CFindEntry& entry : entries) {
        const std::wstring path = Bas::JoinPath(folder, entry.name);
        bool isFolder = false;
        lines.Add(indent, entry, path, isFolder);
        if (isFolder && recursive)
            ListFolder(indent + L"  ", path, true, lines);
        Mica::PumpMessagesNowAndThen();
    }
}

void ListFolder(const std::wstring& indent, const std::wstring& folder, bool recursive,
                std::vector<std::wstring>& lines, Bas::CWorkerPool* pool)
{
    CFileLines listed(pool);
    ListFolder(indent, folder, recursive, listed);
    std::vector<std::wstring>& made = listed.Finish();
    lines.insert(lines.end(), std::make_move_iterator(made.begin()), std::make_move_iterator(made.end()));
}

void CFilesLog::Run(const std::vector<std::wstring>& directories, const std::vector<std::wstring>& trees,
                    Bas::CWorkerPool* pool)
{
    m_filePath = Bas::CreateTempFile(Bas::GetTempFolder(), L"GFL", L"tmp");
    CFileLines lines(pool);
    for (const std::wstring& folder : directories) {
        lines.AddText(folder + L" Files:");
        ListFolder(L"  ", folder, false, lines);
        lines.AddText(L" ");
    }
    for (const std::wstring& folder : trees) {
        lines.AddText(folder + L" Tree:");
        ListFolder(L"  ", folder, true, lines);
        lines.AddText(L" ");
    }
    Bas::WriteLines(m_filePath, lines.Finish());
}

} // namespace Glean

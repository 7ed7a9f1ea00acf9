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

namespace Glean {

namespace {

constexpr std::size_t kDigestBlock = 0x40000;

} // namespace

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

std::wstring Md5Text(Bas::CFile& file)
{
    // One buffer for every digest of the thread: a fresh 256 KiB block per
    // file would cost more than reading a small file.
    static thread_local std::vector<unsigned char> buffer(kDigestBlock);
    Granite::CMd5 md5;
    for (unsigned blocks = 1;; ++blocks) {
        const std::size_t read = file.Read(buffer.data(), kDigestBlock);
        md5.Update(buffer.data(), read);
        if (read < kDigestBlock)
            break;
        if (blocks % 100 == 0)
            Mica::PumpMessages();
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

} // namespace

std::wstring GetFileMd5Text(const std::wstring& path)
{
    Bas::CFile file(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    return Md5Text(file);
}

void ListFolder(const std::wstring& indent, const std::wstring& folder, bool recursive,
                std::vector<std::wstring>& lines)
{
    auto entries = Bas::ListFolderEntries(folder, L"*",
                                          Bas::FindFileEntries | Bas::FindFolderEntries | Bas::SkipHiddenAndSystem);
    std::sort(entries.begin(), entries.end(),
              [](const Bas::CFindEntry& a, const Bas::CFindEntry& b) { return a.name < b.name; });
    for (const Bas::CFindEntry& entry : entries) {
        const std::wstring path = Bas::JoinPath(folder, entry.name);
        // A file is opened once: its attributes come from the open handle,
        // which is then read for the digest. Only when it cannot be opened
        // are the attributes looked up by name, and the digest's own attempt
        // gives the error text.
        Bas::CFile file;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        const bool opened = !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                            file.TryOpen(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead) &&
                            file.GetStatus(data);
        if (!opened) {
            file.Close();
            if (!::GetFileAttributesExW(Bas::LongPath(path).c_str(), GetFileExInfoStandard, &data)) {
                lines.push_back(indent + entry.name + L"\tFailed to get file attributes:" +
                                Bas::GetLastErrorText(::GetLastError()));
                continue;
            }
        }
        const std::wstring time = FileTimeText(data.ftLastWriteTime);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            lines.push_back(indent + entry.name + L"\t" + time + L"\tFolder");
            // A junction or folder link is listed, never entered: one that
            // points at an ancestor would list the same files forever.
            if (recursive && !((entry.attributes | data.dwFileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT))
                ListFolder(indent + L"  ", path, true, lines);
        } else {
            const std::wstring size =
                data.nFileSizeHigh == 0 ? std::to_wstring(data.nFileSizeLow) : L"Size of file > 4 Gb";
            const std::wstring digest = file.IsOpen() ? DigestOrError([&] { return Md5Text(file); })
                                                      : DigestOrError([&] { return GetFileMd5Text(path); });
            lines.push_back(indent + entry.name + L"\t" + time + L"\t" + size + L"\t" + digest);
        }
        Mica::PumpMessagesNowAndThen();
    }
}

void CFilesLog::Run(const std::vector<std::wstring>& directories, const std::vector<std::wstring>& trees)
{
    m_filePath = Bas::CreateTempFile(Bas::GetTempFolder(), L"GFL", L"tmp");
    std::vector<std::wstring> lines;
    for (const std::wstring& folder : directories) {
        lines.push_back(folder + L" Files:");
        ListFolder(L"  ", folder, false, lines);
        lines.emplace_back(L" ");
    }
    for (const std::wstring& folder : trees) {
        lines.push_back(folder + L" Tree:");
        ListFolder(L"  ", folder, true, lines);
        lines.emplace_back(L" ");
    }
    Bas::WriteLines(m_filePath, lines);
}

} // namespace Glean

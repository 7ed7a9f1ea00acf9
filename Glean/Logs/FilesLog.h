// The listing of the configured folders: every file with its time, size and
// MD5 digest, every subfolder with its time; the settings' trees with their
// whole subtree.
#pragma once

#include "NativeFileSystem.h"
#include "WinApi.h"
#include "WorkerPool.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace Glean {

class CFilesLog {
public:
    // Writes the listing of the folders into a new "GFL" temporary file;
    // the workers of the pool, when given, compute the digests.
    void Run(const std::vector<std::wstring>& directories, const std::vector<std::wstring>& trees,
             Bas::CWorkerPool* pool = nullptr);
    const std::wstring& FilePath() const noexcept { return m_filePath; }

private:
    std::wstring m_filePath;
};

// One 256 KiB block for reading files to digest: a fresh one per file would
// cost more than reading a small file.
struct CDigestBuffer {
    static constexpr std::size_t kSize = 0x40000;
    std::vector<unsigned char> bytes = std::vector<unsigned char>(kSize);
};

// The lines of the listing in their order. A file's line (its digest) is
// made on a worker when there is a pool, and put in its place when done;
// the lines and their order are the same either way.
class CFileLines {
public:
    explicit CFileLines(Bas::CWorkerPool* pool) : m_pool(pool != nullptr && pool->Workers() > 0 ? pool : nullptr) {}
    // Stops the digests still under way.
    ~CFileLines();
    CFileLines(const CFileLines&) = delete;
    CFileLines& operator=(const CFileLines&) = delete;

    void AddText(std::wstring line) { m_lines.push_back(std::move(line)); }
    // The line of a folder entry; `folder` tells whether to list its
    // contents (a folder, not a link to one).
    void Add(const std::wstring& indent, const Bas::CFindEntry& entry, const std::wstring& path, bool& folder);
    // Every line, once the digests are done; the error of one that failed
    // otherwise than into its line is thrown here.
    std::vector<std::wstring>& Finish();

private:
    static constexpr std::size_t kMaxPending = 256;
    struct CPending {
        std::size_t index;
        Bas::CWorkerPool::CTaskPtr task;
        std::shared_ptr<std::wstring> line;
    };
    void finishOldest();

    Bas::CWorkerPool* m_pool;
    std::vector<std::wstring> m_lines;
    std::deque<CPending> m_pending;
    // The read buffers of the digests, whichever thread makes them.
    std::shared_ptr<Bas::CSpares<CDigestBuffer>> m_buffers = std::make_shared<Bas::CSpares<CDigestBuffer>>();
};

// Appends the lines for one folder's contents (without hidden and system
// entries, in ordinal name order); subfolders follow their own line when
// recursive.
void ListFolder(const std::wstring& indent, const std::wstring& folder, bool recursive, CFileLines& lines);
void ListFolder(const std::wstring& indent, const std::wstring& folder, bool recursive,
                std::vector<std::wstring>& lines, Bas::CWorkerPool* pool = nullptr);
// The MD5 of a file as 32 upper-case hexadecimal digits; the file may be
// open elsewhere for reading, not for writing.
std::wstring GetFileMd5Text(const std::wstring& path);
// "%d.%m.%y %H:%M" of a file time, in UTC.
std::wstring FileTimeText(const FILETIME& time);

} // namespace Glean

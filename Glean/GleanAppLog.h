// The collector's application log: the diary of every run in this process,
// kept in memory and written out when an archive is packed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Glean {

class CGleanAppLog {
public:
    CGleanAppLog();
    ~CGleanAppLog();
    CGleanAppLog(const CGleanAppLog&) = delete;
    CGleanAppLog& operator=(const CGleanAppLog&) = delete;

    // The process-wide instance.
    static CGleanAppLog& Instance();

    void AddLine(const std::wstring& line);
    // The lines as they were added.
    std::vector<std::wstring> Lines() const;
    // The bytes Write makes of the lines so far.
    std::uint64_t WrittenSize() const noexcept { return m_writtenSize; }

    void SetFilePath(const std::wstring& path) { m_filePath = path; }
    const std::wstring& FilePath() const noexcept { return m_filePath; }
    // Writes every line as UTF-16 text into the file path.
    void Write() const;

private:
    template <class Visit>
    void forEachLine(Visit visit) const;

    std::wstring m_filePath;
    // A run over many files adds a line for each, and they all stay until
    // the end: kept in UTF-8, each ended by a zero byte, in blocks that are
    // filled before the next is begun.
    std::vector<std::string> m_blocks;
    std::uint64_t m_writtenSize = 2; // the byte-order mark
};

// The process environment, one NAME=VALUE string each.
std::vector<std::wstring> EnvironmentEntries();
// Writes the process environment, one NAME=VALUE line a string, into a new
// "GEL" temporary file and returns its path.
std::wstring WriteEnvironmentLog();

} // namespace Glean

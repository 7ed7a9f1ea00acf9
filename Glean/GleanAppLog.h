// The collector's application log: the diary of every run in this process,
// kept in memory and written out when an archive is packed.
#pragma once

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

    void AddLine(const std::wstring& line) { m_lines.push_back(line); }
    const std::vector<std::wstring>& Lines() const noexcept { return m_lines; }

    void SetFilePath(const std::wstring& path) { m_filePath = path; }
    const std::wstring& FilePath() const noexcept { return m_filePath; }
    // Writes every line as UTF-16 text into the file path.
    void Write() const;

private:
    std::wstring m_filePath;
    std::vector<std::wstring> m_lines;
};

// Writes the process environment, one NAME=VALUE line a string, into a new
// "GEL" temporary file and returns its path.
std::wstring WriteEnvironmentLog();

} // namespace Glean

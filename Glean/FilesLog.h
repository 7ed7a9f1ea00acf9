// The listing of the configured folders: every file with its time, size and
// MD5 digest, every subfolder with its time; the settings' trees with their
// whole subtree.
#pragma once

#include "WinApi.h"

#include <string>
#include <vector>

namespace Glean {

class CFilesLog {
public:
    // Writes the listing of the folders into a new "GFL" temporary file.
    void Run(const std::vector<std::wstring>& directories, const std::vector<std::wstring>& trees);
    const std::wstring& FilePath() const noexcept { return m_filePath; }

private:
    std::wstring m_filePath;
};

// Appends the lines for one folder's contents (without hidden and system
// entries, in ordinal name order); subfolders follow their own line when
// recursive.
void ListFolder(const std::wstring& indent, const std::wstring& folder, bool recursive,
                std::vector<std::wstring>& lines);
// The MD5 of a file as 32 upper-case hexadecimal digits; the file may be
// open elsewhere for reading, not for writing.
std::wstring GetFileMd5Text(const std::wstring& path);
// "%d.%m.%y %H:%M" of a file time, in UTC.
std::wstring FileTimeText(const FILETIME& time);

} // namespace Glean

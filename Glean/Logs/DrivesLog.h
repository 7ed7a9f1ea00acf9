// The removable and CD-ROM drives that hold a medium, with every file on it;
// drives without a medium become application-log lines.
#pragma once

#include "NativeFileSystem.h"
#include "WinApi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Glean {

// The drive questions, so that a drive without a medium can be tried
// where no such drive can be made.
class IDriveSystem {
public:
    virtual ~IDriveSystem() = default;
    virtual UINT DriveType(const std::wstring& root) = 0;
    // The volume's label and serial number; false when the drive holds no
    // medium.
    virtual bool QueryVolume(const std::wstring& root, std::wstring& label, DWORD& serial) = 0;
    // A folder's files and folders, hidden and system ones included, in the
    // system's order (by full path, ignoring case); none when it is no
    // folder. A folder that cannot be listed raises CFileException.
    virtual std::vector<Bas::CFindEntry> ListFolder(const std::wstring& folder) = 0;
    // A file's size; the Windows error code, 0 when the size was read.
    virtual DWORD FileSize(const std::wstring& path, std::uint64_t& size) = 0;
};

class CWindowsDriveSystem : public IDriveSystem {
public:
    UINT DriveType(const std::wstring& root) override;
    bool QueryVolume(const std::wstring& root, std::wstring& label, DWORD& serial) override;
    std::vector<Bas::CFindEntry> ListFolder(const std::wstring& folder) override;
    DWORD FileSize(const std::wstring& path, std::uint64_t& size) override;
};

class CDrivesLog {
public:
    explicit CDrivesLog(IDriveSystem& system) : m_system(system) {}

    // The lines for drives A: to Z:; no system "no disk" box is shown while
    // the drives are probed. `progress` is called for every drive and entry;
    // what it throws ends the listing.
    std::vector<std::wstring> BuildLines(const Bas::CProgress& progress = {});
    // Writes BuildLines() into a new "GDL" temporary file, pumping the
    // window's messages now and then; a quit ends it with CUserException.
    void Run();
    const std::wstring& FilePath() const noexcept { return m_filePath; }

private:
    IDriveSystem& m_system;
    std::wstring m_filePath;
};

// Appends "path\tsize" for every file below a folder, hidden and system ones
// included, subfolders at their place in the order. A folder that cannot be
// listed gets the line "path\tError <code>", and the listing goes on.
void ListDriveContents(IDriveSystem& system, const std::wstring& folder, std::vector<std::wstring>& lines,
                       const Bas::CProgress& progress = {});

} // namespace Glean

#include "DrivesLog.h"

#include "Errors.h"
#include "File.h"
#include "GleanAppLog.h"
#include "Message.h"
#include "MessageLoopMica.h"
#include "NativeFileSystem.h"
#include "TempFile.h"
#include "TextStream.h"
#include "generated/GleanMessages.h"

namespace Glean {

namespace {

// Critical-error boxes ("There is no disk in the drive") stay off for the
// lifetime of this object; the thread's previous mode comes back after.
class CNoCriticalErrorBoxes {
public:
    CNoCriticalErrorBoxes() { ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &m_previous); }
    ~CNoCriticalErrorBoxes() { ::SetThreadErrorMode(m_previous, nullptr); }
    CNoCriticalErrorBoxes(const CNoCriticalErrorBoxes&) = delete;
    CNoCriticalErrorBoxes& operator=(const CNoCriticalErrorBoxes&) = delete;

private:
    DWORD m_previous = 0;
};

} // namespace

UINT CWindowsDriveSystem::DriveType(const std::wstring& root) { return ::GetDriveTypeW(root.c_str()); }

bool CWindowsDriveSystem::QueryVolume(const std::wstring& root, std::wstring& label, DWORD& serial)
{
    wchar_t name[MAX_PATH + 1] = {};
    serial = 0;
    if (!::GetVolumeInformationW(root.c_str(), name, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0))
        return false;
    label = name;
    return true;
}

std::vector<Bas::CFindEntry> CWindowsDriveSystem::ListFolder(const std::wstring& folder)
{
    if (!Bas::FolderExists(folder))
        return {};
    auto entries = Bas::ListFolderEntries(folder, L"*", Bas::FindFileEntries | Bas::FindFolderEntries);
    Bas::SortByNameNoCase(entries);
    return entries;
}

DWORD CWindowsDriveSystem::FileSize(const std::wstring& path, std::uint64_t& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(Bas::LongPath(path).c_str(), GetFileExInfoStandard, &data))
        return ::GetLastError();
    size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return 0;
}

void ListDriveContents(IDriveSystem& system, const std::wstring& folder, std::vector<std::wstring>& lines,
                       const Bas::CProgress& progress)
{
    std::vector<Bas::CFindEntry> entries;
    try {
        entries = system.ListFolder(folder);
    } catch (Bas::CFileException* raw) {
        // Such as "System Volume Information" on an NTFS stick: one line, and
        // the rest of the medium is still listed.
        auto error = Bas::Own(raw);
        lines.push_back(folder + L"\tError " + std::to_wstring(error->Code()));
        return;
    }
    for (const Bas::CFindEntry& entry : entries) {
        if (progress)
            progress();
        const std::wstring path = Bas::JoinPath(folder, entry.name);
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A folder link on the medium may lead back up: not entered.
            if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                ListDriveContents(system, path, lines, progress);
            continue;
        }
        std::uint64_t bytes = 0;
        std::wstring size;
        if (const DWORD code = system.FileSize(path, bytes))
            size = L"Error " + std::to_wstring(code);
        else if (bytes > 0xFFFFFFFFu)
            size = L"Size of file > 4 Gb";
        else
            size = std::to_wstring(bytes);
        lines.push_back(path + L"\t" + size);
    }
}

std::vector<std::wstring> CDrivesLog::BuildLines(const Bas::CProgress& progress)
{
    CNoCriticalErrorBoxes quiet;
    std::vector<std::wstring> lines;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        if (progress)
            progress();
        const std::wstring root = {letter, L':', L'\\'};
        const UINT type = m_system.DriveType(root);
        if (type != DRIVE_REMOVABLE && type != DRIVE_CDROM)
            continue;
        std::wstring label;
        DWORD serial = 0;
        if (!m_system.QueryVolume(root, label, serial)) {
            CGleanAppLog::Instance().AddLine(
                Bas::Format(type == DRIVE_REMOVABLE ? MSG_DRIVE_HASNO_FLOPPY_DISK : MSG_DRIVE_HASNO_COMPACT_DISK, root));
            continue;
        }
        if (type == DRIVE_REMOVABLE) {
            lines.push_back(L"Removable drive " + root);
            lines.push_back(L"Label = " + label);
            lines.push_back(L"Serial number = " + std::to_wstring(serial));
        } else {
            lines.push_back(L"CD-ROM " + root);
        }
        ListDriveContents(m_system, root, lines, progress);
        lines.emplace_back(L" ");
    }
    return lines;
}

void CDrivesLog::Run()
{
    m_filePath = Bas::CreateTempFile(Bas::GetTempFolder(), L"GDL", L"tmp");
    Bas::WriteLines(m_filePath, BuildLines([] { Mica::PumpMessagesNowAndThen(); }));
}

} // namespace Glean

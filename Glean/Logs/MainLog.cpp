#include "MainLog.h"

#include "CommandLine.h"
#include "Errors.h"
#include "File.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TempFile.h"
#include "TextTools.h"
#include "VersionInfo.h"

#include <lmcons.h>

#include <algorithm>
#include <climits>
#include <cwctype>
#include <vector>

namespace Glean {

namespace {

std::wstring Number(std::uint64_t value) { return std::to_wstring(value); }

std::wstring Upper(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

std::wstring Join(const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += L"\r\n";
        text += lines[i];
    }
    return text;
}

struct CModuleRow {
    const wchar_t* name;
    bool windowsFolder;
    bool doubleTab;
};

const CModuleRow kModules[] = {
    {L"Riched20.dll", false, false}, {L"Riched32.dll", false, false}, {L"Comctl32.dll", false, false},
    {L"Shell32.dll", false, false},  {L"Shdocvw.dll", false, false},  {L"Regsvr32.exe", false, false},
    {L"Twain_32.dll", true, false},  {L"Twain.dll", true, true},      {L"Twunk_32.exe", true, false},
    {L"Twunk_16.exe", true, false},  {L"Msiexec.exe", false, false},  {L"msxml3.dll", false, false},
    {L"msxml4.dll", false, false},   {L"msxml5.dll", false, false},   {L"msxml6.dll", false, false},
    {L"WinInet.dll", false, false},  {L"mapi32.dll", false, false},   {L"usp10.dll", false, true},
};

const wchar_t kProcessorKey[] = L"hardware\\DESCRIPTION\\System\\CentralProcessor\\0\\";

} // namespace

const wchar_t* BitnessName(OutlookBitness bitness) noexcept
{
    return bitness == OutlookBitness::x64 ? L"x64" : L"x86";
}

std::wstring PathRoot(const std::wstring& path)
{
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        // \\server\share\ with its closing backslash.
        std::size_t slash = path.find(L'\\', 2);
        if (slash == std::wstring::npos)
            return path + L"\\";
        slash = path.find(L'\\', slash + 1);
        return slash == std::wstring::npos ? path + L"\\" : path.substr(0, slash + 1);
    }
    if (path.size() >= 2 && path[1] == L':')
        return path.substr(0, 2) + L"\\";
    return path;
}

CMainLog::CMainLog(IMainLogSystem& system, CMainLogSettings settings)
    : m_system(system), m_settings(std::move(settings))
{
}

std::wstring CMainLog::GetModuleVersionText(const std::wstring& folder, const std::wstring& name)
{
    const std::wstring path = folder.empty() ? name : Bas::JoinPath(folder, name);
    VS_FIXEDFILEINFO info = {};
    if (!m_system.FileVersion(path, info))
        return L"Unknown";
    return Number(HIWORD(info.dwFileVersionMS)) + L"." + Number(LOWORD(info.dwFileVersionMS)) + L"." +
           Number(HIWORD(info.dwFileVersionLS)) + L"." + Number(LOWORD(info.dwFileVersionLS));
}

std::wstring CMainLog::moduleLine(const std::wstring& folder, const std::wstring& name, const wchar_t* separator)
{
    return name + separator + GetModuleVersionText(folder, name) + L"]";
}

std::wstring CMainLog::FindWordExecutable()
{
    std::wstring server;
    try {
        const std::wstring clsid = m_system.ReadRegistryString(HKEY_CLASSES_ROOT, L"Word.Application\\CLSID", L"");
        server = m_system.ReadRegistryString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\LocalServer32", L"");
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException* raw) {
        // A value that cannot be read names no Word, as a missing one.
        Bas::Own(raw);
        return {};
    }
    // The server's command line is the registry's text, not this program's:
    // a leading "@" is part of its first argument, never a file to read
    // ("@COM1" would open the serial port and could wait on it for good).
    Bas::CCommandLine commandLine;
    if (!commandLine.Parse(server, Bas::CCommandLine::NoResponseFiles) || commandLine.ArgumentCount() == 0)
        return {};
    const std::wstring& path = commandLine.Argument(0);
    if (path.size() < 5 || Upper(path.substr(path.size() - 4)) != L".EXE" || !m_system.FileExists(path))
        return {};
    return path;
}

std::wstring CMainLog::curVersion(const std::wstring& application)
{
    const std::wstring value = Upper(m_system.ReadRegistryString(HKEY_CLASSES_ROOT, application + L"\\CurVer", L""));
    const std::wstring prefix = Upper(application + L".");
    if (value.size() <= prefix.size() || value.compare(0, prefix.size(), prefix) != 0)
        return {};
    return value.substr(prefix.size());
}

std::wstring CMainLog::GetWordVersion() { return curVersion(L"Word.Application"); }

std::wstring CMainLog::GetOutlookVersion() { return curVersion(L"Outlook.Application"); }

OutlookBitness CMainLog::GetOutlookBitness()
{
    int version = 0;
    if (!Bas::ParseInteger(GetOutlookVersion(), version) || version < 14)
        return OutlookBitness::x86;
    const std::wstring bitness = Upper(m_system.ReadRegistryString(
        HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\" + Number(version) + L".0\\Outlook", L"Bitness"));
    return bitness == L"X64" ? OutlookBitness::x64 : OutlookBitness::x86;
}

std::wstring CMainLog::GetVolumeSerialText(const std::wstring& root) { return Number(m_system.VolumeSerial(root)); }

std::uint32_t CMainLog::FreeSpaceMb(const std::wstring& root)
{
    std::uint64_t kib = 0;
    try {
        kib = m_system.FreeBytesAvailable(root) >> 10;
    } catch (Bas::CException* raw) {
        Bas::Own(raw);
        return 0;
    }
    if (kib > INT_MAX)
        kib = INT_MAX;
    return static_cast<std::uint32_t>(kib / 1024);
}

void CMainLog::BuildText(std::wstring& text)
{
    if (!text.empty())
        return;
    IMainLogSystem& sys = m_system;
    const std::wstring windows = sys.WindowsDirectory();
    const std::wstring system = sys.SystemDirectory();
    std::vector<std::wstring> lines;

    lines.push_back(L"UserName = " + sys.UserName());
    lines.push_back(L"ComputerName = " + sys.ComputerName());
    lines.push_back(L"OS = " + GetOsName(sys.Os()) + L" " + GetOsVersionDetails(sys.Os()));
    const std::wstring edition = GetOsEdition(sys.Os());
    if (!edition.empty())
        lines.push_back(L"Edition = " + edition);
    lines.push_back(L"Application directory = " + m_settings.appPath);
    lines.push_back(L"Windows directory = " + windows);
    lines.push_back(L"Temporary directory = " + m_settings.tempDir);
    lines.push_back(std::wstring(L"Write right for Installer = ") +
                    (sys.HasWriteRight(Bas::JoinPath(windows, L"Installer")) ? L"Yes" : L"No"));
    lines.push_back(std::wstring(L"Write right for temporary directory = ") +
                    (sys.HasWriteRight(m_settings.tempDir) ? L"Yes" : L"No"));
    lines.push_back(L"UserDefaultLangID = " + Number(sys.UserDefaultLangId()));
    lines.push_back(L"SystemDefaultLangID = " + Number(sys.SystemDefaultLangId()));
    lines.push_back(L"ACP = " + Number(sys.Acp()));
    lines.push_back(L"OEMCP = " + Number(sys.OemCp()));
    lines.push_back(L"MS Word Version = " + GetWordVersion());
    const std::wstring outlook = GetOutlookVersion();
    if (!outlook.empty())
        lines.push_back(L"MS Outlook Version = " + outlook + L" (" + BitnessName(GetOutlookBitness()) + L")");
    lines.push_back(L"System hard disk s/n = " + GetVolumeSerialText(PathRoot(system)));

    lines.emplace_back();
    lines.push_back(L"Dll & Exe Versions:");
    for (const CModuleRow& row : kModules)
        lines.push_back(moduleLine(row.windowsFolder ? windows : system, row.name, row.doubleTab ? L"\t\t[" : L"\t["));
    const std::wstring word = FindWordExecutable();
    lines.push_back(word.empty() ? moduleLine({}, L"WinWord.exe") : moduleLine(Bas::FolderOf(word), Bas::FileNameOf(word)));
    if (!m_settings.appPath.empty())
        lines.push_back(moduleLine(m_settings.appPath, m_settings.appName));
    const std::wstring self = sys.ModulePath();
    lines.push_back(moduleLine(Bas::FolderOf(self), Bas::FileNameOf(self)));

    lines.emplace_back();
    lines.push_back(L"Hardware:");
    lines.push_back(L"CPU Vendor = " + sys.ReadRegistryString(HKEY_LOCAL_MACHINE, kProcessorKey, L"VendorIdentifier"));
    lines.push_back(L"CPU Identifier = " + sys.ReadRegistryString(HKEY_LOCAL_MACHINE, kProcessorKey, L"Identifier"));
    lines.push_back(L"CPU Name = " + sys.ReadRegistryString(HKEY_LOCAL_MACHINE, kProcessorKey, L"ProcessorNameString"));
    lines.push_back(L"Number of logical CPU cores = " + Number(sys.ProcessorCount()));
    lines.push_back(L"RAM = " + Number(sys.TotalPhysicalMemory() >> 20) + L" Mb");

    lines.emplace_back();
    lines.push_back(L"Drives:");
    std::wstring root = L"A:\\";
    for (; root[0] <= L'Z'; ++root[0]) {
        std::wstring type;
        switch (sys.DriveType(root)) {
        case DRIVE_UNKNOWN:
            type = L"The drive type cannot be determined";
            break;
        case DRIVE_REMOVABLE:
            type = L"Removable";
            break;
        case DRIVE_FIXED:
            type = L"Fixed \tFree space = " + Number(FreeSpaceMb(root)) + L" Mb\t" + sys.DosDevice(root.substr(0, 2));
            break;
        case DRIVE_REMOTE:
            type = L"Remote (network) drive";
            break;
        case DRIVE_CDROM:
            type = L"CD-ROM";
            break;
        case DRIVE_RAMDISK:
            type = L"RAM disk";
            break;
        default:
            continue;
        }
        lines.push_back(root + L"\t" + type);
    }
    text = Join(lines);
}

// The Windows provider.

namespace {

// GetWindowsDirectoryW or GetSystemDirectoryW; a failure throws.
std::wstring SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT))
{
    wchar_t buffer[MAX_PATH + 1];
    const UINT length = query(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        Bas::ThrowLastError();
    return std::wstring(buffer, length);
}

} // namespace

std::wstring CWindowsMainLogSystem::UserName()
{
    wchar_t buffer[UNLEN + 1];
    DWORD size = UNLEN + 1;
    return ::GetUserNameW(buffer, &size) ? std::wstring(buffer) : std::wstring();
}

std::wstring CWindowsMainLogSystem::ComputerName()
{
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(buffer, &size) ? std::wstring(buffer) : std::wstring();
}

std::wstring CWindowsMainLogSystem::WindowsDirectory() { return SystemFolder(::GetWindowsDirectoryW); }

std::wstring CWindowsMainLogSystem::SystemDirectory() { return SystemFolder(::GetSystemDirectoryW); }

unsigned CWindowsMainLogSystem::UserDefaultLangId() { return ::GetUserDefaultLangID(); }
unsigned CWindowsMainLogSystem::SystemDefaultLangId() { return ::GetSystemDefaultLangID(); }
unsigned CWindowsMainLogSystem::Acp() { return ::GetACP(); }
unsigned CWindowsMainLogSystem::OemCp() { return ::GetOEMCP(); }

std::wstring CWindowsMainLogSystem::ReadRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& name)
{
    return Bas::ReadRegistryString(root, subkey, name);
}

bool CWindowsMainLogSystem::FileVersion(const std::wstring& path, VS_FIXEDFILEINFO& info)
{
    Bas::CVersionInfo version;
    version.LoadFromFile(path);
    return version.GetFixedFileInfo(info);
}

bool CWindowsMainLogSystem::FileExists(const std::wstring& path) { return Bas::FileExists(path); }

bool CWindowsMainLogSystem::HasWriteRight(const std::wstring& folder)
{
    try {
        Bas::DeleteTempFile(Bas::CreateTempFile(folder, L"glean", L"tmp"));
        return true;
    } catch (Bas::CException* raw) {
        Bas::Own(raw);
        return false;
    }
}

DWORD CWindowsMainLogSystem::VolumeSerial(const std::wstring& root) { return Bas::VolumeSerialNumber(root); }

unsigned CWindowsMainLogSystem::ProcessorCount()
{
    SYSTEM_INFO info = {};
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

std::uint64_t CWindowsMainLogSystem::TotalPhysicalMemory()
{
    Bas::CModuleHandle kernel(::LoadLibraryW(L"kernel32.dll"));
    BAS_PRESUME_LAST_ERROR(kernel.IsValid());
    using GlobalMemoryStatusExFn = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
    const auto globalMemoryStatusEx = Bas::GetProc<GlobalMemoryStatusExFn>(kernel.Get(), "GlobalMemoryStatusEx");
    BAS_PRESUME_LAST_ERROR(globalMemoryStatusEx != nullptr);
    MEMORYSTATUSEX mstEx = {};
    mstEx.dwLength = sizeof(mstEx);
    if (!globalMemoryStatusEx(&mstEx)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_OUTOFMEMORY || code == ERROR_NOT_ENOUGH_MEMORY)
            Bas::ThrowMemory();
        Bas::FailCheck(Bas::EInternalError::AssertionWithCode, "globalMemoryStatusEx( &mstEx ) != 0",
                       "CMainLog::getExtendedMemorySize", __FILE__, __LINE__, code);
    }
    return mstEx.ullTotalPhys;
}

UINT CWindowsMainLogSystem::DriveType(const std::wstring& root) { return ::GetDriveTypeW(root.c_str()); }

std::uint64_t CWindowsMainLogSystem::FreeBytesAvailable(const std::wstring& root)
{
    ULARGE_INTEGER available = {};
    if (!::GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr))
        Bas::ThrowLastError();
    return available.QuadPart;
}

std::wstring CWindowsMainLogSystem::DosDevice(const std::wstring& drive)
{
    std::vector<wchar_t> buffer(4096);
    if (::QueryDosDeviceW(drive.c_str(), buffer.data(), static_cast<DWORD>(buffer.size())) == 0)
        return {};
    return std::wstring(buffer.data());
}

std::wstring CWindowsMainLogSystem::ModulePath() { return Bas::GetModulePath(); }

} // namespace Glean

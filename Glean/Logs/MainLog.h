// The system-information report: the general block, module versions,
// hardware and drives, one text joined with "\r\n". Every system answer comes
// through IMainLogSystem, so the text assembly can be tried with made-up
// answers.
#pragma once

#include "OsNaming.h"

#include <cstdint>
#include <string>

namespace Glean {

enum class OutlookBitness { x86 = 0, x64 = 1 };

class IMainLogSystem {
public:
    virtual ~IMainLogSystem() = default;
    virtual IOsVersionSource& Os() = 0;
    virtual std::wstring UserName() = 0;
    virtual std::wstring ComputerName() = 0;
    // These two throw when the system cannot tell.
    virtual std::wstring WindowsDirectory() = 0;
    virtual std::wstring SystemDirectory() = 0;
    virtual unsigned UserDefaultLangId() = 0;
    virtual unsigned SystemDefaultLangId() = 0;
    virtual unsigned Acp() = 0;
    virtual unsigned OemCp() = 0;
    // A string value read-only in the 32-bit view; empty when missing.
    virtual std::wstring ReadRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& name) = 0;
    virtual bool FileVersion(const std::wstring& path, VS_FIXEDFILEINFO& info) = 0;
    virtual bool FileExists(const std::wstring& path) = 0;
    virtual bool HasWriteRight(const std::wstring& folder) = 0;
    virtual DWORD VolumeSerial(const std::wstring& root) = 0;
    virtual unsigned ProcessorCount() = 0;
    virtual std::uint64_t TotalPhysicalMemory() = 0;
    virtual UINT DriveType(const std::wstring& root) = 0;
    // Free bytes available to the caller; may throw for a drive not ready.
    virtual std::uint64_t FreeBytesAvailable(const std::wstring& root) = 0;
    virtual std::wstring DosDevice(const std::wstring& drive) = 0;
    virtual std::wstring ModulePath() = 0;
};

struct CMainLogSettings {
    std::wstring appName;
    std::wstring appPath;
    std::wstring tempDir;
};

class CMainLog {
public:
    CMainLog(IMainLogSystem& system, CMainLogSettings settings);

    // Builds the text into `text` unless it already holds one.
    void BuildText(std::wstring& text);

    std::wstring GetModuleVersionText(const std::wstring& folder, const std::wstring& name);
    // The Word server's program from its registered command line, split
    // without response files; empty when it is missing, cannot be read, is
    // no ".exe" or does not exist (the main log then writes "Unknown").
    std::wstring FindWordExecutable();
    std::wstring GetWordVersion();
    std::wstring GetOutlookVersion();
    OutlookBitness GetOutlookBitness();
    std::wstring GetVolumeSerialText(const std::wstring& root);
    // The free space of a fixed drive in MiB, capped at 2097151.
    std::uint32_t FreeSpaceMb(const std::wstring& root);

private:
    std::wstring curVersion(const std::wstring& application);
    // "name", the separator, the version text and "]".
    std::wstring moduleLine(const std::wstring& folder, const std::wstring& name, const wchar_t* separator = L"\t[");

    IMainLogSystem& m_system;
    CMainLogSettings m_settings;
};

const wchar_t* BitnessName(OutlookBitness bitness) noexcept;
// The root of a path: "C:\" or "\\server\share\".
std::wstring PathRoot(const std::wstring& path);

// The running system.
class CWindowsMainLogSystem : public IMainLogSystem {
public:
    IOsVersionSource& Os() override { return m_os; }
    std::wstring UserName() override;
    std::wstring ComputerName() override;
    std::wstring WindowsDirectory() override;
    std::wstring SystemDirectory() override;
    unsigned UserDefaultLangId() override;
    unsigned SystemDefaultLangId() override;
    unsigned Acp() override;
    unsigned OemCp() override;
    std::wstring ReadRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& name) override;
    bool FileVersion(const std::wstring& path, VS_FIXEDFILEINFO& info) override;
    bool FileExists(const std::wstring& path) override;
    bool HasWriteRight(const std::wstring& folder) override;
    DWORD VolumeSerial(const std::wstring& root) override;
    unsigned ProcessorCount() override;
    std::uint64_t TotalPhysicalMemory() override;
    UINT DriveType(const std::wstring& root) override;
    std::uint64_t FreeBytesAvailable(const std::wstring& root) override;
    std::wstring DosDevice(const std::wstring& drive) override;
    std::wstring ModulePath() override;

private:
    CWindowsVersionSource m_os;
};

} // namespace Glean

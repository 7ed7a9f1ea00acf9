// Library start-up and shutdown. One CLibrary object lives for the program's
// main function; nested objects only count.
#pragma once

#include <string>

namespace Bas {

class CLibrary {
public:
    CLibrary();
    // A program with settings of its own names their registry key
    // ("Software\Zarvo\<program>\<version>") at start-up.
    explicit CLibrary(const std::wstring& applicationRegistryRoot);
    ~CLibrary();
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;
};

// The registry key of the program's own settings; empty when it named none.
std::wstring ApplicationRegistryRoot();

// True between a completed start-up and the end of shutdown.
bool IsLibraryRunning() noexcept;

// The flag bits of the settings under HKCU\Software\Zarvo\Basalt.
enum ELibraryFlag : unsigned {
    FlagKeepTempFiles = 0x1,
    FlagSaveUndefinedMessages = 0x2,
    FlagEnableHeapSwitching = 0x8,
    FlagShowHeapMemoryLeaks = 0x10,
    FlagBreakOnMemoryException = 0x20,
    FlagUnloadLibraries = 0x80,
    FlagCheckAllResourceModulesExistance = 0x100,
    FlagReportMemoryErrorInMessageBox = 0x200,
    FlagSaveAllMessages = 0x400,
    FlagCheckMessagesParamsCount = 0x800,
    FlagCreateMinidumpOnInternalError = 0x8000,
};
bool HasLibraryFlag(unsigned flag) noexcept;
unsigned LibraryFlags() noexcept;
// Turns one flag on or off for the rest of the process, as if its setting
// had been read so at start-up.
void SetLibraryFlag(unsigned flag, bool on) noexcept;

// Whether a setting's text reads as true: "1", "true", "yes" or "on" in any
// letter case, or any other non-zero whole number.
bool SettingIsTrue(const std::wstring& text);

// Applies one named setting to a set of flags: a value that reads as true
// sets its bit, any other clears it; unknown names change nothing.
unsigned ApplyFlagSetting(unsigned flags, const std::wstring& name, const std::wstring& value);

} // namespace Bas

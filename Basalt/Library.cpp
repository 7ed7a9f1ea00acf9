#include "Library.h"

#include "ErrorReporting.h"
#include "Errors.h"
#include "Lock.h"
#include "Message.h"
#include "MessageHandlers.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "ResourceInfo.h"
#include "TempFile.h"
#include "TextStream.h"
#include "TextTools.h"

#include <algorithm>
#include <atomic>
#include <clocale>
#include <iterator>
#include <mutex>

namespace Bas {

namespace {

constinit CLock g_startUpLock;
constinit int g_nesting = 0;
std::atomic<bool> g_running{false};
std::atomic<unsigned> g_flags{0};

const wchar_t kSettingsKey[] = L"Software\\Zarvo\\Basalt";

struct CFlagName {
    const wchar_t* name;
    unsigned flag;
};

const CFlagName kFlagNames[] = {
    {L"KeepTempFiles", FlagKeepTempFiles},
    {L"SaveUndefinedMessages", FlagSaveUndefinedMessages},
    {L"EnableHeapSwitching", FlagEnableHeapSwitching},
    {L"ShowHeapMemoryLeaks", FlagShowHeapMemoryLeaks},
    {L"BreakOnMemoryException", FlagBreakOnMemoryException},
    {L"UnloadLibraries", FlagUnloadLibraries},
    {L"CheckAllResourceModulesExistance", FlagCheckAllResourceModulesExistance},
    {L"ReportMemoryErrorInMessageBox", FlagReportMemoryErrorInMessageBox},
    {L"SaveAllMessages", FlagSaveAllMessages},
    {L"CheckMessagesParamsCount", FlagCheckMessagesParamsCount},
    {L"CreateMinidumpOnInternalError", FlagCreateMinidumpOnInternalError},
};

void Trace(const wchar_t* text)
{
    ::OutputDebugStringW(text);
}

// Reads the settings once, at the outermost start-up.
void ReadSettings()
{
    CRegistryKey user;
    unsigned flags = 0;
    std::wstring setLocale;
    if (user.Open(HKEY_CURRENT_USER, kSettingsKey)) {
        for (const auto& entry : kFlagNames) {
            if (user.GetValueType(entry.name) != 0)
                flags = ApplyFlagSetting(flags, entry.name, user.ReadString(entry.name));
        }
        setLocale = user.ReadString(L"SetLocale", L"1");
        int assertMode = 0;
        int errorMode = 0;
        ParseInteger(user.ReadString(L"AssertStopMode"), assertMode);
        ParseInteger(user.ReadString(L"ErrorStopMode"), errorMode);
        SetStopModes(assertMode, errorMode);
    }
    g_flags = flags;
    SetKeepTempFiles((flags & FlagKeepTempFiles) != 0);
    Trace(L"Bedrock: Debug flags initialized.");
    if (setLocale.empty() || SettingIsTrue(setLocale)) {
        _wsetlocale(LC_ALL, L"");
        Trace(L"Bedrock: CRT locale changed.");
    }
    Trace(L"Bedrock: Application data path initialized.");
    CRegistryKey machine;
    if (machine.Open(HKEY_LOCAL_MACHINE, kSettingsKey)) {
        const std::wstring temp = machine.ReadString(L"Temp");
        if (!temp.empty())
            SetTempFolderSetting(temp);
    }
    Trace(L"Bedrock: Registry paths initialized.");
}

// The message reports of flags 0x400 and 0x2, beside the program and named
// after it without its extension.
void SaveMessageReports()
{
    if (!HasLibraryFlag(FlagSaveAllMessages | FlagSaveUndefinedMessages))
        return;
    const std::wstring module = FileNameOf(GetModulePath());
    const std::wstring program = JoinPath(FolderOf(GetModulePath()), ProgramName());
    std::vector<std::wstring> declared = CMessageName::DeclaredNames();
    std::sort(declared.begin(), declared.end());
    declared.erase(std::unique(declared.begin(), declared.end()), declared.end());
    std::vector<std::wstring> offered = OfferedMessageNames();
    std::sort(offered.begin(), offered.end());
    offered.erase(std::unique(offered.begin(), offered.end()), offered.end());
    std::vector<std::wstring> unused;
    std::set_difference(offered.begin(), offered.end(), declared.begin(), declared.end(), std::back_inserter(unused));
    try {
        if (HasLibraryFlag(FlagSaveAllMessages)) {
            CTextFile file;
            file.Open(program + L" all messages.txt", CTextFile::ModeWrite, 1200);
            file.Write(L"Name\tModule\tDefined\tUsed\r\n");
            for (const auto& name : declared) {
                const CMessageName message(name.c_str());
                file.Write(name + L"\t" + module + L"\t" + (IsDefined(message) ? L"true" : L"false") + L"\ttrue\r\n");
            }
            for (const auto& name : unused)
                file.Write(name + L"\t\ttrue\tfalse\r\n");
            file.Close();
            Trace(L"Bedrock: All messages saved.");
        }
        if (HasLibraryFlag(FlagSaveUndefinedMessages)) {
            std::vector<std::wstring> lines = LookedUpUndefinedNames();
            if (!unused.empty()) {
                lines.push_back(L"********** Unused messages ********");
                lines.insert(lines.end(), unused.begin(), unused.end());
            }
            WriteLines(program + L".txt", lines);
            Trace(L"Bedrock: Undefined messages saved.");
        }
    } catch (CException* raw) {
        Own(raw);
    }
}

} // namespace

bool SettingIsTrue(const std::wstring& text)
{
    const std::wstring value = Trim(text);
    for (const wchar_t* word : {L"true", L"yes", L"on"})
        if (::CompareStringOrdinal(value.c_str(), -1, word, -1, TRUE) == CSTR_EQUAL)
            return true;
    int number = 0;
    return ParseInteger(value, number) && number != 0;
}

unsigned ApplyFlagSetting(unsigned flags, const std::wstring& name, const std::wstring& value)
{
    for (const auto& entry : kFlagNames)
        if (name == entry.name)
            return SettingIsTrue(value) ? flags | entry.flag : flags & ~entry.flag;
    return flags;
}

bool HasLibraryFlag(unsigned flag) noexcept
{
    return (g_flags.load() & flag) != 0;
}

unsigned LibraryFlags() noexcept
{
    return g_flags.load();
}

void SetLibraryFlag(unsigned flag, bool on) noexcept
{
    if (on)
        g_flags |= flag;
    else
        g_flags &= ~flag;
}

namespace {

std::wstring& RegistryRoot()
{
    static auto* root = new std::wstring; // read until process exit
    return *root;
}

} // namespace

std::wstring ApplicationRegistryRoot()
{
    std::lock_guard guard(g_startUpLock);
    return RegistryRoot();
}

CLibrary::CLibrary(const std::wstring& applicationRegistryRoot) : CLibrary()
{
    std::lock_guard guard(g_startUpLock);
    RegistryRoot() = applicationRegistryRoot;
}

CLibrary::CLibrary()
{
    std::lock_guard guard(g_startUpLock);
    if (g_nesting++ == 0) {
        InstallLastResortHandlers();
        try {
            ReadSettings();
        } catch (CException* raw) {
            // Reported; the library stays in its failed state.
            auto error = Own(raw);
            ReportException(*error);
            return;
        }
        Trace(L"Bedrock: Resource base initialized.");
        Trace(L"Bedrock: All modules initialized.");
        g_running = true;
    }
}

CLibrary::~CLibrary()
{
    std::lock_guard guard(g_startUpLock);
    if (--g_nesting == 0) {
        Trace(L"Bedrock: Deinitializing...");
        SetInternalErrorsThrow(true);
        SaveMessageReports();
        Trace(L"Bedrock: All modules terminated.");
        ShutdownTempFiles();
        Trace(L"Bedrock: Temporary files system terminated.");
        g_running = false;
        ResetResourceBase();
        Trace(L"Bedrock: Resource base deinitialized.");
        RemoveLastResortHandlers();
        Trace(L"Bedrock: Deinitialization complete.");
    }
}

bool IsLibraryRunning() noexcept
{
    return g_running;
}

} // namespace Bas

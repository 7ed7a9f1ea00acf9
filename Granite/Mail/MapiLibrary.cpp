#include "MapiLibrary.h"

#include "Errors.h"
#include "File.h"
#include "Handles.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TextTools.h"

#include <msi.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace Granite {

namespace {

std::atomic<HMODULE> g_module{nullptr};
std::atomic<unsigned> g_count{0};

const wchar_t kMailClients[] = L"Software\\Clients\\Mail";

// A string value, or the first string of a multi-string one; expandable
// strings expanded.
std::wstring ReadText(const Bas::CRegistryKey& key, const std::wstring& name)
{
    try {
        const DWORD type = key.GetValueType(name);
        if (type == REG_SZ)
            return key.ReadString(name);
        if (type == REG_EXPAND_SZ) {
            const std::wstring raw = key.ReadString(name);
            std::vector<wchar_t> expanded(raw.size() + 1024);
            const DWORD length = ::ExpandEnvironmentStringsW(raw.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
            return length > 0 && length <= expanded.size() ? std::wstring(expanded.data()) : raw;
        }
        if (type == REG_MULTI_SZ) {
            std::vector<BYTE> data;
            if (key.ReadBytes(name, data) == ERROR_SUCCESS && data.size() >= 2)
                return std::wstring(reinterpret_cast<const wchar_t*>(data.data()),
                                    ::wcsnlen(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2));
        }
    } catch (Bas::CException* raw) {
        Bas::Own(raw);
    }
    return {};
}

// A multi-string value as the installer's qualifier wants it, in the ANSI
// code page: each string ended by a zero and the list by one more (a plain
// string is a list of one); empty when the value is missing or empty.
std::string ReadQualifier(const Bas::CRegistryKey& key, const std::wstring& name)
{
    std::vector<std::wstring> strings;
    try {
        if (key.GetValueType(name) == REG_MULTI_SZ) {
            std::vector<BYTE> data;
            if (key.ReadBytes(name, data) == ERROR_SUCCESS) {
                const std::wstring list(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
                for (std::size_t at = 0; at < list.size() && list[at] != L'\0';) {
                    const std::size_t end = std::min(list.find(L'\0', at), list.size());
                    strings.push_back(list.substr(at, end - at));
                    at = end + 1;
                }
            }
        }
    } catch (Bas::CException* raw) {
        Bas::Own(raw);
    }
    if (strings.empty()) {
        const std::wstring single = ReadText(key, name);
        if (!single.empty())
            strings.push_back(single);
    }
    std::string qualifier;
    for (const std::wstring& text : strings)
        qualifier += Bas::Narrow(text, CP_ACP) + '\0';
    if (!qualifier.empty())
        qualifier += '\0';
    return qualifier;
}

DWORD ReadNumber(const Bas::CRegistryKey& key, const std::wstring& name)
{
    DWORD value = 0;
    if (key.ReadDword(name, value) == 4)
        return value;
    return static_cast<DWORD>(std::wcstoul(ReadText(key, name).c_str(), nullptr, 10));
}

HMODULE Load(const std::wstring& path)
{
    return path.empty() ? nullptr : ::LoadLibraryW(path.c_str());
}

// The default mail client's library, unless that client is the mail
// program, whose library step 3 finds.
HMODULE DefaultClientLibrary()
{
    Bas::CRegistryKey clients;
    if (!clients.Open(HKEY_LOCAL_MACHINE, kMailClients))
        return nullptr;
    const std::wstring client = ReadText(clients, L"");
    if (client.empty() || client == L"Microsoft Outlook")
        return nullptr;
    Bas::CRegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, (std::wstring(kMailClients) + L"\\" + client).c_str()))
        return nullptr;
    const std::wstring component = ReadText(key, L"MSIComponentID");
    // The whole list (subkey and value names), not just its first string.
    std::string qualifier = ReadQualifier(key, L"MSIApplicationLCID");
    if (!component.empty() && !qualifier.empty()) {
        Bas::CModuleHandle stub(::LoadLibraryW(L"mapi32.dll"));
        if (!stub)
            stub.Reset(::LoadLibraryW(L"mapistub.dll"));
        using FGetComponentPathFn = BOOL(WINAPI*)(LPCSTR, LPSTR, LPSTR, DWORD, BOOL);
        const auto getPath = stub ? Bas::GetProc<FGetComponentPathFn>(stub.Get(), "FGetComponentPath") : nullptr;
        if (getPath != nullptr) {
            char path[MAX_PATH * 2] = {};
            if (getPath(Bas::Narrow(component, CP_ACP).c_str(), qualifier.data(), path, sizeof path, TRUE)) {
                stub.Reset();
                if (HMODULE module = ::LoadLibraryA(path))
                    return module;
            }
        }
    }
    for (const wchar_t* value : {L"DllPathEx", L"DllPath"})
        if (HMODULE module = Load(ReadText(key, value)))
            return module;
    return nullptr;
}

// The languages tried for the mail program's own files: its installer
// language, the user's and the system's default, and English; 0 skipped.
std::vector<DWORD> Languages(DWORD installerLanguage)
{
    std::vector<DWORD> languages;
    for (DWORD language : {installerLanguage, DWORD{::GetUserDefaultLangID()}, DWORD{::GetSystemDefaultLangID()},
                           DWORD{1033}})
        if (language != 0)
            languages.push_back(language);
    return languages;
}

HMODULE MailProgramLibrary()
{
    const std::wstring program = Bas::ReadRegistryString(
        HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OUTLOOK.EXE", L"");
    std::wstring lower = program;
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(c));
    const auto at = lower.find(L"outlook.exe");
    if (at == std::wstring::npos)
        return nullptr;
    const std::wstring folder = program.substr(0, at);
    ::SetDllDirectoryW(folder.c_str());
    struct CResetDllDirectory {
        ~CResetDllDirectory() { ::SetDllDirectoryW(nullptr); }
    } reset;

    const std::wstring own = Bas::JoinPath(folder, L"olmapi32.dll");
    if (Bas::FileExists(own))
        if (HMODULE module = Load(own))
            return module;

    Bas::CRegistryKey outlook;
    outlook.Open(HKEY_LOCAL_MACHINE, (std::wstring(kMailClients) + L"\\Microsoft Outlook").c_str());
    const std::vector<DWORD> languages = Languages(ReadNumber(outlook, L"MSIOfficeLCID"));
    const std::wstring common =
        Bas::ReadRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir");
    if (!common.empty()) {
        for (DWORD language : languages) {
            wchar_t path[MAX_PATH * 2];
            std::swprintf(path, MAX_PATH * 2, L"%ls\\System\\MSMAPI\\%lu\\%ls", common.c_str(),
                          static_cast<unsigned long>(language), L"MSMAPI32.DLL");
            if (HMODULE module = Load(path))
                return module;
        }
    }

    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        Bas::CRegistryKey key;
        if (!key.Open(root, (std::wstring(kMailClients) + L"\\Microsoft Outlook").c_str()))
            continue;
        const std::wstring component = ReadText(key, L"MSIComponentID");
        if (component.empty())
            continue;
        for (const wchar_t* format : {L"%lu\\NT", L"%lu"}) {
            for (DWORD language : languages) {
                wchar_t qualifier[32];
                std::swprintf(qualifier, 32, format, static_cast<unsigned long>(language));
                wchar_t path[MAX_PATH * 2] = {};
                DWORD length = MAX_PATH * 2;
                if (::MsiProvideQualifiedComponentW(component.c_str(), qualifier, INSTALLMODE_DEFAULT, path, &length) ==
                    ERROR_SUCCESS)
                    if (HMODULE module = Load(path))
                        return module;
            }
        }
    }
    return nullptr;
}

HMODULE SystemLibrary()
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    wchar_t path[MAX_PATH * 2];
    std::swprintf(path, MAX_PATH * 2, L"%ls\\%ls", folder, L"mapi32.dll");
    return Load(path);
}

HMODULE FindMapiModule()
{
    for (const wchar_t* loaded : {L"olmapi32.dll", L"msmapi32.dll"})
        if (HMODULE module = ::GetModuleHandleW(loaded))
            return module;
    if (HMODULE module = DefaultClientLibrary())
        return module;
    if (HMODULE module = MailProgramLibrary())
        return module;
    return SystemLibrary();
}

} // namespace

HMODULE GetMapiModule()
{
    if (HMODULE cached = g_module.load())
        return cached;
    HMODULE found = FindMapiModule();
    if (found == nullptr)
        return nullptr;
    HMODULE expected = nullptr;
    if (!g_module.compare_exchange_strong(expected, found)) {
        // Another thread published one meanwhile: that one stays.
        ::FreeLibrary(found);
        return expected;
    }
    ++g_count;
    return found;
}

unsigned MapiLoadCount() noexcept
{
    return g_count.load();
}

} // namespace Granite

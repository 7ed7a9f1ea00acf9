#include "ResourceInfo.h"

#include "Handles.h"
#include "Library.h"
#include "Lock.h"
#include "Message.h"
#include "MessageHandlers.h"
#include "NativeFileSystem.h"
#include "VersionInfo.h"

#include <cwchar>
#include <cwctype>
#include <map>
#include <mutex>
#include <vector>

namespace Bas {

namespace {

using GetResourceIdFn = int (*)(const wchar_t*);
using NumberOfMessagesFn = int (*)();
using GetMessageNameFn = const wchar_t* (*)(int);

struct CResourceModule {
    HMODULE module = nullptr;
    GetResourceIdFn getResourceId = nullptr;
    NumberOfMessagesFn numberOfMessages = nullptr;
    GetMessageNameFn getMessageName = nullptr;
};

struct CLanguageModule {
    CModuleHandle owner;
    CResourceModule module;
};

struct CPrefix {
    std::wstring folder;
    std::wstring filePrefix;
    std::map<int, std::wstring> paths;
    std::set<int> reportedMissing;
};

struct CCachedText {
    std::wstring text;
    bool defined;
};

struct CRegistry {
    // Looked-up texts by language and name; emptied whenever modules or
    // languages change.
    std::map<int, std::map<std::wstring, CCachedText, std::less<>>> texts;
    std::vector<CResourceModule> global;
    std::map<int, std::vector<CLanguageModule>> perLanguage;
    std::vector<CPrefix> prefixes;
    int language = 0;
    bool languageChosen = false;
};

constinit CLock g_lock;
thread_local int t_language = -1;

CRegistry& Registry()
{
    static CRegistry* registry = new CRegistry; // lives to process exit, past static destructors
    return *registry;
}

const CLanguageInfo kLanguages[kMaxLanguage + 1] = {
    {L"en-US", 0x10009, 0},     {L"ru-RU", 0x10019, 1251},  {L"de-DE", 0x10007, 1252},
    {L"fr-FR", 0x1000C, 1252},  {L"uk-UA", 0x10022, 1251},  {L"es-ES", 0x1000A, 1252},
    {L"it-IT", 0x10010, 1252},  {L"nl-NL", 0x10013, 1252},  {L"da-DK", 0x10006, 1252},
    {L"sv-SE", 0x1001D, 1252},  {L"fi-FI", 0x1000B, 1252},  {L"nb-NO", 0x10014, 1252},
    {nullptr, 0, 0},            {L"pt-PT", 0x20016, 1252},  {L"sk-SK", 0x1001B, 1250},
    {L"pl-PL", 0x10015, 1250},  {L"cs-CZ", 0x10005, 1250},  {L"hu-HU", 0x1000E, 1250},
    {L"lt-LT", 0x10027, 1257},  {L"lv-LV", 0x10026, 1257},  {L"et-EE", 0x10025, 1257},
    {L"is-IS", 0x1000F, 1252},  {L"el-GR", 0x10008, 1253},  {L"bg-BG", 0x10002, 1251},
    {L"tr-TR", 0x1001F, 1254},  {L"tt-RU", 0x10044, 0},     {L"ja-JP", 0x10011, 0},
    {L"pt-BR", 0x10016, 1252},  {L"nl-BE", 0x20013, 1252},  {L"he-IL", 0x1000D, 1255},
    {nullptr, 0, 0},            {nullptr, 0, 0},            {nullptr, 0, 0},
    {nullptr, 0, 0},            {L"hi-IN", 0x10039, 0},     {L"sr-SP-Cyrl", 0x3001A, 1251},
    {L"hr-HR", 0x1001A, 1250},  {L"ro-RO", 0x10018, 1250},  {L"sl-SI", 0x10024, 1250},
    {L"ca-ES", 0x10003, 1252},  {L"mk-MK", 0x1002F, 1251},  {nullptr, 0, 0},
    {L"kk-KZ", 0x1003F, 1251},  {L"sr-SP-Latn", 0x2001A, 1250}, {nullptr, 0, 0},
    {nullptr, 0, 0},            {nullptr, 0, 0},            {nullptr, 0, 0},
    {nullptr, 0, 0},            {nullptr, 0, 0},            {nullptr, 0, 0},
    {nullptr, 0, 0},            {nullptr, 0, 0},            {nullptr, 0, 0},
    {nullptr, 0, 0},            {nullptr, 0, 0},            {nullptr, 0, 0},
    {nullptr, 0, 0},            {nullptr, 0, 0},            {nullptr, 0, 0},
    {nullptr, 0, 0},            {L"ar-SA", 0x10001, 1256},  {L"vi-VN", 0x1002A, 1258},
    {L"ko-KR", 0x10012, 0},     {L"zh-CN", 0x20004, 0},     {L"zh-TW", 0x10004, 0},
    {nullptr, 0, 0},            {nullptr, 0, 0},            {nullptr, 0, 0},
    {L"th-TH", 0x1001E, 0},
};

CResourceModule DescribeModule(HMODULE module)
{
    CResourceModule described;
    described.module = module;
    described.getResourceId = GetProc<GetResourceIdFn>(module, "GetResourceID");
    described.numberOfMessages = GetProc<NumberOfMessagesFn>(module, "NumberOfMessages");
    described.getMessageName = GetProc<GetMessageNameFn>(module, "GetMessageName");
    return described;
}

void Trace(const wchar_t* format, const std::wstring& argument)
{
    wchar_t line[1024];
    std::swprintf(line, 1024, format, argument.c_str());
    ::OutputDebugStringW(line);
}

// The language number of a candidate's base name after the prefix: decimal
// digits only, a number of the language table (a gap in the table has no
// locale, and a module under its number is no language at all).
int ParseLanguageNumber(const std::wstring& rest)
{
    if (rest.empty() || rest.size() > 2)
        return -1;
    int value = 0;
    for (wchar_t c : rest) {
        if (c < L'0' || c > L'9')
            return -1;
        value = value * 10 + (c - L'0');
    }
    return value <= kMaxLanguage && kLanguages[value].locale != nullptr ? value : -1;
}

bool SearchModules(const std::vector<CResourceModule>& modules, const wchar_t* name, std::wstring& text)
{
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
        if (it->getResourceId == nullptr)
            continue;
        const int id = it->getResourceId(name);
        if (id != 0 && LoadModuleString(it->module, static_cast<UINT>(id), text))
            return true;
    }
    return false;
}

// Loads the modules of every prefix for the language (once). Caller holds
// the lock.
void LoadLanguageModules(CRegistry& registry, int language)
{
    if (registry.perLanguage.count(language) != 0)
        return;
    registry.texts.erase(language);
    auto& loaded = registry.perLanguage[language];
    for (const auto& prefix : registry.prefixes) {
        const auto found = prefix.paths.find(language);
        if (found == prefix.paths.end())
            continue;
        CModuleHandle module(::LoadLibraryW(found->second.c_str()));
        if (!module) {
            Trace(L"Basalt: Can't load resource DLL %ls.\n", found->second);
            continue;
        }
        Trace(L"Basalt: Resource DLL %ls is loaded.\n", found->second);
        CLanguageModule entry;
        entry.module = DescribeModule(module.Get());
        entry.owner = std::move(module);
        loaded.push_back(std::move(entry));
    }
}

bool IsAvailable(const CRegistry& registry, int language)
{
    for (const auto& prefix : registry.prefixes)
        if (prefix.paths.count(language) != 0)
            return true;
    return false;
}

// With "CheckAllResourceModulesExistance": for each prefix, the languages
// that some other prefix has a module for and it has not, each reported
// once. Caller holds the lock; the texts are shown after it is released.
std::vector<std::wstring> MissingModuleReports(CRegistry& registry)
{
    std::vector<std::wstring> reports;
    if (!HasLibraryFlag(FlagCheckAllResourceModulesExistance))
        return reports;
    std::set<int> all;
    for (const auto& prefix : registry.prefixes)
        for (const auto& [language, path] : prefix.paths)
            all.insert(language);
    for (auto& prefix : registry.prefixes) {
        std::wstring missing;
        for (int language : all) {
            if (prefix.paths.count(language) != 0 || !prefix.reportedMissing.insert(language).second)
                continue;
            if (!missing.empty())
                missing += L", ";
            missing += kLanguages[language].locale;
        }
        if (!missing.empty()) {
            const std::wstring params[] = {JoinPath(prefix.folder, prefix.filePrefix), missing};
            reports.push_back(FormatText(L"For prefix '%0' resource modules for following languages: %1 are missing.",
                                         params, 2));
        }
    }
    return reports;
}

// The language's locale and ANSI code page are installed.
bool IsSupportedBySystem(int language)
{
    const CLanguageInfo& info = kLanguages[language];
    const LANGID id = MAKELANGID(info.languageId & 0xFFFF, info.languageId >> 16);
    return ::IsValidLocale(MAKELCID(id, SORT_DEFAULT), LCID_INSTALLED) &&
           (info.codePage == 0 || ::IsValidCodePage(info.codePage));
}

void ReportIfUnsupported(int language)
{
    if (IsSupportedBySystem(language))
        return;
    const std::wstring params[] = {kLanguages[language].locale};
    ShowMessage(FormatText(L"The selected interface language ( %0 ) is not supported on the operating system.",
                           params, 1),
                MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

const CLanguageInfo* FindLanguage(int language) noexcept
{
    if (language < 0 || language > kMaxLanguage || kLanguages[language].locale == nullptr)
        return nullptr;
    return &kLanguages[language];
}

int LanguageFromLangId(LANGID langId) noexcept
{
    const unsigned long stored = (static_cast<unsigned long>(SUBLANGID(langId)) << 16) | PRIMARYLANGID(langId);
    for (int i = 0; i <= kMaxLanguage; ++i)
        if (kLanguages[i].locale != nullptr && kLanguages[i].languageId == stored)
            return i;
    return -1;
}

void RegisterResourceModule(HMODULE module)
{
    std::lock_guard guard(g_lock);
    Registry().texts.clear();
    Registry().global.push_back(DescribeModule(module));
}

void AddResourcePrefix(const std::wstring& folder, const std::wstring& filePrefix)
{
    CPrefix prefix{folder, filePrefix, {}};
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/')
        base += L'\\';
    WIN32_FIND_DATAW data;
    CFindHandle find(::FindFirstFileW(LongPath(base + filePrefix + L"*.dll").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name.size() < filePrefix.size() + 4)
                continue;
            const int language = ParseLanguageNumber(name.substr(filePrefix.size(), name.size() - filePrefix.size() - 4));
            if (language < 0)
                continue;
            const std::wstring path = base + name;
            CVersionInfo version;
            version.LoadFromFile(path);
            if (_wcsicmp(version.GetStringValue(L"FileDescription").c_str(), L"Resource DLL") != 0) {
                Trace(L"Basalt: Resource DLL candidate %ls has invalid version info\n", path);
                continue;
            }
            prefix.paths[language] = path;
        } while (::FindNextFileW(find.Get(), &data));
    }

    std::vector<std::wstring> reports;
    {
        std::lock_guard guard(g_lock);
        CRegistry& registry = Registry();
        registry.prefixes.push_back(std::move(prefix));
        if (!registry.languageChosen) {
            // The default: the user's interface language when there is a
            // module for it, otherwise English.
            const int user = LanguageFromLangId(::GetUserDefaultUILanguage());
            registry.language = user >= 0 && IsAvailable(registry, user) ? user : 0;
        }
        registry.perLanguage.erase(registry.language);
        registry.texts.clear();
        LoadLanguageModules(registry, registry.language);
        reports = MissingModuleReports(registry);
    }
    for (const auto& report : reports)
        ShowMessage(report, MB_OK | MB_ICONEXCLAMATION);
}

std::set<int> AvailableLanguages()
{
    std::lock_guard guard(g_lock);
    std::set<int> languages;
    for (const auto& prefix : Registry().prefixes)
        for (const auto& [language, path] : prefix.paths)
            languages.insert(language);
    return languages;
}

bool SetInterfaceLanguage(int language)
{
    {
        std::lock_guard guard(g_lock);
        CRegistry& registry = Registry();
        if (!IsAvailable(registry, language))
            return false;
        LoadLanguageModules(registry, language);
        registry.language = language;
        registry.languageChosen = true;
    }
    ReportIfUnsupported(language);
    return true;
}

int GetInterfaceLanguage()
{
    if (t_language >= 0)
        return t_language;
    std::lock_guard guard(g_lock);
    return Registry().language;
}

bool SetThreadLanguage(int language)
{
    if (language < 0) {
        t_language = -1;
        return true;
    }
    {
        std::lock_guard guard(g_lock);
        CRegistry& registry = Registry();
        // English is always there, in the programs' own tables.
        if (language != 0 && !IsAvailable(registry, language))
            return false;
        LoadLanguageModules(registry, language);
    }
    t_language = language;
    ReportIfUnsupported(language);
    return true;
}

int GetThreadLanguage() noexcept
{
    return t_language;
}

bool LoadMessageText(const wchar_t* name, std::wstring& text)
{
    std::lock_guard guard(g_lock);
    CRegistry& registry = Registry();
    const int language = t_language >= 0 ? t_language : registry.language;
    // A text once found (or not) is kept until the modules change: a log
    // of many lines asks for the same few texts again and again.
    auto& cached = registry.texts[language];
    if (const auto found = cached.find(name); found != cached.end()) {
        if (found->second.defined)
            text = found->second.text;
        return found->second.defined;
    }
    bool defined = false;
    const auto loaded = registry.perLanguage.find(language);
    if (loaded != registry.perLanguage.end()) {
        for (auto it = loaded->second.rbegin(); it != loaded->second.rend() && !defined; ++it) {
            if (it->module.getResourceId == nullptr)
                continue;
            const int id = it->module.getResourceId(name);
            defined = id != 0 && LoadModuleString(it->module.module, static_cast<UINT>(id), text);
        }
    }
    if (!defined)
        defined = SearchModules(registry.global, name, text);
    cached.emplace(name, CCachedText{defined ? text : std::wstring(), defined});
    return defined;
}

bool LoadModuleString(HMODULE module, UINT id, std::wstring& text)
{
    std::vector<wchar_t> buffer(127);
    for (;;) {
        ::SetLastError(0);
        const int length = ::LoadStringW(module, id, buffer.data(), static_cast<int>(buffer.size()));
        if (length == 0) {
            if (::GetLastError() != 0)
                return false;
            text.clear();
            return true;
        }
        if (length < static_cast<int>(buffer.size()) - 1) {
            text.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::vector<std::wstring> OfferedMessageNames()
{
    std::lock_guard guard(g_lock);
    CRegistry& registry = Registry();
    std::vector<std::wstring> names;
    auto collect = [&names](const CResourceModule& module) {
        if (module.numberOfMessages == nullptr || module.getMessageName == nullptr)
            return;
        const int count = module.numberOfMessages();
        for (int i = 0; i < count; ++i)
            if (const wchar_t* name = module.getMessageName(i))
                names.emplace_back(name);
    };
    for (const auto& module : registry.global)
        collect(module);
    const auto loaded = registry.perLanguage.find(t_language >= 0 ? t_language : registry.language);
    if (loaded != registry.perLanguage.end())
        for (const auto& module : loaded->second)
            collect(module.module);
    return names;
}

void ResetResourceBase()
{
    std::lock_guard guard(g_lock);
    CRegistry& registry = Registry();
    registry.texts.clear();
    registry.perLanguage.clear();
    registry.prefixes.clear();
    registry.language = 0;
    registry.languageChosen = false;
}

} // namespace Bas

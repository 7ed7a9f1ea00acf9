// The resource registry: the modules that supply message texts, the
// interface language, and the language resource modules found beside a
// program ("<prefix><language number>.dll").
#pragma once

#include "WinApi.h"

#include <set>
#include <vector>
#include <string>

namespace Bas {

struct CLanguageInfo {
    const wchar_t* locale;
    // Sub-language in the high half, primary language in the low half.
    unsigned long languageId;
    unsigned codePage;
};

constexpr int kMaxLanguage = 69;

// The row of the language table, or null for an empty row or a number
// outside 0..69.
const CLanguageInfo* FindLanguage(int language) noexcept;

// The table number of a Windows LANGID, or -1 when the table has none.
int LanguageFromLangId(LANGID langId) noexcept;

// Adds a module that exports the message-table functions to the global list.
// Modules are searched from the last added to the first.
void RegisterResourceModule(HMODULE module);

// Finds the language resource modules of a prefix (a folder and a file-name
// prefix) and records their languages. A candidate whose rest of name is not
// a number from 0 to 69, or whose version block does not describe it as a
// "Resource DLL", is skipped. With "CheckAllResourceModulesExistance" the
// languages a prefix lacks that another one has are reported.
void AddResourcePrefix(const std::wstring& folder, const std::wstring& filePrefix);

// Languages for which some prefix has a resource module.
std::set<int> AvailableLanguages();

// Makes the language the process-wide interface language when some prefix
// has a module for it, loading those modules; false leaves it unchanged.
// A language whose locale or code page the system lacks is reported.
bool SetInterfaceLanguage(int language);
int GetInterfaceLanguage();

// A per-thread override of the interface language, loading its modules;
// false leaves it unchanged when no prefix has a module for it (English,
// 0, is always accepted). -1 removes the override.
bool SetThreadLanguage(int language);
// The calling thread's override; -1 when it has none.
int GetThreadLanguage() noexcept;

// Looks the name up: the modules of the current language (last added
// first), then the global list. False when no module has a text.
bool LoadMessageText(const wchar_t* name, std::wstring& text);

// LoadStringW into a buffer that doubles until the string fits.
bool LoadModuleString(HMODULE module, UINT id, std::wstring& text);

// Unloads every language module and forgets prefixes and languages.
void ResetResourceBase();

// Every name that the loaded resource modules of the current language and
// the global ones offer.
std::vector<std::wstring> OfferedMessageNames();

} // namespace Bas

// Registry links for tests: keys made with REG_OPTION_CREATE_LINK whose
// "SymbolicLinkValue" (REG_LINK) names the key they lead to.
#pragma once

#include "WinApi.h"

#include <string>

namespace Testing {

// The native name of a key below HKEY_CURRENT_USER, as a link's value
// holds it: "\REGISTRY\USER\<the user's SID>\path".
std::wstring UserKeyNativeName(const std::wstring& path);
// Makes HKCU\path a link leading to HKCU\target; the Windows code.
LONG MakeUserLink(const std::wstring& path, const std::wstring& target);
// Deletes the link HKCU\path itself; false when it cannot. RegDeleteTreeW
// and RegDeleteKeyW would follow it into its target (into an ancestor, the
// tree deletion recurses until the stack overflows).
bool DeleteUserLink(const std::wstring& path);

} // namespace Testing

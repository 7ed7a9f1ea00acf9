#include "RegistryLink.h"

#include "Account.h"
#include "Handles.h"

#include <sddl.h>

#include <vector>

namespace Testing {

std::wstring UserKeyNativeName(const std::wstring& path)
{
    const std::wstring sid = Bas::SidText(Bas::CurrentUserSid());
    return sid.empty() ? std::wstring() : L"\\REGISTRY\\USER\\" + sid + L"\\" + path;
}

LONG MakeUserLink(const std::wstring& path, const std::wstring& target)
{
    HKEY raw = nullptr;
    LONG code = ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &raw, nullptr);
    if (code != ERROR_SUCCESS)
        return code;
    Bas::CRegKeyHandle link(raw);
    const std::wstring name = UserKeyNativeName(target);
    // The value holds the name without a terminating zero.
    return ::RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(name.data()),
                            static_cast<DWORD>(name.size() * sizeof(wchar_t)));
}

bool DeleteUserLink(const std::wstring& path)
{
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), REG_OPTION_OPEN_LINK, DELETE, &raw) != ERROR_SUCCESS)
        return false;
    Bas::CRegKeyHandle link(raw);
    using NtDeleteKeyFn = LONG(NTAPI*)(HANDLE);
    const auto deleteKey = Bas::GetProc<NtDeleteKeyFn>(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey");
    return deleteKey != nullptr && deleteKey(link.Get()) == 0;
}

} // namespace Testing

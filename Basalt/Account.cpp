#include "Account.h"

#include "Handles.h"

#include <sddl.h>

namespace Bas {

std::vector<BYTE> CurrentUserSid()
{
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return {};
    const CKernelHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + ::GetLengthSid(sid));
}

std::wstring SidText(const std::vector<BYTE>& sid)
{
    wchar_t* text = nullptr;
    if (sid.empty() || !::ConvertSidToStringSidW(const_cast<BYTE*>(sid.data()), &text))
        return {};
    const CLocalMemory owner(text);
    return text;
}

} // namespace Bas

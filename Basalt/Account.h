// The account the process runs as.
#pragma once

#include "WinApi.h"

#include <string>
#include <vector>

namespace Bas {

// The SID of the account the process's token names, as its bytes; empty
// when the system gives none (GetLastError tells why).
std::vector<BYTE> CurrentUserSid();
// A SID in its text form ("S-1-5-21-..."); empty when it is not valid.
std::wstring SidText(const std::vector<BYTE>& sid);

} // namespace Bas

// The library's view of the running Windows, each answer computed once.
#pragma once

#include "WinApi.h"

namespace Bas {

// Whether this process runs on 64-bit Windows: true for a 32-bit process
// under WOW64 and for a 64-bit process.
bool IsWow64();
// GetVersionExW as the system reports it, filled once per process.
const OSVERSIONINFOEXW& LibraryVersionRecord();

} // namespace Bas

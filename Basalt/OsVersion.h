// The library's view of the running Windows, each answer computed once.
#pragma once

#include "WinApi.h"

namespace Bas {

// Whether this is a 32-bit process on 64-bit Windows, as IsWow64Process
// tells (false when the function does not exist, and for a 64-bit process).
bool IsWow64();
// From now on IsWow64() answers true. The 64-bit test build of the
// collector calls it first thing, to stand in for the 32-bit program on
// 64-bit Windows (the 32-bit registry view, the 64-bit Windows names).
void StandInForWow64Process() noexcept;
// GetVersionExW as the system reports it, filled once per process.
const OSVERSIONINFOEXW& LibraryVersionRecord();

} // namespace Bas

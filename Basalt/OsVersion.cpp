#include "OsVersion.h"

#include "Errors.h"

#include <atomic>

namespace Bas {

namespace {

std::atomic<bool> g_standInForWow64{false};

} // namespace

void StandInForWow64Process() noexcept
{
    g_standInForWow64 = true;
}

bool IsWow64()
{
    if (g_standInForWow64)
        return true;
    static const bool answer = [] {
        using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
        const auto isWow64Process = GetProc<IsWow64ProcessFn>(::GetModuleHandleW(L"kernel32"), "IsWow64Process");
        if (!isWow64Process)
            return false;
        BOOL result = FALSE;
        BAS_PRESUME_LAST_ERROR(isWow64Process(::GetCurrentProcess(), &result));
        return result != FALSE;
    }();
    return answer;
}

const OSVERSIONINFOEXW& LibraryVersionRecord()
{
    static const OSVERSIONINFOEXW record = [] {
        OSVERSIONINFOEXW info = {};
        info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        BAS_PRESUME_LAST_ERROR(::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)));
#pragma GCC diagnostic pop
        return info;
    }();
    return record;
}

} // namespace Bas

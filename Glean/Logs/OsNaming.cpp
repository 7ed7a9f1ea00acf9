#include "OsNaming.h"

#include "Errors.h"
#include "Handles.h"
#include "OsVersion.h"

#include <utility>

namespace Glean {

namespace {

bool AtLeast(DWORD major, DWORD minor, DWORD a, DWORD b) noexcept
{
    return major > a || (major == a && minor >= b);
}

std::wstring ProductTypeText(BYTE type)
{
    switch (type) {
    case VER_NT_WORKSTATION:
        return L"1 (Work Station)";
    case VER_NT_DOMAIN_CONTROLLER:
        return L"2 (Domain Controller)";
    case VER_NT_SERVER:
        return L"3 (Server)";
    }
    BAS_ASSERT(!"unknown product type");
    return {};
}

const std::pair<DWORD, const wchar_t*> kProductTypes[] = {
    {1, L"Ultimate"},
    {2, L"Home Basic"},
    {3, L"Home Premium"},
    {4, L"Enterprise"},
    {5, L"Home Basic N"},
    {6, L"Business"},
    {7, L"Server Standard"},
    {8, L"Server Datacenter (full installation)"},
    {9, L"Small Business Server"},
    {10, L"Server Enterprise (full installation)"},
    {11, L"Starter"},
    {12, L"Server Datacenter (core installation)"},
    {13, L"Server Standard without Hyper-V (core installation)"},
    {14, L"Server Enterprise (core installation)"},
    {15, L"Server Enterprise for Itanium-based Systems"},
    {16, L"Business N"},
    {17, L"Web Server (full installation)"},
    {18, L"HPC Edition"},
    {19, L"Windows Storage Server 2008 R2 Essentials"},
    {20, L"Storage Server Express"},
    {21, L"Storage Server Standard"},
    {22, L"Storage Server Workgroup"},
    {23, L"Storage Server Enterprise"},
    {25, L"Small Business Server Premium"},
    {26, L"Home Premium N"},
    {27, L"Enterprise N"},
    {28, L"Ultimate N"},
    {29, L"Web Server (core installation)"},
    {30, L"Windows Essential Business Server Management Server"},
    {31, L"Windows Essential Business Server Security Server"},
    {32, L"Windows Essential Business Server Messaging Server"},
    {34, L"Windows Home Server 2011"},
    {36, L"Server Standard without Hyper-V"},
    {37, L"Server Datacenter without Hyper-V (full installation)"},
    {38, L"Server Enterprise without Hyper-V (full installation)"},
    {39, L"Server Datacenter without Hyper-V (core installation)"},
    {41, L"Server Enterprise without Hyper-V (core installation)"},
    {42, L"Microsoft Hyper-V Server"},
    {43, L"Storage Server Express (core installation)"},
    {44, L"Storage Server Standard (core installation)"},
    {45, L"Storage Server Workgroup (core installation)"},
    {46, L"Storage Server Enterprise (core installation)"},
    {47, L"Starter N"},
    {48, L"Professional"},
    {49, L"Professional N"},
    {50, L"Server For SB Solutions"},
    {51, L"Server For SB Solutions"},
    {52, L"Server Solutions Premium"},
    {53, L"Server Solutions Premium (core installation)"},
    {54, L"Server For SB Solutions EM"},
    {55, L"Server For SB Solutions EM"},
    {56, L"Windows MultiPoint Server"},
    {59, L"Windows Essential Server Solution Management"},
    {60, L"Windows Essential Server Solution Additional"},
    {61, L"Windows Essential Server Solution Management SVC"},
    {62, L"Windows Essential Server Solution Additional SVC"},
    {63, L"Small Business Server Premium (core installation)"},
    {64, L"Server Hyper Core V"},
    {70, L"Enterprise E"},
    {76, L"Windows MultiPoint Server Standard (full installation)"},
    {77, L"Windows MultiPoint Server Premium (full installation)"},
    {79, L"Server Standard (evaluation installation)"},
    {80, L"Server Datacenter (evaluation installation)"},
    {84, L"Enterprise N Evaluation"},
    {95, L"Storage Server Workgroup (evaluation installation)"},
    {96, L"Storage Server Standard (evaluation installation)"},
    {98, L"Home N"},
    {99, L"Home China"},
    {100, L"Home Single Languge"},
    {101, L"Home"},
    {103, L"Professional with Media Center"},
    {104, L"Mobile"},
    {121, L"Education"},
    {122, L"Education N"},
    {123, L"IoT Core"},
    {125, L"Enterprise 2015 LTSB"},
    {126, L"Enterprise 2015 LTSB N"},
    {129, L"Enterprise 2015 LTSB Evaluation"},
    {130, L"Enterprise 2015 LTSB N Evaluatoin"},
    {131, L"IoT Core Commercial"},
    {133, L"Mobile Enterprise"},
};

} // namespace

void AdjustForWindows11(OSVERSIONINFOEXW& info) noexcept
{
    if (info.dwMajorVersion == 10 && info.dwBuildNumber >= 22000)
        info.dwMajorVersion = 11;
}

const wchar_t* ProductTypeName(DWORD type) noexcept
{
    for (const auto& [code, text] : kProductTypes)
        if (code == type)
            return text;
    return L"";
}

std::wstring GetOsName(IOsVersionSource& source)
{
    const OSVERSIONINFOEXW& v = source.MainLogVersion();
    const OSVERSIONINFOEXW& lib = source.LibraryVersion();
    const bool nt = v.dwPlatformId == VER_PLATFORM_WIN32_NT;
    const DWORD M = v.dwMajorVersion;
    const DWORD m = v.dwMinorVersion;
    const bool workstation = v.wProductType == VER_NT_WORKSTATION;
    const DWORD LM = lib.dwMajorVersion;
    const DWORD Lm = lib.dwMinorVersion;
    const BYTE LT = lib.wProductType;
    const bool libWorkstation = LT == VER_NT_WORKSTATION;

    const wchar_t* name = nullptr;
    if (nt && M >= 10 && !workstation)
        name = L"Windows Server 2016";
    else if (nt && M >= 11)
        name = L"Windows 11";
    else if (nt && M >= 10)
        name = L"Windows 10";
    else if (nt && AtLeast(M, m, 6, 3) && !workstation)
        name = L"Windows Server 2012 R2";
    else if (nt && AtLeast(M, m, 6, 3))
        name = L"Windows 8.1";
    else if (nt && AtLeast(M, m, 6, 2) && !workstation)
        name = L"Windows Server 2012";
    else if (nt && AtLeast(M, m, 6, 2))
        name = L"Windows 8";
    else if (libWorkstation ? AtLeast(LM, Lm, 6, 2) : AtLeast(LM, Lm, 6, 1))
        name = L"Windows Server 2008 R2";
    else if (AtLeast(LM, Lm, 6, 1))
        name = L"Windows 7";
    else if (libWorkstation ? AtLeast(LM, Lm, 6, 1) : AtLeast(LM, Lm, 6, 0))
        name = L"Windows Server 2008";
    else if (AtLeast(LM, Lm, 6, 0))
        name = L"Windows Vista";
    else if (lib.dwPlatformId == VER_PLATFORM_WIN32_NT &&
             (AtLeast(LM, Lm, 5, 3) || (LM == 5 && Lm == 2 && (LT == VER_NT_DOMAIN_CONTROLLER || LT == VER_NT_SERVER))))
        name = L"Windows Server 2003";
    else if (!AtLeast(LM, Lm, 5, 1))
        return L"Windows 2000";
    else {
        // XP: only the x64 edition (5.2 workstation) takes the 64-bit form.
        const bool x64 = lib.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                         (AtLeast(LM, Lm, 5, 3) || (LM == 5 && Lm == 2 && libWorkstation));
        return x64 && source.IsWow64() ? L"Windows XP 64-bit" : L"Windows XP";
    }
    std::wstring result = name;
    if (source.IsWow64())
        result += L" 64-bit";
    return result;
}

std::wstring GetOsEdition(IOsVersionSource& source)
{
    const OSVERSIONINFOEXW& lib = source.LibraryVersion();
    if (AtLeast(lib.dwMajorVersion, lib.dwMinorVersion, 6, 0)) {
        const OSVERSIONINFOEXW& v = source.MainLogVersion();
        DWORD type = 0;
        if (!source.ProductInfo(v.dwMajorVersion, v.dwMinorVersion, v.wServicePackMajor, v.wServicePackMinor, type))
            return {};
        return ProductTypeName(type);
    }
    if (!AtLeast(lib.dwMajorVersion, lib.dwMinorVersion, 5, 1))
        return {};
    const OSVERSIONINFOEXW& v = source.MainLogVersion();
    if (v.dwMajorVersion != 5)
        return {};
    if (v.dwMinorVersion == 1)
        return (v.wSuiteMask & VER_SUITE_PERSONAL) ? L"Home" : L"Professional";
    if (v.dwMinorVersion == 2) {
        if (v.wProductType == VER_NT_WORKSTATION && source.IsWow64())
            return L"Professional x64";
        if (v.wSuiteMask & VER_SUITE_DATACENTER)
            return L"Datacenter";
        if (v.wSuiteMask & VER_SUITE_ENTERPRISE)
            return L"Enterprise";
        if (v.wSuiteMask & VER_SUITE_BLADE)
            return L"WebServer";
        return L"Standard";
    }
    return {};
}

std::wstring GetOsVersionDetails(IOsVersionSource& source)
{
    OSVERSIONINFOEXW ex = {};
    ex.dwOSVersionInfoSize = sizeof(ex);
    if (source.QueryVersionEx(ex)) {
        std::wstring text = ex.szCSDVersion;
        text += L" ( version - " + std::to_wstring(ex.dwMajorVersion) + L"." + std::to_wstring(ex.dwMinorVersion) +
                L"." + std::to_wstring(ex.dwBuildNumber);
        text += L", platform - " + std::to_wstring(ex.dwPlatformId);
        text += L",\r\nservice pack - " + std::to_wstring(ex.wServicePackMajor) + L"." +
                std::to_wstring(ex.wServicePackMinor);
        text += L", suite mask - " + std::to_wstring(static_cast<unsigned>(ex.wSuiteMask));
        text += L", product type - " + ProductTypeText(ex.wProductType);
        text += L" )";
        return text;
    }
    OSVERSIONINFOW plain = {};
    plain.dwOSVersionInfoSize = sizeof(plain);
    if (source.QueryVersion(plain))
        return std::wstring(plain.szCSDVersion) + L" ( version - " + std::to_wstring(plain.dwMajorVersion) + L"." +
               std::to_wstring(plain.dwMinorVersion) + L"." + std::to_wstring(plain.dwBuildNumber) +
               L", platform - " + std::to_wstring(plain.dwPlatformId) + L" )";
    const DWORD version = source.Version();
    return L" ( version - " + std::to_wstring(version & 0xFF) + L"." + std::to_wstring((version >> 8) & 0xFF) + L" )";
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

const OSVERSIONINFOEXW& CWindowsVersionSource::MainLogVersion()
{
    static const OSVERSIONINFOEXW record = [] {
        OSVERSIONINFOEXW info = {};
        info.dwOSVersionInfoSize = sizeof(info);
        BAS_PRESUME_LAST_ERROR(::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)));
        AdjustForWindows11(info);
        return info;
    }();
    return record;
}

const OSVERSIONINFOEXW& CWindowsVersionSource::LibraryVersion() { return Bas::LibraryVersionRecord(); }

bool CWindowsVersionSource::IsWow64() { return Bas::IsWow64(); }

bool CWindowsVersionSource::ProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, DWORD& type)
{
    Bas::CModuleHandle kernel(::LoadLibraryW(L"kernel32.dll"));
    if (!kernel)
        return false;
    using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
    const auto getProductInfo = Bas::GetProc<GetProductInfoFn>(kernel.Get(), "GetProductInfo");
    return getProductInfo && getProductInfo(major, minor, spMajor, spMinor, &type);
}

bool CWindowsVersionSource::QueryVersionEx(OSVERSIONINFOEXW& info)
{
    info.dwOSVersionInfoSize = sizeof(info);
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
}

bool CWindowsVersionSource::QueryVersion(OSVERSIONINFOW& info)
{
    info.dwOSVersionInfoSize = sizeof(info);
    return ::GetVersionExW(&info) != FALSE;
}

DWORD CWindowsVersionSource::Version() { return ::GetVersion(); }

#pragma GCC diagnostic pop

} // namespace Glean

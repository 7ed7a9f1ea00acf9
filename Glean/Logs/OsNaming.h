// The name, edition and version details of the running Windows for the main
// log. The rules read version records through a small source interface, so
// they can be tried with made-up answers.
#pragma once

#include "WinApi.h"

#include <string>

namespace Glean {

class IOsVersionSource {
public:
    virtual ~IOsVersionSource() = default;
    // The record with a Windows 11 build turned into major version 11.
    virtual const OSVERSIONINFOEXW& MainLogVersion() = 0;
    // The same system answer without that change.
    virtual const OSVERSIONINFOEXW& LibraryVersion() = 0;
    virtual bool IsWow64() = 0;
    // GetProductInfo; false when it is missing or returns 0.
    virtual bool ProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, DWORD& type) = 0;
    // Fresh GetVersionExW calls, the extended and the plain record.
    virtual bool QueryVersionEx(OSVERSIONINFOEXW& info) = 0;
    virtual bool QueryVersion(OSVERSIONINFOW& info) = 0;
    virtual DWORD Version() = 0;
};

// Major version 10 with a build of 22000 or more becomes 11.
void AdjustForWindows11(OSVERSIONINFOEXW& info) noexcept;

std::wstring GetOsName(IOsVersionSource& source);
std::wstring GetOsEdition(IOsVersionSource& source);
std::wstring GetOsVersionDetails(IOsVersionSource& source);
// The edition text of a GetProductInfo code; empty for unknown codes.
const wchar_t* ProductTypeName(DWORD type) noexcept;

// The running system.
class CWindowsVersionSource : public IOsVersionSource {
public:
    const OSVERSIONINFOEXW& MainLogVersion() override;
    const OSVERSIONINFOEXW& LibraryVersion() override;
    bool IsWow64() override;
    bool ProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, DWORD& type) override;
    bool QueryVersionEx(OSVERSIONINFOEXW& info) override;
    bool QueryVersion(OSVERSIONINFOW& info) override;
    DWORD Version() override;
};

} // namespace Glean

#include "Errors.h"
#include "MainLog.h"
#include "OsNaming.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace {

OSVERSIONINFOEXW Record(DWORD major, DWORD minor, DWORD build, BYTE type, WORD suite = 0, DWORD platform = 2)
{
    OSVERSIONINFOEXW v = {};
    v.dwOSVersionInfoSize = sizeof(v);
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.dwBuildNumber = build;
    v.dwPlatformId = platform;
    v.wProductType = type;
    v.wSuiteMask = suite;
    return v;
}

// Made-up system answers; every call is counted so a second build can be
// shown to ask nothing.
class CFakeSystem : public Glean::IMainLogSystem, public Glean::IOsVersionSource {
public:
    IOsVersionSource& Os() override { return *this; }

    OSVERSIONINFOEXW library = Record(10, 0, 19045, VER_NT_WORKSTATION, 256);
    OSVERSIONINFOEXW adjusted = library;
    bool wow64 = true;
    bool hasProductInfo = true;
    DWORD productType = 48;
    DWORD productInfoMajor = 0;
    std::map<std::wstring, std::wstring> registry; // "root|subkey|name"
    std::set<std::wstring> unreadable;
    std::map<std::wstring, VS_FIXEDFILEINFO> versions;
    std::map<std::wstring, bool> writable;
    std::map<wchar_t, UINT> driveTypes;
    std::map<wchar_t, std::uint64_t> freeBytes;
    int calls = 0;

    void SetVersion(OSVERSIONINFOEXW v)
    {
        library = v;
        adjusted = v;
        Glean::AdjustForWindows11(adjusted);
    }
    void SetString(HKEY root, const std::wstring& subkey, const std::wstring& name, const std::wstring& value)
    {
        registry[Key(root, subkey, name)] = value;
    }
    void SetUnreadable(HKEY root, const std::wstring& subkey, const std::wstring& name)
    {
        unreadable.insert(Key(root, subkey, name));
    }
    void SetVersion(const std::wstring& path, WORD a, WORD b, WORD c, WORD d)
    {
        VS_FIXEDFILEINFO info = {};
        info.dwFileVersionMS = MAKELONG(b, a);
        info.dwFileVersionLS = MAKELONG(d, c);
        versions[path] = info;
    }

    const OSVERSIONINFOEXW& MainLogVersion() override { return ++calls, adjusted; }
    const OSVERSIONINFOEXW& LibraryVersion() override { return ++calls, library; }
    bool IsWow64() override { return ++calls, wow64; }
    bool ProductInfo(DWORD major, DWORD, DWORD, DWORD, DWORD& type) override
    {
        ++calls;
        productInfoMajor = major;
        type = productType;
        return hasProductInfo;
    }
    bool QueryVersionEx(OSVERSIONINFOEXW& info) override { return ++calls, info = library, true; }
    bool QueryVersion(OSVERSIONINFOW& info) override
    {
        ++calls;
        std::memcpy(&info, &library, sizeof(info));
        info.dwOSVersionInfoSize = sizeof(info);
        return true;
    }
    DWORD Version() override { return ++calls, 0x0105u; }

    std::wstring UserName() override { return ++calls, L"tester"; }
    std::wstring ComputerName() override { return ++calls, L"BOX"; }
    std::wstring WindowsDirectory() override { return ++calls, L"C:\\windows"; }
    std::wstring SystemDirectory() override { return ++calls, L"C:\\windows\\system32"; }
    unsigned UserDefaultLangId() override { return ++calls, 1049; }
    unsigned SystemDefaultLangId() override { return ++calls, 1033; }
    unsigned Acp() override { return ++calls, 1251; }
    unsigned OemCp() override { return ++calls, 866; }
    std::wstring ReadRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& name) override
    {
        ++calls;
        if (unreadable.count(Key(root, subkey, name)) != 0)
            Bas::ThrowLastError(ERROR_ACCESS_DENIED);
        const auto found = registry.find(Key(root, subkey, name));
        return found == registry.end() ? std::wstring() : found->second;
    }
    bool FileVersion(const std::wstring& path, VS_FIXEDFILEINFO& info) override
    {
        ++calls;
        const auto found = versions.find(path);
        if (found == versions.end())
            return false;
        info = found->second;
        return true;
    }
    bool FileExists(const std::wstring& path) override { return ++calls, path == L"C:\\Office\\WINWORD.EXE"; }
    bool HasWriteRight(const std::wstring& folder) override { return ++calls, writable[folder]; }
    DWORD VolumeSerial(const std::wstring& root) override { return ++calls, root == L"C:\\" ? 4000000000u : 0u; }
    unsigned ProcessorCount() override { return ++calls, 4; }
    std::uint64_t TotalPhysicalMemory() override { return ++calls, (8ull << 30) + 12345; }
    UINT DriveType(const std::wstring& root) override
    {
        ++calls;
        const auto found = driveTypes.find(root[0]);
        return found == driveTypes.end() ? DRIVE_NO_ROOT_DIR : found->second;
    }
    std::uint64_t FreeBytesAvailable(const std::wstring& root) override
    {
        ++calls;
        const auto found = freeBytes.find(root[0]);
        if (found == freeBytes.end())
            Bas::ThrowLastError(ERROR_NOT_READY);
        return found->second;
    }
    std::wstring DosDevice(const std::wstring& drive) override
    {
        return ++calls, drive == L"C:" ? L"\\Device\\HarddiskVolume3" : L"";
    }
    std::wstring ModulePath() override { return ++calls, L"C:\\Tools\\Glean.exe"; }

private:
    static std::wstring Key(HKEY root, const std::wstring& subkey, const std::wstring& name)
    {
        return std::to_wstring(reinterpret_cast<std::uintptr_t>(root)) + L"|" + subkey + L"|" + name;
    }
};

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(L"\r\n", start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos)
            return lines;
        start = end + 2;
    }
}

TEST(OsNaming, NameTableRowByRow)
{
    struct Case {
        OSVERSIONINFOEXW v;
        bool wow64;
        const wchar_t* name;
    };
    const Case cases[] = {
        {Record(10, 0, 22631, VER_NT_WORKSTATION), true, L"Windows 11 64-bit"},
        {Record(10, 0, 21999, VER_NT_WORKSTATION), false, L"Windows 10"},
        {Record(10, 0, 19045, VER_NT_WORKSTATION), true, L"Windows 10 64-bit"},
        {Record(10, 0, 20348, VER_NT_SERVER), true, L"Windows Server 2016 64-bit"},
        {Record(10, 0, 26100, VER_NT_DOMAIN_CONTROLLER), false, L"Windows Server 2016"},
        {Record(6, 3, 9600, VER_NT_DOMAIN_CONTROLLER), false, L"Windows Server 2012 R2"},
        {Record(6, 3, 9600, VER_NT_WORKSTATION), false, L"Windows 8.1"},
        {Record(6, 2, 9200, VER_NT_SERVER), false, L"Windows Server 2012"},
        {Record(6, 2, 9200, VER_NT_WORKSTATION), true, L"Windows 8 64-bit"},
        {Record(6, 1, 7601, VER_NT_SERVER), true, L"Windows Server 2008 R2 64-bit"},
        {Record(6, 1, 7601, VER_NT_WORKSTATION), false, L"Windows 7"},
        {Record(6, 0, 6002, VER_NT_SERVER), false, L"Windows Server 2008"},
        {Record(6, 0, 6002, VER_NT_WORKSTATION), true, L"Windows Vista 64-bit"},
        {Record(5, 2, 3790, VER_NT_SERVER), false, L"Windows Server 2003"},
        {Record(5, 2, 3790, VER_NT_WORKSTATION), true, L"Windows XP 64-bit"},
        {Record(5, 1, 2600, VER_NT_WORKSTATION), true, L"Windows XP"},
        {Record(5, 0, 2195, VER_NT_WORKSTATION), true, L"Windows 2000"},
    };
    for (const Case& c : cases) {
        CFakeSystem system;
        system.SetVersion(c.v);
        system.wow64 = c.wow64;
        EXPECT_EQ(Glean::GetOsName(system), c.name) << c.v.dwMajorVersion << "." << c.v.dwMinorVersion;
    }
}

TEST(OsNaming, EditionsAndProductTypes)
{
    CFakeSystem system;
    system.SetVersion(Record(10, 0, 22000, VER_NT_WORKSTATION));
    system.productType = 101;
    EXPECT_EQ(Glean::GetOsEdition(system), L"Home");
    // GetProductInfo is asked with the adjusted major version.
    EXPECT_EQ(system.productInfoMajor, 11u);
    system.productType = 100;
    EXPECT_EQ(Glean::GetOsEdition(system), L"Home Single Languge");
    for (DWORD empty : {0u, 24u, 102u, 134u, 0xABCDABCDu}) {
        system.productType = empty;
        EXPECT_EQ(Glean::GetOsEdition(system), L"") << empty;
    }
    system.productType = 48;
    system.hasProductInfo = false;
    EXPECT_EQ(Glean::GetOsEdition(system), L"");
    EXPECT_STREQ(Glean::ProductTypeName(130), L"Enterprise 2015 LTSB N Evaluatoin");
    EXPECT_STREQ(Glean::ProductTypeName(12), L"Server Datacenter (core installation)");

    system.SetVersion(Record(5, 1, 2600, VER_NT_WORKSTATION, VER_SUITE_PERSONAL));
    EXPECT_EQ(Glean::GetOsEdition(system), L"Home");
    system.SetVersion(Record(5, 1, 2600, VER_NT_WORKSTATION));
    EXPECT_EQ(Glean::GetOsEdition(system), L"Professional");
    system.SetVersion(Record(5, 2, 3790, VER_NT_WORKSTATION));
    EXPECT_EQ(Glean::GetOsEdition(system), L"Professional x64");
    system.SetVersion(Record(5, 2, 3790, VER_NT_SERVER, VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE));
    EXPECT_EQ(Glean::GetOsEdition(system), L"Datacenter");
    system.SetVersion(Record(5, 2, 3790, VER_NT_SERVER, VER_SUITE_ENTERPRISE));
    EXPECT_EQ(Glean::GetOsEdition(system), L"Enterprise");
    system.SetVersion(Record(5, 2, 3790, VER_NT_SERVER, VER_SUITE_BLADE));
    EXPECT_EQ(Glean::GetOsEdition(system), L"WebServer");
    system.SetVersion(Record(5, 2, 3790, VER_NT_SERVER));
    EXPECT_EQ(Glean::GetOsEdition(system), L"Standard");
    system.SetVersion(Record(5, 0, 2195, VER_NT_WORKSTATION));
    EXPECT_EQ(Glean::GetOsEdition(system), L"");
}

TEST(OsNaming, VersionDetails)
{
    CFakeSystem system;
    system.SetVersion(Record(10, 0, 22631, VER_NT_WORKSTATION, 256));
    // The details show the real major version 10 even on Windows 11.
    EXPECT_EQ(Glean::GetOsVersionDetails(system),
              L" ( version - 10.0.22631, platform - 2,\r\nservice pack - 0.0, suite mask - 256, product type - 1 "
              L"(Work Station) )");
    OSVERSIONINFOEXW dc = Record(6, 3, 9600, VER_NT_DOMAIN_CONTROLLER, 0x8000);
    wcscpy(dc.szCSDVersion, L"Service Pack 1");
    dc.wServicePackMajor = 1;
    system.SetVersion(dc);
    EXPECT_EQ(Glean::GetOsName(system), L"Windows Server 2012 R2 64-bit");
    EXPECT_EQ(Glean::GetOsVersionDetails(system),
              L"Service Pack 1 ( version - 6.3.9600, platform - 2,\r\nservice pack - 1.0, suite mask - 32768, product "
              L"type - 2 (Domain Controller) )");
}

class MainLog : public testing::Test {
protected:
    CFakeSystem system;
    Glean::CMainLogSettings settings{L"Product.exe", L"C:\\Product", L"C:\\Temp"};

    void SetUp() override
    {
        system.writable[L"C:\\Temp"] = true;
        system.driveTypes = {{L'A', DRIVE_REMOVABLE}, {L'C', DRIVE_FIXED}, {L'D', DRIVE_CDROM},
                             {L'E', DRIVE_UNKNOWN},   {L'F', DRIVE_FIXED}, {L'N', DRIVE_REMOTE},
                             {L'R', DRIVE_RAMDISK},   {L'X', 7}};
        system.freeBytes = {{L'C', 3ull << 40}};
        system.SetVersion(L"C:\\windows\\system32\\Riched20.dll", 6, 1, 7601, 17514);
        system.SetVersion(L"C:\\Product\\Product.exe", 2, 0, 0, 5);
    }

    std::wstring Build()
    {
        std::wstring text;
        Glean::CMainLog(system, settings).BuildText(text);
        return text;
    }
};

TEST_F(MainLog, WholeTextInOrder)
{
    const std::wstring text = Build();
    EXPECT_NE(text.substr(text.size() - 2), L"\r\n");
    const std::vector<std::wstring> expected = {
        L"UserName = tester",
        L"ComputerName = BOX",
        L"OS = Windows 10 64-bit  ( version - 10.0.19045, platform - 2,",
        L"service pack - 0.0, suite mask - 256, product type - 1 (Work Station) )",
        L"Edition = Professional",
        L"Application directory = C:\\Product",
        L"Windows directory = C:\\windows",
        L"Temporary directory = C:\\Temp",
        L"Write right for Installer = No",
        L"Write right for temporary directory = Yes",
        L"UserDefaultLangID = 1049",
        L"SystemDefaultLangID = 1033",
        L"ACP = 1251",
        L"OEMCP = 866",
        L"MS Word Version = ",
        L"System hard disk s/n = 4000000000",
        L"",
        L"Dll & Exe Versions:",
        L"Riched20.dll\t[6.1.7601.17514]",
        L"Riched32.dll\t[Unknown]",
        L"Comctl32.dll\t[Unknown]",
        L"Shell32.dll\t[Unknown]",
        L"Shdocvw.dll\t[Unknown]",
        L"Regsvr32.exe\t[Unknown]",
        L"Twain_32.dll\t[Unknown]",
        L"Twain.dll\t\t[Unknown]",
        L"Twunk_32.exe\t[Unknown]",
        L"Twunk_16.exe\t[Unknown]",
        L"Msiexec.exe\t[Unknown]",
        L"msxml3.dll\t[Unknown]",
        L"msxml4.dll\t[Unknown]",
        L"msxml5.dll\t[Unknown]",
        L"msxml6.dll\t[Unknown]",
        L"WinInet.dll\t[Unknown]",
        L"mapi32.dll\t[Unknown]",
        L"usp10.dll\t\t[Unknown]",
        L"WinWord.exe\t[Unknown]",
        L"Product.exe\t[2.0.0.5]",
        L"Glean.exe\t[Unknown]",
        L"",
        L"Hardware:",
        L"CPU Vendor = ",
        L"CPU Identifier = ",
        L"CPU Name = ",
        L"Number of logical CPU cores = 4",
        L"RAM = 8192 Mb",
        L"",
        L"Drives:",
        L"A:\\\tRemovable",
        L"C:\\\tFixed \tFree space = 2097151 Mb\t\\Device\\HarddiskVolume3",
        L"D:\\\tCD-ROM",
        L"E:\\\tThe drive type cannot be determined",
        L"F:\\\tFixed \tFree space = 0 Mb\t",
        L"N:\\\tRemote (network) drive",
        L"R:\\\tRAM disk",
    };
    EXPECT_EQ(Lines(text), expected);

    // A second build into the same text asks the system nothing.
    std::wstring again = text;
    system.calls = 0;
    Glean::CMainLog(system, settings).BuildText(again);
    EXPECT_EQ(again, text);
    EXPECT_EQ(system.calls, 0);
}

TEST_F(MainLog, OfficeLinesAndModuleRows)
{
    system.SetString(HKEY_CLASSES_ROOT, L"Word.Application\\CurVer", L"", L"Word.Application.16");
    system.SetString(HKEY_CLASSES_ROOT, L"Word.Application\\CLSID", L"", L"{000209FF-0000-0000-C000-000000000046}");
    system.SetString(HKEY_CLASSES_ROOT, L"CLSID\\{000209FF-0000-0000-C000-000000000046}\\LocalServer32", L"",
                     L"\"C:\\Office\\WINWORD.EXE\" /Automation");
    system.SetVersion(L"C:\\Office\\WINWORD.EXE", 16, 0, 1, 2);
    system.SetString(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", L"", L"outlook.application.16");
    system.SetString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\16.0\\Outlook", L"Bitness", L"X64");
    settings.appName.clear();
    const auto lines = Lines(Build());
    auto has = [&](const std::wstring& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has(L"MS Word Version = 16"));
    EXPECT_TRUE(has(L"MS Outlook Version = 16 (x64)"));
    EXPECT_TRUE(has(L"WINWORD.EXE\t[16.0.1.2]"));
    // An empty app name with an app path still writes the row.
    EXPECT_TRUE(has(L"\t[Unknown]"));

    Glean::CMainLog log(system, settings);
    system.SetString(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", L"", L"Outlook.Application.12");
    EXPECT_EQ(log.GetOutlookVersion(), L"12");
    EXPECT_EQ(log.GetOutlookBitness(), Glean::OutlookBitness::x86);
    system.SetString(HKEY_CLASSES_ROOT, L"Word.Application\\CurVer", L"", L"Word.Application");
    EXPECT_EQ(log.GetWordVersion(), L"");
    system.SetString(HKEY_CLASSES_ROOT, L"Word.Application\\CurVer", L"", L"Word.Application.");
    EXPECT_EQ(log.GetWordVersion(), L"");
    // A server path that is not an .exe, or does not exist, finds no Word.
    system.SetString(HKEY_CLASSES_ROOT, L"CLSID\\{000209FF-0000-0000-C000-000000000046}\\LocalServer32", L"",
                     L"C:\\Office\\WINWORD.COM");
    EXPECT_EQ(log.FindWordExecutable(), L"");

    settings.appPath.clear();
    const auto withoutApp = Lines(Build());
    EXPECT_EQ(std::count_if(withoutApp.begin(), withoutApp.end(),
                            [](const std::wstring& line) { return line.find(L"\t[") != std::wstring::npos; }),
              20);
}

// The Word server's command line is split as plain text: a file named with
// "@" is never read, and a value that cannot be read finds no Word.
TEST_F(MainLog, WordServerStartingWithAtOrUnreadable)
{
    Testing::CTestFolder folder;
    // Read as a response file, this would name the Word the system knows.
    folder.WriteBytes(L"args.txt", "C:\\Office\\WINWORD.EXE");
    const std::wstring server = L"CLSID\\{000209FF-0000-0000-C000-000000000046}\\LocalServer32";
    system.SetString(HKEY_CLASSES_ROOT, L"Word.Application\\CLSID", L"", L"{000209FF-0000-0000-C000-000000000046}");
    system.SetVersion(L"C:\\Office\\WINWORD.EXE", 16, 0, 1, 2);
    for (const std::wstring& value :
         {L"@" + folder / L"args.txt", std::wstring(L"@C:\\nope\\args.txt /automation"), std::wstring(L"@COM1")}) {
        system.SetString(HKEY_CLASSES_ROOT, server, L"", value);
        EXPECT_EQ(Glean::CMainLog(system, settings).FindWordExecutable(), L"") << value;
    }
    system.SetString(HKEY_CLASSES_ROOT, server, L"", L"C:\\Office\\WINWORD.EXE");
    system.SetUnreadable(HKEY_CLASSES_ROOT, server, L"");
    const auto lines = Lines(Build());
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"WinWord.exe\t[Unknown]"), lines.end());
}

TEST(MainLogHelpers, PathRoots)
{
    EXPECT_EQ(Glean::PathRoot(L"C:\\Windows\\system32"), L"C:\\");
    EXPECT_EQ(Glean::PathRoot(L"\\\\server\\share\\windows\\system32"), L"\\\\server\\share\\");
    EXPECT_EQ(Glean::PathRoot(L"\\\\server\\share"), L"\\\\server\\share\\");
}

} // namespace

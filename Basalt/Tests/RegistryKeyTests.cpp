#include "BasaltMessages.h"
#include "Errors.h"
#include "NativeFileSystem.h"
#include "OsVersion.h"
#include "RegistryKey.h"
#include "TestFolder.h"
#include "VersionInfo.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kTestKey[] = L"Software\\GleanTests\\RegistryKey";

class RegistryKey : public testing::Test {
protected:
    void SetUp() override
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
        ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, kTestKey, Bas::CRegistryKey::Create));
    }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }

    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(::RegSetValueExW(key.Handle(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }

    Bas::CRegistryKey key;
};

TEST_F(RegistryKey, ReadStringGrowsAndEndsCorrectly)
{
    const std::wstring hundred(100, L'x');
    key.WriteString(L"Long", hundred);
    EXPECT_EQ(key.ReadString(L"Long"), hundred);
    key.WriteString(L"Short", L"abc");
    EXPECT_EQ(key.ReadString(L"Short"), L"abc");
    // Stored without its terminating zero.
    SetRaw(L"Unterminated", REG_SZ, L"defg", 8);
    EXPECT_EQ(key.ReadString(L"Unterminated"), L"defg");
    const std::wstring unterminated(63, L'u');
    SetRaw(L"Unterminated63", REG_SZ, unterminated.data(), 63 * 2);
    EXPECT_EQ(key.ReadString(L"Unterminated63"), unterminated);
    // Expand strings stay unexpanded.
    SetRaw(L"Expand", REG_EXPAND_SZ, L"%TEMP%\\x", 18);
    EXPECT_EQ(key.ReadString(L"Expand"), L"%TEMP%\\x");
    // The wrong type, an odd size, an empty value and a missing one give the default.
    const DWORD number = 7;
    SetRaw(L"Number", REG_DWORD, &number, 4);
    EXPECT_EQ(key.ReadString(L"Number", L"default"), L"default");
    SetRaw(L"Odd", REG_SZ, "abc", 3);
    EXPECT_EQ(key.ReadString(L"Odd", L"default"), L"default");
    SetRaw(L"Empty", REG_SZ, L"", 0);
    EXPECT_EQ(key.ReadString(L"Empty", L"default"), L"default");
    EXPECT_EQ(key.ReadString(L"Missing", L"default"), L"default");
}

TEST_F(RegistryKey, TypesDwordsAndNames)
{
    EXPECT_EQ(key.GetValueType(L"Missing"), 0u);
    const DWORD number = 0x12345678;
    SetRaw(L"Number", REG_DWORD, &number, 4);
    key.WriteString(L"", L"default value");
    EXPECT_EQ(key.GetValueType(L"Number"), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(key.GetValueType(L""), static_cast<DWORD>(REG_SZ));
    DWORD read = 0;
    EXPECT_EQ(key.ReadDword(L"Number", read), 4);
    EXPECT_EQ(read, number);
    EXPECT_EQ(key.ReadDword(L"Missing", read), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    const std::wstring longName(300, L'n');
    key.WriteString(longName, L"v");
    const auto names = key.EnumValueNames();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_NE(std::find(names.begin(), names.end(), longName), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), L""), names.end());

    Bas::CRegistryKey child;
    const std::wstring longKey(200, L'k'); // key names stop at 255 characters
    ASSERT_TRUE(child.Open(key.Handle(), longKey.c_str(), Bas::CRegistryKey::Create));
    EXPECT_TRUE(key.HasSubkeys());
    EXPECT_EQ(key.EnumSubkeyNames(), std::vector<std::wstring>{longKey});

    Bas::CRegistryKey closed;
    EXPECT_EQ(closed.GetValueType(L"Number"), 0u);
    EXPECT_EQ(closed.ReadDword(L"Number", read), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(closed.ReadString(L"Number", L"d"), L"d");
    EXPECT_FALSE(closed.Open(HKEY_CURRENT_USER, L"Software\\GleanTests\\NoSuchKey"));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A listing that meets an error keeps what it read and ends without an
// exception; the export of the key goes on with the next part.
TEST_F(RegistryKey, ListingEndsAtAnErrorWithTheNamesSoFar)
{
    key.WriteString(L"Value", L"v");
    Bas::CRegistryKey child;
    ASSERT_TRUE(child.Open(key.Handle(), L"Child", Bas::CRegistryKey::Create));
    Bas::CRegistryKey listed;
    ASSERT_TRUE(listed.Open(HKEY_CURRENT_USER, kTestKey));
    EXPECT_EQ(listed.EnumSubkeyNames(), std::vector<std::wstring>{L"Child"});
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // Deleted through another handle while this one is open.
    ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey), ERROR_SUCCESS);
    EXPECT_TRUE(listed.EnumSubkeyNames().empty());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_KEY_DELETED));
    EXPECT_TRUE(listed.EnumValueNames().empty());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_KEY_DELETED));
    EXPECT_TRUE(listed.EnumValues().empty());
}

// Names and data in one pass, a value far longer than the first buffer
// included.
TEST_F(RegistryKey, ValuesWithTheirData)
{
    const std::vector<BYTE> large(100000, 0xA5);
    SetRaw(L"Large", REG_BINARY, large.data(), static_cast<DWORD>(large.size()));
    const DWORD number = 7;
    SetRaw(std::wstring(300, L'n').c_str(), REG_DWORD, &number, 4);
    key.WriteString(L"", L"text");
    const auto values = key.EnumValues();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(values.size(), 3u);
    for (const auto& value : values) {
        EXPECT_EQ(value.error, ERROR_SUCCESS);
        if (value.name == L"Large")
            EXPECT_EQ(value.data, large);
        else if (value.name.empty())
            EXPECT_EQ(value.data.size(), 10u);
        else
            EXPECT_EQ(value.name, std::wstring(300, L'n'));
    }
}

TEST_F(RegistryKey, WriteFailureNamesTheKey)
{
    Bas::CRegistryKey readOnly;
    ASSERT_TRUE(readOnly.Open(HKEY_CURRENT_USER, kTestKey, Bas::CRegistryKey::Read));
    try {
        readOnly.WriteString(L"x", L"y");
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(&check->Message(), &Bas::ERR_CANT_WRITE_TO_REGISTRY);
        EXPECT_EQ(check->Parameter(0), std::wstring(L"HKEY_CURRENT_USER\\") + kTestKey);
    }
}

TEST(RegistryView, AccessRightsTableAndViews)
{
    using K = Bas::CRegistryKey;
    EXPECT_EQ(K::AccessRights(K::Read, K::DefaultView, false), 0x20019u);
    EXPECT_EQ(K::AccessRights(K::Read, K::View32, true), 0x20219u);
    EXPECT_EQ(K::AccessRights(K::Read, K::View64, true), 0x20119u);
    EXPECT_EQ(K::AccessRights(K::Create, K::DefaultView, false), 0x2001Fu);
    EXPECT_EQ(K::AccessRights(K::Create, K::DefaultView, true), 0x2021Fu);
    EXPECT_EQ(K::AccessRights(K::Create, K::View64, true), 0x2011Fu);

    // Wine runs the tests on 64-bit Windows: the 32-bit build is under WOW64
    // and reads the 32-bit view by default, the 64-bit build its own view.
    const bool x86 = sizeof(void*) == 4;
    ASSERT_EQ(Bas::IsWow64(), x86);
    const wchar_t path[] = L"SOFTWARE\\GleanTestsView";
    {
        K view32;
        ASSERT_TRUE(view32.Open(HKEY_LOCAL_MACHINE, path, K::Create, K::View32));
        view32.WriteString(L"Which", L"32");
        K view64;
        ASSERT_TRUE(view64.Open(HKEY_LOCAL_MACHINE, path, K::Create, K::View64));
        view64.WriteString(L"Which", L"64");
    }
    K byDefault;
    ASSERT_TRUE(byDefault.Open(HKEY_LOCAL_MACHINE, path));
    EXPECT_EQ(byDefault.ReadString(L"Which"), x86 ? L"32" : L"64");
    K wide;
    ASSERT_TRUE(wide.Open(HKEY_LOCAL_MACHINE, path, K::Read, K::View64));
    EXPECT_EQ(wide.ReadString(L"Which"), L"64");
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, 0);
}

TEST(VersionInfo, ResourceDllAndTextFile)
{
    Bas::CVersionInfo info;
    info.LoadFromFile(Bas::JoinPath(Bas::FolderOf(Bas::GetModulePath()), L"BasaltTestRes7.dll"));
    ASSERT_TRUE(info.IsLoaded());
    VS_FIXEDFILEINFO fixed = {};
    ASSERT_TRUE(info.GetFixedFileInfo(fixed));
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(info.GetStringValue(L"FileDescription"), L"Resource DLL");
    EXPECT_EQ(info.GetStringValue(L"ProductVersion"), L"");

    Testing::CTestFolder folder;
    folder.WriteBytes(L"plain.txt", "just text\r\n");
    info.LoadFromFile(folder / L"plain.txt");
    EXPECT_FALSE(info.IsLoaded());
    EXPECT_FALSE(info.GetFixedFileInfo(fixed));
    EXPECT_EQ(info.GetStringValue(L"FileDescription"), L"");
}

} // namespace

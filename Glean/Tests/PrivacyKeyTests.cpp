#include "File.h"
#include "Handles.h"
#include "PrivacyKey.h"
#include "TestFolder.h"

#include <aclapi.h>
#include <gtest/gtest.h>

namespace {

const Glean::CPrivacyKeyPairs kPairs = {{L"user1", L"jdoe"}, {L"host1", L"ACME-PC"}, {L"word1", L"Проект"}};

TEST(PrivacyKey, NamedAfterItsArchive)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Out\\Case42.zip", L"C:\\Out\\Case42-privacy-key.txt"},
        {L"C:\\Out\\case.2024.zip", L"C:\\Out\\case.2024-privacy-key.txt"}, // the last extension only
        {L"C:\\Out.d\\archive", L"C:\\Out.d\\archive-privacy-key.txt"},    // a dot of the folder is no extension
        {L"C:\\Out\\.zip", L"C:\\Out\\.zip-privacy-key.txt"},
    };
    for (const auto& [archive, key] : cases)
        EXPECT_EQ(Glean::PrivacyKeyPathFor(archive), key);
    SYSTEMTIME time = {};
    time.wYear = 2026, time.wMonth = 3, time.wDay = 7, time.wHour = 9, time.wMinute = 5, time.wSecond = 1;
    EXPECT_EQ(Glean::DatedPrivacyKeyName(time, 1), L"Glean-20260307-090501-privacy-key.txt");
    EXPECT_EQ(Glean::DatedPrivacyKeyName(time, 12), L"Glean-20260307-090501-12-privacy-key.txt");
}

// The packer leaves out any file that begins as a key does, whatever its
// name; nothing else.
TEST(PrivacyKey, KnownByItsFirstLine)
{
    const std::string text = Glean::PrivacyKeyText(L"Case42.zip", kPairs);
    EXPECT_EQ(text, "\xEF\xBB\xBFGlean privacy key: the stand-ins in Case42.zip and what they stand for. "
                    "Keep this file; never send it.\r\n"
                    "user1\tjdoe\r\nhost1\tACME-PC\r\nword1\t\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\r\n");
    EXPECT_TRUE(Glean::IsPrivacyKey(text.substr(0, Glean::kPrivacyKeyProbeBytes)));
    EXPECT_TRUE(Glean::IsPrivacyKey("Glean privacy key"));
    // Its title cut off, a key still begins with a pair.
    EXPECT_TRUE(Glean::IsPrivacyKey(text.substr(text.find("user1"), Glean::kPrivacyKeyProbeBytes)));
    EXPECT_TRUE(Glean::IsPrivacyKey("\xEF\xBB\xBFsecret1234567890\tx"));
    for (const std::string_view other : {"", "\xEF\xBB\xBF", "\xEF\xBB\xBFGlean privacy ke", "glean privacy key",
                                         " Glean privacy key", "\xEF\xBBGlean privacy key", "users1\tjdoe\r\n",
                                         "user\tjdoe", "user1 jdoe", "User1\tjdoe", "1\tx", "user12"})
        EXPECT_FALSE(Glean::IsPrivacyKey(other)) << other;
}

// A key replaces an earlier one that anyone could read: the new file has
// its own DACL, protected from what the folder passes on, with full access
// for the current user and the system and nobody else.
TEST(PrivacyKeyFile, OnlyTheUserAndTheSystemCanOpenIt)
{
    const Testing::CTestFolder folder;
    folder.WriteBytes(L"Case42-privacy-key.txt", "old key");
    const std::wstring path = Glean::SavePrivacyKeyBeside(folder / L"Case42.zip", kPairs);
    EXPECT_EQ(path, folder / L"Case42-privacy-key.txt");
    EXPECT_EQ(Testing::ReadFileBytes(path), Glean::PrivacyKeyText(L"Case42.zip", kPairs));
    EXPECT_FALSE(Bas::FileExists(path + L".1.tmp"));

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                      nullptr, &raw),
              DWORD{ERROR_SUCCESS});
    const Bas::CLocalMemory descriptor(raw);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(raw, &control, &revision));
    // Wine keeps a file's DACL as Unix permission bits, which have no
    // protected flag.
    const bool wine = Bas::GetProc<void (*)()>(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (!wine) {
        EXPECT_TRUE(control & SE_DACL_PROTECTED);
    }
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 2);

    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    const Bas::CKernelHandle tokenOwner(token);
    alignas(8) BYTE user[256];
    DWORD size = sizeof user;
    ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user, size, &size));
    BYTE system[SECURITY_MAX_SID_SIZE];
    size = sizeof system;
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
    bool userFound = false, systemFound = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Mask, DWORD{FILE_ALL_ACCESS});
        userFound |= ::EqualSid(&ace->SidStart, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) != FALSE;
        systemFound |= ::EqualSid(&ace->SidStart, system) != FALSE;
    }
    EXPECT_TRUE(userFound && systemFound);
}

// Keys made in the same second each get a name of their own.
TEST(PrivacyKeyFile, DatedKeysNeverReplaceEachOther)
{
    const Testing::CTestFolder folder;
    SYSTEMTIME time = {};
    time.wYear = 2026, time.wMonth = 12, time.wDay = 31, time.wHour = 23, time.wMinute = 59, time.wSecond = 59;
    const std::wstring first = Glean::SavePrivacyKeyInto(folder.Path(), L"Glean.zip", kPairs, time);
    const std::wstring second = Glean::SavePrivacyKeyInto(folder.Path(), L"Glean.zip", {{L"user1", L"x"}}, time);
    EXPECT_EQ(first, folder / L"Glean-20261231-235959-privacy-key.txt");
    EXPECT_EQ(second, folder / L"Glean-20261231-235959-2-privacy-key.txt");
    EXPECT_EQ(Testing::ReadFileBytes(first), Glean::PrivacyKeyText(L"Glean.zip", kPairs));
    EXPECT_EQ(Testing::ReadFileBytes(second), Glean::PrivacyKeyText(L"Glean.zip", {{L"user1", L"x"}}));
}

} // namespace

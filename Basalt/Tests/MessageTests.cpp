#include "BasaltMessages.h"
#include "Library.h"
#include "Message.h"
#include "MessageHandlers.h"
#include "MessageTable.h"
#include "NativeFileSystem.h"
#include "ResourceInfo.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

const Bas::CMessageName MSG_TEST_UNDEFINED{L"MSG_TEST_UNDEFINED"};
const Bas::CMessageName MSG_TEST_LONG{L"MSG_TEST_LONG"};
const Bas::CMessageName MSG_TEST_ONLY_IN_MODULE{L"MSG_TEST_ONLY_IN_MODULE"};

std::wstring Subst(const std::wstring& text, std::initializer_list<std::wstring> params)
{
    return Bas::FormatText(text, params.begin(), params.size());
}

TEST(FormatText, SubstitutesNumberedParameters)
{
    EXPECT_EQ(Subst(L"%0 and %1", {L"a", L"b"}), L"a and b");
    EXPECT_EQ(Subst(L"%1%0%1", {L"a", L"b"}), L"bab");
    EXPECT_EQ(Subst(L"x%5y", {L"a", L"b"}), L"xy");
    EXPECT_EQ(Subst(L"%10", {L"a", L"b"}), L"");
    EXPECT_EQ(Subst(L"no parameters", {}), L"no parameters");
    EXPECT_EQ(Subst(L"", {L"a"}), L"");
}

TEST(FormatText, PercentSignsThatAreNotPlaceholdersStay)
{
    EXPECT_EQ(Subst(L"100%", {L"a"}), L"100%");
    EXPECT_EQ(Subst(L"50% off", {L"a"}), L"50% off");
    EXPECT_EQ(Subst(L"%s and %d", {L"a"}), L"%s and %d");
    EXPECT_EQ(Subst(L"%%1", {L"a", L"b"}), L"%b");
    EXPECT_EQ(Subst(L"%%", {L"a"}), L"%%");
    // Digits that overflow are copied as they stand.
    EXPECT_EQ(Subst(L"<%99999999999999999999>", {L"a"}), L"<%99999999999999999999>");
}

TEST(MessageTable, ComparesByUnsignedCodeUnits)
{
    using Bas::MessageTable::Compare;
    EXPECT_LT(Compare(L"ERR_DIR_NOT_EMPTY", L"ERR_DIVIDE_ZERO"), 0);
    EXPECT_LT(Compare(L"MSG_FILES_BY_MASK_NOT_FOUND", L"MSG_FILE_ADDED_TO_ARCHIVE"), 0);
    EXPECT_LT(Compare(L"A", L"\xE9"), 0);
    EXPECT_LT(Compare(L"ABC", L"ABCD"), 0);
    EXPECT_EQ(Compare(L"same", L"same"), 0);
    static constexpr const wchar_t* kSorted[] = {L"A", L"B_", L"B_A", L"BA"};
    static constexpr const wchar_t* kDuplicate[] = {L"A", L"A"};
    static_assert(!Bas::MessageTable::IsSorted(kDuplicate));
    EXPECT_FALSE(Bas::MessageTable::IsSorted(kSorted)); // "_" (0x5F) sorts after "A" (0x41)
}

TEST(MessageTable, BinarySearchFindsEveryEntryAndNothingElse)
{
    static const wchar_t* const kNames[] = {L"A", L"B", L"C", L"D", L"E"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Bas::MessageTable::FindId(kNames, 5, kNames[i]), 4096 + i);
    EXPECT_EQ(Bas::MessageTable::FindId(kNames, 5, L"0"), 0);
    EXPECT_EQ(Bas::MessageTable::FindId(kNames, 5, L"BB"), 0);
    EXPECT_EQ(Bas::MessageTable::FindId(kNames, 5, L"Z"), 0);
    EXPECT_EQ(Bas::MessageTable::FindId(kNames, 0, L"A"), 0);
}

TEST(MessageTable, ProgramExportsItsTable)
{
    HMODULE self = ::GetModuleHandleW(nullptr);
    auto getId = Bas::GetProc<int (*)(const wchar_t*)>(self, "GetResourceID");
    auto count = Bas::GetProc<int (*)()>(self, "NumberOfMessages");
    auto getName = Bas::GetProc<const wchar_t* (*)(int)>(self, "GetMessageName");
    auto version = Bas::GetProc<int (*)()>(self, "GetMessageSystemVersion");
    ASSERT_TRUE(getId && count && getName && version);
    EXPECT_NE(::GetProcAddress(self, "__BedrockUsed"), nullptr);
    EXPECT_EQ(version(), 200);
    EXPECT_EQ(count(), 32);
    EXPECT_EQ(getId(L"ERR_DIR_NOT_EMPTY") + 1, getId(L"ERR_DIVIDE_ZERO"));
    EXPECT_EQ(getId(L"ERR_DIR_NOT_EMPTY"), 4105);
    EXPECT_EQ(getId(L"MSG_NOT_THERE"), 0);
    for (int i = 0; i < count(); ++i)
        EXPECT_EQ(getId(getName(i)), 4096 + i) << i;
}

class MessageResolution : public testing::Test {
protected:
    void TearDown() override
    {
        Bas::SetThreadLanguage(-1);
        Bas::ResetResourceBase();
    }

    static void AddTestModules()
    {
        Bas::AddResourcePrefix(Bas::FolderOf(Bas::GetModulePath()), L"BasaltTestRes");
    }
};

TEST_F(MessageResolution, TextsComeFromTheProgramsTable)
{
    EXPECT_TRUE(Bas::IsDefined(Bas::ERR_FILE_NOT_FOUND));
    EXPECT_EQ(Bas::GetText(Bas::ERR_FILE_NOT_FOUND), L"%0 was not found.");
    EXPECT_EQ(Bas::Format(Bas::ERR_FILE_NOT_FOUND, L"C:\\x.txt"), L"C:\\x.txt was not found.");
    EXPECT_EQ(Bas::GetText(Bas::CURRENT_LANGUAGE_NAME), L"English (English)\x200E");
    EXPECT_EQ(Bas::Format(Bas::ERR_FILE_GENERIC, L"f", L"why"), L"An error occurred while accessing f: \nwhy");
}

TEST_F(MessageResolution, UndefinedNamesDegradeToTheNameAndParameters)
{
    EXPECT_FALSE(Bas::IsDefined(MSG_TEST_UNDEFINED));
    EXPECT_EQ(Bas::GetText(MSG_TEST_UNDEFINED), L"MSG_TEST_UNDEFINED");
    EXPECT_EQ(Bas::Format(MSG_TEST_UNDEFINED, L"a", L"b"), L"MSG_TEST_UNDEFINED a b");
    EXPECT_EQ(Bas::Format(MSG_TEST_UNDEFINED, std::initializer_list<std::wstring>{}), L"MSG_TEST_UNDEFINED");
}

TEST_F(MessageResolution, InternalErrorsUseTheirTextOrTheBuiltInFallback)
{
    EXPECT_EQ(Bas::Format(Bas::MSG_INTERNAL_ERROR, L"a.cpp", L"12"), L"Internal program error:\na.cpp, 12.");
    EXPECT_FALSE(Bas::IsDefined(Bas::MSG_ASSERT));
    EXPECT_EQ(Bas::Format(Bas::MSG_ASSERT, L"x > 0", L"Run", L"a.cpp", L"7"),
              L"Internal Program Error:\nAssertion failed: ( x > 0 )\na.cpp, 7.\n( Run ).");
    EXPECT_EQ(Bas::Format(Bas::MSG_PRESUMELASTERROR, L"e", L"f", L"s", L"1", L"5", L"denied"),
              L"Internal Program Error:\nPresumption failed: ( e )\ns, 1.\n( f ).\nError code: 5 - denied");
}

TEST_F(MessageResolution, LanguageModulesAreFoundAndChecked)
{
    AddTestModules();
    // 8 is not described as a resource DLL; 70 is no language number, and
    // 12 a number without a language.
    EXPECT_EQ(Bas::AvailableLanguages(), std::set<int>{7});
    EXPECT_FALSE(Bas::SetInterfaceLanguage(8));
    EXPECT_FALSE(Bas::SetInterfaceLanguage(70));
    EXPECT_FALSE(Bas::SetInterfaceLanguage(12));
    EXPECT_EQ(Bas::GetInterfaceLanguage(), 0);
}

TEST_F(MessageResolution, ModulesOfTheInterfaceLanguageComeFirst)
{
    AddTestModules();
    EXPECT_FALSE(Bas::IsDefined(MSG_TEST_ONLY_IN_MODULE));
    ASSERT_TRUE(Bas::SetInterfaceLanguage(7));
    EXPECT_EQ(Bas::GetInterfaceLanguage(), 7);
    EXPECT_EQ(Bas::Format(Bas::ERR_FILE_NOT_FOUND, L"x"), L"x niet gevonden.");
    EXPECT_EQ(Bas::Format(MSG_TEST_ONLY_IN_MODULE, L"y"), L"Only in the module: y");
    // A name the module lacks falls back to the program's own table.
    EXPECT_EQ(Bas::GetText(Bas::ERR_FILE_DISK_FULL), L"Disk full while accessing %0.");
}

TEST_F(MessageResolution, ThreadLanguageOverridesTheProcessLanguage)
{
    AddTestModules();
    ASSERT_TRUE(Bas::SetInterfaceLanguage(7));
    std::wstring other;
    std::thread([&] {
        Bas::SetThreadLanguage(0);
        other = Bas::Format(Bas::ERR_FILE_NOT_FOUND, L"x");
    }).join();
    EXPECT_EQ(other, L"x was not found.");
    EXPECT_EQ(Bas::Format(Bas::ERR_FILE_NOT_FOUND, L"x"), L"x niet gevonden.");
}

// A thread may choose a language that no thread has used yet.
TEST_F(MessageResolution, ThreadLanguageLoadsItsModules)
{
    AddTestModules();
    std::wstring dutch;
    bool refused = true;
    std::thread([&] {
        refused = Bas::SetThreadLanguage(8);
        ASSERT_TRUE(Bas::SetThreadLanguage(7));
        dutch = Bas::Format(Bas::ERR_FILE_NOT_FOUND, L"x");
    }).join();
    EXPECT_FALSE(refused);
    EXPECT_EQ(dutch, L"x niet gevonden.");
    EXPECT_EQ(Bas::GetInterfaceLanguage(), 0);
}

// With "CheckAllResourceModulesExistance" a prefix that lacks a language
// another one has is reported once.
TEST_F(MessageResolution, MissingModulesOfAPrefixAreReported)
{
    struct CRecording : Bas::CMessageHandler {
        int ShowMessage(HWND, const std::wstring& text, const std::wstring&, UINT) override
        {
            shown.push_back(text);
            return IDOK;
        }
        std::vector<std::wstring> shown;
    } handler;
    Bas::SetThreadMessageHandler(&handler);
    Bas::SetLibraryFlag(Bas::FlagCheckAllResourceModulesExistance, true);
    const std::wstring folder = Bas::FolderOf(Bas::GetModulePath());
    AddTestModules();
    Bas::AddResourcePrefix(folder, L"NoModulesHere");
    Bas::AddResourcePrefix(folder, L"NorHere");
    Bas::SetLibraryFlag(Bas::FlagCheckAllResourceModulesExistance, false);
    Bas::SetThreadMessageHandler(nullptr);
    EXPECT_EQ(handler.shown,
              (std::vector<std::wstring>{
                  L"For prefix '" + folder + L"\\NoModulesHere' resource modules for following languages: nl-NL are missing.",
                  L"For prefix '" + folder + L"\\NorHere' resource modules for following languages: nl-NL are missing."}));
}

TEST_F(MessageResolution, StringsLongerThanTheFirstBufferLoadWhole)
{
    AddTestModules();
    ASSERT_TRUE(Bas::SetInterfaceLanguage(7));
    std::wstring expected;
    for (int i = 0; i < 12; ++i)
        expected += L"Line of a long message. ";
    expected += L"End.";
    ASSERT_GT(expected.size(), 254u);
    EXPECT_EQ(Bas::GetText(MSG_TEST_LONG), expected);
}

TEST(LanguageTable, RowsAndWindowsIdentifiers)
{
    ASSERT_NE(Bas::FindLanguage(0), nullptr);
    EXPECT_STREQ(Bas::FindLanguage(0)->locale, L"en-US");
    EXPECT_STREQ(Bas::FindLanguage(61)->locale, L"ar-SA");
    EXPECT_EQ(Bas::FindLanguage(61)->codePage, 1256u);
    EXPECT_STREQ(Bas::FindLanguage(69)->locale, L"th-TH");
    EXPECT_EQ(Bas::FindLanguage(12), nullptr);
    EXPECT_EQ(Bas::FindLanguage(70), nullptr);
    EXPECT_EQ(Bas::FindLanguage(-1), nullptr);
    EXPECT_EQ(Bas::LanguageFromLangId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), 0);
    EXPECT_EQ(Bas::LanguageFromLangId(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)), 1);
    EXPECT_EQ(Bas::LanguageFromLangId(MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE)), 13);
    EXPECT_EQ(Bas::LanguageFromLangId(MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_CYRILLIC)), 35);
    EXPECT_EQ(Bas::LanguageFromLangId(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)), 64);
    EXPECT_EQ(Bas::LanguageFromLangId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK)), -1);
}

TEST(MessageNames, EveryDeclaredObjectIsListed)
{
    const auto names = Bas::CMessageName::DeclaredNames();
    EXPECT_NE(std::find(names.begin(), names.end(), L"MSG_TEST_UNDEFINED"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), L"ERR_FILE_NOT_FOUND"), names.end());
    {
        Bas::CMessageName scoped{L"MSG_TEST_SCOPED"};
        const auto withScoped = Bas::CMessageName::DeclaredNames();
        EXPECT_EQ(withScoped.size(), names.size() + 1);
    }
    EXPECT_EQ(Bas::CMessageName::DeclaredNames().size(), names.size());
}

} // namespace

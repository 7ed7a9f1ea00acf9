#include "BasaltMessages.h"
#include "Errors.h"
#include "IniFile.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Names = std::vector<std::wstring>;

Names Sorted(Names names)
{
    std::sort(names.begin(), names.end());
    return names;
}

TEST(IniFile, Grammar)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"a.ini", "top = level\r\n"
                                "; comment\r\n"
                                "// comment too\r\n"
                                "\r\n"
                                "  [ Common ]  \r\n"
                                "AppName = Pagewise = 7 \r\n"
                                "Empty=\r\n"
                                "key;x=semi;colon\r\n"
                                "[Other]\r\n"
                                "k=1\r\n"
                                "[common]\r\n"
                                "APPNAME=second\r\n"
                                "/x=slash\r\n"
                                "[Headers only]\r\n"
                                "[Empty]\r\n"
                                "; a comment is no key\r\n");
    Bas::CIniFile ini(folder / L"a.ini");
    EXPECT_EQ(ini.GetValue(L"", L"top"), L"level");
    EXPECT_EQ(ini.GetValue(L"COMMON", L"appname"), L"second");
    EXPECT_EQ(ini.GetValue(L"Common", L"Empty", L"default"), L"");
    EXPECT_EQ(ini.GetValue(L"Common", L"key;x"), L"semi;colon");
    EXPECT_EQ(ini.GetValue(L"Common", L"/x"), L"slash");
    EXPECT_EQ(ini.GetValue(L"Common", L"Missing", L"default"), L"default");
    EXPECT_EQ(ini.GetValue(L"Nowhere", L"k", L"default"), L"default");
    EXPECT_TRUE(ini.HasKey(L"other", L"K"));
    EXPECT_FALSE(ini.HasKey(L"Nowhere", L"k"));
    // A section exists from its first key on; headers alone make none.
    EXPECT_FALSE(ini.HasSection(L"Empty"));
    EXPECT_FALSE(ini.HasSection(L"Headers only"));
    EXPECT_EQ(Sorted(ini.SectionNames()), (Names{L"", L"Common", L"Other"}));
    EXPECT_EQ(Sorted(ini.KeyNames(L"common")), (Names{L"/x", L"APPNAME", L"Empty", L"key;x"}));
    EXPECT_TRUE(ini.KeyNames(L"Nowhere").empty());
}

TEST(IniFile, CommentsOnlyAndMissingFiles)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"c.ini", "; one\n\n// two\n");
    EXPECT_TRUE(Bas::CIniFile(folder / L"c.ini").SectionNames().empty());
    EXPECT_TRUE(Bas::CIniFile(folder / L"absent.ini").SectionNames().empty());
    try {
        Bas::CIniFile(folder / L"absent.ini", Bas::CIniFile::MustExist).HasSection(L"x");
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        EXPECT_NE(dynamic_cast<Bas::CFileException*>(error.get()), nullptr);
    }
}

TEST(IniFile, MalformedLineNamesItsZeroBasedIndex)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"bad.ini", "[Common]\r\nA=1\r\n[broken\r\n");
    Bas::CIniFile ini(folder / L"bad.ini");
    try {
        ini.HasSection(L"Common");
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(&check->Message(), &Bas::ERR_BAD_INI_FILE);
        EXPECT_EQ(check->GetMessageText(), folder / L"bad.ini" + L" is corrupted (line 2).");
    }
}

TEST(IniFile, EnumerationOrderDependsOnTheSetOfNamesAlone)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"one.ini", "[S]\nFile1=a\nFile2=b\nLogs/File3=c\nzeta=d\nAlpha=e\n");
    folder.WriteBytes(L"two.ini", "[S]\nalpha=e\nZETA=d\nLogs/File3=c\nFile2=b\nFile1=a\n");
    const Names one = Bas::CIniFile(folder / L"one.ini").KeyNames(L"S");
    Names two = Bas::CIniFile(folder / L"two.ini").KeyNames(L"S");
    ASSERT_EQ(one.size(), 5u);
    for (std::size_t i = 0; i < one.size(); ++i)
        EXPECT_EQ(_wcsicmp(one[i].c_str(), two[i].c_str()), 0) << i;
    EXPECT_EQ(Bas::CIniFile::Hash(L"AbC"), Bas::CIniFile::Hash(L"abc"));
    EXPECT_EQ(Bas::CIniFile::Hash(L""), 0u);
    EXPECT_EQ(Bas::CIniFile::Hash(L"ab"), 97u * 33u + 98u);
}

} // namespace

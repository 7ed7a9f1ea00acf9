#include "CommandLine.h"
#include "Errors.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::wstring> Split(const std::wstring& text)
{
    Bas::CCommandLine line;
    EXPECT_TRUE(line.Parse(text));
    std::vector<std::wstring> arguments;
    for (std::size_t i = 0; i < line.ArgumentCount(); ++i)
        arguments.push_back(line.Argument(i));
    return arguments;
}

using Args = std::vector<std::wstring>;

TEST(CommandLineSplit, BlanksAndQuotes)
{
    EXPECT_EQ(Split(L""), Args{});
    EXPECT_EQ(Split(L"   \t  "), Args{});
    EXPECT_EQ(Split(L"prog a  b\tc"), (Args{L"prog", L"a", L"b", L"c"}));
    EXPECT_EQ(Split(L"prog \"a b\" c"), (Args{L"prog", L"a b", L"c"}));
    EXPECT_EQ(Split(L"a \"\" b"), (Args{L"a", L"", L"b"}));
    EXPECT_EQ(Split(L"\"say \"\"hi\"\"\""), (Args{L"say \"hi\""}));
    EXPECT_EQ(Split(L"x\"y z\"w"), (Args{L"xy zw"}));
    EXPECT_EQ(Split(L"a \"open to  the end"), (Args{L"a", L"open to  the end"}));
    EXPECT_EQ(Split(L"/file:\"C:\\My Logs\\out.zip\""), (Args{L"/file:C:\\My Logs\\out.zip"}));
}

TEST(CommandLineSplit, AtSigns)
{
    EXPECT_EQ(Split(L"p @@x"), (Args{L"p", L"@x"}));
    EXPECT_EQ(Split(L"p @"), (Args{L"p", L"@"}));
}

// A command line that is not the program's own: "@" starts a plain
// argument, even where a file of that name exists.
TEST(CommandLineSplit, PlainCommandLineReadsNoFile)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"list.txt", "inside");
    Bas::CCommandLine line;
    ASSERT_TRUE(line.Parse(L"@" + folder / L"list.txt /automation @@x @COM1", Bas::CCommandLine::NoResponseFiles));
    ASSERT_EQ(line.ArgumentCount(), 4u);
    EXPECT_EQ(line.Argument(0), L"@" + folder / L"list.txt");
    EXPECT_EQ(line.Argument(2), L"@@x");
    EXPECT_EQ(line.Argument(3), L"@COM1");
    ASSERT_TRUE(line.Parse(L"p @" + folder / L"list.txt"));
    EXPECT_EQ(line.Argument(1), L"inside");
}

TEST(CommandLineSplit, ResponseFilesAreReadInPlace)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"list.txt", "/a:1\r\n\"b c\"\r\n");
    // UTF-16 with its byte-order mark.
    folder.WriteBytes(L"wide.txt", std::string("\xFF\xFE" "d\0 \0e\0", 8));
    EXPECT_EQ(Split(L"p @" + folder.Path() + L"\\list.txt z @\"" + folder.Path() + L"\\wide.txt\""),
              (Args{L"p", L"/a:1", L"b c", L"z", L"d", L"e"}));
}

TEST(CommandLineSplit, NestedResponseFilesAreLimited)
{
    Testing::CTestFolder folder;
    const std::string self = "x @" + std::string(folder.Path().begin(), folder.Path().end()) + "\\self.txt";
    folder.WriteBytes(L"self.txt", self);
    const Args arguments = Split(L"@" + folder.Path() + L"\\self.txt");
    ASSERT_EQ(arguments.size(), static_cast<std::size_t>(Bas::CCommandLine::kMaxResponseDepth) + 1);
    EXPECT_EQ(arguments.front(), L"x");
    EXPECT_EQ(arguments.back(), L"@" + folder.Path() + L"\\self.txt");
}

TEST(CommandLineSplit, ResponseFileExpansionIsBoundedAsAWhole)
{
    // A file that names itself ten times would fan out to 10^8 arguments
    // within the depth limit; a file past the byte bound is not read whole.
    Testing::CTestFolder folder;
    const std::string path(folder.Path().begin(), folder.Path().end());
    std::string fan;
    for (int i = 0; i < 10; ++i)
        fan += "@" + path + "\\fan.txt\r\n";
    folder.WriteBytes(L"fan.txt", fan);
    folder.WriteBytes(L"big.txt", std::string(Bas::CCommandLine::kMaxResponseBytes + 1, 'x'));
    std::string many;
    for (std::size_t i = 0; i < Bas::CCommandLine::kMaxArguments; ++i)
        many += "a ";
    folder.WriteBytes(L"many.txt", many);
    folder.WriteBytes(L"fits.txt", std::string(Bas::CCommandLine::kMaxResponseBytes - 1, 'y'));
    for (const wchar_t* name : {L"fan.txt", L"big.txt", L"many.txt"}) {
        Bas::CCommandLine line;
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_FALSE(line.Parse(L"p @" + folder / name)) << name;
        EXPECT_LT(::GetTickCount64() - start, 10000u) << name;
        EXPECT_EQ(line.ArgumentCount(), 0u) << name;
        EXPECT_EQ(line.OverflowArgument(), L"@" + folder / name) << name;
    }
    // Just within the bounds, and the byte bound counts every file read.
    Bas::CCommandLine line;
    EXPECT_TRUE(line.Parse(L"p @" + folder / L"fits.txt"));
    EXPECT_EQ(line.ArgumentCount(), 2u);
    EXPECT_FALSE(line.Parse(L"p @" + folder / L"fits.txt @" + folder / L"fits.txt"));
}

TEST(CommandLineSplit, MissingResponseFileIsAFileError)
{
    try {
        Split(L"p @Z:\\no\\such\\list.txt");
        FAIL() << "no exception";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* file = dynamic_cast<Bas::CFileException*>(error.get());
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->FileName(), L"Z:\\no\\such\\list.txt");
    }
}

TEST(CommandLineSwitches, NamesAndValues)
{
    std::wstring name;
    std::wstring value;
    ASSERT_TRUE(Bas::CCommandLine::SplitSwitch(L"--name=a:b", name, value));
    EXPECT_EQ(name, L"name");
    EXPECT_EQ(value, L"a:b");
    ASSERT_TRUE(Bas::CCommandLine::SplitSwitch(L"/name:a=b:c", name, value));
    EXPECT_EQ(name, L"name");
    EXPECT_EQ(value, L"a=b:c");
    ASSERT_TRUE(Bas::CCommandLine::SplitSwitch(L"-?", name, value));
    EXPECT_EQ(name, L"?");
    EXPECT_EQ(value, L"");
    ASSERT_TRUE(Bas::CCommandLine::SplitSwitch(L"/x:", name, value));
    EXPECT_EQ(name, L"x");
    EXPECT_EQ(value, L"");
    EXPECT_FALSE(Bas::CCommandLine::SplitSwitch(L"-", name, value));
    EXPECT_FALSE(Bas::CCommandLine::SplitSwitch(L"/", name, value));
    EXPECT_FALSE(Bas::CCommandLine::SplitSwitch(L"plain", name, value));
}

TEST(CommandLineSwitches, IsSwitchMatchesTheWholeNameWithoutCase)
{
    std::wstring value;
    for (const wchar_t* spelling : {L"/file:x.zip", L"-FILE:x.zip", L"--file=x.zip", L"/File:x.zip"}) {
        value.clear();
        EXPECT_TRUE(Bas::CCommandLine::IsSwitch(spelling, L"file", &value)) << spelling;
        EXPECT_EQ(value, L"x.zip") << spelling;
    }
    EXPECT_FALSE(Bas::CCommandLine::IsSwitch(L"/file=x.zip", L"file"));
    EXPECT_FALSE(Bas::CCommandLine::IsSwitch(L"/files:x", L"file"));
    EXPECT_FALSE(Bas::CCommandLine::IsSwitch(L"/fil:x", L"file"));
    EXPECT_FALSE(Bas::CCommandLine::IsSwitch(L"--file:x", L"file"));
    EXPECT_FALSE(Bas::CCommandLine::IsSwitch(L"file:x", L"file"));
}

TEST(CommandLineSwitches, TableKeepsEveryEntryInOrder)
{
    Bas::CCommandLine line;
    ASSERT_TRUE(line.Parse(L"prog /language:1 plain -LANGUAGE:2 --language=3 /other"));
    EXPECT_EQ(line.Values(L"language"), (Args{L"1", L"2", L"3"}));
    EXPECT_EQ(line.Values(L""), (Args{L"prog", L"plain"}));
    EXPECT_EQ(line.Find(L"Language"), 1);
    EXPECT_EQ(line.Find(L"other"), 5);
    EXPECT_EQ(line.Find(L"missing"), -1);
    EXPECT_EQ(line.Switches().size(), line.ArgumentCount());
}

} // namespace

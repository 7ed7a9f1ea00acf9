#include "ArchiveMessages.h"
#include "BasaltMessages.h"
#include "Errors.h"
#include "GleanApp.h"
#include "GleanDlg.h"
#include "TextTools.h"
#include "generated/GleanMessages.h"

#include <gtest/gtest.h>

namespace {

Glean::CGleanCommandLine Parse(const std::wstring& text)
{
    Bas::CCommandLine line;
    if (!line.Parse(L"Glean.exe " + text))
        Bas::ThrowCheck(ERR_GLEAN_BAD_COMMAND_LINE);
    return Glean::ParseGleanCommandLine(line);
}

// The name of the message the parse throws, or "" when it succeeds.
std::wstring ErrorOf(const std::wstring& text)
{
    try {
        Parse(text);
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
        return check != nullptr ? check->Message().Name() : L"other exception";
    }
    return L"";
}

TEST(GleanCommandLine, HelpSwitches)
{
    for (const wchar_t* spelling : {L"/?", L"-?", L"/help", L"-HELP", L"--help", L"/file:x.zip /?"})
        EXPECT_EQ(ErrorOf(spelling), L"ERR_GLEAN_HELP_MESSAGE") << spelling;
    for (const wchar_t* spelling : {L"/?:x", L"/help:1", L"--help=yes"})
        EXPECT_EQ(ErrorOf(spelling), L"ERR_GLEAN_BAD_COMMAND_LINE") << spelling;
}

TEST(GleanCommandLine, BadCommandLines)
{
    for (const wchar_t* text : {L"/file:", L"/file:a.zip /file:b.zip", L"one.ini two.ini", L"/language:abc",
                                L"/language:", L"/language:2147483648", L"/language:1x", L"/language:1 /file:",
                                L"/unknown a.ini", L"/x /y"})
        EXPECT_EQ(ErrorOf(text), L"ERR_GLEAN_BAD_COMMAND_LINE") << text;
}

TEST(GleanCommandLine, AcceptedForms)
{
    auto parsed = Parse(L"/file:out.zip");
    EXPECT_EQ(parsed.outputPath, L"out.zip");
    EXPECT_TRUE(parsed.settingsPath.empty());
    EXPECT_TRUE(parsed.languages.empty());

    parsed = Parse(L"-FILE:\"C:\\new dir\\out.zip\" C:\\cfg\\other.ini");
    EXPECT_EQ(parsed.outputPath, L"C:\\new dir\\out.zip");
    EXPECT_EQ(parsed.settingsPath, L"C:\\cfg\\other.ini");

    parsed = Parse(L"/language:61 \"/language: 1 \" --language=-3 /language:2147483647");
    EXPECT_EQ(parsed.languages, (std::vector<int>{61, 1, -3, 2147483647}));

    // An unknown switch is accepted once and otherwise ignored; "-" alone is
    // a plain argument.
    parsed = Parse(L"/unknown:1");
    EXPECT_TRUE(parsed.settingsPath.empty());
    parsed = Parse(L"-");
    EXPECT_EQ(parsed.settingsPath, L"-");
    EXPECT_TRUE(Parse(L"").outputPath.empty());
}

TEST(GleanCommandLine, LanguageCodes)
{
    int value = 0;
    EXPECT_TRUE(Bas::ParseInteger(L" 1 ", value));
    EXPECT_EQ(value, 1);
    EXPECT_TRUE(Bas::ParseInteger(L"-2147483648", value));
    EXPECT_EQ(value, -2147483647 - 1);
    EXPECT_FALSE(Bas::ParseInteger(L"2147483648", value));
    EXPECT_FALSE(Bas::ParseInteger(L"99999999999999999999", value));
    EXPECT_FALSE(Bas::ParseInteger(L" ", value));
    EXPECT_FALSE(Bas::ParseInteger(L"1 2", value));
    EXPECT_FALSE(Bas::ParseInteger(L"+", value));
    EXPECT_FALSE(Bas::ParseInteger(L"0x10", value));
}

// What the mail sender reads back from the command line Glean builds.
TEST(MailSenderCommandLine, ValuesReadBackWhole)
{
    const std::array<std::wstring, 6> values = {L"C:\\Temp\\tmpab.tmp",
                                                L"Diagnostic \"information\": 2",
                                                L"Line one\nsaid \"\"twice\"\"",
                                                L"C:\\My Files\\",
                                                L"\"Zarvo Support\"",
                                                L"support@zarvo.com\\"};
    Bas::CCommandLine line;
    ASSERT_TRUE(line.Parse(Glean::MailSenderCommandLine(values)));
    ASSERT_EQ(line.ArgumentCount(), 5u);
    EXPECT_EQ(line.Argument(0), values[0]);
    EXPECT_EQ(line.Argument(1), L"-s:" + values[1]);
    EXPECT_EQ(line.Argument(2), L"-b:" + values[2]);
    EXPECT_EQ(line.Argument(3), L"-a:" + values[3]);
    EXPECT_EQ(line.Argument(4), L"-r:" + values[4] + L"<" + values[5] + L">");
    // Nothing given: an empty name and address.
    ASSERT_TRUE(line.Parse(Glean::MailSenderCommandLine({L"p", L"", L"", L"a", L"", L""})));
    ASSERT_EQ(line.ArgumentCount(), 5u);
    EXPECT_EQ(line.Argument(4), L"-r:<>");
}

TEST(GleanMessages, TableAndTexts)
{
    HMODULE self = ::GetModuleHandleW(nullptr);
    auto getId = Bas::GetProc<int (*)(const wchar_t*)>(self, "GetResourceID");
    auto count = Bas::GetProc<int (*)()>(self, "NumberOfMessages");
    ASSERT_TRUE(getId && count);
    // Glean's own texts with the foundation's, the archive writer's and the
    // UI layer's, one sorted table; the language module's names are not in it.
    // The ids follow the names' order from 4096 on, the last one with it.
    ASSERT_GT(count(), 77);
    EXPECT_EQ(getId(L"CURRENT_LANGUAGE_NAME"), 4096);
    EXPECT_LT(getId(L"CURRENT_LANGUAGE_NAME"), getId(L"ERR_GLEAN_BAD_COMMAND_LINE"));
    EXPECT_LT(getId(L"ERR_GLEAN_BAD_COMMAND_LINE"), getId(L"MSG_FILE_NOT_FOUND"));
    EXPECT_LT(getId(L"MSG_FILE_NOT_FOUND"), getId(L"MSG_USER_PROFILE"));
    EXPECT_LE(getId(L"MSG_USER_PROFILE"), 4096 + count() - 1);
    EXPECT_EQ(getId(L"ERR_INI_FILE_IS_INVALID"), 0);
    EXPECT_EQ(getId(L"MSG_SAVE_BUTTON"), 0);
    EXPECT_EQ(Bas::Format(Granite::ERR_ZIP_ARCHIVE_TOO_LARGE, L"Big.reg"),
              L"Big.reg was not added: the archive cannot grow beyond 2 GB.");
    EXPECT_EQ(Bas::Format(Bas::ERR_FILE_DISK_FULL, L"x.zip"), L"Disk full while accessing x.zip.");

    EXPECT_EQ(Bas::GetText(ERR_GLEAN_BAD_COMMAND_LINE), L"Bad command line format\nRun \"Glean.exe /?\" for help");
    EXPECT_EQ(Bas::Format(MSG_FILE_ADDED_TO_ARCHIVE, L"C:\\a.txt", L"000_a.txt"),
              L"\x0424\x0430\x0439\x043B C:\\a.txt \x0431\x044B\x043B \x0434\x043E\x0431\x0430\x0432\x043B\x0435"
              L"\x043D \x0432 \x0430\x0440\x0445\x0438\x0432 \x043A\x0430\x043A 000_a.txt");
    EXPECT_EQ(Bas::GetText(MSG_GET_ACCESS_PERMISSION_ERROR).substr(0, 1), L"\t");
}

} // namespace

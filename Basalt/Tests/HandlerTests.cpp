#include "Library.h"
#include "Message.h"
#include "MessageHandlers.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageHandlers, AnswerTableAndEventTypes)
{
    struct Row {
        UINT buttons;
        int answers[3];
        WORD type;
    };
    const Row rows[] = {
        {MB_OK, {IDOK, IDOK, IDOK}, EVENTLOG_INFORMATION_TYPE},
        {MB_OKCANCEL, {IDOK, IDCANCEL, IDOK}, EVENTLOG_WARNING_TYPE},
        {MB_YESNO, {IDYES, IDNO, IDYES}, EVENTLOG_INFORMATION_TYPE},
        {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, EVENTLOG_INFORMATION_TYPE},
        {MB_RETRYCANCEL, {IDRETRY, IDCANCEL, IDRETRY}, EVENTLOG_ERROR_TYPE},
        {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, EVENTLOG_ERROR_TYPE},
        {MB_CANCELTRYCONTINUE, {IDABORT, IDABORT, IDABORT}, EVENTLOG_INFORMATION_TYPE},
    };
    const UINT defaults[] = {MB_DEFBUTTON1, MB_DEFBUTTON2, MB_DEFBUTTON3};
    for (const Row& row : rows) {
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(Bas::AutomaticAnswer(row.buttons | defaults[column]), row.answers[column])
                << row.buttons << " " << column;
        EXPECT_EQ(Bas::EventTypeFor(row.buttons), row.type) << row.buttons;
    }
    // Icon bits decide the event type before the button set does.
    EXPECT_EQ(Bas::EventTypeFor(MB_OKCANCEL | MB_ICONHAND), EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(Bas::EventTypeFor(MB_RETRYCANCEL | MB_ICONQUESTION), EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(Bas::EventTypeFor(MB_OK | MB_ICONEXCLAMATION), EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(Bas::EventTypeFor(MB_ABORTRETRYIGNORE | MB_ICONASTERISK), EVENTLOG_INFORMATION_TYPE);
}

TEST(MessageHandlers, ConsoleLineBreaks)
{
    using H = Bas::CConsoleMessageHandler;
    EXPECT_EQ(H::ToConsoleLines(L""), L"\r\n");
    EXPECT_EQ(H::ToConsoleLines(L"a\nb"), L"a\r\nb\r\n");
    EXPECT_EQ(H::ToConsoleLines(L"a\r\nb\n"), L"a\r\nb\r\n\r\n");
    EXPECT_EQ(H::ToConsoleLines(L"\n\n"), L"\r\n\r\n\r\n");
    EXPECT_EQ(H::ToConsoleLines(L"a\rb"), L"a\rb\r\n");
}

TEST(LibrarySettings, FlagParsing)
{
    for (const wchar_t* yes : {L"1", L"TRUE", L"true", L" Yes ", L"on", L"-3", L"42"})
        EXPECT_TRUE(Bas::SettingIsTrue(yes)) << yes;
    for (const wchar_t* no : {L"", L"0", L"false", L"no", L"off", L"maybe", L"1x"})
        EXPECT_FALSE(Bas::SettingIsTrue(no)) << no;
    unsigned flags = 0;
    flags = Bas::ApplyFlagSetting(flags, L"KeepTempFiles", L"1");
    flags = Bas::ApplyFlagSetting(flags, L"SaveAllMessages", L"true");
    flags = Bas::ApplyFlagSetting(flags, L"CreateMinidumpOnInternalError", L"yes");
    EXPECT_EQ(flags, 0x1u | 0x400u | 0x8000u);
    flags = Bas::ApplyFlagSetting(flags, L"SaveAllMessages", L"0");
    flags = Bas::ApplyFlagSetting(flags, L"NoSuchSetting", L"1");
    EXPECT_EQ(flags, 0x1u | 0x8000u);
    EXPECT_EQ(Bas::ApplyFlagSetting(0, L"CheckMessagesParamsCount", L"1"), 0x800u);
    EXPECT_EQ(Bas::ApplyFlagSetting(0, L"SaveUndefinedMessages", L"1"), 0x2u);
}

} // namespace

namespace {

TEST(ParameterCount, Reports)
{
    using V = std::vector<std::wstring>;
    EXPECT_EQ(Bas::CheckParameterCount(L"%0 and %2", 3), V{L"Some parameters in message \"%0 and %2\" are missing: 1."});
    EXPECT_EQ(Bas::CheckParameterCount(L"%0 and %1", 2), V{});
    EXPECT_EQ(Bas::CheckParameterCount(L"no inserts", 0), V{});
    EXPECT_EQ(Bas::CheckParameterCount(L"%1 %4", 2),
              (V{L"Number of params in message \"%1 %4\" is invalid: 5, expected 2.",
                 L"Some parameters in message \"%1 %4\" are missing: 0 ,2 ,3."}));
    EXPECT_EQ(Bas::CheckParameterCount(L"100% of %0", 0), V{L"Number of params in message \"100% of %0\" is invalid: 1, expected 0."});
}

} // namespace
